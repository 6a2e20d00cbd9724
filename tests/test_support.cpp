#include "test_support.h"

#include "diagnostics.h"
#include "filter.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace {

orvane_run *current = nullptr;

} // namespace

// Outside capture(), a run of the default options whose output goes to standard output too.
orvane_run &test_run() {
    if (current != nullptr)
        return *current;
    static std::unique_ptr<orvane_run> outside = make_test_run(orvane_options{});
    return *outside;
}

void set_test_run(orvane_run *run) {
    current = run;
}

std::unique_ptr<orvane_run> make_test_run(const orvane_options &options) {
    auto run = std::make_unique<orvane_run>(options, &test_table());
    set_error_destination(run->out, STDERR_FILENO);
    start_output(run->out, STDOUT_FILENO);
    return run;
}

captured_output filter_one(const std::string &text, const orvane_options &options) {
    return capture([&] { filter_text(test_run(), text.data(), text.size()); }, options);
}

std::string with_check_digit(std::string digits) {
    int sum = 0;
    if (digits.size() == 9) {
        for (std::size_t i = 0; i < 9; ++i)
            sum += static_cast<int>(i + 1) * (digits[i] - '0');
        int check = sum % 11;
        return digits + (check == 10 ? 'X' : static_cast<char>('0' + check));
    }
    for (std::size_t i = 0; i < 12; ++i)
        sum += (i % 2 == 0 ? 1 : 3) * (digits[i] - '0');
    return digits + static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string random_lines(unsigned seed, int count) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>('0' + pick(10));
        return s;
    };
    static const char *const prefixes[] = {"",      "978",   "979",  "9780", "97910",
                                           "97911", "97912", "9798", "400"};
    static const char *const words[] = {"ISBN", "see", "pages",    "x",          "X-ray",
                                        "--",   " ",   "\t",       "\r",         "@book{",
                                        "}",    "é",   "\xff\xfe", "2021-12-26", "p. 12-34"};
    std::string out;
    for (int line = 0; line < count; ++line) {
        int parts = 1 + pick(8);
        for (int i = 0; i < parts; ++i) {
            switch (pick(10)) {
            case 0:
            case 1: {
                std::string body = pick(2) ? "0" : "978";
                body.append(digits(body.size() == 1 ? 8 : 9));
                if (pick(3) == 0)
                    body = std::string(prefixes[pick(9)]).append(digits(12)).substr(0, 12);
                std::string isbn = with_check_digit(body);
                if (pick(4) == 0)
                    isbn.back() = static_cast<char>('0' + pick(10));
                if (pick(3) == 0)
                    isbn.insert(isbn.begin() + 1 + pick(static_cast<int>(isbn.size()) - 1), '-');
                if (pick(8) == 0)
                    isbn += pick(2) ? "-" : "x";
                out += isbn;
                break;
            }
            case 2:
                out += digits(1 + pick(20));
                break;
            case 3:
                out += pick(4) ? "https://example.org/0201633612" : "doi://10.1000/978020163361";
                break;
            case 4:
                out += '\0';
                out += digits(10);
                break;
            case 5:
                if (pick(50) == 0)
                    out.append(static_cast<std::size_t>(4000 + pick(300)), '7')
                        .append("-0201633612");
                else
                    out += "-";
                break;
            default:
                out += words[pick(15)];
            }
            out += pick(3) ? " " : "";
        }
        if (line + 1 < count || pick(2))
            out += '\n';
    }
    return out;
}

std::vector<data_group> read_range_data() {
    std::ifstream data(ORVANE_SOURCE_DIR "/data/isbn-ranges.txt");
    std::vector<data_group> groups;
    std::string line;
    while (std::getline(data, line)) {
        if (line.rfind("group ", 0) == 0) {
            // group PREFIX-GROUP COUNTRY NAME
            data_group g;
            std::istringstream words(line.substr(6));
            std::string prefixed;
            words >> prefixed >> g.country;
            g.prefix = prefixed.substr(0, 3);
            g.digits = prefixed.substr(4);
            std::getline(words >> std::ws, g.name);
            groups.push_back(g);
        } else if (line.rfind("  ", 0) == 0) {
            std::istringstream words(line);
            std::string low;
            std::string high;
            words >> low >> high;
            groups.back().ranges.emplace_back(low, high);
        }
    }
    return groups;
}
