// record: the Python object that holds one link on an APL array. NumPy views
// of INTG, REAL, SHORT and CHAR data go through its buffer interface, so an
// array stays alive exactly as long as a view (or the record) does.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "apl.h"

namespace record {

// Creates the type and adds it to the module as "Record"; false on error.
bool AddType(PyObject *module);
// A new record holding a link of its own on the array (a temporary thereby
// becomes owned by the record). Null with a Python error when the array is
// null or the link fails.
PyObject *Wrap(aplarray *array);
// The array of a record, or null with TypeError when the object is none.
aplarray *Unwrap(PyObject *object);
// True for a scalar that is not nested.
bool IsSimpleScalar(const aplarray *array);
// The first element of a simple array (which has one) as a Python scalar:
// int, float, bool or a str of one character.
PyObject *Scalar(aplarray *array);
// A new temporary array of the element type and shape with the data of a
// buffer (INTG, REAL, SHORT: native elements; BOOL: a byte per element; CHAR:
// a str), copied once; nested arrays take a sequence of records.
PyObject *Make(PyObject *self, PyObject *args);

}  // namespace record
