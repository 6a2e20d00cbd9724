#include "files.h"

#include "diagnostics.h"
#include "filter.h"
#include "output.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The signal that asked the run to stop, or 0.
volatile std::sig_atomic_t stop_signal = 0;

void note_signal(int signal) {
    stop_signal = signal;
}

// Reads as read() does, but fails with ECANCELED once a signal has asked the run to stop, so
// that the input loop ends there as on a read error and the caller cleans up.
ssize_t read_until_stopped(int descriptor, void *buffer, std::size_t count) {
    if (stop_signal != 0) {
        errno = ECANCELED;
        return -1;
    }
    return read(descriptor, buffer, count);
}

// How much new content is written before its write-back to disk is started, and where the part
// not yet started begins.
constexpr off_t WRITE_BACK_STEP = off_t(8) << 20;
off_t write_back_from = 0;
off_t written_to_file = 0;

// Writes as writev() does, and starts the write-back of each step of the new content as it is
// written, so that the disk works while the rest is filtered and the flush before the rename
// waits only for the last of it (on bib, in place took 0.89 times as long). Only once a change
// has been seen: a file that stays as it was is never flushed, and its new copy should not reach
// the disk at all. Linux only; elsewhere the flush does all of it.
ssize_t write_starting_write_back(int descriptor, const iovec *pieces, int count) {
    ssize_t written = writev(descriptor, pieces, count);
#ifdef SYNC_FILE_RANGE_WRITE
    if (written > 0) {
        written_to_file += written;
        if (written_to_file - write_back_from >= WRITE_BACK_STEP && change_count() != 0) {
            sync_file_range(descriptor, write_back_from, written_to_file - write_back_from,
                            SYNC_FILE_RANGE_WRITE);
            write_back_from = written_to_file;
        }
    }
#endif
    return written;
}

// Reports "?? NAME: REASON". Returns false, for the caller to return.
bool fail(const char *name, const std::string &reason) {
    report_error((std::string(name) + ": " + reason).c_str());
    return false;
}

// What ended the filtering of an input early, said of its file.
std::string reason(const input_end &end) {
    switch (end.how) {
    case input_end::read_error:
        return std::strerror(end.error);
    case input_end::write_error:
        return std::string("cannot write the new content: ") + std::strerror(end.error);
    case input_end::out_of_memory:
        return "Out of memory for an input line";
    case input_end::complete:
        break;
    }
    return "";
}

// A descriptor closed when it goes out of scope.
struct descriptor {
    int number;
    ~descriptor() {
        if (number >= 0)
            close(number);
    }
};

// The new content's file beside the one it replaces: removed when it goes out of scope, unless
// it has been renamed over the original.
struct temporary_file {
    std::string path;
    int number = -1;
    ~temporary_file() {
        if (number >= 0)
            close(number);
        if (!path.empty())
            unlink(path.c_str());
    }
};

// Catches the signals that ask the run to stop, unless they were ignored when it started (as
// under nohup); a file-size limit becomes a write error of the one file instead of a signal
// that would leave the new file behind.
void catch_stop_signals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        sigaction(signal, nullptr, &was);
        if (was.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = note_signal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

// The original's owner and group, where the process may set them, then its permission bits
// (a change of owner may clear the set-user-ID bit).
void take_owner_and_mode(int file, const struct stat &original) {
    if (fchown(file, original.st_uid, original.st_gid) != 0)
        (void)!fchown(file, static_cast<uid_t>(-1), original.st_gid);
    (void)!fchmod(file, original.st_mode & 07777);
}

} // namespace

// The file is read from its resolved path, so that a symbolic link is followed and the new file
// is made in the directory of the file it replaces; the name as given is the one that warnings
// and errors quote. The content is compared by the filter's own count of the tokens it writes
// otherwise, which is zero exactly when every byte comes out as it went in. A file that changes
// size or time while it is read fails: its content then is neither the old nor a whole new one.
bool filter_file_in_place(const char *name, const input_mode &mode, read_function reader) {
    input_name = name;
    char *resolved = realpath(name, nullptr);
    if (resolved == nullptr)
        return fail(name, std::strerror(errno));
    std::string target(resolved);
    std::free(resolved);
    // Opened without waiting, since a FIFO would wait for a writer before it can be refused.
    descriptor input{open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (input.number < 0)
        return fail(name, std::strerror(errno));
    struct stat before {};
    if (fstat(input.number, &before) != 0)
        return fail(name, std::strerror(errno));
    if (!S_ISREG(before.st_mode))
        return fail(name, "not a regular file");
    std::string directory = target.substr(0, target.rfind('/'));
    temporary_file temporary{directory + "/.orvane-XXXXXX"};
    temporary.number = mkstemp(temporary.path.data());
    if (temporary.number < 0) {
        int error = errno;
        temporary.path.clear();
        return fail(name, "cannot make a file in " + (directory.empty() ? "/" : directory) + ": " +
                              std::strerror(error));
    }

    write_back_from = written_to_file = 0;
    start_output(temporary.number, write_starting_write_back);
    watch_changes(true, false);
    input_end end = filter_input(input.number, mode, reader);
    finish_output();
    if (stop_signal != 0)
        return fail(name, std::string(strsignal(stop_signal)) + ", left as it was");
    if (end.how == input_end::complete && output_error() != 0)
        end = {input_end::write_error, output_error()};
    if (end.how != input_end::complete)
        return fail(name, reason(end));
    struct stat after {};
    if (fstat(input.number, &after) != 0 || after.st_size != before.st_size ||
        after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        return fail(name, "changed while it was read, left as it was");
    if (change_count() == 0)
        return true;

    take_owner_and_mode(temporary.number, before);
    if (fsync(temporary.number) != 0)
        return fail(name, std::string("cannot write the new content: ") + std::strerror(errno));
    int file = temporary.number;
    temporary.number = -1;
    if (close(file) != 0)
        return fail(name, std::string("cannot write the new content: ") + std::strerror(errno));
    if (stop_signal != 0)
        return fail(name, std::string(strsignal(stop_signal)) + ", left as it was");
    if (rename(temporary.path.c_str(), target.c_str()) != 0)
        return fail(name, std::string("cannot replace it: ") + std::strerror(errno));
    temporary.path.clear();
    // The rename itself reaches the disk with the directory.
    descriptor folder{open(directory.empty() ? "/" : directory.c_str(), O_RDONLY | O_CLOEXEC)};
    if (folder.number >= 0)
        fsync(folder.number);
    return true;
}

// A signal fails the one file it comes during, as any other failure does, and the run goes on
// with the next file. One that comes after a file has been replaced counts for the next file;
// after the last, every file is done and nothing is left to fail.
int filter_files_in_place(char *const *names, int count, const input_mode &mode) {
    catch_stop_signals();
    int status = 0;
    for (int i = 0; i < count; ++i)
        if (!filter_file_in_place(names[i], mode, read_until_stopped)) {
            status = 1;
            stop_signal = 0;
        }
    return status;
}

int check_files(char *const *names, int count, const input_mode &mode) {
    static char standard_input[] = "-";
    static char *const only_standard_input[] = {standard_input};
    if (count == 0) {
        names = only_standard_input;
        count = 1;
    }
    int status = 0;
    for (int i = 0; i < count; ++i) {
        const char *name = names[i];
        input_name = name;
        bool is_standard_input = std::strcmp(name, "-") == 0;
        descriptor input{is_standard_input ? -1 : open(name, O_RDONLY | O_CLOEXEC)};
        if (!is_standard_input && input.number < 0) {
            fail(name, std::strerror(errno));
            status = 1;
            continue;
        }
        start_output(-1);
        watch_changes(true, true);
        input_end end = filter_input(is_standard_input ? STDIN_FILENO : input.number, mode, read);
        finish_output();
        if (end.how != input_end::complete) {
            fail(name, reason(end));
            status = 1;
        }
    }
    input_name = "-";
    return status != 0 || warning_count() != 0 ? 1 : 0;
}
