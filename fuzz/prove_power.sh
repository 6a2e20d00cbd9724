#!/usr/bin/env bash
# Proves that the fuzz targets and the tests see wrong output, not only crashes: applies each
# seeded fault as a small edit to a copy of the tree, builds the fuzz target (or the tests) that
# should find it there, and checks that it does: a fuzz target within a short run, a test (a
# target test:NAME, for faults that no fuzz target reaches or that only a test has caught) by
# failing, and the page's tests (a target web:PATTERN, for faults in the page's JavaScript and
# the module's glue) by failing, run in node and Debian's Chromium against the page with the
# fault: its scripts copied over the built page, or the module built anew for a fault in the
# worker or the glue. The sources themselves carry no fault hooks. The web faults need the page
# and the command line built first (./test.sh page).
#
#   fuzz/prove_power.sh [SECONDS] [NAME]   the longest run per fault, 120 s by default; with
#                                          NAME, only the faults whose name contains it
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
only=${2:-}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# name | target | file | sed expression that plants the fault
faults=(
  "16-byte rule on a token with its hyphen|filter|src/filter.cpp|s/           token\[3\] != '-';/           true;/"
  "X counted as 9 in the check digits|filter|src/scan.cpp|s/_mm_set1_epi8('0')), _mm_set1_epi8(10));/_mm_set1_epi8('0')), _mm_set1_epi8(9));/"
  "the title's hyphen one byte early in a form|filter|src/isbn.h|s/form\[title + shift + 1\] = '-';/form[title + shift] = '-';/"
  "an X in a lookup key read as 9|hyphenate|src/isbn_index.cpp|s/| above_9 \* 10;/| above_9 * 9;/"
  "tokens cut at 4094 bytes|filter|src/filter.h|s/TOKEN_MAX = 4095;/TOKEN_MAX = 4094;/"
  "979 ISBNs looked up among the 978 groups|filter|src/isbn_index.cpp|s/table = rows == ISBN_rows::prefix_978 ? \&index->of_978 : \&index->of_979;/table = \&index->of_978;/"
  "the 979 groups left out of a lookup in all groups|ranges|src/isbn_index.cpp|s/    return found != nullptr || rows == ISBN_rows::prefix_978$/    return true/"
  "the first key of each interval left out|ranges|src/isbn_index.cpp|s/table.intervals\[k\].low <= value ?/table.intervals[k].low < value ?/"
  "the unfinished line filtered on a read error|input|src/files.cpp|s/            return {input_end::read_error, errno};/            { int error = errno; run.mode->filter(run.input, run.buffer, run.held); return {input_end::read_error, error}; }/"
  "an interrupted read taken for an error|input|src/output.cpp|s/    if (errno == EINTR)\$/    if (errno == EINTR \&\& false)/"
  "ten-byte tokens passed over as too short|filter|src/scan.cpp|s/if (stop - start >= SHORTEST_CANDIDATE) {/if (stop - start > SHORTEST_CANDIDATE) {/"
  "the mark search blind to a round's last sixteen positions|filter|src/scan.cpp|s/for (const char \*q = p; q < p + 64; q += 16)/for (const char *q = p; q < p + 48; q += 16)/"
  "a mark after a BibTeX value on its line not seen|bibtex|src/filter.cpp|s/    block.line_has_url = find_url_mark(block.line_begin, block.line_end) != block.line_end;/    block.line_has_url = find_url_mark(block.line_begin, position + 1) != position + 1;/"
  "the BibTeX state lost between blocks|bibtex|src/bibtex.cpp|s/    parser \&state = std::any_cast<parser \&>(input.mode_state);/    parser fresh; parser \&state = fresh;/"
  "a quoted ISBN value over two reads loses its field|bibtex|src/bibtex.cpp|/const char \*value_start = nullptr;/{n;s/ || state.at == where::quoted//}"
  "a quoted ISBN value over two reads loses its field (one read per line)|test:e2e.bibtex_cases|src/bibtex.cpp|/const char \*value_start = nullptr;/{n;s/ || state.at == where::quoted//}"
  "an ISBN field named isbn alone never filtered|bibtex|src/bibtex.cpp|s/for (const char \*p = begin; end - p >= 4; ++p)/for (const char *p = begin; end - p > 4; ++p)/"
  "an @ inside a value taken for a new entry|bibtex|src/bibtex.cpp|s/static constexpr char braced\[4\] = {'{', '}', '}', '}'};/static constexpr char braced[4] = {'{', '}', '@', '}'};/;s/    if (\*q == '{') {/    if (*q == '@') { value_start = nullptr; not_closed(scan, q); return q; }\n    if (*q == '{') {/"
  "a write cut short goes on one byte early|input|src/output.cpp|s/piece->iov_base = static_cast<char \*>(piece->iov_base) + done;/piece->iov_base = static_cast<char *>(piece->iov_base) + done - (done > 1);/"
  "a mark at the very start of a line's search not seen|filter|src/filter.cpp|s/const char \*mark = find_url_mark(from, search_end);/const char *mark = find_url_mark(from + (from < search_end), search_end);/"
  "a mark at the very start of a line's search not seen (stdin table)|test:e2e.command_line_cases|src/filter.cpp|s/const char \*mark = find_url_mark(from, search_end);/const char *mark = find_url_mark(from + (from < search_end), search_end);/"
  "the last newline of a read skipped before a read error|test:faults|src/input.cpp|s/find_last_newline(fresh, run.buffer + run.held);/find_last_newline(fresh, run.buffer + run.held - 1);/"
  "an output opened over its own input taken for one that follows it|test:faults|src/main.cpp|s/ || output_at < in.st_size ||/ ||/"
  "the set-ID bits kept where the owner changes|test:files|src/files.cpp|s/        mode \&= static_cast<mode_t>(~(S_ISUID | S_ISGID));/        (void)mode;/"
  "an ACL inherited from the directory kept|test:files|src/files.cpp|s/    if (!has_acl \&\& fremovexattr(output, ACL) != 0/    if (false \&\& fremovexattr(output, ACL) != 0/"
  "the owner and group not carried over|test:files|src/files.cpp|s/    bool kept = fchown(output, original.st_uid, original.st_gid) == 0;/    bool kept = true;/"
  "a named temporary file left on a signal|test:files|src/files.cpp|/^void stop_now/,/^}/s/        unlinkat(temporary_directory, temporary_name, 0);/        ;/"
  "a signal ends the run without a word|test:files|src/files.cpp|s/    action.sa_handler = stop_now;/    action.sa_handler = SIG_DFL;/"
  "the name not checked before the rename|test:files|src/files.cpp|s/now.st_ino != original.st_ino)/false)/"
  "the part before the first change not copied|test:files|src/files.cpp|s/if (!copy_start(file, output_discarded(out)))/if (!copy_start(file, 0))/"
  "a closed standard error left closed|test:files|src/main.cpp|s/        if (fcntl(number, F_GETFD) != -1 || errno != EBADF)/        if (true)/"
  "-- after --in-place taken for a file|test:files|src/main.cpp|s/std::strcmp(argv\[first\], \"--\") == 0) {/std::strcmp(argv[first], \"---\") == 0) {/"
  "a change alone leaves --check at 0|test:e2e.command_line_cases|src/files.cpp|s/    report_warning(\*static_cast<orvane_run \*>(context), change.name/    report_notice(*static_cast<orvane_run *>(context), change.name/"
  "an ISBN the table cannot place fails --check|test:e2e.command_line_cases|src/bibtex.cpp|s/    report_notice(\*block.run, block_name(block)/    report_warning(*block.run, block_name(block)/"
  "other hyphens of the same length not a change|test:e2e.command_line_cases|src/filter.cpp|s/    if (text_length == length \&\& std::memcmp(token, text, length) == 0)/    if (text_length == length)/"
  "a field name that starts with @ refused|bibtex|src/bibtex.cpp|s/        if (!is_name_byte(c) || is_digit(c)) {/        if (!is_name_byte(c) || is_digit(c) || c == '@') {/"
  "an @ where a , is due not taken for the next entry|bibtex|src/bibtex.cpp|s/    if (\*position == '@')/    if (false)/"
  "a second field taken in @string|bibtex|src/bibtex.cpp|s/} else if (c == ',' \&\& !state.single) {/} else if (c == ',') {/"
  "@comment read as an entry|bibtex|src/bibtex.cpp|s/== \"comment\"$/== \"comment-\"/"
  "a form feed taken for a blank|bibtex|src/bibtex.cpp|/for (char c : {' ', /s/\\('.r'\\)})/\\1, char(12)})/"
  "a group that is a prefix of an earlier one taken|ranges|src/range_message.cpp|s/    if (after != c.seen.end() \&\& after->compare(0, full.size(), full) == 0) {/    if (false) {/"
  "a group that is a prefix of an earlier one taken (faults table)|test:range_export_faults|src/range_message.cpp|s/    if (after != c.seen.end() \&\& after->compare(0, full.size(), full) == 0) {/    if (false) {/"
  "a range misaligned at its low end taken|ranges|src/range_message.cpp|s/        if (low.find_first_not_of('0', length) != std::string::npos ||/        if (false ||/"
  "a group without an Agency taken|ranges|src/range_message.cpp|s/    if (raw.agency.empty())/    if (false)/"
  "an export without an assigned range taken|ranges|src/range_message.cpp|s/    if (message.groups.empty())/    if (false)/"
  "the new file's descriptor never closed|test:files|src/files.cpp|s/    descriptor output{file.output};/    struct { int number; } output{file.output};/"
  "signals not held around the rename|test:files|src/files.cpp|/^std::string replace(/,/^}/s/    signals_held held;/    \/\/ no hold/"
  "a second signal not held while the first is handled|test:files|src/files.cpp|s/    action.sa_mask = caught_signals;/    sigemptyset(\&action.sa_mask);/"
  "the last check before the rename blind to size and times|test:files|src/files.cpp|/now.st_ctim.tv_nsec != original.st_ctim.tv_nsec)/{n;s/.*/        ;/}"
  "the last check made on the open file, not its name|test:files|src/files.cpp|s/    if (fstatat(directory, where.base.c_str(), \&now, AT_SYMLINK_NOFOLLOW) != 0)/    if (fstat(file.input, \&now) != 0)/"
  "set-ID bits kept where only the group is kept|test:files|src/files.cpp|s/        (void)!fchown(output, static_cast<uid_t>(-1), original.st_gid);/        kept = fchown(output, static_cast<uid_t>(-1), original.st_gid) == 0;/"
  "an ACL left out where the owner changes|test:files|src/files.cpp|s/        bool acl = std::strcmp(name, ACL) == 0;/        bool acl = std::strcmp(name, ACL) == 0;\n        if (acl \&\& !kept)\n            continue;/"
  "a failed file's named temporary left|test:files|src/files.cpp|/^void remove_temporary/,/^}/s/        unlinkat(temporary_directory, temporary_name, 0);/        ;/"
  "the clean-up after the directory is closed|test:files|src/files.cpp|/^bool filter_file_in_place/,/^}/{/^    location where;$/d;s/^    } cleanup;$/    } cleanup;\n    location where;/}"
  "the real-time signals not caught|test:files|src/files.cpp|0,/signal < NSIG/s//signal < SIGRTMIN/"
  "a signal ignored at start caught all the same|test:files|src/files.cpp|s/            was.sa_handler == SIG_IGN)/            false)/"
  "SIGSYS taken for a signal that does not end the process|test:files|src/files.cpp|s/    case SIGCHLD:/    case SIGSYS:\n    case SIGCHLD:/"
  "a name written raw in the messages of in place|test:files|src/files.cpp|s/    std::string shown = shown_name(given);/    std::string shown = given;/"
  "a linked directory's name written raw in the messages of in place|test:files|src/files.cpp|s/\"cannot make a file in \" + shown_name(file.where->shown.c_str())/\"cannot make a file in \" + file.where->shown/"
  "a name written raw by --check|test:e2e.command_line_cases|src/files.cpp|s/        std::string shown = shown_name(names\[i\]);/        std::string shown = names[i];/"
  "a length that leaves one title digit refused|test:range_export_faults|src/range_message.cpp|s/        if (group.digits.size() + length > ISBN_PREFIX_DIGITS_MAX)/        if (group.digits.size() + length >= ISBN_PREFIX_DIGITS_MAX)/"
  "a rule that starts on the last number of the one before taken|test:range_export_faults|src/range_message.cpp|s/low <= previous_high)/low < previous_high)/"
  "a type that begins with comment taken for @comment|test:bibtex_oracle|src/bibtex.cpp|s/std::string_view(state.type, state.type_length) == \"comment\"/std::string_view(state.type, state.type_length).substr(0, 7) == \"comment\"/"
  "a type that begins with string read as @string|test:bibtex_oracle|src/bibtex.cpp|s/ type == \"string\";/ type.substr(0, 6) == \"string\";/;s/    } else if (type == \"string\") {/    } else if (type.substr(0, 6) == \"string\") {/"
  "an X in the ninth place taken by --isbn13|test:e2e.command_line_cases|src/filter.cpp|s/    for (int i = 0; i < 9; ++i)/    for (int i = 0; i < 8; ++i)/"
  "the rows of 979 of an export's table taken for 978's|test:range_export.RangeMessage-2024-01-08|src/isbn_table.cpp|s/            first_979_row = rows.size() + group->ranges.size();/            first_979_row = rows.size();/"
  "a change's place in the output not moved by the changes before it|test:API.GivesOutputWarningsAndChangesWithLinesAndOffsets|src/filter.cpp|s/        state.input->output_growth +=/        state.input->output_growth =/"
  "a hook's refusal not ending the run's output|test:API.EveryWayOfDrivingRunsGivesTheCommandLinesAnswer|src/orvane.cpp|s/    fail_output(run.out, ECANCELED);/    ;/"
  "a failed load of an export put in place|test:API.ALoadThatRunsOutOfMemoryAnywhereLeavesTheTableInUse|src/orvane.cpp|s/    if (made == nullptr || !make_ISBN_table(\*made, message)) {/    if (made == nullptr || (!make_ISBN_table(*made, message) \&\& false)) {/"
  "a new input keeps the last one's line in context|web:the last wins|web/page.js|s/    \$('context').textContent = 'Select a change or a warning to see its line.';/    ;/"
  "the list of changes shows the new text as the old|web:every case|web/page.js|s/span('old', shown(change.old))/span('old', shown(change.new))/"
  "a text not UTF-8 offered to the clipboard|web:the last wins|web/page.js|s/    const copyable = state.input.utf8 \&\& size <= COPY_MAX;/    const copyable = size <= COPY_MAX;/"
  "a second quote in a shell word left unquoted|web:shell word|web/logic.js|s/word.replace(\/'\/g,/word.replace(\/'\/,/"
  "an entry opened with a parenthesis not taken for BibTeX|web:the mode|web/logic.js|s/\[{(\]\/m/[{]\/m/"
  "the window of a long line at its start, not around the change|web:window|web/logic.js|s/  const from = Math.max(start, Math.min(offset - (width >> 1), end - width));/  const from = start;/"
  "a change's old text cut to the new one's length|web:every case|web/logic.js|s/      const oldEnd = n\[3\] + n\[4\];/      const oldEnd = n[3] + n[5];/"
  "the module's warnings counted the other way round|web:picker|web/orvane_wasm.cpp|s/warning->counted ? 1.0 : 0.0/warning->counted ? 0.0 : 1.0/"
  "the worker writes past the run's room|web:long line|web/worker.js|s/Math.min(input.length, at + orvane._orvane_web_room_size(session))/Math.min(input.length, at + 4 * 1024 * 1024)/"
  "a long warning's line cut to the usual buffer|test:API.LongNamesAndWarningsComeWhole|src/diagnostics.cpp|s/        large.resize(length);/        large.resize(sizeof buffer); length = sizeof buffer;/"
  "a diagnostic's range one character short|test:editors|src/lsp.cpp|s/std::max<std::size_t>(end, w.offset + 1))/std::max<std::size_t>(end - 1, w.offset + 1))/"
  "an edit's range one byte short|test:editors|src/lsp.cpp|s/        return {{\"range\", d.range(change.offset, change.offset + change.old_text.size())},/        return {{\"range\", d.range(change.offset, change.offset + change.old_text.size() - 1)},/"
  "positions counted again from each line's start|test:lsp_cases|src/lsp.cpp|s/        if (index != counted_line || at < counted_at) {/        if (true) {/"
  "a fed part's output held until the end|test:API.EachPartsOutputIsHandedOverAtOnce|src/orvane.cpp|s/input_added(\*run, count, true);/input_added(*run, count, false);/"
  "output held back before a read from a socket or a terminal|test:interleaving|src/files.cpp|s/    bool may_wait = fstat(descriptor, \&status) != 0 || !S_ISREG(status.st_mode);/    bool may_wait = fstat(descriptor, \&status) != 0 || S_ISFIFO(status.st_mode);/"
)

found=0
tried=0
for fault in "${faults[@]}"; do
  IFS='|' read -r name target file expression <<<"$fault"
  [[ "$name" == *"$only"* ]] || continue
  tried=$((tried + 1))
  tree=$root/tree
  rm -rf "$tree" && mkdir -p "$tree"
  git ls-files -z | xargs -0 cp --parents -t "$tree"
  sed -i "$expression" "$tree/$file"
  if cmp -s "$file" "$tree/$file"; then
    echo "NOT PLANTED: $name (the edit no longer matches $file)"
    continue
  fi
  if [[ "$target" == web:* ]]; then
    pattern=${target#web:}
    page=$root/page
    rm -rf "$page"
    if [[ "$file" == *.cpp || "$file" == web/worker.js ]]; then
      if ! (cd "$tree" && emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release >/dev/null 2>&1 &&
            cmake --build build-wasm -j"${JOBS:-2}" >/dev/null 2>&1); then
        echo "NOT BUILT: $name (the module with the fault does not build)"
        continue
      fi
      cp -r "$tree/build-wasm/page" "$page"
    else
      cp -r build-wasm/page "$page"
      cp "$tree/$file" "$page/"
    fi
    ln -s "$PWD/web/node_modules" "$tree/web/node_modules"
    start=$(date +%s.%N)
    if (cd "$tree/web" && ORVANE="$OLDPWD/build/orvane" ORVANE_WEB="$page" \
          node --test --test-name-pattern="$pattern" tests/ >"$root/log" 2>&1); then
      echo "MISSED: $name (web tests $pattern)"
    else
      elapsed=$(echo "$(date +%s.%N) - $start" | bc)
      what=$(grep -a -m1 -E "^not ok" "$root/log" | head -c 120)
      printf 'found: %s (web tests, %.1f s): %s\n' "$name" "$elapsed" "$what"
      found=$((found + 1))
    fi
    continue
  fi
  if [[ "$target" == test:* ]]; then
    test=${target#test:}
    # A unit test (Suite.Name) needs the unit tests built; the others run the binaries.
    built=(orvane range_message_groups)
    [[ "$test" =~ ^[A-Z][A-Za-z]*\. ]] && built+=(unit_tests)
    if ! (cd "$tree" && cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORVANE_LTO=OFF >/dev/null 2>&1 &&
          cmake --build build -j"${JOBS:-2}" --target "${built[@]}" >/dev/null 2>&1); then
      echo "NOT BUILT: $name (the tree with the fault does not build)"
      continue
    fi
    start=$(date +%s.%N)
    if (cd "$tree" && ctest --test-dir build -R "^$test\$" >"$root/log" 2>&1); then
      echo "MISSED: $name ($test)"
    else
      elapsed=$(echo "$(date +%s.%N) - $start" | bc)
      # What the test said, so that a test that fails for another reason shows.
      what=$(grep -a -m1 -E 'FAILED|Error|Traceback|differs' "$root/log" | head -c 120)
      printf 'found: %s (test %s, %.1f s): %s\n' "$name" "$test" "$elapsed" "$what"
      found=$((found + 1))
    fi
    continue
  fi
  if ! (cd "$tree" && CC=clang CXX=clang++ cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF >/dev/null 2>&1 &&
        cmake --build build -j"${JOBS:-2}" --target "fuzz_$target" >/dev/null 2>&1); then
    echo "NOT BUILT: $name (the tree with the fault does not build)"
    continue
  fi
  corpus=$root/corpus && rm -rf "$corpus" && cp -r "fuzz/corpus/$target" "$corpus"
  start=$(date +%s.%N)
  if "$tree/build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -len_control=0 \
       -artifact_prefix="$root/" "$corpus" >"$root/log" 2>&1; then
    echo "MISSED: $name ($target, ${seconds} s)"
  else
    elapsed=$(echo "$(date +%s.%N) - $start" | bc)
    what=$(grep -a -m1 -E 'disagree|differ|not a prefix|invented|not reported|other results|otherwise|fails|changed|exited|refuses|takes' "$root/log" | head -c 100)
    printf 'found: %s (fuzz_%s, %.1f s): %s\n' "$name" "$target" "$elapsed" "$what"
    found=$((found + 1))
  fi
done
echo "$found of $tried seeded faults found"
[ "$found" -eq "$tried" ]
