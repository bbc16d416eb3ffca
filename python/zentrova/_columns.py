"""Input conversion: any supported column becomes an array the engine reads
straight from memory, plus the mask of its missing rows.

Numeric columns end as float64, float32, int64, int32 or int16 (each value
exactly the same number). Their NaN rows are not looked for here: the engine
counts them in its own pass over the column, and only when it finds some does
:meth:`Column.find_nan` build their mask. Text columns are never handed to the engine as
object arrays: the rows equal to the label are found here with the
container's own vectorised comparison and passed on as a 0/1 int16 column
with label 1. The engine labels such a column row by row as the text rule
would: with both 0 and 1 present it compares for equality with 1, with one
distinct value it compares ``>= 1``, and on 0/1 data both give the column
itself.

pandas, Polars and PyArrow are looked up in ``sys.modules`` only, so they are
imported by the caller, never by this module.
"""

from __future__ import annotations

import numbers
import sys
from typing import Any, Callable, Optional, Union

import numpy as np
import numpy.typing as npt

from ._errors import InvalidInputError, UnsupportedInputError

__all__ = ["Column", "as_is", "as_is_key", "engine_label", "to_column"]

BoolArray = npt.NDArray[np.bool_]
Label = Union[int, float, str]

_INT64_MAX = np.iinfo(np.int64).max
# The dtypes the engine reads as they are, in native byte order.
_AS_IS = frozenset(np.dtype(name) for name in ("float64", "float32", "int64", "int32", "int16"))


class Column:
    """One converted column.

    Attributes
    ----------
    argument : str
        The argument it came from, for messages.
    values : ndarray or None
        The engine-readable numbers (None for a text column).
    equals : callable or None
        For a text column: the mask of the rows equal to a str.
    missing : ndarray of bool or None
        Rows without a value; None when there are none. NaN values count
        only once :meth:`find_nan` has looked for them.
    """

    __slots__ = ("argument", "values", "equals", "missing", "size", "from_bool", "text", "_nan_found")

    def __init__(
        self,
        argument: str,
        size: int,
        *,
        values: Optional[np.ndarray] = None,
        equals: Optional[Callable[[str], BoolArray]] = None,
        missing: Optional[BoolArray] = None,
    ) -> None:
        self.argument = argument
        self.size = size
        self.values = values
        self.equals = equals
        self.missing = missing if missing is not None and missing.any() else None
        # Set for columns read from booleans, whose values need no range check.
        self.from_bool = False
        # A native fixed-width text array, which the engine reads from memory
        # faster than any comparison here.
        self.text: Optional[np.ndarray] = None
        self._nan_found = False

    @property
    def is_text(self) -> bool:
        return self.values is None

    @property
    def missing_count(self) -> int:
        return 0 if self.missing is None else int(np.count_nonzero(self.missing))

    def find_nan(self) -> None:
        """Add the NaN values of a float column to its missing rows (once)."""
        if self._nan_found:
            return
        self._nan_found = True
        if self.values is not None and self.values.dtype.kind == "f":
            nan = _float_missing(self.values)
            if nan is not None:
                self.missing = nan if self.missing is None else (self.missing | nan)

    def numbers(self) -> np.ndarray:
        """The numeric values; refuses a text column."""
        if self.values is None:
            raise UnsupportedInputError(
                f"{self.argument} holds text, but a numeric or bool column is needed here "
                f"(compare it with its positive value first, e.g. {self.argument} == 'yes')",
                argument=self.argument,
            )
        return self.values


def _unsupported(argument: str, what: str) -> UnsupportedInputError:
    return UnsupportedInputError(f"{argument}: {what} is not supported", argument=argument)


def _text_from_numpy(argument: str, array: np.ndarray, missing: Optional[BoolArray]) -> Column:
    def equals(label: str) -> BoolArray:
        if array.dtype.kind == "U" and label.endswith("\0"):
            # Items of a fixed-width text array never end in NUL, but NumPy's
            # comparison ignores trailing NULs: no row equals such a label.
            return np.zeros(array.shape[0], dtype=bool)
        target: object = label
        if array.dtype.kind == "O":
            # A bare str would become a fixed-width NumPy string first, which
            # drops trailing NULs; compared as an object it stays itself.
            target = np.empty((), dtype=object)
            target[()] = label
        result = np.asarray(array == target, dtype=bool)
        if missing is not None:
            result &= ~missing
        return result

    column = Column(argument, array.shape[0], equals=equals, missing=missing)
    if array.dtype.kind == "U" and array.dtype.isnative:
        column.text = array
    return column


def _float_missing(values: np.ndarray) -> Optional[BoolArray]:
    # One reduction finds out whether there is any NaN (the minimum is NaN
    # then), and the mask is built only when there is one.
    if values.size and np.isnan(values.min()):
        mask: BoolArray = np.isnan(values)
        return mask
    return None


def _numeric_from_numpy(argument: str, array: np.ndarray, missing: Optional[BoolArray] = None) -> Column:
    dtype = array.dtype
    if not dtype.isnative:
        array = array.astype(dtype.newbyteorder("="))
        dtype = array.dtype
    kind, size = dtype.kind, dtype.itemsize
    from_bool = kind == "b"
    if kind == "b" or (kind == "i" and size == 1) or (kind == "u" and size == 1):
        array = array.astype(np.int16)
    elif kind == "u" and size == 2:
        array = array.astype(np.int32)
    elif kind == "u" and size == 4:
        array = array.astype(np.int64)
    elif kind == "u" and size == 8:
        if array.size and array.max() > _INT64_MAX:
            raise InvalidInputError(
                f"{argument} holds unsigned values of 2**63 or more, which cannot be read exactly",
                argument=argument,
            )
        array = array.astype(np.int64)
    elif kind == "f" and size == 2:
        array = array.astype(np.float32)
    elif kind == "f" and size > 8:
        narrowed = array.astype(np.float64)
        same = (narrowed == array) | (np.isnan(narrowed) & np.isnan(array))
        if not same.all():
            raise InvalidInputError(
                f"{argument} holds extended-precision values that float64 cannot hold exactly",
                argument=argument,
            )
        array = narrowed
    elif kind not in "if":
        raise _unsupported(argument, f"a column of dtype {dtype}")
    column = Column(argument, array.shape[0], values=array, missing=missing)
    column.from_bool = from_bool
    return column


def _is_missing_item(item: object) -> bool:
    if item is None:
        return True
    if isinstance(item, (float, np.floating)):
        return bool(item != item)
    return type(item).__name__ in ("NAType", "NaTType")


_TEXT_TYPES = (str,)
_NUMBER_TYPES = (numbers.Real, np.bool_)


def _from_object_array(argument: str, array: np.ndarray) -> Column:
    n = array.shape[0]
    pd = _module("pandas")
    if pd is not None:
        # pandas' type inference is a C loop, several times faster than
        # collecting the element types here.
        if pd.api.types.infer_dtype(array, skipna=False) == "string":
            return _text_from_numpy(argument, array, None)
    elif set(map(type, array)) <= {str}:
        return _text_from_numpy(argument, array, None)
    missing = np.fromiter(map(_is_missing_item, array), dtype=bool, count=n)
    present = array[~missing] if missing.any() else array
    present_kinds = set(map(type, present))
    if all(issubclass(k, _TEXT_TYPES) for k in present_kinds):
        cleaned = array.copy()
        cleaned[missing] = None
        return _text_from_numpy(argument, cleaned, missing)
    if all(issubclass(k, _NUMBER_TYPES) for k in present_kinds):
        integral = all(issubclass(k, (numbers.Integral, np.bool_)) for k in present_kinds)
        if integral:
            filled = [0 if m else int(v) for v, m in zip(array.tolist(), missing.tolist())]
            try:
                values = np.array(filled, dtype=np.int64)
            except OverflowError:
                raise InvalidInputError(f"{argument} holds integers outside the 64-bit range", argument=argument) from None
        else:
            values = np.array([np.nan if m else float(v) for v, m in zip(array.tolist(), missing.tolist())])
        return _numeric_from_numpy(argument, values, missing)
    names = ", ".join(sorted(k.__name__ for k in present_kinds))
    raise _unsupported(argument, f"an object column mixing {names}")


def _from_numpy(argument: str, array: np.ndarray) -> Column:
    missing: Optional[BoolArray] = None
    if isinstance(array, np.ma.MaskedArray):
        missing = np.ma.getmaskarray(array)
        array = np.ma.getdata(array)
    if type(array) is not np.ndarray:
        array = array.view(np.ndarray)  # memmaps and other subclasses, without a copy
    if array.ndim == 2 and array.shape[1] == 1:
        array = array[:, 0]
        if missing is not None:
            missing = missing[:, 0]
    if array.ndim != 1:
        raise InvalidInputError(
            f"{argument} must be one-dimensional (or of shape (n, 1)), not of shape {array.shape}",
            argument=argument,
        )
    kind = array.dtype.kind
    if kind == "U":
        if not array.dtype.isnative:
            array = array.astype(array.dtype.newbyteorder("="))
        return _text_from_numpy(argument, array, missing)
    if kind == "O":
        if missing is not None:
            raise _unsupported(argument, "a masked object array")
        return _from_object_array(argument, array)
    if kind == "S":
        raise _unsupported(argument, "a byte-string column (decode it to str first)")
    return _numeric_from_numpy(argument, array, missing)


def _all_missing(argument: str, n: int) -> Column:
    return Column(argument, n, values=np.zeros(n), missing=np.ones(n, dtype=bool))


def _module(name: str) -> Any:
    return sys.modules.get(name)


def _from_arrow(argument: str, data: Any) -> Column:
    import pyarrow as pa
    import pyarrow.compute as pc

    if isinstance(data, pa.ChunkedArray) and data.num_chunks == 1:
        data = data.chunk(0)
    kind = data.type
    n = len(data)
    missing = data.is_null().to_numpy(zero_copy_only=False) if data.null_count else None
    if pa.types.is_null(kind):
        return _all_missing(argument, n)
    if pa.types.is_dictionary(kind):
        return _from_arrow(argument, pc.cast(data, kind.value_type))
    if pa.types.is_string(kind) or pa.types.is_large_string(kind) or getattr(pa.types, "is_string_view", bool)(kind):

        def equals(label: str) -> BoolArray:
            mask = pc.fill_null(pc.equal(data, pa.scalar(label, kind)), False)
            return np.asarray(mask.to_numpy(zero_copy_only=False), dtype=bool)

        return Column(argument, n, equals=equals, missing=missing)
    if pa.types.is_boolean(kind) or pa.types.is_integer(kind) or pa.types.is_floating(kind):
        if data.null_count:
            data = pc.fill_null(data, pa.scalar(False if pa.types.is_boolean(kind) else 0, kind))
        values = data.to_numpy(zero_copy_only=False)
        return _numeric_from_numpy(argument, np.asarray(values), missing)
    raise _unsupported(argument, f"an Arrow column of type {kind}")


def _from_pandas(argument: str, series: Any) -> Column:
    pd = _module("pandas")
    dtype = series.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        codes = series.cat.codes.to_numpy()
        missing = codes < 0
        categories = dtype.categories
        if len(categories) == 0 or pd.api.types.infer_dtype(categories, skipna=True) == "string":

            def equals(label: str) -> BoolArray:
                # Categories are few and compared as Python strs (a vectorised
                # comparison may drop trailing NULs).
                where = [i for i, category in enumerate(categories) if category == label]
                return codes == where[0] if where else np.zeros(codes.shape[0], dtype=bool)

            return Column(argument, codes.shape[0], equals=equals, missing=missing)
        values = _from_pandas(argument, pd.Series(np.asarray(categories))).numbers()
        return _numeric_from_numpy(argument, values[np.where(missing, 0, codes)], missing)
    array = series.array
    storage = getattr(dtype, "storage", None)
    if hasattr(array, "__arrow_array__") and (storage in ("pyarrow", "pyarrow_numpy") or isinstance(dtype, pd.ArrowDtype)):
        return _from_arrow(argument, array.__arrow_array__())
    if isinstance(dtype, pd.StringDtype) or dtype == object:
        return _from_object_array(argument, series.to_numpy(dtype=object))
    numpy_dtype = getattr(dtype, "numpy_dtype", None)
    if numpy_dtype is not None and not isinstance(dtype, np.dtype):  # nullable Int64, Float64, boolean...
        missing = series.isna().to_numpy()
        fill = False if numpy_dtype.kind == "b" else 0
        values = series.to_numpy(dtype=numpy_dtype, na_value=fill)
        return _numeric_from_numpy(argument, values, missing)
    if isinstance(dtype, np.dtype):
        return _from_numpy(argument, series.to_numpy())
    raise _unsupported(argument, f"a pandas column of dtype {dtype}")


def _from_polars(argument: str, series: Any) -> Column:
    pl = _module("polars")
    dtype = series.dtype
    n = len(series)
    missing = series.is_null().to_numpy() if series.null_count() else None
    if dtype in (pl.String, pl.Categorical) or isinstance(dtype, (pl.Categorical, getattr(pl, "Enum", pl.Categorical))):

        def equals(label: str) -> BoolArray:
            compared = series.cast(pl.String) == label
            return np.asarray(compared.fill_null(False).to_numpy(), dtype=bool)

        return Column(argument, n, equals=equals, missing=missing)
    if dtype == pl.Null:
        return _all_missing(argument, n)
    if dtype == pl.Boolean or dtype.is_numeric():
        if missing is not None:
            series = series.fill_null(False if dtype == pl.Boolean else 0)
        return _numeric_from_numpy(argument, np.asarray(series.to_numpy()), missing)
    raise _unsupported(argument, f"a Polars column of dtype {dtype}")


def to_column(data: object, argument: str) -> Column:
    """Convert one input column.

    Parameters
    ----------
    data : array-like
        A NumPy array (any numeric, bool or text dtype), a pandas, Polars or
        PyArrow column, a list or a tuple.
    argument : str
        The argument name, for messages.

    Returns
    -------
    Column
    """
    if isinstance(data, np.ndarray):
        return _from_numpy(argument, data)
    pd = _module("pandas")
    if pd is not None and isinstance(data, pd.Series):
        return _from_pandas(argument, data)
    if pd is not None and isinstance(data, (pd.DataFrame, pd.Index)):
        if isinstance(data, pd.Index):
            return _from_pandas(argument, pd.Series(data))
        if data.shape[1] == 1:
            return _from_pandas(argument, data.iloc[:, 0])
        raise InvalidInputError(f"{argument} must be one column, not a DataFrame of shape {data.shape}", argument=argument)
    pl = _module("polars")
    if pl is not None and isinstance(data, pl.Series):
        return _from_polars(argument, data)
    pa = _module("pyarrow")
    if pa is not None and isinstance(data, (pa.Array, pa.ChunkedArray)):
        return _from_arrow(argument, data)
    if isinstance(data, (list, tuple)):
        if not data:
            return _numeric_from_numpy(argument, np.zeros(0, dtype=np.float64))
        try:
            array = np.array(data)
        except (ValueError, TypeError, OverflowError):
            array = np.empty(len(data), dtype=object)
            array[:] = data
        if array.ndim > 1 and array.dtype != object:
            return _from_numpy(argument, array)
        if array.ndim != 1 or array.dtype.kind == "U":
            # Fixed-width text would drop trailing NULs: strs stay objects.
            array = np.empty(len(data), dtype=object)
            array[:] = data
        return _from_numpy(argument, array)
    if isinstance(data, (str, bytes)) or np.isscalar(data) or data is None:
        raise InvalidInputError(f"{argument} must be a column of values, not a single {type(data).__name__}", argument=argument)
    raise _unsupported(argument, f"an input of type {type(data).__module__}.{type(data).__qualname__}")


def engine_label(value: object, argument: str, column: Column) -> Label:
    """Check a label value against its column and convert it for the engine.

    Parameters
    ----------
    value : object
        The label or threshold given by the caller (NumPy scalars included).
    argument : str
        Its argument name, for messages.
    column : Column
        The column it labels.

    Returns
    -------
    int, float or str
    """
    if column.is_text:
        if isinstance(value, str):
            return str(value)
        raise InvalidInputError(
            f"{argument} must be a str, since {column.argument} holds text (got {type(value).__name__})",
            argument=argument,
        )
    if isinstance(value, (bool, np.bool_, numbers.Integral)):
        number = int(value)
        if not -(2**63) <= number <= _INT64_MAX:
            raise InvalidInputError(f"{argument} is outside the 64-bit integer range", argument=argument)
        return number
    if isinstance(value, numbers.Real):
        return float(value)
    raise InvalidInputError(
        f"{argument} must be a number, since {column.argument} is numeric (got {type(value).__name__})",
        argument=argument,
    )


def as_is(data: object, text: bool) -> Optional[np.ndarray]:
    """``data`` itself when it is a plain 1-d ndarray that :func:`to_column`
    would hand to the engine unchanged (native fixed-width text only when
    ``text``); None otherwise.

    The measuring functions pass such arrays straight on, which spares the
    usual call the cost of building its :class:`Column` objects.
    """
    if type(data) is not np.ndarray or data.ndim != 1:
        return None
    dtype = data.dtype
    if dtype in _AS_IS or (text and dtype.kind == "U" and dtype.isnative):
        return data
    return None


def as_is_key(value: object, data: np.ndarray) -> Optional[Label]:
    """What :func:`engine_label` gives for ``value`` on an :func:`as_is`
    column, when ``value`` is a plain int, float or str it takes unchanged;
    None for any other value, which then takes the full check.
    """
    if data.dtype.kind == "U":
        return value if type(value) is str else None
    if type(value) is float:
        return value
    if type(value) is int and -(2**63) <= value <= _INT64_MAX:
        return value
    return None
