// hostos: the console program's operating-system services, for POSIX
// systems and for Windows.
#include "hostos.h"

#include <cstdio>
#include <cstdlib>
#include <csignal>

#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#ifdef _WIN32

std::string ProgramDirectory() {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) return "";
    const std::string path(self, n);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string ShortPathOf(const std::string &path, size_t limit) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (n > 0 && n < sizeof full && n < limit) return std::string(full, n);
    const DWORD s = GetShortPathNameA(path.c_str(), full, sizeof full);
    if (s > 0 && s < sizeof full) return std::string(full, s);
    return "";
}

void SetEnvironment(const char *name, const char *value) { _putenv_s(name, value); }

// The C library turns the console's Ctrl-C into SIGINT; the handler is reset
// after each call, so it is installed again each time.
namespace {
void (*interruptHandler)(int) = nullptr;
void OnConsoleInterrupt(int sig) {
    signal(SIGINT, OnConsoleInterrupt);
    interruptHandler(sig);
}
}  // namespace

void CatchInterrupt(void (*handler)(int)) {
    interruptHandler = handler;
    signal(SIGINT, OnConsoleInterrupt);
}

int MakeTemporaryFile(std::string &pattern, int suffixLength) {
    if (pattern.size() < static_cast<size_t>(suffixLength) + 6) return -1;
    const size_t x = pattern.size() - suffixLength - 6;
    if (pattern.compare(x, 6, "XXXXXX") != 0) return -1;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        snprintf(unique, sizeof unique, "%06x",
                 static_cast<unsigned>((GetCurrentProcessId() * 7919u + GetTickCount() + attempt * 104729u) & 0xffffffu));
        pattern.replace(x, 6, unique, 6);
        const int fd = _open(pattern.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) return fd;
    }
    return -1;
}

std::string TemporaryDirectory() {
    const char *directory = getenv("TMPDIR");
    if (!directory || !*directory) directory = getenv("TEMP");
    return directory && *directory ? directory : ".";
}

void *OpenSharedLibrary(const char *name, std::string &reason) {
    HMODULE library = LoadLibraryA(name);
    if (!library) reason = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void *>(library);
}

void *FindSharedSymbol(void *library, const char *name) {
    return library ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
}

#else

std::string ProgramDirectory() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    const std::string path(self, n);
    return path.substr(0, path.rfind('/') + 1);
}

// "/proc/self/fd/N" names the open file itself, whatever its path; the
// descriptor is never closed, and not passed on to programs the session starts.
std::string ShortPathOf(const std::string &path, size_t limit) {
    if (char *canonical = realpath(path.c_str(), nullptr)) {
        const std::string shorter = canonical;
        free(canonical);
        if (shorter.size() < limit) return shorter;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    return "/proc/self/fd/" + std::to_string(fd);
}

void SetEnvironment(const char *name, const char *value) { setenv(name, value, 1); }

void CatchInterrupt(void (*handler)(int)) {
    struct sigaction interrupt = {};
    interrupt.sa_handler = handler;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);
}

int MakeTemporaryFile(std::string &pattern, int suffixLength) { return mkstemps(pattern.data(), suffixLength); }

std::string TemporaryDirectory() {
    const char *directory = getenv("TMPDIR");
    return directory && *directory ? directory : "/tmp";
}

void *OpenSharedLibrary(const char *name, std::string &reason) {
    void *library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *why = dlerror();
        reason = why ? why : "unknown reason";
    }
    return library;
}

void *FindSharedSymbol(void *library, const char *name) { return library ? dlsym(library, name) : nullptr; }

#endif
