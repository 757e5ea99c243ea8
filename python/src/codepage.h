// codepage: the library's 8-bit APL character set and Python's Unicode
// strings. Every one of the 256 codes has its own code point, so character
// data crosses both ways unchanged.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>

namespace codepage {

// A new str of the codes; null with a Python error only when memory runs out.
PyObject *ToUnicode(const uint8_t *codes, Py_ssize_t count);
// Appends the codes of a str. False, with ValueError naming the character and
// its place, when one is outside the character set.
bool FromUnicode(PyObject *text, std::string &codes);
// UTF-8 of the codes, for output shown as text.
void AppendUtf8(std::string &out, const uint8_t *codes, size_t count);

}  // namespace codepage
