// Work on files: each rewritten in place, safely, or checked without a byte written.

#include "files.h"

#include "diagnostics.h"
#include "filter.h"
#include "input.h"
#include "output.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

// A descriptor closed when it goes out of scope.
struct descriptor {
    int number = -1;
    descriptor() = default;
    explicit descriptor(int n) : number(n) {}
    descriptor(const descriptor &) = delete;
    descriptor &operator=(const descriptor &) = delete;
    ~descriptor() {
        if (number >= 0)
            close(number);
    }
};

// ---- Signals. In place, every signal whose default action ends the process is caught (unless
// it was ignored when the run started, as under nohup), the real-time ones and those of faults
// among them; SIGKILL cannot be, nor the two the C library keeps for its threads, and SIGXFSZ is
// ignored instead. The handler removes a named
// temporary file, says that the file being filtered is left as it was, and ends the process by
// the same signal, so that a shell loop, timeout or a cancelled job sees it. It uses only calls
// that are safe there.

// Whether the default action of a signal leaves the process running: it is ignored, or it stops
// or continues the process; SIGKILL and SIGSTOP cannot be caught at all.
bool default_does_not_end(int signal) {
    switch (signal) {
    case SIGCHLD:
    case SIGCONT:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGURG:
    case SIGWINCH:
    case SIGKILL:
    case SIGXFSZ:
        return true;
    default:
        return false;
    }
}

// What the handler needs: the file being filtered (its name as messages give it), the directory
// and name of a named temporary file, and the text of each signal.
const char *volatile name_in_progress = nullptr;
volatile int temporary_directory = -1;
char temporary_name[32];
const char *signal_texts[NSIG];

// Writes the handler's line only where standard error can take it at once: a pipe that nobody
// reads must not keep the run from ending.
void say_left_as_it_was(int signal) {
    const char *name = name_in_progress;
    pollfd ready{STDERR_FILENO, POLLOUT, 0};
    if (name == nullptr || poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)
        return;
    const char *text = signal_texts[signal] != nullptr ? signal_texts[signal] : "Signal";
    const char *parts[] = {"?? ", name, ": ", text, ", left as it was\n"};
    iovec pieces[5];
    for (int i = 0; i < 5; ++i)
        pieces[i] = iovec{const_cast<char *>(parts[i]), std::strlen(parts[i])};
    (void)!writev(STDERR_FILENO, pieces, 5);
}

void stop_now(int signal) {
    if (temporary_directory >= 0 && temporary_name[0] != '\0')
        unlinkat(temporary_directory, temporary_name, 0);
    say_left_as_it_was(signal);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal, &default_action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

// The signals the handler catches, all blocked while it runs and around a rename.
sigset_t caught_signals;

void catch_stop_signals() {
    sigemptyset(&caught_signals);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction was {};
        // The C library keeps a few real-time signals for itself and refuses them here.
        if (default_does_not_end(signal) || sigaction(signal, nullptr, &was) != 0 ||
            was.sa_handler == SIG_IGN)
            continue;
        sigaddset(&caught_signals, signal);
        signal_texts[signal] = strdup(strsignal(signal));
    }
    struct sigaction action {};
    action.sa_handler = stop_now;
    action.sa_mask = caught_signals;
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigismember(&caught_signals, signal) == 1 && sigaction(signal, &action, nullptr) != 0)
            sigdelset(&caught_signals, signal);
    // A file-size limit becomes a write error of the one file instead of a signal.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Holds the caught signals back while it lives: a rename and the note that it is done happen
// together or not at all.
struct signals_held {
    sigset_t before;
    signals_held() { sigprocmask(SIG_BLOCK, &caught_signals, &before); }
    ~signals_held() { sigprocmask(SIG_SETMASK, &before, nullptr); }
};

// ---- Where a file is. Symbolic links are followed by hand, each relative to the directory that
// holds it, so that the new file is made beside the file it replaces, and no path longer than the
// system's limit is ever formed: a working directory deeper than PATH_MAX, or below a directory
// that cannot be searched, is no obstacle.

struct location {
    descriptor directory; // opened O_PATH
    std::string base;     // the file's name in it
    std::string shown;    // the directory as a path, for messages
};

// Splits path into its directory part ("" for none) and its last component.
void split(const std::string &path, std::string &directory, std::string &base) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        directory.clear();
        base = path;
        return;
    }
    directory = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
}

// Finds the file that name leads to. Returns an empty string, or the reason it cannot.
std::string locate(const char *name, location &where) {
    std::string path = name;
    std::string shown_before;
    int from = AT_FDCWD;
    descriptor held;
    for (int hops = 0; hops < 40; ++hops) {
        std::string directory;
        split(path, directory, where.base);
        if (where.base.empty() || where.base == "." || where.base == "..")
            return "not a regular file";
        int opened = openat(from, directory.empty() ? "." : directory.c_str(),
                            O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (opened < 0)
            return std::strerror(errno);
        if (where.directory.number >= 0)
            close(where.directory.number);
        where.directory.number = opened;
        if (directory.empty())
            where.shown = shown_before.empty() ? "." : shown_before;
        else if (directory[0] == '/' || shown_before.empty())
            where.shown = directory;
        else
            where.shown = shown_before + "/" + directory;
        struct stat status {};
        if (fstatat(opened, where.base.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return std::strerror(errno);
        if (!S_ISLNK(status.st_mode))
            return "";
        std::vector<char> target(static_cast<std::size_t>(status.st_size) + 2);
        ssize_t length = readlinkat(opened, where.base.c_str(), target.data(), target.size());
        if (length < 0)
            return std::strerror(errno);
        if (static_cast<std::size_t>(length) >= target.size() - 1)
            return "its symbolic link changed while it was read";
        path.assign(target.data(), static_cast<std::size_t>(length));
        // The link's target is read relative to the directory that holds the link.
        if (held.number >= 0)
            close(held.number);
        held.number = dup(opened);
        if (held.number < 0)
            return std::strerror(errno);
        from = held.number;
        shown_before = where.shown;
    }
    return std::strerror(ELOOP);
}

// ---- The file being rewritten.

// The state of one file in place, which the change listener and the writer reach through their
// context.
struct in_place_file {
    orvane_run *run = nullptr;
    location *where = nullptr;
    int input = -1;
    int output = -1;      // the new content's file, once a change has been seen
    bool unnamed = false; // made with O_TMPFILE: it has no name until it is linked
    std::string failure;  // why the file failed, where its reason is not the input's
    off_t written = 0;    // bytes written to the new file
    off_t write_back_from = 0;
};

// How much new content is written before its write-back to disk is started.
constexpr off_t WRITE_BACK_STEP = off_t(8) << 20;

// Writes as writev() does, and starts the write-back of each step of the new content as it is
// written, so that the disk works while the rest is filtered and the flush before the rename
// waits only for the last of it (on bib, in place took 0.89 times as long). Linux only;
// elsewhere the flush does all of it.
ssize_t write_starting_write_back(void *context, int file, const iovec *pieces, int count) {
    ssize_t written = writev(file, pieces, count);
#ifdef SYNC_FILE_RANGE_WRITE
    auto &current = *static_cast<in_place_file *>(context);
    if (written > 0) {
        current.written += written;
        if (current.written - current.write_back_from >= WRITE_BACK_STEP) {
            sync_file_range(file, current.write_back_from,
                            current.written - current.write_back_from, SYNC_FILE_RANGE_WRITE);
            current.write_back_from = current.written;
        }
    }
#else
    (void)context;
#endif
    return written;
}

// A name for a temporary file that no one can guess in advance.
void fresh_name(char (&name)[32]) {
    static std::uint64_t state = static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15u ^
                                 static_cast<std::uint64_t>(std::time(nullptr));
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    state = state * 6364136223846793005u + 1442695040888963407u +
            static_cast<std::uint64_t>(now.tv_nsec);
    static constexpr char LETTERS[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::memcpy(name, ".orvane-", 8);
    std::uint64_t bits = state >> 4;
    for (int i = 8; i < 14; ++i, bits /= 62)
        name[i] = LETTERS[bits % 62];
    name[14] = '\0';
}

// Makes a named temporary file in the directory, with signals held so that the handler knows
// its name from the moment it exists. Returns the descriptor or -1.
int make_named(int directory) {
    signals_held held;
    for (int tries = 0; tries < 100; ++tries) {
        char name[32];
        fresh_name(name);
        int file = openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file >= 0) {
            std::memcpy(temporary_name, name, sizeof name);
            temporary_directory = directory;
            return file;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Makes the file for the new content: unnamed where the file system allows (Linux O_TMPFILE),
// so that no signal, not even SIGKILL, and no power cut can leave it behind; named elsewhere.
int make_new_file(in_place_file &file) {
    int directory = file.where->directory.number;
#ifdef O_TMPFILE
    int unnamed = openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        // It gets its name through /proc at the end; without /proc it could get none.
        std::string link = "/proc/self/fd/" + std::to_string(unnamed);
        if (access(link.c_str(), F_OK) == 0) {
            file.unnamed = true;
            return unnamed;
        }
        close(unnamed);
    }
#endif
    return make_named(directory);
}

// Copies the first count bytes of the input into the new file: the part that went out, unchanged,
// before the first change.
bool copy_start(in_place_file &file, std::uint64_t count) {
    int input = file.input;
    int output = file.output;
    std::vector<char> buffer(std::size_t{1} << 16);
    off_t at = 0;
    while (static_cast<std::uint64_t>(at) < count) {
        std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer.size(), count - static_cast<std::uint64_t>(at)));
        ssize_t got = pread(input, buffer.data(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO; // the file became shorter: the size check will say so
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(output, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return false;
            done += put;
        }
        at += got;
    }
    file.written = at;
    return true;
}

// The reason of a failure to write the new content.
std::string cannot_write(int error) {
    return std::string("cannot write the new content: ") + std::strerror(error);
}

// The listener of in place: at the first change, the file for the new content is made, the part
// of the input handed over unchanged so far copied into it, and the output sent there. Until
// then nothing is written, so a file that does not change costs one read and no write, and
// succeeds wherever it can be read.
void first_change(void *context, const token_change &) {
    in_place_file &file = *static_cast<in_place_file *>(context);
    output_state &out = file.run->out;
    if (file.output >= 0 || !file.failure.empty())
        return;
    file.output = make_new_file(file);
    if (file.output < 0) {
        int error = errno;
        file.failure = "cannot make a file in " + shown_name(file.where->shown.c_str()) + ": " +
                       std::strerror(error);
        fail_output(out, error);
        return;
    }
    if (!copy_start(file, output_discarded(out))) {
        int error = errno;
        file.failure = cannot_write(error);
        fail_output(out, error);
        return;
    }
    redirect_output(out, file.output, write_starting_write_back, &file);
}

// Writes "?? NAME: REASON" to standard error. Returns false, for the caller to return.
bool fail(const char *name, const std::string &reason) {
    std::string line = "?? " + std::string(name) + ": " + reason + "\n";
    for (std::size_t done = 0; done < line.size();) {
        ssize_t put = write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (put < 0 && try_again(STDERR_FILENO, POLLOUT))
            continue;
        if (put < 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    return false;
}

// A run of a file's, whose warnings go to standard error, with nothing written until it says.
std::unique_ptr<orvane_run> file_run(const orvane_options &options, const range_table *table) {
    auto run = std::make_unique<orvane_run>(options, table);
    set_error_destination(run->out, STDERR_FILENO);
    start_output(run->out, -1);
    return run;
}

// What ended the filtering of an input early, said of its file.
std::string reason(const input_end &end) {
    switch (end.how) {
    case input_end::read_error:
        return std::strerror(end.error);
    case input_end::write_error:
        return cannot_write(end.error);
    case input_end::out_of_memory:
        return OUT_OF_MEMORY_FOR_A_LINE;
    case input_end::complete:
        break;
    }
    return "";
}

// Carries over to the new file what the original has besides its content: its owner and group
// where the process may set them, its extended attributes, its ACL among them, and its permission
// bits, without the set-user-ID and set-group-ID bits when the owner or the group could not be
// kept (as cp and sed do). The ACL is copied as the raw attribute system.posix_acl_access: the
// same bytes that the ACL library would read and write, without its parsing, and with no library
// to link; an ACL that the new file inherits from its directory is removed where the original
// has none. An ACL that cannot be carried over fails the file: permissions are never widened.
// Other attributes go where the process may set them. Returns the fault, or "".
std::string carry_over(int input, int output, const struct stat &original) {
    constexpr const char *ACL = "system.posix_acl_access";
    bool kept = fchown(output, original.st_uid, original.st_gid) == 0;
    if (!kept)
        (void)!fchown(output, static_cast<uid_t>(-1), original.st_gid);
    bool has_acl = false;
    ssize_t size = flistxattr(input, nullptr, 0);
    std::vector<char> names(size > 0 ? static_cast<std::size_t>(size) : 0);
    if (size > 0)
        size = flistxattr(input, names.data(), names.size());
    for (ssize_t at = 0; size > 0 && at < size;) {
        const char *name = names.data() + at;
        at += static_cast<ssize_t>(std::strlen(name)) + 1;
        bool acl = std::strcmp(name, ACL) == 0;
        has_acl |= acl;
        ssize_t length = fgetxattr(input, name, nullptr, 0);
        std::vector<char> value(length > 0 ? static_cast<std::size_t>(length) : 0);
        if (length > 0)
            length = fgetxattr(input, name, value.data(), value.size());
        if (length < 0 ||
            fsetxattr(output, name, value.data(), static_cast<std::size_t>(length), 0) != 0) {
            if (acl)
                return std::string("cannot keep its ACL: ") + std::strerror(errno);
        }
    }
    if (!has_acl && fremovexattr(output, ACL) != 0 && errno != ENODATA && errno != ENOTSUP)
        return std::string("cannot keep its permissions: ") + std::strerror(errno);
    mode_t mode = original.st_mode & 07777;
    if (!kept)
        mode &= static_cast<mode_t>(~(S_ISUID | S_ISGID));
    if (fchmod(output, mode) != 0)
        return std::string("cannot keep its permissions: ") + std::strerror(errno);
    return "";
}

// Gives the new file the original's name. As the last step before the rename, with signals held
// so that nothing comes between them, the name is checked to lead still to the file that was read
// (not replaced by an editor's save), unchanged since it was opened: its size, modification time
// and change time, so that another writer's append during the flush is not lost.
std::string replace(in_place_file &file, const struct stat &original) {
    location &where = *file.where;
    int directory = where.directory.number;
    signals_held held;
    if (file.unnamed) {
        std::string link = "/proc/self/fd/" + std::to_string(file.output);
        for (int tries = 0;; ++tries) {
            fresh_name(temporary_name);
            temporary_directory = directory;
            if (linkat(AT_FDCWD, link.c_str(), directory, temporary_name, AT_SYMLINK_FOLLOW) == 0)
                break;
            temporary_name[0] = '\0';
            if (errno != EEXIST || tries == 100)
                return std::string("cannot replace it: ") + std::strerror(errno);
        }
    }
    struct stat now {};
    if (fstatat(directory, where.base.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? "gone while it was read, not made again"
                               : std::string("cannot replace it: ") + std::strerror(errno);
    if (now.st_dev != original.st_dev || now.st_ino != original.st_ino)
        return "replaced while it was read, left as it was";
    if (now.st_size != original.st_size || now.st_mtim.tv_sec != original.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != original.st_mtim.tv_nsec ||
        now.st_ctim.tv_sec != original.st_ctim.tv_sec ||
        now.st_ctim.tv_nsec != original.st_ctim.tv_nsec)
        return "changed while it was read, left as it was";
    if (renameat(directory, temporary_name, directory, where.base.c_str()) != 0)
        return std::string("cannot replace it: ") + std::strerror(errno);
    temporary_name[0] = '\0';
    name_in_progress = nullptr;
    return "";
}

// Removes a named temporary file that was not renamed, and forgets it.
void remove_temporary() {
    signals_held held;
    if (temporary_directory >= 0 && temporary_name[0] != '\0')
        unlinkat(temporary_directory, temporary_name, 0);
    temporary_name[0] = '\0';
    temporary_directory = -1;
}

} // namespace

// The content is compared by the filter's own report of the tokens it writes otherwise, none
// exactly when every byte comes out as it went in. A file that changes while it is read, or until
// the moment it would be replaced, fails: its content then is neither the old nor a whole new
// one; one whose name leads to another file by the end (an editor saved it) fails too, so that
// the save is not lost. The name goes into every message escaped, once.
bool filter_file_in_place(const char *given, const orvane_options &options,
                          const range_table *table, read_function reader) {
    std::string shown = shown_name(given);
    const char *name = shown.c_str();
    location where;
    // From here on a signal says that this file is left as it was, until it is done or failed.
    // The clean-up runs before the directory is closed: a named temporary file is removed
    // relative to it.
    name_in_progress = name;
    struct done_with_file {
        ~done_with_file() {
            remove_temporary();
            name_in_progress = nullptr;
        }
    } cleanup;
    std::string fault = locate(given, where);
    if (!fault.empty())
        return fail(name, fault);
    // Opened without waiting, since a FIFO would wait for a writer before it can be refused.
    descriptor input{openat(where.directory.number, where.base.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW)};
    if (input.number < 0)
        return fail(name, std::strerror(errno));
    struct stat before {};
    if (fstat(input.number, &before) != 0)
        return fail(name, std::strerror(errno));
    if (!S_ISREG(before.st_mode))
        return fail(name, "not a regular file");

    in_place_file file;
    file.where = &where;
    file.input = input.number;
    std::unique_ptr<orvane_run> run = file_run(options, table);
    file.run = run.get();
    run->listeners = run_listeners{&file, nullptr, first_change};
    start_input(*run, name);
    input_end end = filter_descriptor(*run, input.number, reader);
    finish_output(run->out);
    descriptor output{file.output};
    if (!file.failure.empty())
        return fail(name, file.failure);
    if (end.how == input_end::complete && output_error(run->out) != 0)
        end = {input_end::write_error, output_error(run->out)};
    if (end.how != input_end::complete)
        return fail(name, reason(end));
    if (file.output < 0)
        return true; // nothing changed, nothing written
    fault = carry_over(input.number, output.number, before);
    if (!fault.empty())
        return fail(name, fault);
    if (fsync(output.number) != 0)
        return fail(name, cannot_write(errno));
    fault = replace(file, before);
    if (!fault.empty())
        return fail(name, fault);
    // The rename itself reaches the disk with the directory.
    descriptor folder{openat(where.directory.number, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.number >= 0)
        fsync(folder.number);
    return true;
}

// A signal ends the run: the file being filtered is left as it was, and the files after it are
// not touched. One that comes while a file is being renamed into place waits until it is.
int filter_files_in_place(char *const *names, int count, const orvane_options &options,
                          const range_table *table) {
    catch_stop_signals();
    int status = 0;
    for (int i = 0; i < count; ++i)
        if (!filter_file_in_place(names[i], options, table, read))
            status = 1;
    return status;
}

namespace {

// The listener of --check: each change is reported beside the warnings, and counted with them.
void report_change(void *context, const token_change &change) {
    std::string message(change.old_text);
    message.append(" would be written as ").append(change.new_text);
    report_warning(*static_cast<orvane_run *>(context), change.name, change.line, change.offset,
                   message.c_str());
}

} // namespace

int check_files(char *const *names, int count, const orvane_options &options,
                const range_table *table) {
    static char standard_input[] = "-";
    static char *const only_standard_input[] = {standard_input};
    if (count == 0) {
        names = only_standard_input;
        count = 1;
    }
    int status = 0;
    std::uint64_t warnings = 0;
    for (int i = 0; i < count; ++i) {
        bool is_standard_input = std::strcmp(names[i], "-") == 0;
        std::string shown = shown_name(names[i]);
        const char *name = shown.c_str();
        descriptor input{is_standard_input ? -1 : open(names[i], O_RDONLY | O_CLOEXEC)};
        if (!is_standard_input && input.number < 0) {
            fail(name, std::strerror(errno));
            status = 1;
            continue;
        }
        std::unique_ptr<orvane_run> run = file_run(options, table);
        run->listeners = run_listeners{run.get(), nullptr, report_change};
        start_input(*run, name);
        input_end end =
            filter_descriptor(*run, is_standard_input ? STDIN_FILENO : input.number, read);
        finish_output(run->out);
        warnings += run->warnings;
        if (end.how != input_end::complete) {
            fail(name, reason(end));
            status = 1;
        }
    }
    return status != 0 || warnings != 0 ? 1 : 0;
}

// The buffer is the run's own: each read goes straight into its room. On a read error the
// unfinished line is dropped, so that what was written is a prefix of what the whole input
// would have given.
input_end filter_descriptor(orvane_run &run, int descriptor, read_function reader) {
    struct stat status {};
    bool may_wait = fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode);
    for (;;) {
        std::size_t space = 0;
        char *room = input_room(run, space);
        if (room == nullptr)
            return {input_end::out_of_memory, ENOMEM};
        ssize_t got = reader(descriptor, room, space);
        if (got < 0) {
            if (try_again(descriptor, POLLIN))
                continue;
            return {input_end::read_error, errno};
        }
        if (got == 0)
            break;
        input_added(run, static_cast<std::size_t>(got), may_wait);
        if (output_error(run.out) != 0)
            return {input_end::write_error, output_error(run.out)};
    }
    finish_input(run);
    if (output_error(run.out) != 0)
        return {input_end::write_error, output_error(run.out)};
    return {input_end::complete, 0};
}
