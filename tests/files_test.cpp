// Rewriting a file in place when its reading fails in the middle, or the file changes while it
// is read: the file stays byte for byte as it was, and no other file is left beside it.

#include "bibtex.h"
#include "diagnostics.h"
#include "files.h"
#include "filter.h"
#include "test_support.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const input_mode TEXT{start_text_input, filter_lines, nullptr};

std::string path_of_test_file;
int reads = 0;

// Fails with EIO at the third read, after two reads of 100 bytes.
ssize_t failing_read(int descriptor, void *buffer, std::size_t count) {
    if (++reads == 3) {
        errno = EIO;
        return -1;
    }
    return read(descriptor, buffer, std::min<std::size_t>(count, 100));
}

// Cuts the file short after the first read of 100 bytes, as another program might.
ssize_t shrinking_read(int descriptor, void *buffer, std::size_t count) {
    if (++reads == 2)
        fs::resize_file(path_of_test_file, 150);
    return read(descriptor, buffer, std::min<std::size_t>(count, 100));
}

std::string contents(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(InPlace, AFileThatFailsMidwayIsLeftAsItWas) {
    fs::path directory =
        fs::temp_directory_path() / ("orvane-files-test-" + std::to_string(getpid()));
    fs::create_directories(directory);
    fs::path file = directory / "refs.txt";
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "line " + std::to_string(i) + " ISBN 0201633612\n";
    struct {
        read_function reader;
        const char *error;
    } cases[] = {
        {failing_read, "?? refs.txt: Input/output error\n"},
        {shrinking_read, "?? refs.txt: changed while it was read, left as it was\n"},
    };
    fs::path was = fs::current_path();
    fs::current_path(directory);
    for (const auto &c : cases) {
        std::ofstream(file, std::ios::binary) << text;
        path_of_test_file = file.string();
        reads = 0;
        bool done = true;
        captured_output got = capture(
            [&] { done = filter_file_in_place("refs.txt", orvane_options{}, nullptr, c.reader); });
        EXPECT_FALSE(done);
        EXPECT_EQ(got.err, c.error);
        std::string now = contents(file);
        if (c.reader == failing_read)
            EXPECT_EQ(now, text);
        else
            EXPECT_EQ(now, text.substr(0, 150)); // cut by the other program, not by orvane
        EXPECT_EQ(std::distance(fs::directory_iterator(directory), fs::directory_iterator()), 1);
    }
    fs::current_path(was);
    fs::remove_all(directory);
}
