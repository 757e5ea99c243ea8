// platform: the services of the operating system that the runtime needs beyond
// the C library: the fault guard that turns a processor fault inside a piece of
// foreign or risky code into a report instead of the end of the process, the
// command interpreter, the directory search and the processor clock.
#pragma once

#include <cstdint>
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
// AddressSanitizer the signals belong to the sanitizer (and the Windows build
// has none): the body runs unguarded and a fault is never reported.
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

// Processor time used by the process so far, in milliseconds.
int64_t ProcessorMilliseconds();
