// The operating-system services of testos.h for Linux and Windows.
#include "testos.h"

#include <fcntl.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace testos {

int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return getpid();
#endif
}

namespace {

// PREFIX and six random letters in the temporary folder; tests of other
// processes draw from other seeds.
std::string RandomTempName(const std::string &prefix) {
    static std::mt19937 random{std::random_device{}() ^ static_cast<unsigned>(ProcessId())};
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += static_cast<char>('a' + random() % 26);
    return (std::filesystem::temp_directory_path() / name).generic_string();
}

// The first fresh name that MAKE could create, "" after many taken ones.
template <class Make>
std::string MakeFresh(const std::string &prefix, Make make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = RandomTempName(prefix);
        if (make(path)) return path;
    }
    return {};
}

}  // namespace

std::string MakeTempDir(const std::string &prefix) {
    return MakeFresh(prefix, [](const std::string &path) {
        std::error_code error;
        return std::filesystem::create_directory(path, error);
    });
}

std::string MakeTempFile(const std::string &prefix) {
    return MakeFresh(prefix, [](const std::string &path) {
#ifdef _WIN32
        const int fd = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) _close(fd);
#else
        const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) close(fd);
#endif
        return fd >= 0;  // O_EXCL: never one that exists
    });
}

bool SetEnv(const char *name, const char *value) {
#ifdef _WIN32
    return _putenv_s(name, value) == 0;
#else
    return setenv(name, value, 1) == 0;
#endif
}
bool UnsetEnv(const char *name) {
#ifdef _WIN32
    return _putenv_s(name, "") == 0;  // an empty value removes it
#else
    return unsetenv(name) == 0;
#endif
}

void *OpenLibrary(const char *path) {
#ifdef _WIN32
    return reinterpret_cast<void *>(LoadLibraryA(path));
#else
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
}
void *FindInLibrary(void *library, const char *name) {
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}
std::string LibraryError() {
#ifdef _WIN32
    return "Windows error " + std::to_string(GetLastError());
#else
    const char *text = dlerror();
    return text ? text : "";
#endif
}

void RaiseFault(int signal) {
#ifdef _WIN32
    const DWORD code = signal == SIGFPE   ? EXCEPTION_FLT_DIVIDE_BY_ZERO
                       : signal == SIGILL ? EXCEPTION_ILLEGAL_INSTRUCTION
                                          : EXCEPTION_ACCESS_VIOLATION;
    RaiseException(code, 0, 0, nullptr);
#else
    raise(signal);
#endif
}

}  // namespace testos
