// failure: an error the library reports in aplerrno, raised in Python as
// _orbax.Failure(number, message); the package turns it into APLError.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace failure {

// Creates the exception type and adds it to the module; false on error.
bool AddType(PyObject *module);
// Raises the library's pending error and clears it; returns null.
PyObject *Raise();

}  // namespace failure
