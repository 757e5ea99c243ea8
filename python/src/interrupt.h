// interrupt: Ctrl-C (or a kernel's interrupt) while the library runs raises
// its interrupt flag. The handler is installed once for a session's life, not
// per call: two system calls per evaluation were a measurable part of a short
// one. While no APL runs it hands the signal to the handler it replaced
// (Python's), so Ctrl-C in Python code still raises KeyboardInterrupt.
#pragma once

namespace interrupt {

// Makes sure the handler is the one installed (it takes over again when
// Python code installed another meanwhile). Only the main thread receives
// the signal, so only it catches.
void Catch();
// Gives the signal back to the handler replaced, when ours is still installed.
void Release();

// Marks a run of the library: the flags start clear, and a signal during it
// sets the library's flag instead of going to Python.
class Running {
public:
    Running();
    ~Running();
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
    // True when a signal arrived during the run.
    bool Signalled() const;
};

}  // namespace interrupt
