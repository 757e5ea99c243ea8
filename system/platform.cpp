// platform: the services of the operating system that the runtime needs beyond
// the C library: the fault guard, commands, directory search, file locks and
// the processor clock. On POSIX systems: sigsetjmp/siglongjmp with handlers on
// an alternate signal stack, system, opendir, fnmatch and flock. On Windows: a
// vectored exception handler, system, FindFirstFile with a wildcard matcher of
// our own, LockFileEx and CreateHardLink.
// 64-bit file numbers and sizes on 32-bit builds too: a stat that cannot
// hold them fails.
#define _FILE_OFFSET_BITS 64
#include "system/platform.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <cerrno>

#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fnmatch.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// Builds in which faults are not caught here: the sanitizers report them
// better.
#if defined(__SANITIZE_ADDRESS__)
#define ORBAX_FAULTS_UNGUARDED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBAX_FAULTS_UNGUARDED 1
#endif
#endif

#if defined(_WIN32) && !defined(ORBAX_FAULTS_UNGUARDED)

namespace {

struct GuardFrame {
    jmp_buf jump;
    GuardFrame *outer;
};

thread_local GuardFrame *innermost = nullptr;
int openGuards = 0;
void *handlerHandle = nullptr;

// The processor faults that end a guarded body, reported with the number of
// the POSIX signal that stands for them elsewhere; 0 for any other exception
// (C++ exceptions and the system's own included), which goes on its way.
int SignalFor(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_STACK_OVERFLOW:
        return SIGSEGV;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
        return SIGILL;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
        return SIGFPE;
    default:
        return 0;
    }
}

// Runs first, before any frame-based handler: a fault of a guarded body
// jumps straight back to its guard (the frames between are abandoned, as
// with siglongjmp).
LONG CALLBACK OnException(EXCEPTION_POINTERS *exception) {
    GuardFrame *frame = innermost;
    const int sig = SignalFor(exception->ExceptionRecord->ExceptionCode);
    if (!frame || sig == 0) return EXCEPTION_CONTINUE_SEARCH;
    longjmp(frame->jump, sig);
}

}  // namespace

FaultReport RunGuarded(void (*body)(void *context), void *context) {
    GuardFrame frame;
    frame.outer = innermost;
    if (openGuards++ == 0) handlerHandle = AddVectoredExceptionHandler(1, OnException);
    innermost = &frame;
    const int sig = setjmp(frame.jump);
    if (sig == 0) body(context);
    innermost = frame.outer;
    if (--openGuards == 0 && handlerHandle) {
        RemoveVectoredExceptionHandler(handlerHandle);
        handlerHandle = nullptr;
    }
    return {sig != 0, sig};
}

bool FaultGuardActive() { return true; }

#elif !defined(ORBAX_FAULTS_UNGUARDED)

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

struct GuardFrame {
    sigjmp_buf jump;
    GuardFrame *outer;
};

// The innermost guard of this thread: a fault in a thread that runs no guard
// must not jump onto another thread's stack.
thread_local GuardFrame *innermost = nullptr;

// Handlers are process-wide; the library runs on one thread, so a plain count
// of open guards decides who installs and who restores.
int openGuards = 0;
struct sigaction previousActions[kSignalCount];
stack_t previousStack;
bool ownStackInstalled = false;

// A stack overflow leaves no room on the thread's own stack for the handler.
alignas(16) char alternateStack[64 * 1024];

int SignalIndex(int sig) {
    for (int i = 0; i < kSignalCount; ++i)
        if (kFaultSignals[i] == sig) return i;
    return 0;
}

void OnFault(int sig, siginfo_t *info, void *) {
    if (GuardFrame *frame = innermost) siglongjmp(frame->jump, sig);
    // Not ours (another thread): hand the signal to whoever had it before. A
    // hardware fault repeats when the instruction runs again; a sent signal is
    // sent once more.
    sigaction(sig, &previousActions[SignalIndex(sig)], nullptr);
    if (info && info->si_code <= 0) raise(sig);
}

void InstallHandlers() {
    stack_t current;
    ownStackInstalled = false;
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t ours{};
        ours.ss_sp = alternateStack;
        ours.ss_size = sizeof alternateStack;
        ours.ss_flags = 0;
        if (sigaltstack(&ours, &previousStack) == 0) ownStackInstalled = true;
    }
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &action, &previousActions[i]);
}

void RestoreHandlers() {
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &previousActions[i], nullptr);
    if (ownStackInstalled) {
        // The old setting was "disabled"; a stack_t with SS_DISABLE says so.
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        ownStackInstalled = false;
    }
}

}  // namespace

FaultReport RunGuarded(void (*body)(void *context), void *context) {
    GuardFrame frame;
    frame.outer = innermost;
    if (openGuards++ == 0) InstallHandlers();
    innermost = &frame;
    // The signal mask is saved so that the jump unblocks the signal that was
    // being handled.
    const int sig = sigsetjmp(frame.jump, 1);
    if (sig == 0) body(context);
    innermost = frame.outer;
    if (--openGuards == 0) RestoreHandlers();
    return {sig != 0, sig};
}

bool FaultGuardActive() { return true; }

#else

FaultReport RunGuarded(void (*body)(void *context), void *context) {
    body(context);
    return {false, 0};
}

bool FaultGuardActive() { return false; }

#endif

// ---- Commands, directories and the clock -------------------------------------------

#ifdef _WIN32

int RunCommand(const std::string &command) {
    // Output of ours still buffered would otherwise appear after the command's.
    fflush(nullptr);
    // The command interpreter's exit code itself.
    return system(command.c_str());
}

namespace {

// Whether one character matches the bracket expression that starts after
// '[' at `p`; moves `p` past its ']'. "[!...]" and "[^...]" negate, "a-z" is
// a range. False with p at npos when the bracket never closes.
bool BracketMatches(const std::string &pattern, size_t &p, char c) {
    const bool negated = p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^');
    if (negated) ++p;
    bool found = false;
    for (bool first = true; p < pattern.size() && (first || pattern[p] != ']'); first = false, ++p) {
        const char low = pattern[p];
        if (p + 2 < pattern.size() && pattern[p + 1] == '-' && pattern[p + 2] != ']') {
            found |= low <= c && c <= pattern[p + 2];
            p += 2;
        } else {
            found |= low == c;
        }
    }
    if (p >= pattern.size()) {
        p = std::string::npos;
        return false;
    }
    ++p;
    return found != negated;
}

// A file name matched against a wildcard pattern as fnmatch does without
// flags: '*' any run, '?' any character, [...] one of a set; an unclosed '['
// is an ordinary character. Backtracks only to the last '*'.
bool WildcardMatches(const std::string &pattern, const std::string &name) {
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        size_t next = p;
        bool step = false;
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size() && pattern[p] == '[') {
            next = p + 1;
            step = BracketMatches(pattern, next, name[n]);
            if (next == std::string::npos) {  // no ']': a plain '['
                step = name[n] == '[';
                next = p + 1;
            }
        } else if (p < pattern.size()) {
            step = pattern[p] == '?' || pattern[p] == name[n];
            next = p + 1;
        }
        if (step) {
            p = next;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

DirectoryMatches MatchDirectory(const std::string &pattern) {
    const size_t slash = pattern.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? std::string(1, '.') : pattern.substr(0, slash > 0 ? slash : 1);
    const std::string wanted = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    DirectoryMatches matches;
    WIN32_FIND_DATAA entry;
    const HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder has no entries at all, not even "." at its root.
        matches.readable = GetLastError() == ERROR_FILE_NOT_FOUND;
        return matches;
    }
    matches.readable = true;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == ".." || !WildcardMatches(wanted, name)) continue;
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        (folder ? matches.folders : matches.files).push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(matches.files.begin(), matches.files.end());
    std::sort(matches.folders.begin(), matches.folders.end());
    return matches;
}

bool RenameOver(const char *from, const char *to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return false;
}

// The Windows C library resets a stream's buffer when a flush fails, so
// nothing is left to drop.
void DiscardBuffered(FILE *) {}

extern "C" int link(const char *existing, const char *name) {
    if (CreateHardLinkA(name, existing, nullptr)) return 0;
    const DWORD error = GetLastError();
    errno = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? EEXIST
            : error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? ENOSYS
                                                                               : EACCES;
    return -1;
}

#else

int RunCommand(const std::string &command) {
    // Output of ours still buffered would otherwise appear after the command's.
    fflush(nullptr);
    const int status = system(command.c_str());
    if (status == -1) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return status == 0 ? 1 : status;
}

namespace {
std::string SlashedPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}
}  // namespace

DirectoryMatches MatchDirectory(const std::string &pattern) {
    const size_t slash = pattern.find_last_of("/\\");
    // A pattern without a directory searches the current one; "/x*" the root.
    const std::string directory =
        slash == std::string::npos ? std::string(1, '.') : SlashedPath(pattern.substr(0, slash > 0 ? slash : 1));
    const std::string wanted = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    DirectoryMatches matches;
    DIR *dir = opendir(directory.c_str());
    if (!dir) return matches;
    matches.readable = true;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || fnmatch(wanted.c_str(), name.c_str(), 0) != 0) continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat status;
            folder = stat((directory + "/" + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        }
        (folder ? matches.folders : matches.files).push_back(name);
    }
    closedir(dir);
    std::sort(matches.files.begin(), matches.files.end());
    std::sort(matches.folders.begin(), matches.folders.end());
    return matches;
}

void DiscardBuffered(FILE *stream) { __fpurge(stream); }

bool RenameOver(const char *from, const char *to) { return rename(from, to) == 0; }

#endif

std::vector<std::string> MatchingFiles(const std::string &pattern) {
    DirectoryMatches matches = MatchDirectory(pattern);
    std::vector<std::string> names = std::move(matches.files);
    names.insert(names.end(), matches.folders.begin(), matches.folders.end());
    std::sort(names.begin(), names.end());
    return names;
}

// ---- File locks ------------------------------------------------------------------

#ifdef _WIN32

// The whole file: from offset 0, the largest length there is.
bool LockWholeFile(int fd, LockKind kind) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED from{};
    const DWORD flags = kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &from)) return true;
    // A device or a file system without locks grants every request, as on
    // POSIX systems.
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_HANDLE) return true;
    errno = EIO;
    return false;
}

void UnlockWholeFile(int fd) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    OVERLAPPED from{};
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &from);
}

// An open file cannot be renamed over or removed on Windows.
bool StillAtPath(int, const char *) { return true; }

#else

// flock rather than fcntl record locks: those end when the process closes any
// descriptor of the file, which a tie or a second open of the same name would do.
bool LockWholeFile(int fd, LockKind kind) {
    if (flock(fd, kind == LockKind::Exclusive ? LOCK_EX : LOCK_SH) == 0) return true;
    return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS;
}

void UnlockWholeFile(int fd) { flock(fd, LOCK_UN); }

bool StillAtPath(int fd, const char *path) {
    struct stat opened, named;
    if (fstat(fd, &opened) != 0 || stat(path, &named) != 0) return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

#endif

// The process clock rather than clock(), whose 32-bit count wraps after some
// 72 minutes of processor time on 32-bit builds.
int64_t ProcessorMilliseconds() {
    timespec used{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used) != 0) return 0;
    return static_cast<int64_t>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

#ifdef _WIN32
int64_t SystemMemoryAvailable() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    const uint64_t room = std::min<uint64_t>(status.ullAvailPhys, status.ullAvailVirtual);
    return static_cast<int64_t>(std::min<uint64_t>(room, INT64_MAX));
}
#else
int64_t SystemMemoryAvailable() {
    const long pages = sysconf(_SC_AVPHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    uint64_t room = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        room = std::min<uint64_t>(room, limit.rlim_cur);
    // A 32-bit process cannot address more than its pointers reach.
    if (sizeof(void *) < 8) room = std::min<uint64_t>(room, UINT32_MAX);
    return static_cast<int64_t>(std::min<uint64_t>(room, INT64_MAX));
}
#endif
