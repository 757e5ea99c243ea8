// record: the Python object that holds one link on an APL array.
#include "record.h"

#include "codepage.h"
#include "failure.h"

#include <cstring>
#include <string>

namespace record {
namespace {

struct Record {
    PyObject_HEAD
    aplarray *array;
    Py_ssize_t *layout;  // rank shape entries, then rank strides (bytes)
};

PyTypeObject *recordType = nullptr;

Py_ssize_t ElementCount(const aplarray *array) {
    Py_ssize_t count = 1;
    for (int i = 0; i < array->rank; ++i) count *= array->shape[i];
    return count;
}

// Bytes per element of the types a buffer can show, with its format letter.
Py_ssize_t ItemSize(int eltype, const char **format) {
    switch (eltype) {
        case APL_INTG: *format = "i"; return 4;
        case APL_REAL: *format = "d"; return 8;
        case APL_SHORT: *format = "h"; return 2;
        case APL_CHAR: *format = "B"; return 1;
        default: *format = nullptr; return 0;
    }
}

void Dealloc(PyObject *self) {
    Record *record = reinterpret_cast<Record *>(self);
    if (record->array) APL_UnLink(record->array);
    PyMem_Free(record->layout);
    PyTypeObject *type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// Read-only: the array may be shared by APL names that expect it unchanged.
int GetBuffer(PyObject *self, Py_buffer *view, int flags) {
    Record *record = reinterpret_cast<Record *>(self);
    const aplarray *array = record->array;
    const char *format;
    const Py_ssize_t itemSize = ItemSize(array->eltype, &format);
    if (!itemSize) {
        PyErr_SetString(PyExc_BufferError, "BOOL and nested arrays have no element buffer");
        return -1;
    }
    if (flags & PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "the data of an APL array is read-only");
        return -1;
    }
    view->buf = APL_Data(record->array);
    view->obj = Py_NewRef(self);
    view->len = ElementCount(array) * itemSize;
    view->readonly = 1;
    view->itemsize = itemSize;
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char *>(format) : nullptr;
    view->ndim = array->rank;
    view->shape = (flags & PyBUF_ND) ? record->layout : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? record->layout + array->rank : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyObject *Shape(PyObject *self, void *) {
    const aplarray *array = reinterpret_cast<Record *>(self)->array;
    PyObject *shape = PyTuple_New(array->rank);
    for (int i = 0; shape && i < array->rank; ++i) PyTuple_SET_ITEM(shape, i, PyLong_FromLong(array->shape[i]));
    return shape;
}
PyObject *Eltype(PyObject *self, void *) { return PyLong_FromLong(reinterpret_cast<Record *>(self)->array->eltype); }
PyObject *Rank(PyObject *self, void *) { return PyLong_FromLong(reinterpret_cast<Record *>(self)->array->rank); }
PyObject *Links(PyObject *self, void *) { return PyLong_FromLong(reinterpret_cast<Record *>(self)->array->lnkcnt); }
PyObject *Address(PyObject *self, void *) {
    return PyLong_FromVoidPtr(APL_Data(reinterpret_cast<Record *>(self)->array));
}

// The characters of a CHAR array in row order.
PyObject *Text(PyObject *self, PyObject *) {
    aplarray *array = reinterpret_cast<Record *>(self)->array;
    if (array->eltype != APL_CHAR) return PyErr_Format(PyExc_TypeError, "not a CHAR array");
    return codepage::ToUnicode(static_cast<const uint8_t *>(APL_Data(array)), ElementCount(array));
}

// The elements of a BOOL array, one byte each; rows start on a fresh word
// and bits count from the low end.
PyObject *Bools(PyObject *self, PyObject *) {
    aplarray *array = reinterpret_cast<Record *>(self)->array;
    if (array->eltype != APL_BOOL) return PyErr_Format(PyExc_TypeError, "not a BOOL array");
    const Py_ssize_t count = ElementCount(array);
    PyObject *bytes = PyBytes_FromStringAndSize(nullptr, count);
    if (!bytes || count == 0) return bytes;
    const Py_ssize_t row = array->rank ? array->shape[array->rank - 1] : 1, words = (row + 31) / 32;
    const uint32_t *bits = static_cast<const uint32_t *>(APL_Data(array));
    char *out = PyBytes_AS_STRING(bytes);
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Py_ssize_t r = i / row, c = i % row;
        out[i] = static_cast<char>((bits[r * words + c / 32] >> (c % 32)) & 1u);
    }
    return bytes;
}

// The items of a nested array in row order, each a record of its own.
PyObject *Items(PyObject *self, PyObject *) {
    aplarray *array = reinterpret_cast<Record *>(self)->array;
    if (array->eltype != APL_NESTED) return PyErr_Format(PyExc_TypeError, "not a nested array");
    const Py_ssize_t count = ElementCount(array);
    aplarray **items = static_cast<aplarray **>(APL_Data(array));
    PyObject *list = PyList_New(count);
    for (Py_ssize_t i = 0; list && i < count; ++i) {
        PyObject *item = Wrap(items[i]);
        if (!item) Py_CLEAR(list);
        else PyList_SET_ITEM(list, i, item);
    }
    return list;
}

// The element of a simple scalar (or the first element) as a Python scalar.
PyObject *First(PyObject *self, PyObject *) {
    aplarray *array = reinterpret_cast<Record *>(self)->array;
    if (ElementCount(array) == 0) return PyErr_Format(PyExc_ValueError, "empty array");
    return Scalar(array);
}

PyGetSetDef kGetSet[] = {
    {"shape", Shape, nullptr, "the shape (a tuple)", nullptr},
    {"eltype", Eltype, nullptr, "the element type code", nullptr},
    {"rank", Rank, nullptr, "the number of axes", nullptr},
    {"links", Links, nullptr, "the link count", nullptr},
    {"address", Address, nullptr, "the address of the data", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"text", Text, METH_NOARGS, "the characters of a CHAR array, in row order"},
    {"bools", Bools, METH_NOARGS, "the elements of a BOOL array, a byte each"},
    {"items", Items, METH_NOARGS, "the items of a nested array, in row order"},
    {"first", First, METH_NOARGS, "the first element of a simple array"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(Dealloc)},
    {Py_bf_getbuffer, reinterpret_cast<void *>(GetBuffer)},
    {Py_tp_getset, kGetSet},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char *>("A link on an APL array.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"orbax._orbax.Record", sizeof(Record), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                     kSlots};

// Shape and strides of a C-ordered array of the element type.
bool FillLayout(Record *record) {
    const aplarray *array = record->array;
    const char *format;
    Py_ssize_t stride = ItemSize(array->eltype, &format);
    if (array->rank == 0) return true;
    record->layout = static_cast<Py_ssize_t *>(PyMem_Malloc(2 * array->rank * sizeof(Py_ssize_t)));
    if (!record->layout) return false;
    for (int i = array->rank; i-- > 0;) {
        record->layout[i] = array->shape[i];
        record->layout[array->rank + i] = stride;
        stride *= array->shape[i];
    }
    return true;
}

bool ReadShape(PyObject *shape, std::basic_string<int32_t> &out) {
    PyObject *sequence = PySequence_Fast(shape, "the shape must be a sequence");
    if (!sequence) return false;
    const Py_ssize_t rank = PySequence_Fast_GET_SIZE(sequence);
    for (Py_ssize_t i = 0; i < rank; ++i) {
        const long length = PyLong_AsLong(PySequence_Fast_GET_ITEM(sequence, i));
        if (length < 0 || length > INT32_MAX) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "axis length %ld is not between 0 and 2147483647", length);
            Py_DECREF(sequence);
            return false;
        }
        out += static_cast<int32_t>(length);
    }
    Py_DECREF(sequence);
    return true;
}

// Copies count elements of the buffer into the new array's data.
bool FillSimple(aplarray *array, Py_ssize_t count, PyObject *data) {
    void *target = APL_Data(array);
    if (array->eltype == APL_CHAR) {
        std::string codes;
        if (!PyUnicode_Check(data)) return PyErr_Format(PyExc_TypeError, "CHAR data must be a str"), false;
        if (!codepage::FromUnicode(data, codes)) return false;
        if (static_cast<Py_ssize_t>(codes.size()) != count)
            return PyErr_Format(PyExc_ValueError, "%zd characters for %zd elements", codes.size(), count), false;
        memcpy(target, codes.data(), codes.size());
        return true;
    }
    Py_buffer buffer;
    if (PyObject_GetBuffer(data, &buffer, PyBUF_C_CONTIGUOUS) != 0) return false;
    const char *format;
    const Py_ssize_t itemSize = array->eltype == APL_BOOL ? 1 : ItemSize(array->eltype, &format);
    bool ok = buffer.len == count * itemSize;
    if (!ok) {
        PyErr_Format(PyExc_ValueError, "%zd bytes of data for %zd elements of %zd bytes", buffer.len, count, itemSize);
    } else if (array->eltype != APL_BOOL) {
        memcpy(target, buffer.buf, static_cast<size_t>(buffer.len));
    } else if (count > 0) {
        const Py_ssize_t row = array->rank ? array->shape[array->rank - 1] : 1, words = (row + 31) / 32;
        uint32_t *bits = static_cast<uint32_t *>(target);
        const uint8_t *bytes = static_cast<const uint8_t *>(buffer.buf);
        for (Py_ssize_t i = 0; i < count; ++i) {
            const Py_ssize_t r = i / row, c = i % row;
            if (bytes[i]) bits[r * words + c / 32] |= 1u << (c % 32);
        }
    }
    PyBuffer_Release(&buffer);
    return ok;
}

// Links each record's array into the slots of a new nested array.
bool FillNested(aplarray *array, Py_ssize_t count, PyObject *items) {
    PyObject *sequence = PySequence_Fast(items, "nested data must be a sequence of records");
    if (!sequence) return false;
    bool ok = PySequence_Fast_GET_SIZE(sequence) == count;
    if (!ok) PyErr_Format(PyExc_ValueError, "%zd items for %zd elements", PySequence_Fast_GET_SIZE(sequence), count);
    aplarray **slots = static_cast<aplarray **>(APL_Data(array));
    for (Py_ssize_t i = 0; ok && i < count; ++i) {
        aplarray *item = Unwrap(PySequence_Fast_GET_ITEM(sequence, i));
        slots[i] = item ? APL_Link(item) : nullptr;
        ok = slots[i] != nullptr;
    }
    Py_DECREF(sequence);
    return ok;
}

}  // namespace

bool AddType(PyObject *module) {
    recordType = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&kSpec));
    return recordType && PyModule_AddObjectRef(module, "Record", reinterpret_cast<PyObject *>(recordType)) == 0;
}

PyObject *Wrap(aplarray *array) {
    if (!array) return aplerrno ? failure::Raise() : PyErr_Format(PyExc_ValueError, "no value");
    Record *record = PyObject_New(Record, recordType);
    if (!record) {
        APL_UnLinkTemp(array);
        return nullptr;
    }
    record->layout = nullptr;
    record->array = APL_Link(array);
    if (!record->array) {  // the managed copy of a static array failed
        Py_DECREF(record);
        return failure::Raise();
    }
    if (!FillLayout(record)) {
        Py_DECREF(record);
        return PyErr_NoMemory();
    }
    return reinterpret_cast<PyObject *>(record);
}

aplarray *Unwrap(PyObject *object) {
    if (Py_TYPE(object) != recordType) {
        PyErr_Format(PyExc_TypeError, "expected an APL record, not %s", Py_TYPE(object)->tp_name);
        return nullptr;
    }
    return reinterpret_cast<Record *>(object)->array;
}

bool IsSimpleScalar(const aplarray *array) { return array->rank == 0 && array->eltype != APL_NESTED; }

PyObject *Scalar(aplarray *array) {
    const void *data = APL_Data(array);
    switch (array->eltype) {
        case APL_INTG: return PyLong_FromLong(*static_cast<const int32_t *>(data));
        case APL_SHORT: return PyLong_FromLong(*static_cast<const int16_t *>(data));
        case APL_REAL: return PyFloat_FromDouble(*static_cast<const double *>(data));
        case APL_BOOL: return PyBool_FromLong(*static_cast<const uint32_t *>(data) & 1u);
        case APL_CHAR: return codepage::ToUnicode(static_cast<const uint8_t *>(data), 1);
        default: return PyErr_Format(PyExc_TypeError, "not a simple array");
    }
}

PyObject *Make(PyObject *, PyObject *args) {
    int eltype;
    PyObject *shapeObject, *data;
    if (!PyArg_ParseTuple(args, "iOO", &eltype, &shapeObject, &data)) return nullptr;
    std::basic_string<int32_t> shape;
    if (!ReadShape(shapeObject, shape)) return nullptr;
    if (shape.size() > 64) return PyErr_Format(PyExc_ValueError, "rank %zd is more than APL's 64", shape.size());
    aplarray *array = APL_Create(static_cast<int32_t>(shape.size()), eltype, shape.data());
    if (!array) return failure::Raise();
    PyObject *wrapped = Wrap(array);
    if (!wrapped) return nullptr;
    Py_ssize_t count = 1;
    for (int32_t length : shape) count *= length;
    const bool filled = eltype == APL_NESTED ? FillNested(array, count, data) : FillSimple(array, count, data);
    if (!filled) Py_CLEAR(wrapped);
    return wrapped;
}

}  // namespace record
