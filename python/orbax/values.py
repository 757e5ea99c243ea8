"""Values between APL and Python.

APL to Python: a simple scalar becomes a Python scalar (int, float, str of one
character, bool); an INTG, REAL or SHORT array a read-only NumPy view of the
array's own data (no copy: the array stays alive while the view does); a CHAR
vector a str and a CHAR array of higher rank a NumPy array of one-character
strings; a BOOL array a NumPy bool array (a copy: APL packs the bits); a nested
array a NumPy object array (or, for vectors, a list).

Python to APL: the data is copied once, straight into the new array. int32,
float64 and bool arrays go as they are; smaller integers are widened, int64
and unsigned integers become INTG when every element fits in 32 bits, REAL
when every element is exact as a double, and are refused otherwise; float16
and float32 are widened to REAL; big-endian and non-contiguous arrays are
converted first; complex numbers are refused.
"""
import numpy

from . import _orbax

_INT32 = numpy.iinfo(numpy.int32)
_EXACT = 2 ** 53  # the largest run of integers a double holds exactly
_MAX_NUMPY_RANK = 32


def to_python(record, nested="array", align=False):
    """The Python value of a record (see the module's description)."""
    eltype = record.eltype
    shape = record.shape
    if eltype == _orbax.NESTED:
        return _nested_to_python(record, shape, nested, align)
    if not shape:
        return record.first()
    if len(shape) > _MAX_NUMPY_RANK:
        raise ValueError(f"an APL array of rank {len(shape)} has no NumPy form (at most {_MAX_NUMPY_RANK} axes)")
    if eltype == _orbax.CHAR:
        text = record.text()
        if len(shape) == 1:
            return text
        return numpy.array(list(text), dtype="<U1").reshape(shape)
    if eltype == _orbax.BOOL:
        return numpy.frombuffer(record.bools(), dtype=numpy.bool_).reshape(shape)
    view = numpy.asarray(record)
    # The library starts managed data on a 16-byte boundary; should a view
    # ever be unaligned, align=True trades it for an aligned copy.
    if align and not view.flags.aligned:
        view = view.copy()
        view.flags.writeable = False
    return view


def _nested_to_python(record, shape, nested, align):
    items = [to_python(item, nested, align) for item in record.items()]
    if nested == "list" and len(shape) == 1:
        return items
    array = numpy.empty(len(items), dtype=object)
    for i, item in enumerate(items):  # one by one: NumPy would broadcast arrays
        array[i] = item
    return array.reshape(shape)


def to_record(value):
    """A new APL array holding a copy of a Python value."""
    if isinstance(value, (bool, numpy.bool_)):
        return _orbax.make(_orbax.BOOL, (), bytes([bool(value)]))
    if isinstance(value, (int, numpy.integer)):
        return _int_scalar(int(value))
    if isinstance(value, (float, numpy.floating)):
        return _orbax.make(_orbax.REAL, (), numpy.float64(value).tobytes())
    if isinstance(value, str):
        return _orbax.make(_orbax.CHAR, (len(value),), value)
    if isinstance(value, (complex, numpy.complexfloating)):
        raise TypeError(f"the complex number {value!r} has no APL form")
    if isinstance(value, _orbax.Record):
        return value
    if isinstance(value, (list, tuple)):
        return _sequence_to_record(value)
    if isinstance(value, numpy.ndarray):
        return _array_to_record(value)
    if hasattr(value, "__array__"):  # a pandas DataFrame or Series, among others
        return _array_to_record(numpy.asarray(value))
    raise TypeError(f"a {type(value).__name__} has no APL form")


def _int_scalar(number):
    if _INT32.min <= number <= _INT32.max:
        return _orbax.make(_orbax.INTG, (), numpy.int32(number).tobytes())
    if -_EXACT <= number <= _EXACT:
        return _orbax.make(_orbax.REAL, (), numpy.float64(number).tobytes())
    raise OverflowError(f"the integer {number} is beyond INTG and not exact as a REAL")


def _sequence_to_record(items):
    """A list of numbers (or of bools) is a simple vector, as a strand of
    numbers is; anything else is a nested vector."""
    if items and all(isinstance(i, (bool, numpy.bool_)) for i in items):
        return _array_to_record(numpy.array(items, dtype=numpy.bool_))
    numbers = (int, float, numpy.integer, numpy.floating)
    if items and all(isinstance(i, numbers) and not isinstance(i, (bool, numpy.bool_)) for i in items):
        return _array_to_record(numpy.array(items))
    records = [to_record(i) for i in items]
    return _orbax.make(_orbax.NESTED, (len(records),), records)


def _array_to_record(array):
    if array.ndim > 64:
        raise ValueError(f"rank {array.ndim} is more than APL's 64")
    kind = array.dtype.kind
    if kind == "b":
        return _orbax.make(_orbax.BOOL, array.shape, _native(array, numpy.bool_))
    if kind in "iu":
        return _integers_to_record(array)
    if kind == "f":
        if array.dtype.itemsize > 8:
            raise TypeError(f"{array.dtype} has more precision than APL's REAL (float64)")
        return _orbax.make(_orbax.REAL, array.shape, _native(array, numpy.float64))
    if kind == "c":
        raise TypeError(f"complex arrays ({array.dtype}) have no APL form")
    if kind == "U":
        return _strings_to_record(array)
    if kind == "O":
        records = [to_record(item) for item in array.reshape(-1)]
        return _orbax.make(_orbax.NESTED, array.shape, records)
    raise TypeError(f"NumPy arrays of {array.dtype} have no APL form")


def _native(array, dtype):
    """The array as a C-contiguous native-order array of dtype: itself when it
    is one already (the buffer is then read once, into the APL array)."""
    return numpy.ascontiguousarray(array, dtype=numpy.dtype(dtype).newbyteorder("="))


def _integers_to_record(array):
    if array.dtype.itemsize < 4 or (array.dtype.itemsize == 4 and array.dtype.kind == "i"):
        return _orbax.make(_orbax.INTG, array.shape, _native(array, numpy.int32))
    low = int(array.min()) if array.size else 0
    high = int(array.max()) if array.size else 0
    if _INT32.min <= low and high <= _INT32.max:
        return _orbax.make(_orbax.INTG, array.shape, _native(array, numpy.int32))
    if -_EXACT <= low and high <= _EXACT:
        return _orbax.make(_orbax.REAL, array.shape, _native(array, numpy.float64))
    beyond = low if low < -_EXACT else high
    raise OverflowError(f"the integer {beyond} is beyond INTG and not exact as a REAL")


def _strings_to_record(array):
    """One-character strings make a CHAR array of the same shape; longer ones
    a nested array of CHAR vectors."""
    if array.dtype.itemsize <= 4 and all(len(s) == 1 for s in array.reshape(-1)):
        return _orbax.make(_orbax.CHAR, array.shape, "".join(array.reshape(-1)))
    records = [to_record(str(s)) for s in array.reshape(-1)]
    return _orbax.make(_orbax.NESTED, array.shape, records)
