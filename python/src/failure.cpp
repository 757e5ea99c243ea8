// failure: an error the library reports in aplerrno, raised in Python.
#include "failure.h"

#include "apl.h"
#include "codepage.h"

#include <cstring>

namespace failure {
namespace {
PyObject *failureType = nullptr;
}

bool AddType(PyObject *module) {
    failureType = PyErr_NewExceptionWithDoc("orbax._orbax.Failure",
                                            "An error of the APL library: (error number, message).", nullptr, nullptr);
    return failureType && PyModule_AddObjectRef(module, "Failure", failureType) == 0;
}

PyObject *Raise() {
    // The message is in the APL character set (it may quote a name or a glyph).
    PyObject *message = codepage::ToUnicode(reinterpret_cast<const uint8_t *>(APL_error_message),
                                            static_cast<Py_ssize_t>(strnlen(APL_error_message, sizeof APL_error_message)));
    PyObject *value = message ? Py_BuildValue("(iN)", static_cast<int>(aplerrno), message) : nullptr;
    aplerrno = 0;
    APL_error_message[0] = 0;
    if (value) {
        PyErr_SetObject(failureType, value);
        Py_DECREF(value);
    }
    return nullptr;
}

}  // namespace failure
