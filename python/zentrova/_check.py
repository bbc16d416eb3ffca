"""Drift checks: compare a baseline metric set with a latest one through the engine."""

from __future__ import annotations

import json
import math
import numbers
from typing import Dict, List, Mapping, Optional, Sequence, Type, Union

import numpy as np

import _zentrova

from ._errors import InvalidInputError, InvalidMetricError, call_engine
from ._names import FAMILIES, Metric, parse_names
from ._results import CheckResult, CheckRow

__all__ = ["check"]

_MODEL_TYPES = {
    "classification": "BinaryClassification",
    "logistic": "LogisticRegression",
    "regression": "LinearRegression",
}


def _as_float32(value: object, argument: str, name: str) -> float:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise InvalidInputError(
            f"{argument}[{name!r}] must be a real number, not {type(value).__name__}", argument=argument
        )
    # The engine compares 32-bit floats; rows show exactly what it compared.
    with np.errstate(over="ignore"):
        return float(np.float32(float(value)))


def _canonical_values(family: Type[Metric], values: Mapping[str, object], argument: str) -> Dict[Metric, float]:
    if not isinstance(values, Mapping):
        raise InvalidInputError(
            f"{argument} must be a mapping of metric names to numbers, not {type(values).__name__}",
            argument=argument,
        )
    converted: Dict[Metric, float] = {}
    for name, value in values.items():
        if not isinstance(name, str):
            raise InvalidInputError(f"{argument} has a key that is not a str: {name!r}", argument=argument)
        try:
            member = family.parse(name)
        except InvalidMetricError:
            continue  # metrics of other families (LogLoss in a classification baseline...) are ignored
        number = _as_float32(value, argument, name)
        previous = converted.setdefault(member, number)
        if previous != number and not (math.isnan(previous) and math.isnan(number)):
            raise InvalidMetricError(
                f"{argument} gives {member.canonical} twice with different values ({previous!r} and {number!r})",
                argument=argument,
            )
    return converted


def _engine_dict(family: Type[Metric], values: Dict[Metric, float]) -> Dict[str, float]:
    # The engine wants every metric of the family even when it compares a few;
    # the ones not compared get NaN, which the engine never fails.
    return {member.key: values.get(member, math.nan) for member in family}


def check(
    baseline: Mapping[str, float],
    latest: Mapping[str, float],
    *,
    family: str,
    metrics: Optional[Sequence[Union[str, Metric]]] = None,
    threshold: float = 0.1,
) -> CheckResult:
    """Compare a latest metric set with a baseline under a relative threshold.

    Parameters
    ----------
    baseline, latest : mapping of str to float
        Metric values keyed by any spelling: a :class:`MetricResult`, or a
        dict returned by ``_zentrova`` and stored earlier. Keys of other
        families are ignored; every compared metric must be present.
    family : {"data_bias", "model_bias", "classification", "logistic", "regression"}
        The family of the two metric sets.
    metrics : sequence of str, optional
        The metrics to compare, in order (any spelling); all of the family
        when omitted. A name given twice is compared once.
    threshold : float, default 0.1
        The relative threshold (held as a 32-bit float by the engine).

    Returns
    -------
    CheckResult
        One row per compared metric; every row's verdict is the engine's.

    Raises
    ------
    InvalidMetricError
        Unknown family or metric name, or a compared metric missing from
        ``baseline`` or ``latest``.
    InvalidInputError
        A value or the threshold is not a real number.

    Notes
    -----
    Bias metrics fail when they grow: ``|latest| > (1 + threshold) * |baseline|``
    for ClassImbalance, DifferenceInProportionOfLabels and the model-bias
    differences, ``latest > (1 + threshold) * baseline`` for the others.
    Classification metrics fail when they fall below
    ``(1 - threshold) * baseline``, regression errors when they exceed
    ``(1 + threshold) * baseline``. NaN never fails in the engine; such rows
    get the status "undefined" and make :attr:`CheckResult.passed` false.

    Examples
    --------
    >>> import zentrova as zv
    >>> result = zv.check({"Accuracy": 0.9}, {"Accuracy": 0.7}, family="classification", metrics=["Accuracy"])
    >>> result.failed, result.rows[0].message
    (['Accuracy'], 'Below threshold by 0.19999999')
    """
    enum_class = FAMILIES.get(family) if isinstance(family, str) else None
    if enum_class is None:
        raise InvalidMetricError(
            f"family must be one of {', '.join(map(repr, FAMILIES))}, not {family!r}", argument="family"
        )
    if isinstance(threshold, (bool, np.bool_)) or not isinstance(threshold, numbers.Real):
        raise InvalidInputError(f"threshold must be a real number, not {type(threshold).__name__}", argument="threshold")
    threshold = float(threshold)
    if not math.isfinite(threshold):
        raise InvalidInputError(f"threshold must be finite, not {threshold!r}", argument="threshold")
    selected: List[Metric] = list(enum_class) if metrics is None else parse_names(enum_class, metrics)

    base_values = _canonical_values(enum_class, baseline, "baseline")
    latest_values = _canonical_values(enum_class, latest, "latest")
    for argument, values in (("baseline", base_values), ("latest", latest_values)):
        absent = [m.canonical for m in selected if m not in values]
        if absent:
            raise InvalidMetricError(f"{argument} lacks {', '.join(absent)}", argument=argument)

    engine_baseline = _engine_dict(enum_class, base_values)
    engine_latest = _engine_dict(enum_class, latest_values)
    context = f"check of {family}"
    if family in ("data_bias", "model_bias"):
        full = getattr(_zentrova, f"{family}_runtime_check")
        partial = getattr(_zentrova, f"{family}_partial_check")
        if metrics is None:
            report = call_engine(context, full, engine_baseline, engine_latest, threshold)
        else:
            names = [m.check_name for m in selected]
            report = call_engine(context, partial, engine_baseline, engine_latest, names, threshold)
    else:
        model_type = _MODEL_TYPES[family]
        if metrics is None:
            report = call_engine(
                context, _zentrova.model_performance_runtime_entry_full, model_type, engine_baseline, engine_latest, threshold
            )
        else:
            names = [m.check_name for m in selected]
            report = call_engine(
                context,
                _zentrova.model_performance_runtime_entry_partial,
                model_type,
                engine_baseline,
                engine_latest,
                names,
                threshold,
            )

    failures: Dict[Metric, str] = {
        enum_class.parse(key): message for key, message in json.loads(report).get("failReport", {}).items()
    }
    rows = []
    for member in selected:
        b, l = base_values[member], latest_values[member]
        message = failures.get(member)
        if message is not None:
            status = "failed"
        elif not (math.isfinite(b) and math.isfinite(l)):
            status = "undefined"
        else:
            status = "passed"
        rows.append(CheckRow(member.canonical, b, l, threshold, member.rule, status, message))
    return CheckResult(family, rows, report)
