"""Input kinds of the zentrova package, built from one plain ndarray.

Each builder takes the reference ndarray (what the engine reads directly) and
returns the same column in another container or dtype. Optional libraries
are skipped when absent.
"""
import numpy as np
import pytest


def _need(name):
    return pytest.importorskip(name)


def _memmap(array, tmp_path):
    path = tmp_path / f"column{len(list(tmp_path.iterdir()))}.npy"
    np.save(path, array)
    return np.load(path, mmap_mode="r")


class _Subclass(np.ndarray):
    pass


def _pandas(dtype=None):
    def build(array, tmp_path):
        pd = _need("pandas")
        return pd.Series(array if dtype is None else array.astype(object), dtype=dtype)

    return build


def _polars(array, tmp_path):
    pl = _need("polars")
    return pl.Series(array.tolist() if array.dtype.kind == "U" else array)


def _polars_categorical(array, tmp_path):
    pl = _need("polars")
    return pl.Series(array.tolist(), dtype=pl.Categorical)


def _arrow(array, tmp_path):
    pa = _need("pyarrow")
    return pa.array(array.tolist() if array.dtype.kind == "U" else array)


def _arrow_chunked(array, tmp_path):
    pa = _need("pyarrow")
    half = len(array) // 2
    pieces = [array[:half], array[half:]]
    return pa.chunked_array([p.tolist() if array.dtype.kind == "U" else p for p in pieces])


def _arrow_dictionary(array, tmp_path):
    pa = _need("pyarrow")
    return pa.array(array.tolist()).dictionary_encode()


# Kinds that hold any numeric column exactly.
NUMERIC_KINDS = {
    "ndarray": lambda a, t: a,
    "list": lambda a, t: a.tolist(),
    "tuple": lambda a, t: tuple(a.tolist()),
    "memmap": _memmap,
    "subclass": lambda a, t: a.view(_Subclass),
    "column (n, 1)": lambda a, t: a.reshape(-1, 1),
    "big-endian": lambda a, t: a.astype(a.dtype.newbyteorder(">")),
    "strided": lambda a, t: np.repeat(a, 2)[::2],
    "object ndarray": lambda a, t: a.astype(object),
    "pandas": _pandas(),
    "pandas nullable": lambda a, t: _need("pandas").Series(a).convert_dtypes(),
    "pandas arrow": lambda a, t: _need("pandas").Series(a, dtype=f"{a.dtype.name}[pyarrow]"),
    "polars": _polars,
    "arrow": _arrow,
    "arrow chunked": _arrow_chunked,
}

# Kinds that hold a text column; the reference is a fixed-width 'U' ndarray.
TEXT_KINDS = {
    "ndarray U": lambda a, t: a,
    "big-endian U": lambda a, t: a.astype(a.dtype.newbyteorder(">")),
    "list": lambda a, t: a.tolist(),
    "object ndarray": lambda a, t: a.astype(object),
    "pandas str": _pandas("str"),
    "pandas string[python]": _pandas("string[python]"),
    "pandas object": _pandas(object),
    "pandas categorical": _pandas("category"),
    "polars": _polars,
    "polars categorical": _polars_categorical,
    "arrow": _arrow,
    "arrow chunked": _arrow_chunked,
    "arrow dictionary": _arrow_dictionary,
}

# Dtypes that are converted exactly to one the engine reads from memory.
NUMERIC_DTYPES = [
    "bool", "int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64",
    "float16", "float32", "float64",
]


def as_engine_dtype(array):
    """The exact engine-readable equivalent of a numeric ndarray."""
    kind, size = array.dtype.kind, array.dtype.itemsize
    if kind == "b" or size == 1:
        return array.astype(np.int16)
    if kind == "u":
        return array.astype({2: np.int32, 4: np.int64, 8: np.int64}[size])
    if kind == "f" and size == 2:
        return array.astype(np.float32)
    return array


def labels(rng, n, dtype="int64"):
    """A 0/1 column with both values present."""
    values = rng.integers(0, 2, n)
    values[:2] = [0, 1]
    return values.astype(dtype)


# What each array argument of a measuring function must hold besides a value:
# "any" number, a "label" (0 or 1) or a "probability" (in [0, 1]).
RULES = {
    "data_bias": {"facet": "any", "label": "any"},
    "model_bias": {"facet": "any", "y_true": "any", "y_pred": "any"},
    "classification": {"y_true": "label", "y_pred": "label"},
    "logistic": {"y_true": "label", "y_prob": "probability"},
    "regression": {"y_true": "any", "y_pred": "any"},
}


def census(values, rule):
    """(NaN rows, other rows outside the rule) of one column, counted with NumPy."""
    values = np.asarray(values)
    nan = np.isnan(values) if values.dtype.kind == "f" else np.zeros(values.shape, dtype=bool)
    if rule == "label":
        outside = ~nan & (values != 0) & (values != 1)
    elif rule == "probability":
        outside = (values < 0) | (values > 1)
    else:
        outside = np.zeros(values.shape, dtype=bool)
    return int(np.count_nonzero(nan)), int(np.count_nonzero(outside))


def fitting_column(rng, n, rule, dtype):
    """A random column of `n` rows whose every value fits `rule`."""
    if rule == "label":
        return labels(rng, n, dtype)
    if rule == "probability" and np.dtype(dtype).kind == "f":
        return rng.random(n).astype(dtype)
    if rule == "probability":
        return labels(rng, n, dtype)
    return rng.integers(0, 4, n).astype(dtype) if np.dtype(dtype).kind == "i" else (rng.random(n) * 4).astype(dtype)
