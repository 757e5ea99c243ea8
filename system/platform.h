// platform: the services of the operating system that the runtime needs beyond
// the C library: the fault guard that turns a processor fault inside a piece of
// foreign or risky code into a report instead of the end of the process, the
// command interpreter, the directory search, advisory file locks and the
// processor clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What a guarded run ended with: no fault, or the signal that stopped it.
struct FaultReport {
    bool faulted;
    int signal;  // SIGSEGV, SIGBUS, SIGILL or SIGFPE when faulted, else 0
};

// Runs body(context) with SIGSEGV, SIGBUS, SIGILL and SIGFPE caught on an
// alternate signal stack (so a stack overflow is caught too). A fault ends the
// body at once and jumps back here: destructors of the frames it skips do not
// run, so a body must keep whatever it owns reachable from outside (and the
// caller decides whether the state it left can still be trusted). Guards nest:
// a fault returns to the innermost one, and the outermost restores the signal
// handlers and signal stack that were there before. In builds with
// AddressSanitizer the signals belong to the sanitizer: the body runs
// unguarded and a fault is never reported. On Windows a vectored exception
// handler plays the handlers' part; the faults are reported with the numbers
// of the signals that stand for them (access violation and stack overflow
// SIGSEGV, illegal instruction SIGILL, integer division SIGFPE).
FaultReport RunGuarded(void (*body)(void *context), void *context);

// The same for any callable.
template <class Body>
FaultReport RunGuarded(Body &&body) {
    auto invoke = [&body] { body(); };
    return RunGuarded([](void *context) { (*static_cast<decltype(invoke) *>(context))(); }, &invoke);
}

// True when RunGuarded really catches faults in this build.
bool FaultGuardActive();

// Runs a command (UTF-8) through the operating system's command interpreter
// and returns its exit status: 0 for success, -1 when it could not be run at
// all, else the non-zero status (a command ended by a signal counts as failed).
int RunCommand(const std::string &command);

// The names of the entries of `pattern`'s directory that match its last part
// (wildcards * ? [...]), sorted bytewise because the order the system reports
// them in is arbitrary; "." and ".." are left out. Text is UTF-8, the
// separator '/' or '\\'. A directory that cannot be read gives no names.
std::vector<std::string> MatchingFiles(const std::string &pattern);

// The same names, told apart: folders (a link to one counts) and the rest,
// each sorted bytewise. `readable` is false when the directory could not be
// read at all (missing, not a folder, not allowed).
struct DirectoryMatches {
    bool readable = false;
    std::vector<std::string> files;
    std::vector<std::string> folders;
};
DirectoryMatches MatchDirectory(const std::string &pattern);

// Whether a file that is open (here or in another process) can be renamed
// over or removed: not on Windows, where the attempt fails instead.
#ifdef _WIN32
constexpr bool kOpenFilesCanBeReplaced = false;
#else
constexpr bool kOpenFilesCanBeReplaced = true;
#endif

// Gives the file `from` the name `to` in one step, replacing a file of that
// name (which POSIX rename does and the Windows C library's refuses to do).
// False with errno set.
bool RenameOver(const char *from, const char *to);

// Drops what an output stream still holds unwritten (after a failed flush, so
// that the failure is not met again at the close).
void DiscardBuffered(FILE *stream);

// Advisory locks on a whole open file, between processes: many holders of a
// shared lock or one of an exclusive lock. A lock belongs to the open file (not
// to the process) and ends with UnlockWholeFile or the file's last close.
enum class LockKind { Shared, Exclusive };
// Waits until the lock is granted. False when a signal arrived while waiting
// (errno EINTR: look at the interrupt flag and ask again, or give up) or the
// system refused (errno set). A file system that has no locks grants every
// request, so files there are used as they were before locking.
bool LockWholeFile(int fd, LockKind kind);
void UnlockWholeFile(int fd);
// True while the open file is still the one that `path` names: false once it
// has been replaced (renamed over) or removed, and a lock taken on it guards
// nothing that a later open of the name would see.
bool StillAtPath(int fd, const char *path);

// Processor time used by the process so far, in milliseconds.
int64_t ProcessorMilliseconds();

// Bytes of memory the system could still give this process: the physical
// memory not in use, within the process's address-space limit. 0 when the
// system does not tell.
int64_t SystemMemoryAvailable();
