"""The measuring functions: inputs converted here, metrics computed by the engine.

The engine also counts, in its own pass over each array, the NaN rows and the
values outside what the argument takes (labels 0 and 1, probabilities in
[0, 1]); a plain ndarray is read here only when it counted some, to name them.
"""

from __future__ import annotations

import math
import numbers
from typing import Callable, List, Optional, Sequence, Tuple

import numpy as np

from . import _engine
from ._columns import Column, Label, as_is, as_is_key, engine_label, to_column
from ._errors import InvalidInputError, MissingValuesError, call_engine
from ._names import ClassificationMetric, DataBiasMetric, LogisticMetric, ModelBiasMetric, RegressionMetric
from ._results import MetricResult

__all__ = ["classification", "data_bias", "logistic", "model_bias", "regression"]

_MISSING_CHOICES = ("raise", "drop")


def _columns(inputs: Sequence[Tuple[object, str]], missing: str) -> List[Column]:
    """Convert the columns of one call and check their lengths."""
    if missing not in _MISSING_CHOICES:
        raise InvalidInputError(f"missing must be 'raise' or 'drop', not {missing!r}", argument="missing")
    columns = [to_column(data, argument) for data, argument in inputs]
    sizes = {column.size for column in columns}
    if len(sizes) > 1:
        described = ", ".join(f"{c.argument}: {c.size}" for c in columns)
        raise InvalidInputError(
            f"Found input variables with inconsistent numbers of samples: [{described}]",
            argument=next(c.argument for c in columns if c.size != columns[0].size),
        )
    return columns


def _missing_rows(columns: Sequence[Column], missing: str) -> Optional[np.ndarray]:
    """The mask of the rows to keep (None: keep all), NaN values included.

    Raises MissingValuesError when a column has missing rows and ``missing``
    is "raise".
    """
    for column in columns:
        column.find_nan()
    with_missing = [c for c in columns if c.missing is not None]
    if not with_missing:
        return None
    if missing == "raise":
        counts = {c.argument: c.missing_count for c in with_missing}
        described = "; ".join(f"{name} has {count} missing value{'s' * (count != 1)}" for name, count in counts.items())
        raise MissingValuesError(
            f"{described} (pass missing='drop' to leave those rows out of every column)",
            argument=with_missing[0].argument,
            counts=counts,
        )
    absent = with_missing[0].missing
    assert absent is not None
    for column in with_missing[1:]:
        assert column.missing is not None
        absent = absent | column.missing
    return ~absent


_Counts = Tuple[Tuple[int, int], ...]


def _measure(
    context: str,
    entry: Callable[..., "Tuple[Optional[dict[str, float]], _Counts]"],
    columns: Sequence[Column],
    missing: str,
    build: Callable[[Optional[np.ndarray]], Tuple[object, ...]],
    check: Optional[Callable[[Optional[np.ndarray]], None]] = None,
    counted: "Optional[_Counts]" = None,
) -> "dict[str, float]":
    """The engine's metrics of one call, its columns checked in the engine's pass.

    ``build(keep)`` gives the engine's arguments for the rows kept (None: all
    rows). The engine counts each array's NaN rows and values outside its
    range while it reads them; only when it finds some are they looked for
    here, with NumPy, to name them as before: missing rows first (refused, or
    dropped and the call made again on the rest), then ``check(keep)``, which
    raises for values out of range. When nothing is found, nothing here reads
    a plain ndarray. ``counted`` is the counts of a call already made on
    ``build(None)`` (by :func:`_direct`), which is not made again.
    """
    # Rows missing in the container itself (nulls, masks) are known already.
    scanned = any(c.missing is not None for c in columns)
    keep = _missing_rows(columns, missing) if scanned else None
    counts = None if scanned else counted
    while True:
        if counts is None:
            refusal: Optional[InvalidInputError] = None
            try:
                arguments = build(keep)
            except InvalidInputError as error:
                refusal = error
            if refusal is not None:
                if not scanned:
                    _missing_rows(columns, missing)  # missing rows are reported first
                raise refusal
            metrics, counts = call_engine(context, entry, *arguments)
            if metrics is not None:
                return metrics
        if not scanned and any(nan for nan, _ in counts):
            scanned = True
            keep = _missing_rows(columns, missing)
            counts = None
            continue
        if check is not None:
            check(keep)
        raise RuntimeError(f"{context}: the engine counted values that the package does not find: {counts}")


def _direct(
    context: str,
    entry: Callable[..., "Tuple[Optional[dict[str, float]], _Counts]"],
    arguments: Optional[Tuple[object, ...]],
) -> "Tuple[Optional[dict[str, float]], Optional[_Counts]]":
    """The usual call, made without building columns: plain arrays the engine
    reads as they are (see :func:`as_is`), given as ``arguments`` when every
    one qualified (else None, and nothing is called).

    Returns the metrics, or the engine's counts for :func:`_measure` to name
    the rows it counted; (None, None) when the call is not direct.
    """
    if arguments is None:
        return None, None
    return call_engine(context, entry, *arguments)


def _bias_arguments(missing: str, pairs: Sequence[Tuple[object, object]]) -> Optional[Tuple[object, ...]]:
    """An analyzer's arguments, when every column is :func:`as_is` (text
    allowed), all of one length, with plain label values; None otherwise."""
    if missing not in _MISSING_CHOICES:
        return None
    arrays: List[np.ndarray] = []
    keys: List[Label] = []
    for data, value in pairs:
        array = as_is(data, True)
        if array is None or (arrays and array.shape != arrays[0].shape):
            return None
        key = as_is_key(value, array)
        if key is None:
            return None
        arrays.append(array)
        keys.append(key)
    return (*arrays, *keys)


def _bias_column(column: Column, label: object, label_argument: str, keep: Optional[np.ndarray]) -> Tuple[np.ndarray, Label]:
    """The array and label handed to an analyzer for one labelled column."""
    converted = engine_label(label, label_argument, column)
    if column.text is not None:
        return (column.text if keep is None else column.text[keep]), converted
    if isinstance(converted, str):
        assert column.equals is not None
        mask = column.equals(converted)
        values: np.ndarray = (mask if keep is None else mask[keep]).astype(np.int16)
        return values, 1
    values = column.numbers()
    return (values if keep is None else values[keep]), converted


def data_bias(
    facet: object,
    label: object,
    *,
    facet_value: object,
    label_value: object,
    missing: str = "raise",
) -> "MetricResult[DataBiasMetric]":
    """Pre-training (data) bias metrics of a labelled data set.

    Rows whose facet matches ``facet_value`` form the facet group, all others
    the rest group; the metrics compare the share of positive labels (rows
    whose label matches ``label_value``) of the two groups.

    Parameters
    ----------
    facet : array-like
        The sensitive attribute: a NumPy array, a pandas, Polars or PyArrow
        column, a list or a tuple; numeric, bool or text.
    label : array-like
        The ground truth, of the same length.
    facet_value, label_value : int, float, bool or str
        What marks the facet group and a positive label. For a text column
        a row matches when it equals the value. For a numeric column with
        exactly two distinct values a row matches when it equals the value;
        otherwise when it is at least the value (a threshold).
    missing : {"raise", "drop"}, default "raise"
        What to do with rows where any column has no value.

    Returns
    -------
    MetricResult
        The seven metrics of :class:`DataBiasMetric`, keyed by canonical name.

    Raises
    ------
    InvalidInputError
        Lengths differ, a value of the wrong kind for its column, a column of
        unsupported shape.
    MissingValuesError
        A column has missing values and ``missing`` is "raise".
    EmptyGroupError
        The facet group or the rest group has no rows.

    Examples
    --------
    >>> import zentrova as zv
    >>> r = zv.data_bias(["F", "M", "M", "F"], [1, 0, 1, 1], facet_value="F", label_value=1)
    >>> r["DifferenceInProportionOfLabels"]
    0.5
    """
    direct = _bias_arguments(missing, ((facet, facet_value), (label, label_value)))
    metrics, counted = _direct("data_bias", _engine._data_bias, direct)
    if metrics is not None:
        return MetricResult._of(DataBiasMetric, metrics)
    columns = _columns(((facet, "facet"), (label, "label")), missing)
    facet_column, label_column = columns

    def build(keep: Optional[np.ndarray]) -> Tuple[object, ...]:
        label_array, label_key = _bias_column(label_column, label_value, "label_value", keep)
        facet_array, facet_key = _bias_column(facet_column, facet_value, "facet_value", keep)
        return facet_array, label_array, facet_key, label_key

    return MetricResult._of(
        DataBiasMetric, _measure("data_bias", _engine._data_bias, columns, missing, build, counted=counted)
    )


def model_bias(
    facet: object,
    y_true: object,
    y_pred: object,
    *,
    facet_value: object,
    label_value: object,
    prediction_value: object = None,
    missing: str = "raise",
) -> "MetricResult[ModelBiasMetric]":
    """Post-training (model) bias metrics of a model's predictions.

    Parameters
    ----------
    facet : array-like
        The sensitive attribute (numeric, bool or text).
    y_true : array-like
        The ground truth, of the same length.
    y_pred : array-like
        The model's predictions, of the same length.
    facet_value, label_value : int, float, bool or str
        What marks the facet group and a positive ground-truth label (see
        :func:`data_bias` for the matching rule).
    prediction_value : int, float, bool or str, optional
        What marks a positive prediction; ``label_value`` when omitted.
    missing : {"raise", "drop"}, default "raise"
        What to do with rows where any column has no value.

    Returns
    -------
    MetricResult
        The twelve metrics of :class:`ModelBiasMetric`.

    Raises
    ------
    InvalidInputError, MissingValuesError, EmptyGroupError
        As for :func:`data_bias`.
    """
    if prediction_value is None:
        prediction_value = label_value
    direct = _bias_arguments(missing, ((facet, facet_value), (y_true, label_value), (y_pred, prediction_value)))
    metrics, counted = _direct("model_bias", _engine._model_bias, direct)
    if metrics is not None:
        return MetricResult._of(ModelBiasMetric, metrics)
    columns = _columns(((facet, "facet"), (y_true, "y_true"), (y_pred, "y_pred")), missing)
    facet_column, true_column, pred_column = columns

    def build(keep: Optional[np.ndarray]) -> Tuple[object, ...]:
        pred_array, pred_key = _bias_column(pred_column, prediction_value, "prediction_value", keep)
        true_array, true_key = _bias_column(true_column, label_value, "label_value", keep)
        facet_array, facet_key = _bias_column(facet_column, facet_value, "facet_value", keep)
        return facet_array, true_array, pred_array, facet_key, true_key, pred_key

    return MetricResult._of(
        ModelBiasMetric, _measure("model_bias", _engine._model_bias, columns, missing, build, counted=counted)
    )


def _kept(column: Column, keep: Optional[np.ndarray]) -> np.ndarray:
    values = column.numbers()
    return values if keep is None else values[keep]


def _require_binary(column: Column, values: np.ndarray) -> None:
    """Refuse labels other than 0 and 1."""
    if column.from_bool:
        return
    bad = values[(values != 0) & (values != 1)]
    if bad.size:
        argument = column.argument
        raise InvalidInputError(
            f"{argument} must hold labels 0 and 1 only (found {bad.size} other value{'s' * (bad.size != 1)}, "
            f"e.g. {bad[0]!r}); map the positive class to 1 first, e.g. {argument} == 'yes'",
            argument=argument,
        )


def _require_probabilities(values: np.ndarray, argument: str) -> None:
    bad = values[(values < 0) | (values > 1)]
    if bad.size:
        raise InvalidInputError(
            f"{argument} must hold probabilities in [0, 1] (found {bad.size} outside, e.g. {bad[0]!r})",
            argument=argument,
        )


def _same_kind(a: np.ndarray, b: np.ndarray) -> Tuple[np.ndarray, np.ndarray]:
    # The engine refuses a float column against an integer one; labels 0 and 1
    # are exact in every dtype, so the integer side takes the float dtype.
    if (a.dtype.kind == "f") == (b.dtype.kind == "f"):
        return a, b
    if a.dtype.kind == "f":
        return a, b.astype(a.dtype)
    return a.astype(b.dtype), b


def _performance(
    name: str,
    entry: Callable[..., "Tuple[Optional[dict[str, float]], _Counts]"],
    y_true: object,
    y_pred: object,
    pred_argument: str,
    missing: str,
    check: Optional[Callable[[Column, np.ndarray, Column, np.ndarray], None]],
    *extra: object,
    same_kind: bool = False,
) -> "dict[str, float]":
    true_array, pred_array = as_is(y_true, False), as_is(y_pred, False)
    direct: Optional[Tuple[object, ...]] = None
    if (
        missing in _MISSING_CHOICES
        and true_array is not None
        and pred_array is not None
        and true_array.shape == pred_array.shape
        and not (same_kind and (true_array.dtype.kind == "f") != (pred_array.dtype.kind == "f"))
    ):
        direct = (pred_array, true_array, *extra)
    metrics, counted = _direct(name, entry, direct)
    if metrics is not None:
        return metrics
    columns = _columns(((y_true, "y_true"), (y_pred, pred_argument)), missing)
    true_column, pred_column = columns

    def build(keep: Optional[np.ndarray]) -> Tuple[object, ...]:
        true_values, pred_values = _kept(true_column, keep), _kept(pred_column, keep)
        if same_kind:
            true_values, pred_values = _same_kind(true_values, pred_values)
        # The engine takes predictions first.
        return (pred_values, true_values, *extra)

    def check_values(keep: Optional[np.ndarray]) -> None:
        if check is not None:
            check(true_column, _kept(true_column, keep), pred_column, _kept(pred_column, keep))

    return _measure(name, entry, columns, missing, build, check_values, counted)


def classification(y_true: object, y_pred: object, *, missing: str = "raise") -> "MetricResult[ClassificationMetric]":
    """Metrics of a binary classifier.

    Parameters
    ----------
    y_true : array-like
        True labels, 0 or 1 (bool, integer or float; any supported container).
    y_pred : array-like
        Predicted labels, 0 or 1, of the same length.
    missing : {"raise", "drop"}, default "raise"
        What to do with rows where either column has no value.

    Returns
    -------
    MetricResult
        The seven metrics of :class:`ClassificationMetric`.

    Raises
    ------
    InvalidInputError
        Lengths differ or a label is not 0 or 1.
    MissingValuesError
        A column has missing values and ``missing`` is "raise".
    EmptyGroupError
        No rows.

    Examples
    --------
    >>> import zentrova as zv
    >>> r = zv.classification([1, 0, 1, 0], [1, 0, 0, 0])
    >>> r["RecallPositive"], r["PrecisionPositive"]
    (0.5, 1.0)
    """

    def check(tc: Column, t: np.ndarray, pc: Column, p: np.ndarray) -> None:
        _require_binary(tc, t)
        _require_binary(pc, p)

    raw = _performance("classification", _engine._classification, y_true, y_pred, "y_pred", missing, check, same_kind=True)
    return MetricResult._of(ClassificationMetric, raw)


def logistic(
    y_true: object, y_prob: object, *, threshold: float = 0.5, missing: str = "raise"
) -> "MetricResult[LogisticMetric]":
    """Metrics of a model that outputs probabilities of the positive class.

    The classification metrics are those of the labels ``y_prob >= threshold``;
    LogLoss is computed on the probabilities (base-10 logarithm, not clamped).

    Parameters
    ----------
    y_true : array-like
        True labels, 0 or 1.
    y_prob : array-like
        Probabilities of the positive class, in [0, 1], of the same length.
    threshold : float, default 0.5
        The decision threshold (held as a 32-bit float).
    missing : {"raise", "drop"}, default "raise"
        What to do with rows where either column has no value.

    Returns
    -------
    MetricResult
        The eight metrics of :class:`LogisticMetric`.

    Raises
    ------
    InvalidInputError
        Lengths differ, a label is not 0 or 1, a probability lies outside
        [0, 1], or the threshold is not a real number.
    MissingValuesError, EmptyGroupError
        As for :func:`classification`.
    """
    if type(threshold) is not float and (
        isinstance(threshold, (bool, np.bool_)) or not isinstance(threshold, numbers.Real)
    ) or math.isnan(threshold):
        raise InvalidInputError(f"threshold must be a real number, not {threshold!r}", argument="threshold")

    def check(tc: Column, t: np.ndarray, pc: Column, p: np.ndarray) -> None:
        _require_binary(tc, t)
        _require_probabilities(p, "y_prob")

    raw = _performance(
        "logistic",
        _engine._logistic,
        y_true,
        y_prob,
        "y_prob",
        missing,
        check,
        float(threshold),
    )
    return MetricResult._of(LogisticMetric, raw)


def regression(y_true: object, y_pred: object, *, missing: str = "raise") -> "MetricResult[RegressionMetric]":
    """Error metrics of a regression model.

    Parameters
    ----------
    y_true : array-like
        Observed values (numeric or bool).
    y_pred : array-like
        Predicted values, of the same length.
    missing : {"raise", "drop"}, default "raise"
        What to do with rows where either column has no value.

    Returns
    -------
    MetricResult
        The eight metrics of :class:`RegressionMetric` (several depart from
        the textbook definitions; see there).

    Raises
    ------
    InvalidInputError, MissingValuesError, EmptyGroupError
        As for :func:`classification`.
    """
    raw = _performance("regression", _engine._regression, y_true, y_pred, "y_pred", missing, None)
    return MetricResult._of(RegressionMetric, raw)
