"""Independent float32 reference helpers shared by the tests.

NumPy's float32 log/log10 are not the C library's logf/log10f (they differ in
the last bit for a few percent of inputs), so the logarithms go through ctypes.
"""
import ctypes
import ctypes.util
import math
from fractions import Fraction

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
    """Same keys, and every value the same float32 bit pattern; any NaN matches any
    NaN (IEEE 754 fixes neither the sign nor the payload of a NaN result)."""
    assert set(got) == set(expected)
    for key, value in expected.items():
        assert isinstance(got[key], float), key
        if math.isnan(value):
            assert math.isnan(got[key]), (key, got[key])
        else:
            assert bits(got[key]) == bits(value), (key, got[key], value)


def round_f32(value):
    """The float32 nearest to an exact rational (ties to even), +0.0 for zero and
    ±inf beyond the largest float32 by half an ulp or more."""
    value = Fraction(value)
    if value == 0:
        return f32(0.0)
    sign, magnitude = (-1 if value < 0 else 1), abs(value)
    exponent = magnitude.numerator.bit_length() - magnitude.denominator.bit_length()
    if Fraction(2) ** exponent > magnitude:
        exponent -= 1
    quantum = Fraction(2) ** max(exponent - 23, -149)
    scaled = magnitude / quantum
    whole = scaled.numerator // scaled.denominator
    rest = scaled - whole
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and whole % 2 == 1):
        whole += 1
    rounded = whole * quantum
    if rounded >= Fraction(2) ** 128:
        return f32(sign * math.inf)
    return f32(sign * float(rounded))  # exact: rounded has at most 24 significant bits


def exact_fraction(values):
    """The exact sum of finite float32 or float64 values as a Fraction, computed from
    integer significands grouped by exponent (fast for millions of values)."""
    x = np.asarray(values, dtype=np.float64).ravel()
    if x.size == 0:
        return Fraction(0)
    mantissa, exponent = np.frexp(x)
    significand = (mantissa * 2.0 ** 53).astype(np.int64)  # exact: 53 bits
    high, low = significand >> 26, significand & ((1 << 26) - 1)
    total = 0
    lowest = int(exponent.min()) - 53
    for e in np.unique(exponent):
        chosen = exponent == e
        shift = int(e) - 53 - lowest
        total += (int(high[chosen].sum()) << (shift + 26)) + (int(low[chosen].sum()) << shift)
    return Fraction(total) * Fraction(2) ** lowest


def exact_sum(values):
    """The exact sum of float32 terms rounded once: NaN if a term is NaN or +inf meets
    -inf, an infinity if one is among the terms, else the rounded real sum."""
    x = np.asarray(list(values) if not hasattr(values, "__len__") else values, dtype=np.float64).ravel()
    if np.isnan(x).any() or (np.isposinf(x).any() and np.isneginf(x).any()):
        return f32(math.nan)
    if np.isinf(x).any():
        return f32(x[np.isinf(x)][0])
    return round_f32(exact_fraction(x))


def exact_squared_deviations(t, mean):
    """Σ(t − mean)² over float32 values t, exact, rounded once (NaN/inf as the sums give)."""
    t = np.asarray(t, dtype=np.float64)
    mean = float(mean)
    if not np.isfinite(t).all() or math.isnan(mean):
        return f32(math.nan)
    if math.isinf(mean):
        return f32(math.inf) if t.size else f32(0.0)
    m = Fraction(mean)
    return round_f32(exact_fraction(t * t) - 2 * m * exact_fraction(t) + len(t) * m * m)


def float_bits(x):
    """Bit pattern of a Python float (a float64), NaN sign and payload included."""
    return int(np.array(x, dtype=np.float64).view(np.uint64))


def assert_identical(got, expected):
    """Same keys and the very same values, bit for bit, NaNs included."""
    assert set(got) == set(expected)
    for key in expected:
        assert float_bits(got[key]) == float_bits(expected[key]), (key, got[key], expected[key])


# ---- columns ---------------------------------------------------------------

FLOAT32_EXACT_COUNTS = 2**24  # a float32 running count would stop here


def fcount(mask):
    """An exact count, rounded once to float32."""
    return f32(int(np.sum(mask)))


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


# ---- kernel paths ----------------------------------------------------------

def outcome(call):
    """What call() gives: its result, or the type and text of the exception it raises."""
    try:
        return call()
    except Exception as error:  # compared by the caller, not hidden
        return (type(error), str(error))


def outcome_on_each_path(call):
    """{path: outcome(call) with every kernel pinned to that path}, for every path this CPU runs;
    back to the widest afterwards."""
    from zentrova import _engine

    outcomes = {}
    try:
        for path in _engine._kernel_paths():
            assert _engine._force_kernel_path(path)
            outcomes[path] = outcome(call)
    finally:
        _engine._force_kernel_path(None)
    return outcomes


def unaligned(values):
    """The same values in an array whose data starts one byte off any alignment."""
    values = np.ascontiguousarray(values)
    buffer = np.zeros(values.nbytes + 1, np.uint8)
    buffer[1:] = values.view(np.uint8).ravel()
    return np.frombuffer(buffer.data, dtype=values.dtype, offset=1, count=len(values))
