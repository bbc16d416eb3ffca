"""Independent float32 reference helpers shared by the tests.

NumPy's float32 log/log10 are not the C library's logf/log10f (they differ in
the last bit for a few percent of inputs), so the logarithms go through ctypes.
"""
import ctypes
import ctypes.util

import numpy as np

_libm = ctypes.CDLL(ctypes.util.find_library("m") or "libm.so.6")
_libm.logf.restype = ctypes.c_float
_libm.logf.argtypes = [ctypes.c_float]
_libm.log10f.restype = ctypes.c_float
_libm.log10f.argtypes = [ctypes.c_float]

f32 = np.float32


def logf(x):
    """The C library's single-precision natural logarithm."""
    return f32(_libm.logf(float(f32(x))))


def log10f(x):
    """The C library's single-precision base-10 logarithm."""
    return f32(_libm.log10f(float(f32(x))))


def bits(x):
    """Bit pattern of a value as a float32, so NaN and -0.0 compare exactly."""
    return int(np.array(x, dtype=np.float32).view(np.uint32))


def assert_metrics_equal(got, expected):
    """Same keys, and every value the same float32 bit pattern."""
    assert set(got) == set(expected)
    for key, value in expected.items():
        assert isinstance(got[key], float), key
        assert bits(got[key]) == bits(value), (key, got[key], value)


# ---- columns ---------------------------------------------------------------

SATURATION = 2**24


def fcount(mask):
    """A float32 counter incremented by 1.0 per true entry stops at 2**24."""
    return f32(min(int(np.sum(mask)), SATURATION))


def encode(labels, kind, numeric_label=1):
    """A column of `kind` whose labelling with the returned label gives back the 0/1 `labels`."""
    labels = np.asarray(labels, np.int64)
    if kind in ("U", object):
        return np.where(labels == 1, "yes", "no").astype(kind), "yes"
    return labels.astype(kind), numeric_label


class Sub(np.ndarray):
    """Any subclass is read through iteration."""


LAYOUTS = ["contiguous", "reversed", "every_third", "column_of_matrix", "reversed_stride_2"]


def lay_out(values, layout):
    """The same values as a plain array with the given memory layout."""
    values = np.asarray(values)
    if layout == "contiguous":
        return values.copy()
    if layout == "reversed":
        return values[::-1].copy()[::-1]
    if layout == "every_third":
        base = np.empty(len(values) * 3, dtype=values.dtype)
        base[::3] = values
        return base[::3]
    if layout == "column_of_matrix":
        base = np.empty((len(values), 3), dtype=values.dtype)
        base[:, 1] = values
        return base[:, 1]
    base = np.empty(len(values) * 2, dtype=values.dtype)
    base[::-2] = values
    return base[::-2]


def iterated(array):
    """The same values in an array that is read through iteration."""
    return np.ascontiguousarray(array).view(Sub)


# ---- errors ----------------------------------------------------------------

def error_text(fn, *args):
    """The text of the TypeError (exactly that class) that fn(*args) raises."""
    import pytest

    with pytest.raises(TypeError) as info:
        fn(*args)
    assert info.type is TypeError
    return str(info.value)


# ---- drift check reports ---------------------------------------------------

PASSED = '{"passed":true}'


def fmt32(v):
    """Shortest round-trip positional text of a float32, as failure messages write numbers."""
    v = f32(v)
    if np.isnan(v):
        return "NaN"
    if np.isinf(v):
        return "-inf" if v < 0 else "inf"
    return np.format_float_positional(v, unique=True, trim="-")


def parse_report(text):
    """The failure report of a check's JSON text ({} when it passed), checking its compact shape."""
    import json

    doc = json.loads(text)
    # Re-encoding compactly reproduces the text only if it has no whitespace outside strings,
    # keeps "passed" first and holds no duplicate failReport members.
    assert json.dumps(doc, separators=(",", ":")) == text
    if doc == {"passed": True}:
        assert text == PASSED
        return {}
    assert list(doc) == ["passed", "failReport"] and doc["passed"] is False
    assert doc["failReport"]
    return doc["failReport"]
