"""Every spelling of every metric maps to one member; results are keyed by canonical names."""
import json
import math

import numpy as np
import pytest

import _zentrova as raw
import zentrova as zv
from _reference import assert_metrics_equal

ONES = np.array([1, 0, 1, 0, 1, 1])
PRED = np.array([1, 0, 0, 0, 1, 0])
FACET = np.array([1, 1, 0, 0, 0, 1])

# One engine call per family gives its dict keys.
ENGINE_DICTS = {
    zv.DataBiasMetric: lambda: raw.data_bias_analyzer(FACET, ONES, 1, 1),
    zv.ModelBiasMetric: lambda: raw.model_bias_analyzer(FACET, ONES, PRED, 1, 1, 1),
    zv.ClassificationMetric: lambda: raw.model_performance_classification(PRED, ONES),
    zv.LogisticMetric: lambda: raw.model_performance_logisitic_regression(PRED.astype(float), ONES),
    zv.RegressionMetric: lambda: raw.model_performance_regression(PRED.astype(float), ONES.astype(float)),
}
FAMILY_NAMES = {v: k for k, v in zv.FAMILIES.items()}
ALL_MEMBERS = [m for family in ENGINE_DICTS for m in family]


def _engine_partial(member, baseline, latest):
    """The engine's partial check of one member, parsed."""
    family = type(member)
    names = [member.check_name]
    if family is zv.DataBiasMetric:
        return json.loads(raw.data_bias_partial_check(baseline, latest, names))
    if family is zv.ModelBiasMetric:
        return json.loads(raw.model_bias_partial_check(baseline, latest, names))
    model_type = {
        zv.ClassificationMetric: "BinaryClassification",
        zv.LogisticMetric: "LogisticRegression",
        zv.RegressionMetric: "LinearRegression",
    }[family]
    return json.loads(raw.model_performance_runtime_entry_partial(model_type, baseline, latest, names))


class TestSpellings:
    def test_corrected_canonical_names(self):
        assert zv.DataBiasMetric.TOTAL_VARIATION_DISTANCE.key == "TotalVarationDistance"
        assert zv.DataBiasMetric.KOLMOGOROV_SMIRNOV.key == "KolmorogvSmirnov"
        assert zv.ModelBiasMetric.SPECIFICITY_DIFFERENCE.key == "SpecialityDifference"
        assert (
            zv.ModelBiasMetric.CONDITIONAL_DEMOGRAPHIC_DISPARITY_PREDICTED_LABELS.key
            == "ConditionalDemographicDesparityPredictedLabels"
        )
        assert {m.value for m in zv.DataBiasMetric} >= {"TotalVariationDistance", "KolmogorovSmirnov"}

    @pytest.mark.parametrize("family", list(ENGINE_DICTS), ids=lambda f: f.__name__)
    def test_member_keys_are_exactly_the_engine_keys(self, family):
        assert {m.key for m in family} == set(ENGINE_DICTS[family]())

    @pytest.mark.parametrize("member", ALL_MEMBERS, ids=str)
    def test_every_spelling_parses_to_the_member(self, member):
        family = type(member)
        for spelling in (member.value, member.key, member.check_name, member.report_key, member):
            assert family.parse(spelling) is member
        assert family(member.value) is member
        assert member == member.value and str(member) == member.value and f"{member}" == member.value

    @pytest.mark.parametrize("member", ALL_MEMBERS, ids=str)
    def test_check_name_and_report_key_are_the_engines(self, member):
        # A baseline of 1 and a latest value that fails whatever the rule:
        # the engine accepts the check name and reports under the report key.
        family = type(member)
        baseline = {m.key: 1.0 for m in family}
        latest = dict(baseline)
        latest[member.key] = 0.0 if "<" in member.rule else 5.0
        report = _engine_partial(member, baseline, latest)
        assert list(report["failReport"]) == [member.report_key]

    @pytest.mark.parametrize("family", list(ENGINE_DICTS), ids=lambda f: f.__name__)
    def test_unknown_name_lists_the_valid_ones(self, family):
        with pytest.raises(zv.InvalidMetricError, match="is not a " + family.__name__) as caught:
            family.parse("NoSuchMetric")
        assert next(iter(family)).value in str(caught.value)

    def test_names_of_another_family_are_refused(self):
        with pytest.raises(zv.InvalidMetricError):
            zv.ClassificationMetric.parse("LogLoss")
        with pytest.raises(zv.InvalidMetricError):
            zv.DataBiasMetric.parse("SpecialityDifference")

    @pytest.mark.parametrize("member", ALL_MEMBERS, ids=str)
    def test_rule_agrees_with_the_engine_verdict(self, member):
        # Move the latest value past the limit the rule states, in its direction.
        family = type(member)
        baseline = {m.key: 2.0 for m in family}
        latest = dict(baseline)
        falls = "latest <" in member.rule
        latest[member.key] = 1.0 if falls else 3.0
        assert not _engine_partial(member, baseline, latest)["passed"]
        latest[member.key] = 3.0 if falls else 1.0
        assert _engine_partial(member, baseline, latest)["passed"]


class TestMetricResult:
    @pytest.mark.parametrize("family", list(ENGINE_DICTS), ids=lambda f: f.__name__)
    def test_keys_are_canonical_in_family_order_with_the_engine_values(self, family):
        engine = ENGINE_DICTS[family]()
        result = zv.MetricResult(family, engine)
        assert list(result) == [m.value for m in family]
        for member in family:
            for spelling in (member.value, member.key, member):
                value = result[spelling]
                assert value == engine[member.key] or (math.isnan(value) and math.isnan(engine[member.key]))
        assert_metrics_equal(result.engine_dict(), engine)
        assert result.engine_dict() is not result.engine_dict()

    @pytest.mark.parametrize("family", list(ENGINE_DICTS), ids=lambda f: f.__name__)
    def test_a_dict_without_every_key_is_refused_and_a_given_dict_is_copied(self, family):
        engine = ENGINE_DICTS[family]()
        first = next(iter(family))
        with pytest.raises(KeyError):
            zv.MetricResult(family, {k: v for k, v in engine.items() if k != first.key})
        result = zv.MetricResult(family, engine)
        engine[first.key] = 12345.0
        assert result[first.value] != 12345.0

    @pytest.mark.parametrize("function", ["data_bias", "logistic"])
    def test_plain_arrays_and_other_inputs_give_the_same_result(self, function):
        # Plain ndarrays with plain labels take the short path; lists, numpy
        # scalar labels and bool columns the full conversion.
        rng = np.random.default_rng(3)
        truth = rng.integers(0, 2, 5000)
        if function == "data_bias":
            facet = rng.integers(18, 90, 5000)
            short = zv.data_bias(facet, truth, facet_value=40, label_value=1)
            full = zv.data_bias(facet.tolist(), truth.astype(bool), facet_value=np.int16(40), label_value=True)
        else:
            prob = rng.random(5000)
            short = zv.logistic(truth, prob)
            full = zv.logistic(truth.tolist(), list(prob), threshold=np.float32(0.5))
        assert short.to_dict().keys() == full.to_dict().keys()
        for name in short:
            assert np.float32(short[name]).tobytes() == np.float32(full[name]).tobytes(), name

    def test_read_only(self):
        result = zv.classification(ONES, PRED)
        with pytest.raises(TypeError):
            result["Accuracy"] = 1.0  # type: ignore[index]
        with pytest.raises(AttributeError):
            result.update({})  # type: ignore[attr-defined]
        with pytest.raises(KeyError):
            result["LogLoss"]
        assert "LogLoss" not in result and 3 not in result and "F1Score" in result

    def test_engine_dict_feeds_the_engine_checks(self):
        result = zv.data_bias(FACET, ONES, facet_value=1, label_value=1)
        assert json.loads(raw.data_bias_runtime_check(result.engine_dict(), result.engine_dict())) == {"passed": True}
