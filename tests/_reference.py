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
