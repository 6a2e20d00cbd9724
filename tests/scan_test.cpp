#include "kernel_walk.h"
#include "scan.h"
#include "test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

// The SIMD token search must find the same token.
void expect_same_token(const char *begin, const char *end) {
    const char *fast_end = nullptr;
    const char *plain_end = nullptr;
    bool fast_hyphen = false;
    bool plain_hyphen = false;
    ASSERT_EQ(find_long_token(begin, end, fast_end, fast_hyphen),
              find_long_token_scalar(begin, end, plain_end, plain_hyphen))
        << "length " << end - begin;
    ASSERT_EQ(fast_end, plain_end) << "length " << end - begin;
    ASSERT_EQ(fast_hyphen, plain_hyphen) << "length " << end - begin;
}

} // namespace

// Every input the tests have: the end-to-end fixtures and the sample.
TEST(Scan, KernelsAgreeOnTheFixtures) {
    std::vector<std::filesystem::path> inputs{ORVANE_SOURCE_DIR "/examples/sample.bib"};
    for (const auto &entry : std::filesystem::directory_iterator(ORVANE_SOURCE_DIR "/tests/cases"))
        if (std::filesystem::exists(entry.path() / "input"))
            inputs.push_back(entry.path() / "input");
    ASSERT_GT(inputs.size(), 5u);
    for (const auto &path : inputs) {
        std::ifstream file(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (std::size_t start = 0; start < 16 && start < text.size(); ++start) {
            const char *kernel = kernel_disagreement(std::string_view(text).substr(start));
            EXPECT_EQ(kernel, nullptr) << kernel << " on " << path << " from " << start;
        }
    }
}

// The SIMD kernels must give the scalar answer for every start, length and byte value,
// including digits and newlines at every offset of a 16-byte block.
TEST(Scan, KernelsAgreeWithScalarVersions) {
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 4096; ++i) {
        unsigned r = rng() % 8;
        text += r == 0   ? static_cast<char>('0' + rng() % 10)
                : r == 1 ? '\n'
                : r == 2 ? ':'
                : r == 3 ? '/'
                         : static_cast<char>(rng() % 256);
    }
    text += random_lines(3, 200);
    const char *base = text.data();
    for (std::size_t start = 0; start < 40; ++start) {
        for (std::size_t length = 0; start + length <= text.size(); length += 1 + length / 3) {
            const char *b = base + start;
            const char *e = b + length;
            expect_same_token(b, e);
            ASSERT_EQ(find_url_mark(b, e), find_url_mark_scalar(b, e)) << start << " " << length;
            ASSERT_EQ(count_newlines(b, e), count_newlines_scalar(b, e)) << start << " " << length;
        }
    }
    // Nothing but newlines, long enough that byte-wide counters would wrap if they went
    // unsummed for too long.
    std::string all_newlines(64 * 300 + 21, '\n');
    for (std::size_t length : {64 * 63, 64 * 64, 64 * 127, 64 * 300 + 21})
        ASSERT_EQ(count_newlines(all_newlines.data(), all_newlines.data() + length), length);
    // Tokens of nine, ten and eleven bytes, of digits, hyphens and x, at every offset across the
    // rounds of sixty-four, after a short token that may run into them.
    for (const char *token :
         {"123456789", "1234567890", "0-201-6336", "12345678x-1", "1-----x---"}) {
        for (std::size_t at = 0; at < 140; ++at) {
            for (const char *before : {"", "7", "12-", "x"}) {
                std::string block(150, 'a');
                std::string run = std::string(before) + token + " -";
                block.replace(at, run.size(), run);
                block.resize(150);
                expect_same_token(block.data(), block.data() + block.size());
                expect_same_token(block.data() + 1, block.data() + at + run.size() - 1);
            }
        }
    }
    // Every byte value at every position of a block, alone among non-digits: for the token
    // search, in a round of sixty-four and the tail.
    static constexpr char structure[4] = {'{', '}', '"', '@'};
    for (int value = 0; value < 256; ++value) {
        for (std::size_t at = 0; at < 100; ++at) {
            std::string block(100, 'a');
            block[at] = static_cast<char>(value);
            expect_same_token(block.data(), block.data() + block.size());
        }
        for (std::size_t at = 0; at < 32; ++at) {
            std::string block(33, 'a');
            block[at] = static_cast<char>(value);
            const char *b = block.data();
            const char *e = b + block.size();
            ASSERT_EQ(find_any_of(b, e, structure), find_any_of_scalar(b, e, structure));
            bool fast = false;
            bool plain = false;
            ASSERT_EQ(find_token_end(b, e, fast), find_token_end_scalar(b, e, plain));
            ASSERT_EQ(fast, plain);
            // The same byte inside a run of digits.
            std::string run(33, '7');
            run[at] = static_cast<char>(value);
            fast = plain = false;
            ASSERT_EQ(find_token_end(run.data(), run.data() + run.size(), fast),
                      find_token_end_scalar(run.data(), run.data() + run.size(), plain))
                << value << " at " << at;
            ASSERT_EQ(fast, plain);
        }
    }
    // "://" at every offset of two rounds of sixty-four and a tail, after a lone colon, also cut
    // short by the end of the range.
    for (std::size_t at = 0; at < 140; ++at) {
        std::string block(140, 'a');
        block[at / 2] = ':';
        block.replace(at, 3, "://");
        block.resize(140);
        for (std::size_t length = 0; length <= block.size(); ++length) {
            const char *b = block.data();
            ASSERT_EQ(find_url_mark(b, b + length), find_url_mark_scalar(b, b + length))
                << at << " " << length;
        }
    }
    // Nothing but newlines fills every byte counter of every round, with and without a digit
    // after them.
    for (std::size_t length : {255u * 16u, 255u * 16u * 3u + 7u, 255u * 64u + 16u}) {
        std::string newlines(length, '\n');
        expect_same_token(newlines.data(), newlines.data() + newlines.size());
        EXPECT_EQ(count_newlines(newlines.data(), newlines.data() + newlines.size()), length);
        newlines += "\n\n7\n";
        expect_same_token(newlines.data(), newlines.data() + newlines.size());
        EXPECT_EQ(count_newlines(newlines.data(), newlines.data() + newlines.size()), length + 3);
    }
}

// The bucket search against its twin: ascending high ends with runs of equal ones, ending in
// HIGHS_READ_AHEAD ends above every value, searched from every start for values at, between and
// beside them.
TEST(Scan, BucketSearchAgreesWithItsTwin) {
    std::mt19937 random(30);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::int32_t> highs;
        std::int32_t high = 0;
        for (int i = 0, n = static_cast<int>(random() % 80); i < n; ++i) {
            high += static_cast<std::int32_t>(random() % 3 == 0 ? 0 : random() % 50);
            highs.push_back(high);
        }
        std::size_t count = highs.size();
        highs.insert(highs.end(), HIGHS_READ_AHEAD, 214358881);
        for (std::size_t from = 0; from <= count; ++from)
            for (std::uint32_t value = 0; value <= static_cast<std::uint32_t>(high) + 2;
                 value += 7) {
                std::size_t plain = first_high_above_scalar(highs.data(), from, value);
                ASSERT_EQ(first_high_above(highs.data(), from, value), plain);
                ASSERT_TRUE(plain >= from && static_cast<std::uint32_t>(highs[plain]) > value);
            }
    }
}
