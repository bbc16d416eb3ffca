"""check(): every verdict is the engine's, whatever the spelling of the inputs."""
import json
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _zentrova as raw
import zentrova as zv

MODEL_TYPES = {"classification": "BinaryClassification", "logistic": "LogisticRegression", "regression": "LinearRegression"}

values = st.one_of(
    st.floats(-3, 3, width=32),
    st.sampled_from([0.0, -0.0, 1.0, math.nan, math.inf, -math.inf, 1e-30]),
)


def engine_report(family, baseline, latest, names, threshold):
    """The engine's own check, on engine-keyed dicts; names None for the full check."""
    if family in ("data_bias", "model_bias"):
        if names is None:
            text = getattr(raw, f"{family}_runtime_check")(baseline, latest, threshold)
        else:
            text = getattr(raw, f"{family}_partial_check")(baseline, latest, names, threshold)
    elif names is None:
        text = raw.model_performance_runtime_entry_full(MODEL_TYPES[family], baseline, latest, threshold)
    else:
        text = raw.model_performance_runtime_entry_partial(MODEL_TYPES[family], baseline, latest, names, threshold)
    return json.loads(text)


@st.composite
def check_cases(draw):
    family_name = draw(st.sampled_from(sorted(zv.FAMILIES)))
    family = zv.FAMILIES[family_name]
    members = list(family)
    baseline = {m: draw(values) for m in members}
    latest = {m: draw(values) for m in members}
    selection = draw(st.none() | st.lists(st.sampled_from(members), max_size=len(members) + 2))
    threshold = draw(st.floats(-1, 2, width=32))
    spelling = draw(st.lists(st.sampled_from(["value", "key", "check_name", "report_key"]), min_size=len(members), max_size=len(members)))
    return family_name, family, baseline, latest, selection, threshold, spelling


def _spelled(values_by_member, spelling):
    return {getattr(m, how): v for (m, v), how in zip(values_by_member.items(), spelling)}


class TestVerdicts:
    @settings(max_examples=300, deadline=None)
    @given(case=check_cases())
    def test_rows_follow_the_engine_report(self, case):
        family_name, family, baseline, latest, selection, threshold, spelling = case
        names = None if selection is None else [m.check_name for m in selection]
        expected = engine_report(
            family_name,
            {m.key: v for m, v in baseline.items()},
            {m.key: v for m, v in latest.items()},
            names,
            threshold,
        )
        failures = expected.get("failReport", {})

        result = zv.check(
            _spelled(baseline, spelling),
            _spelled(latest, spelling[::-1]),
            family=family_name,
            metrics=None if selection is None else [str(m) for m in selection],
            threshold=threshold,
        )
        compared = list(dict.fromkeys(family if selection is None else selection))
        assert [row.metric for row in result.rows] == [m.value for m in compared]
        assert result.failed == [m.value for m in compared if m.report_key in failures]
        for member, row in zip(compared, result.rows):
            assert row.message == failures.get(member.report_key)
            finite = math.isfinite(row.baseline) and math.isfinite(row.latest)
            assert row.status == ("failed" if row.message else "passed" if finite else "undefined")
            assert row.baseline == float(np.float32(baseline[member])) or math.isnan(row.baseline)
            assert row.rule == member.rule and row.threshold == threshold
        assert result.passed == all(row.status == "passed" for row in result.rows)
        assert result.passed <= expected["passed"]  # "undefined" never turns a failure into a pass
        json.loads(result.to_json(), parse_constant=lambda c: pytest.fail(f"non-strict JSON {c}"))


class TestInputs:
    def test_dicts_stored_from_the_engine_keep_working(self):
        facet, label = np.array([1, 1, 0, 0, 1]), np.array([1, 0, 1, 0, 0])
        stored = raw.data_bias_analyzer(facet, label, 1, 1)
        fresh = zv.data_bias(facet, np.array([1, 1, 0, 0, 0]), facet_value=1, label_value=1)
        result = zv.check(stored, fresh, family="data_bias")
        engine = engine_report("data_bias", stored, fresh.engine_dict(), None, 0.1)
        failed = {zv.DataBiasMetric.parse(k).value for k in engine.get("failReport", {})}
        assert set(result.failed) == failed and failed

    def test_metrics_of_other_families_are_ignored(self):
        logistic = zv.logistic([1, 0, 1, 0], [0.9, 0.2, 0.6, 0.4])
        result = zv.check(logistic, logistic, family="classification")
        assert result.passed and len(result.rows) == 7

    def test_partial_metric_sets_are_enough_for_a_partial_check(self):
        result = zv.check({"LpNorm": 0.5}, {"LpNorm": 1.0}, family="data_bias", metrics=["LpNorm"])
        assert result.failed == ["LpNorm"]
        assert result.rows[0].message == "Exceeded baseline by: 0.5"

    @pytest.mark.parametrize("argument", ["baseline", "latest"])
    def test_a_compared_metric_must_be_present(self, argument):
        full = {m.value: 0.5 for m in zv.RegressionMetric}
        partial = {k: v for k, v in full.items() if k != "MaxError"}
        args = {"baseline": full, "latest": full, argument: partial}
        with pytest.raises(zv.InvalidMetricError, match=f"{argument} lacks MaxError") as caught:
            zv.check(args["baseline"], args["latest"], family="regression")
        assert caught.value.argument == argument

    def test_two_spellings_with_different_values(self):
        baseline = {"TotalVarationDistance": 0.1, "TotalVariationDistance": 0.2}
        with pytest.raises(zv.InvalidMetricError, match="TotalVariationDistance twice"):
            zv.check(baseline, baseline, family="data_bias", metrics=["TotalVariationDistance"])

    @pytest.mark.parametrize(
        "kwargs,error,match",
        [
            ({"family": "bias"}, zv.InvalidMetricError, "family must be one of"),
            ({"family": "classification", "metrics": ["LogLoss"]}, zv.InvalidMetricError, "not a ClassificationMetric"),
            ({"family": "classification", "metrics": "Accuracy"}, zv.InvalidMetricError, "not a single str"),
            ({"family": "classification", "threshold": math.nan}, zv.InvalidInputError, "threshold must be finite"),
            ({"family": "classification", "threshold": "0.1"}, zv.InvalidInputError, "threshold must be a real"),
        ],
    )
    def test_refusals(self, kwargs, error, match):
        metrics = {m.value: 0.5 for m in zv.LogisticMetric}
        with pytest.raises(error, match=match):
            zv.check(metrics, metrics, **kwargs)

    @pytest.mark.parametrize("bad", ["x", None, True])
    def test_values_must_be_real_numbers(self, bad):
        metrics = {m.value: 0.5 for m in zv.RegressionMetric}
        with pytest.raises(zv.InvalidInputError, match="latest\\['MaxError'\\] must be a real number"):
            zv.check(metrics, dict(metrics, MaxError=bad), family="regression")


class TestResultObject:
    @pytest.fixture
    def result(self):
        baseline = {m.value: 0.8 for m in zv.ClassificationMetric}
        latest = dict(baseline, Accuracy=0.5, F1Score=math.nan)
        return zv.check(baseline, latest, family="classification", metrics=["Accuracy", "F1Score", "RecallPositive"])

    def test_statuses_and_verdict(self, result):
        assert [row.status for row in result.rows] == ["failed", "undefined", "passed"]
        assert result.failed == ["Accuracy"] and result.undefined == ["F1Score"]
        assert not result.passed and not result

    def test_nan_alone_makes_the_check_not_passed(self):
        baseline = {m.value: 0.8 for m in zv.ClassificationMetric}
        result = zv.check(baseline, dict(baseline, F1Score=math.nan), family="classification")
        assert result.failed == [] and not result.passed
        assert json.loads(result.engine_report) == {"passed": True}

    def test_to_dict_and_json(self, result):
        data = result.to_dict()
        assert data["passed"] is False and data["failed"] == ["Accuracy"]
        assert [row["metric"] for row in data["rows"]] == ["Accuracy", "F1Score", "RecallPositive"]
        assert math.isnan(data["rows"][1]["latest"])
        parsed = json.loads(result.to_json())
        assert parsed["rows"][1]["latest"] is None
        assert parsed["rows"][0]["message"] == result.rows[0].message

    def test_table_text(self, result):
        text = str(result)
        assert text.splitlines()[0] == "classification check FAILED, threshold 0.1"
        for row in result.rows:
            line = next(line for line in text.splitlines() if line.startswith(row.metric))
            assert row.status in line
        assert "Below threshold by" in text

    def test_to_frame(self, result):
        pytest.importorskip("pandas")
        frame = result.to_frame()
        assert list(frame.columns) == list(zv.CheckRow._fields)
        assert list(frame["status"]) == ["failed", "undefined", "passed"]

    def test_empty_selection_passes_with_no_rows(self):
        metrics = {m.value: 0.5 for m in zv.ModelBiasMetric}
        result = zv.check(metrics, metrics, family="model_bias", metrics=[])
        assert result.passed and result.rows == () and json.loads(result.engine_report) == {"passed": True}
