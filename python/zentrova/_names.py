"""Metric names: one enumeration per family, every spelling mapped to one member.

A member's value is its canonical name. The engine spells some metrics in up
to three ways (the key of its result dict, the name its partial checks accept
and the key of its failure report); each member carries all three, and
:meth:`Metric.parse` accepts any of them.
"""

from __future__ import annotations

import enum
from typing import Dict, Iterable, List, NamedTuple, Tuple, Type, TypeVar

__all__ = [
    "ClassificationMetric",
    "DataBiasMetric",
    "FAMILIES",
    "LogisticMetric",
    "Metric",
    "ModelBiasMetric",
    "RegressionMetric",
]

_M = TypeVar("_M", bound="Metric")


class _Spelling(NamedTuple):
    key: str
    check_name: str
    report_key: str
    rule: str


# How a check compares a metric; the texts are what CheckResult rows show.
_MAGNITUDE_ABOVE = "fails if |latest| > (1 + threshold) * |baseline|"
_ABOVE = "fails if latest > (1 + threshold) * baseline"
_BELOW = "fails if latest < (1 - threshold) * baseline"


class Metric(str, enum.Enum):
    """Base of the five metric enumerations.

    Members are ``str`` instances equal to their canonical name, so they can be
    used wherever a metric name is expected, result mappings included.
    """

    def __new__(cls: Type[_M], value: str) -> _M:
        # Members are the str of their canonical name (a str-mixin enumeration
        # spelled out, so type checkers see the one-argument constructor).
        member = str.__new__(cls, value)
        member._value_ = value
        return member

    def __str__(self) -> str:
        return str(self.value)

    def __format__(self, format_spec: str) -> str:
        return format(str(self.value), format_spec)

    @property
    def canonical(self) -> str:
        """The canonical name (the member's value)."""
        return str(self.value)

    @property
    def key(self) -> str:
        """The key of the engine's result dict (``_zentrova``'s spelling)."""
        return _spelling(self).key

    @property
    def check_name(self) -> str:
        """The name the engine's partial checks accept."""
        return _spelling(self).check_name

    @property
    def report_key(self) -> str:
        """The key of the engine's failure report."""
        return _spelling(self).report_key

    @property
    def rule(self) -> str:
        """When a check fails this metric, in words."""
        return _rule_of(self)

    @classmethod
    def parse(cls: Type[_M], name: "str | Metric") -> _M:
        """Return the member of this family named by any of its spellings.

        Parameters
        ----------
        name : str
            The canonical name, the engine's dict key, its partial-check name
            or its failure-report key (or a member of this family).

        Returns
        -------
        Metric
            The member of this enumeration.

        Raises
        ------
        InvalidMetricError
            When no metric of this family has that name.
        """
        from ._errors import InvalidMetricError

        member = _lookup(cls).get(str(name))
        if member is None:
            valid = ", ".join(m.canonical for m in cls)
            raise InvalidMetricError(f"{name!r} is not a {cls.__name__} (valid names: {valid})")
        return member


class DataBiasMetric(Metric):
    """The seven pre-training (data) bias metrics of :func:`zentrova.data_bias`.

    q(g) is the share of positive labels of group g (f the facet group, r the
    rest); ln is the natural logarithm.

    * ClassImbalance: ``|N(f) - N(r)| / N``.
    * DifferenceInProportionOfLabels: ``q(f) - q(r)``.
    * KlDivergence: Kullback-Leibler divergence of f's label distribution
      from r's (natural logarithm).
    * JsDivergence: Jensen-Shannon divergence of the two label distributions.
    * LpNorm: ``sqrt(d1**2 + d0**2)`` of the differences of the shares of
      ones and of zeros.
    * TotalVariationDistance: ``|q(f) - q(r)|``, without any factor 1/2.
    * KolmogorovSmirnov: the *smaller* of the two differences of the shares
      of zeros and of ones.
    """

    CLASS_IMBALANCE = "ClassImbalance"
    DIFFERENCE_IN_PROPORTION_OF_LABELS = "DifferenceInProportionOfLabels"
    KL_DIVERGENCE = "KlDivergence"
    JS_DIVERGENCE = "JsDivergence"
    LP_NORM = "LpNorm"
    TOTAL_VARIATION_DISTANCE = "TotalVariationDistance"
    KOLMOGOROV_SMIRNOV = "KolmogorovSmirnov"


class ModelBiasMetric(Metric):
    """The twelve post-training (model) bias metrics of :func:`zentrova.model_bias`.

    Counts are per group (f facet, r rest): TP, FP, FN, TN, predicted
    positives/negatives PP/PN and labelled positives/negatives LP/LN.

    * DifferenceInPositivePredictedLabels: ``PP(f)/LP(f) - PP(r)/LP(r)``.
    * DisparateImpact: ``(PP(f)/LP(r)) / (PP(r)/LP(r))``, 0 when the rest
      ratio is 0.
    * AccuracyDifference, RecallDifference, DifferenceInAcceptanceRate
      (precision), DifferenceInConditionalAcceptance (LP/PP): facet minus rest.
    * SpecificityDifference (TN/(FP+TN)), DifferenceInConditionalRejection
      (LN/PN), DifferenceInRejectionRate (TN/(FN+TN)), TreatmentEquity
      (FN/FP): rest minus facet.
    * ConditionalDemographicDisparityPredictedLabels:
      ``PN(r)/(PN(f)+PN(r)) - PP(r)/(PP(f)+PP(r))``.
    * GeneralizedEntropy: over all rows, benefit 1 for a true positive, 0 for
      a false negative, 2 for every row labelled 0; ``(n/2) * sum((b/m)**2 - 1)``
      with m the mean benefit.
    """

    DIFFERENCE_IN_POSITIVE_PREDICTED_LABELS = "DifferenceInPositivePredictedLabels"
    DISPARATE_IMPACT = "DisparateImpact"
    ACCURACY_DIFFERENCE = "AccuracyDifference"
    RECALL_DIFFERENCE = "RecallDifference"
    DIFFERENCE_IN_CONDITIONAL_ACCEPTANCE = "DifferenceInConditionalAcceptance"
    DIFFERENCE_IN_ACCEPTANCE_RATE = "DifferenceInAcceptanceRate"
    SPECIFICITY_DIFFERENCE = "SpecificityDifference"
    DIFFERENCE_IN_CONDITIONAL_REJECTION = "DifferenceInConditionalRejection"
    DIFFERENCE_IN_REJECTION_RATE = "DifferenceInRejectionRate"
    TREATMENT_EQUITY = "TreatmentEquity"
    CONDITIONAL_DEMOGRAPHIC_DISPARITY_PREDICTED_LABELS = "ConditionalDemographicDisparityPredictedLabels"
    GENERALIZED_ENTROPY = "GeneralizedEntropy"


class ClassificationMetric(Metric):
    """The seven metrics of :func:`zentrova.classification`.

    * RecallPositive ``TP / sum(y_true)``, RecallNegative ``TN / (N - sum(y_true))``.
    * PrecisionPositive ``TP / sum(y_pred)``, PrecisionNegative ``TN / (N - sum(y_pred))``.
    * BalancedAccuracy: the *product* of the two recalls halved, not their mean.
    * Accuracy, F1Score: as usual.
    """

    BALANCED_ACCURACY = "BalancedAccuracy"
    PRECISION_POSITIVE = "PrecisionPositive"
    PRECISION_NEGATIVE = "PrecisionNegative"
    RECALL_POSITIVE = "RecallPositive"
    RECALL_NEGATIVE = "RecallNegative"
    ACCURACY = "Accuracy"
    F1_SCORE = "F1Score"


class LogisticMetric(Metric):
    """The eight metrics of :func:`zentrova.logistic`: the classification
    metrics of the labels ``y_prob >= threshold`` and LogLoss.

    * LogLoss: ``-(1/N) * sum(t*log10(p) + (1-t)*log10(1-p))`` on the
      probabilities, base-10 logarithm, not clamped.
    """

    BALANCED_ACCURACY = "BalancedAccuracy"
    PRECISION_POSITIVE = "PrecisionPositive"
    PRECISION_NEGATIVE = "PrecisionNegative"
    RECALL_POSITIVE = "RecallPositive"
    RECALL_NEGATIVE = "RecallNegative"
    ACCURACY = "Accuracy"
    F1_SCORE = "F1Score"
    LOG_LOSS = "LogLoss"


class RegressionMetric(Metric):
    """The eight metrics of :func:`zentrova.regression`.

    Several depart from the textbook:

    * RSquared: ``SSE / SST``, the ratio itself, not one minus it.
    * MaxError: the largest ``y_true - y_pred`` (signed), at least 0.
    * MeanSquaredLogError: ``(S * S) / (1/N)`` with
      ``S = sum(log10(t+1) - log10(p+1))``, the square of the summed
      (unsquared) base-10 log differences, multiplied by the row count.
    * RootMeanSquaredLogError: ``sqrt(S * S) / (1/N)``.
    * MeanAbsolutePercentageError: ``100 * mean(|t - p| / t)``, divided by t
      itself (a negative observation gives a negative term).
    """

    ROOT_MEAN_SQUARED_ERROR = "RootMeanSquaredError"
    MEAN_SQUARED_ERROR = "MeanSquaredError"
    MEAN_ABSOLUTE_ERROR = "MeanAbsoluteError"
    R_SQUARED = "RSquared"
    MAX_ERROR = "MaxError"
    MEAN_SQUARED_LOG_ERROR = "MeanSquaredLogError"
    ROOT_MEAN_SQUARED_LOG_ERROR = "RootMeanSquaredLogError"
    MEAN_ABSOLUTE_PERCENTAGE_ERROR = "MeanAbsolutePercentageError"


#: The family names accepted by :func:`zentrova.check`, and their enumerations.
FAMILIES: Dict[str, Type[Metric]] = {
    "data_bias": DataBiasMetric,
    "model_bias": ModelBiasMetric,
    "classification": ClassificationMetric,
    "logistic": LogisticMetric,
    "regression": RegressionMetric,
}

# The engine's spellings where they differ from the canonical name:
# canonical -> (dict key, partial-check name, failure-report key).
_ENGINE_SPELLINGS: Dict[Type[Metric], Dict[str, Tuple[str, str, str]]] = {
    DataBiasMetric: {
        "DifferenceInProportionOfLabels": (
            "DifferenceInProportionOfLabels",
            "DifferenceInProportionOfLabels",
            "DfferenceInProportionOfLabels",
        ),
        "JsDivergence": ("JsDivergence", "JsDivergence", "JsDivergance"),
        "TotalVariationDistance": ("TotalVarationDistance", "TotalVariationDistance", "TotalVariationDistance"),
        "KolmogorovSmirnov": ("KolmorogvSmirnov", "KolmorogvSmirnov", "KolmorogvSmirnov"),
    },
    ModelBiasMetric: {
        "SpecificityDifference": ("SpecialityDifference",) * 3,
        "ConditionalDemographicDisparityPredictedLabels": ("ConditionalDemographicDesparityPredictedLabels",) * 3,
    },
}

# Each family's comparison; names not listed use the family's default.
_RULES: Dict[Type[Metric], Tuple[str, Dict[str, str]]] = {
    DataBiasMetric: (
        _ABOVE,
        {"ClassImbalance": _MAGNITUDE_ABOVE, "DifferenceInProportionOfLabels": _MAGNITUDE_ABOVE},
    ),
    ModelBiasMetric: (_MAGNITUDE_ABOVE, {"DisparateImpact": _ABOVE, "GeneralizedEntropy": _ABOVE}),
    ClassificationMetric: (_BELOW, {}),
    LogisticMetric: (_BELOW, {}),
    RegressionMetric: (_ABOVE, {}),
}

_SPELLING_CACHE: Dict[Metric, _Spelling] = {}
_LOOKUP_CACHE: Dict[type, Dict[str, Metric]] = {}


def _spelling(member: Metric) -> _Spelling:
    cached = _SPELLING_CACHE.get(member)
    if cached is None:
        family = type(member)
        canonical = member.canonical
        key, check_name, report_key = _ENGINE_SPELLINGS.get(family, {}).get(canonical, (canonical,) * 3)
        default_rule, special = _RULES[family]
        cached = _Spelling(key, check_name, report_key, special.get(canonical, default_rule))
        _SPELLING_CACHE[member] = cached
    return cached


def _lookup(family: Type[_M]) -> Dict[str, _M]:
    table = _LOOKUP_CACHE.get(family)
    if table is None:
        table = {}
        for member in family:
            for spelling in (member.canonical, member.key, member.check_name, member.report_key):
                table[spelling] = member
        _LOOKUP_CACHE[family] = table
    return table  # type: ignore[return-value]


_logloss_rule: List[str] = []


def _rule_of(member: Metric) -> str:
    if member is LogisticMetric.LOG_LOSS:
        # The engine has compared LogLoss in both directions over its life;
        # the words follow whichever direction the installed engine applies.
        if not _logloss_rule:
            _logloss_rule.append(_ABOVE if _engine_fails_rising_logloss() else _BELOW)
        return _logloss_rule[0]
    return _spelling(member).rule


def _engine_fails_rising_logloss() -> bool:
    import json

    import _zentrova

    baseline = {m.key: 1.0 for m in LogisticMetric}
    latest = dict(baseline, LogLoss=2.0)
    report = _zentrova.model_performance_runtime_entry_partial(
        "LogisticRegression", baseline, latest, ["LogLoss"]
    )
    return not json.loads(report)["passed"]


def parse_names(family: Type[_M], names: Iterable["str | Metric"]) -> List[_M]:
    """Parse a selection of metric names, keeping order and dropping repeats."""
    if isinstance(names, str):
        from ._errors import InvalidMetricError

        raise InvalidMetricError("metrics must be a list of names, not a single str", argument="metrics")
    seen: Dict[_M, None] = {}
    for name in names:
        seen.setdefault(family.parse(name), None)
    return list(seen)
