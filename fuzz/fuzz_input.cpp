// The input loop and the output layer, built with tiny blocks and buffers. The fuzzer's bytes
// choose the mode, the size of each read, an error (EINTR, EAGAIN or EIO) at one read, whether
// the output goes into a regular file (from which offset), whether each write is cut short to a
// chosen size and some fail with EINTR or EAGAIN (as a non-blocking pipe does), and the input.
// Without EIO the output and warnings are those of the whole input; with it, the run ends with
// the read error after a prefix of them, and no warning is invented.

#include "bibtex.h"
#include "diagnostics.h"
#include "files.h"
#include "filter.h"
#include "fuzz_support.h"
#include "input.h"
#include "plain_filter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The script of reads: sizes taken in turn, and one error at one read.
std::string_view script_input;
const std::uint8_t *read_sizes;
std::size_t read_count;
std::size_t error_at;
int error;

ssize_t scripted_read(int, void *buffer, std::size_t count) {
    std::size_t call = read_count++;
    if (call == error_at && error != 0) {
        errno = error;
        return -1;
    }
    std::size_t size = 1 + read_sizes[call % 8] % 80;
    size = std::min({size, count, script_input.size()});
    std::copy_n(script_input.data(), size, static_cast<char *>(buffer));
    script_input.remove_prefix(size);
    return static_cast<ssize_t>(size);
}

int ready_descriptor() {
    static int descriptor = open("/dev/null", O_RDONLY);
    return descriptor;
}

// Runs the loop over input with the script in a fresh run of the mode, whose output goes where
// start says (by default to the captured streams); a read error ends the process as it ends
// orvane.
template <typename Start> void run(std::string_view input, bool bibtex, Start start) {
    script_input = input;
    read_count = 0;
    orvane_run &r = fresh_run({bibtex, false});
    start(r);
    start_input(r, "-");
    input_end end = filter_descriptor(r, ready_descriptor(), scripted_read);
    if (end.how == input_end::read_error) {
        hand_over_output(r.out);
        report_error(
            r, (std::string("Read error on standard input: ") + std::strerror(end.error)).c_str());
        std::exit(1);
    }
}

void run(std::string_view input, bool bibtex) {
    run(input, bibtex, [](orvane_run &) {});
}

// Runs the loop in a child whose standard output is a regular file (in memory) that holds lead
// bytes before it; returns what the child wrote after them.
std::string run_into_file(std::string_view input, bool bibtex, std::size_t lead) {
    int file = memfd_create("output", 0);
    if (file < 0)
        fuzz_failure("no memory file\n");
    std::string before(lead, 'h');
    if (write(file, before.data(), lead) != static_cast<ssize_t>(lead))
        fuzz_failure("the memory file took no lead\n");
    pid_t child = fork();
    if (child == 0) {
        dup2(file, STDOUT_FILENO);
        run(input, bibtex, [](orvane_run &r) { start_output(r.out, STDOUT_FILENO); });
        finish_output(fuzz_run().out);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fuzz_failure("a run into a file failed\n");
    std::string written;
    char chunk[4096];
    ssize_t got = 0;
    for (off_t at = static_cast<off_t>(lead); (got = pread(file, chunk, sizeof chunk, at)) > 0;
         at += got)
        written.append(chunk, static_cast<std::size_t>(got));
    close(file);
    return written;
}

// Reads descriptor to its end.
std::string read_to_end(int descriptor) {
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while ((got = read(descriptor, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(got));
    return text;
}

// The script of writes: each takes at most a chosen number of bytes, and with errors every
// third fails with EINTR or EAGAIN before anything is taken.
std::string written_by_script;
std::size_t write_count;
bool write_errors;

ssize_t scripted_writev(void *, int, const iovec *pieces, int count) {
    std::size_t call = write_count++;
    if (write_errors && call % 3 == 1) {
        errno = call % 2 == 0 ? EINTR : EAGAIN;
        return -1;
    }
    std::size_t limit = 1 + read_sizes[(call + 3) % 8] % 40;
    std::size_t done = 0;
    for (int i = 0; i < count && done < limit; ++i) {
        std::size_t take = std::min(pieces[i].iov_len, limit - done);
        written_by_script.append(static_cast<const char *>(pieces[i].iov_base), take);
        done += take;
    }
    return static_cast<ssize_t>(done);
}

// Runs the loop in a child whose output goes through the scripted writes, to a descriptor that
// is a regular file (lead bytes into it) or not; returns what the writes took.
std::string run_with_writes(std::string_view input, bool bibtex, bool regular, std::size_t lead) {
    int ends[2];
    if (pipe(ends) != 0)
        fuzz_failure("no pipe\n");
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        int descriptor = regular ? memfd_create("output", 0) : open("/dev/null", O_WRONLY);
        std::string before(lead, 'h');
        if (regular && write(descriptor, before.data(), lead) != static_cast<ssize_t>(lead))
            _exit(2);
        write_count = 0;
        run(input, bibtex,
            [descriptor](orvane_run &r) { start_output(r.out, descriptor, scripted_writev); });
        finish_output(fuzz_run().out);
        for (std::size_t sent = 0; sent < written_by_script.size();) {
            ssize_t n =
                write(ends[1], written_by_script.data() + sent, written_by_script.size() - sent);
            if (n <= 0)
                _exit(3);
            sent += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(ends[1]);
    std::string written = read_to_end(ends[0]);
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fuzz_failure("a run with scripted writes failed\n");
    return written;
}

bool starts(std::string_view whole, std::string_view part) {
    return whole.substr(0, part.size()) == part;
}

int result_pipe = -1;

// In the child: what it wrote goes to the parent.
void send_results() {
    std::string out(filter_output());
    std::string err(error_output());
    std::string message = std::to_string(out.size()) + "\n" + out + err;
    for (std::size_t sent = 0; sent < message.size();) {
        ssize_t n = write(result_pipe, message.data() + sent, message.size() - sent);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
}

// The child's only way to exit() is the fatal error, with status 1; the fuzzer's own exit
// handler, which would report an exit as a finding, never runs.
void send_results_and_fail() {
    send_results();
    _exit(1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 11)
        return 0;
    bool bibtex = (data[0] & 1) != 0;
    static constexpr int errors[] = {0, EINTR, EAGAIN, EIO};
    error = errors[(data[0] >> 1) % 4];
    error_at = data[1] % 64;
    read_sizes = data + 2;
    std::string_view input(reinterpret_cast<const char *>(data + 10), size - 10);

    // The whole input at once, by the plain reference filter or the BibTeX parser in one block.
    std::string expected_out;
    std::string expected_err;
    if (bibtex) {
        captured_stdout.clear();
        captured_stderr.clear();
        text_input text;
        text.run = &fresh_run({true, false});
        start_bibtex_input(text);
        filter_bibtex_lines(text, input.data(), input.size());
        finish_bibtex_input(text);
        expected_out = filter_output();
        expected_err = error_output();
    } else {
        plain_result plain = plain_filter_lines(input);
        expected_out = plain.out;
        expected_err = plain.err;
    }

    captured_stdout.clear();
    captured_stderr.clear();
    if (error != EIO && (data[1] & 0x40) != 0) {
        write_errors = (data[1] & 0x80) != 0;
        if (run_with_writes(input, bibtex, (data[0] & 8) != 0, data[0] >> 4) != expected_out)
            fuzz_failure("the output written in short writes differs from the whole input's\n");
        return 0;
    }
    if (error != EIO && (data[0] & 8) != 0) {
        if (run_into_file(input, bibtex, data[0] >> 4) != expected_out)
            fuzz_failure("the output written into a file differs from the whole input's\n");
        return 0;
    }
    if (error != EIO) {
        run(input, bibtex);
        if (filter_output() != expected_out)
            fuzz_failure("the input loop wrote other text than the whole input gives\n");
        if (error_output() != expected_err)
            fuzz_failure("the input loop warned otherwise than the whole input does\n");
        return 0;
    }

    int ends[2];
    if (pipe(ends) != 0)
        return 0;
    pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        result_pipe = ends[1];
        std::atexit(send_results_and_fail);
        run(input, bibtex);
        send_results();
        _exit(0);
    }
    close(ends[1]);
    std::string message = read_to_end(ends[0]);
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    std::size_t newline = message.find('\n');
    if (newline == std::string::npos)
        fuzz_failure("the child sent no results\n");
    std::size_t out_size = std::stoul(message.substr(0, newline));
    std::string out = message.substr(newline + 1, out_size);
    std::string err = message.substr(newline + 1 + out_size);
    const std::string fatal = "?? Read error on standard input: Input/output error\n";
    bool failed = WIFEXITED(status) && WEXITSTATUS(status) == 1;
    if (!failed) {
        // The error came after the last read: the run ended normally.
        if (out != expected_out || err != expected_err)
            fuzz_failure("a run that read everything wrote other results\n");
        return 0;
    }
    if (err.size() < fatal.size() || err.substr(err.size() - fatal.size()) != fatal)
        fuzz_failure("a read error was not reported last\n");
    if (!starts(expected_out, out))
        fuzz_failure("after a read error, the output is not a prefix of the whole output\n");
    if (!starts(expected_err, err.substr(0, err.size() - fatal.size())))
        fuzz_failure("after a read error, a warning was invented\n");
    return 0;
}
