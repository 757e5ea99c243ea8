"""Values across the boundary: every element type at ranks 0 to 3, empty
arrays, nested values, NumPy's awkward arrays, views and their links."""
import gc

import numpy
import pytest

import orbax


@pytest.mark.parametrize("dtype", [numpy.int32, numpy.float64, numpy.bool_, "<U1"])
@pytest.mark.parametrize("shape", [(), (5,), (2, 3), (2, 0, 3), (2, 3, 4), (0,)])
def test_round_trip_keeps_type_shape_and_values(s, dtype, shape):
    count = int(numpy.prod(shape))
    if dtype == "<U1":
        value = numpy.array(list("⍺⍴∇ab⎕" * 4)[:count], dtype=dtype).reshape(shape)
    else:
        value = ((numpy.arange(count) % 3 - 1) * 1.5).astype(dtype).reshape(shape)
    s["V"] = value
    back = s["V"]
    assert s.eval("⍴⍴V") == len(shape)
    if shape == ():
        assert type(back) is {numpy.int32: int, numpy.float64: float, numpy.bool_: bool, "<U1": str}[dtype]
        assert back == value[()]
    elif dtype == "<U1" and len(shape) == 1:
        assert back == "".join(value)
    else:
        assert back.shape == shape and back.dtype == numpy.dtype(dtype)
        numpy.testing.assert_array_equal(back, value)


def test_python_scalars_and_strings(s):
    s["I"], s["R"], s["B"], s["C"] = 7, 2.5, True, "héllo ⍳"
    assert s.run("I+R+B") == "10.5\n"
    assert s.eval("⍴C") == 7 and s["C"] == "héllo ⍳"
    assert s.eval("'a'") == "a" and s.eval("⍴,'a'") == 1


def test_nested_values_as_arrays_or_lists(s):
    s["N"] = [1, "ab", [2.5, [3]], numpy.arange(3)]
    assert s.eval("≡N") == 3
    value = s["N"]
    assert value.dtype == object and value.shape == (4,)
    assert value[0] == 1 and value[1] == "ab"
    numpy.testing.assert_array_equal(value[3], [0, 1, 2])
    as_lists = orbax.Session.__new__(orbax.Session)
    as_lists.__dict__.update(s.__dict__, _nested="list")
    assert as_lists["N"][2][0] == 2.5
    assert s.eval("⊂1 2").shape == ()  # an enclosed vector is a nested scalar


def test_characters_outside_the_code_page_are_named(s):
    with pytest.raises(ValueError, match=r"'€' \(U\+20AC\) at position 2"):
        s["C"] = "ab€"
    with pytest.raises(ValueError, match="line 2: character '😀'"):
        s.run("1\n'😀'")
    assert "C" not in s


def test_awkward_numpy_arrays_are_converted_or_refused(s):
    s["A"] = numpy.arange(12, dtype=">f8").reshape(3, 4)[:, ::2]  # big-endian, strided
    assert s.run("A") == "0  2\n4  6\n8 10\n"
    s["W"] = numpy.array([1, 2**31 - 1], dtype=numpy.int64)
    assert s["W"].dtype == numpy.int32
    s["W"] = numpy.array([2**40], dtype=numpy.int64)
    assert s["W"].dtype == numpy.float64 and s["W"][0] == 2**40
    with pytest.raises(OverflowError, match=str(2**60)):
        s["W"] = numpy.array([2**60])
    with pytest.raises(TypeError, match="complex"):
        s["W"] = numpy.array([1j])
    with pytest.raises(TypeError, match="complex"):
        s["W"] = 1 + 2j
    assert s["W"][0] == 2**40  # the refusals changed nothing


def test_results_are_read_only_views_on_the_arrays_data(s):
    big = s.eval("1e7⍴0.5 1.5")
    record = big.base.obj
    assert big.ctypes.data == record.address and big.size == 10**7
    assert not big.flags.writeable
    for value in (big, s.eval("2 2⍴0.5"), s.eval("1 2 2⍴0.5")):  # managed data: on 16 bytes at every rank
        assert value.flags.aligned and value.base.obj.address % 16 == 0
    with pytest.raises(ValueError):
        big[0] = 1


def test_a_view_keeps_its_array_after_the_session_is_gone(s):
    s.close()
    session = orbax.Session()
    start = orbax.blocks()[0]
    view = session.eval("⍳100000")
    del session  # dropped, not closed
    gc.collect()
    assert view.sum() == 100000 * 100001 // 2  # still readable
    del view
    assert orbax.blocks()[0] == start
    orbax.Session().close()  # the dropped session let the library go
