"""Performance drift checks of the three model families."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _zentrova as zt
from _reference import PASSED, fmt32, parse_report

f32 = np.float32
NAN, INF = float("nan"), float("inf")
BIN = ["BalancedAccuracy", "PrecisionPositive", "PrecisionNegative", "RecallPositive", "RecallNegative",
       "Accuracy", "F1Score"]
LINEAR = ["RootMeanSquaredError", "MeanSquaredError", "MeanAbsoluteError", "RSquared", "MaxError",
          "MeanSquaredLogError", "RootMeanSquaredLogError", "MeanAbsolutePercentageError"]
FAMILY = {"BinaryClassification": BIN, "LogisticRegression": BIN + ["LogLoss"], "LinearRegression": LINEAR}
BASELINE_ERROR = "^Invalid baseline report: Invalid regression report$"
LATEST_ERROR = "^Invalid latest report: Invalid regression report$"
LOGLOSS_ERROR = "^Invalid metric name passed: LogLoss is not valid for Binary Classification$"


def filled(model_type, value=0.5, **changes):
    out = {name: value for name in FAMILY[model_type]}
    out.update(changes)
    return out


def expected_report(model_type, names, baseline, latest, threshold=0.1):
    t, out = f32(threshold), {}
    with np.errstate(all="ignore"):
        for name in names:
            b, l = f32(baseline[name]), f32(latest[name])
            if model_type == "LinearRegression" or name == "LogLoss":  # errors and losses fail by rising
                if l > (f32(1) + t) * b:
                    out[name] = "Exceeded threshold by " + fmt32(l - b)
            elif l < (f32(1) - t) * b:
                out[name] = "Below threshold by " + fmt32(b - l)
    return out


class TestComparison:
    @pytest.mark.parametrize("model_type,name,b,l,threshold,expected", [
        ("BinaryClassification", "Accuracy", 0.9, 0.7, 0.1, "Below threshold by 0.19999999"),
        ("LinearRegression", "MeanSquaredError", 2.0, 2.5, 0.1, "Exceeded threshold by 0.5"),
        ("BinaryClassification", "Accuracy", 0.5, 0.45, 0.1, None),  # the limit rounds to 0.45
        # LogLoss is a loss: a worse model's (higher) loss fails, a better model's passes
        ("LogisticRegression", "LogLoss", 0.5, 0.25, 0.1, None),
        ("LogisticRegression", "LogLoss", 0.5, 5.0, 0.1, "Exceeded threshold by 4.5"),
        ("LogisticRegression", "LogLoss", 0.5, 0.55, 0.1, None),  # exactly at the limit
        ("LogisticRegression", "LogLoss", 0.5, 0.5500001, 0.1, "Exceeded threshold by 0.05000007"),
        ("BinaryClassification", "F1Score", 0.5, 1e9, 0.1, None),
        ("LinearRegression", "MaxError", 10.0, -1e9, 0.1, None),
        ("LinearRegression", "RSquared", 1.0, 1.5, 0.5, None),  # exactly at the limit
        ("LinearRegression", "RSquared", 1.0, 1.5000001, 0.5, "Exceeded threshold by 0.5000001"),
        ("LinearRegression", "MeanAbsoluteError", 0.0, 1e-7, 0.1, "Exceeded threshold by 0.0000001"),
        ("BinaryClassification", "PrecisionPositive", 1.0, 0.0, 2.0, None),  # limit -1
        ("BinaryClassification", "PrecisionPositive", 4.0, 2.0, -1.0, "Below threshold by 2"),
        ("BinaryClassification", "Accuracy", NAN, 0.0, 0.1, None),
        ("LinearRegression", "MaxError", 1.0, NAN, 0.1, None),
        ("LinearRegression", "MaxError", 1.0, float("inf"), 0.1, "Exceeded threshold by inf"),
    ])
    def test_single_metric(self, model_type, name, b, l, threshold, expected):
        got = parse_report(zt.model_performance_runtime_entry_full(
            model_type, filled(model_type, 0.0, **{name: b}), filled(model_type, 0.0, **{name: l}), threshold))
        assert got == ({} if expected is None else {name: expected})

    def test_binary_full_check_ignores_logloss(self):
        base = filled("BinaryClassification", LogLoss=0.5)
        assert zt.model_performance_runtime_entry_full("BinaryClassification", base, dict(base, LogLoss=0.0)) == PASSED
        assert zt.model_performance_runtime_entry_full(
            "BinaryClassification", filled("BinaryClassification"), filled("BinaryClassification")) == PASSED

    @settings(max_examples=300, deadline=None)
    @given(data=st.data())
    def test_matches_reference(self, data):
        model_type = data.draw(st.sampled_from(list(FAMILY)))
        value = st.one_of(st.floats(-1e7, 1e7, width=32), st.sampled_from([0.0, 1.0, 0.5, INF, -INF, NAN]))
        base = {n: data.draw(value) for n in FAMILY[model_type]}
        late = {n: data.draw(value) for n in FAMILY[model_type]}
        threshold = data.draw(st.floats(-2.0, 2.0, width=32))
        subset = data.draw(st.lists(st.sampled_from(FAMILY[model_type]), max_size=10))
        full = zt.model_performance_runtime_entry_full(model_type, base, late, threshold)
        assert parse_report(full) == expected_report(model_type, FAMILY[model_type], base, late, threshold)
        partial = zt.model_performance_runtime_entry_partial(model_type, base, late, subset, threshold)
        assert parse_report(partial) == expected_report(model_type, subset, base, late, threshold)


class TestPartialCheck:
    def test_empty_and_repeated_selection(self):
        base, late = filled("LinearRegression"), filled("LinearRegression", RSquared=5.0, MaxError=6.0)
        check = zt.model_performance_runtime_entry_partial
        assert check("LinearRegression", base, late, []) == PASSED
        assert parse_report(check("LinearRegression", base, late, ("MaxError", "RSquared", "MaxError"))) == {
            "MaxError": "Exceeded threshold by 5.5", "RSquared": "Exceeded threshold by 4.5"}
        with pytest.raises(ValueError, match=BASELINE_ERROR):
            check("LinearRegression", {}, late, [])

    @pytest.mark.parametrize("names", [["LogLoss"], ["Accuracy", "LogLoss"], ["LogLoss", "Accuracy", "F1Score"]])
    def test_logloss_refused_for_binary_even_after_failures(self, names):
        base, late = filled("BinaryClassification"), filled("BinaryClassification", 0.0)
        with pytest.raises(ValueError, match=LOGLOSS_ERROR):
            zt.model_performance_runtime_entry_partial("BinaryClassification", base, late, names)
        with pytest.raises(ValueError, match=BASELINE_ERROR):
            zt.model_performance_runtime_entry_partial("BinaryClassification", {}, late, names)


class TestErrors:
    @pytest.mark.parametrize("model_type", ["binaryclassification", "Linearregression", "", "LogisticRegression "])
    def test_invalid_model_type_first(self, model_type):
        with pytest.raises(ValueError, match="^Invalid model type$"):
            zt.model_performance_runtime_entry_full(model_type, {}, {})
        with pytest.raises(ValueError, match="^Invalid model type$"):
            zt.model_performance_runtime_entry_partial(model_type, {}, {}, ["NoSuchMetric"])

    @pytest.mark.parametrize("model_type,names", [
        ("LogisticRegression", ["RSquared"]), ("BinaryClassification", ["Accuracy", "MaxError"]),
        ("LinearRegression", ["LogLoss"]), ("LinearRegression", ["maxError"]),
        ("LogisticRegression", ["Accuracy "]),
    ])
    def test_invalid_metric_name_before_reports(self, model_type, names):
        with pytest.raises(ValueError, match="^Invalid metric name passed$"):
            zt.model_performance_runtime_entry_partial(model_type, {}, {}, names)

    @pytest.mark.parametrize("model_type,key", [(m, k) for m in FAMILY for k in FAMILY[m]])
    def test_missing_key(self, model_type, key):
        incomplete = filled(model_type)
        del incomplete[key]
        full, partial = zt.model_performance_runtime_entry_full, zt.model_performance_runtime_entry_partial
        with pytest.raises(ValueError, match=BASELINE_ERROR):
            full(model_type, incomplete, incomplete)
        with pytest.raises(ValueError, match=LATEST_ERROR):
            full(model_type, filled(model_type), incomplete)
        with pytest.raises(ValueError, match=LATEST_ERROR):
            partial(model_type, filled(model_type), incomplete, [])

    def test_extra_keys_accepted(self):
        base = filled("LinearRegression", Accuracy=1.0, LogLoss=3.0)
        assert zt.model_performance_runtime_entry_full("LinearRegression", base, filled("LinearRegression")) == PASSED


class TestRoundTrip:
    def test_performance_dicts_pass_against_themselves(self):
        rng = np.random.default_rng(3)
        truth, prob = rng.integers(0, 2, 300), rng.random(300)
        results = {
            "BinaryClassification": zt.model_performance_classification((prob > 0.5).astype(np.int64), truth),
            "LogisticRegression": zt.model_performance_logisitic_regression(prob, truth),
            "LinearRegression": zt.model_performance_regression(prob + 0.5, prob + rng.random(300)),
        }
        for model_type, metrics in results.items():
            assert zt.model_performance_runtime_entry_full(model_type, metrics, metrics) == PASSED
            assert zt.model_performance_runtime_entry_partial(
                model_type, metrics, metrics, FAMILY[model_type]) == PASSED
