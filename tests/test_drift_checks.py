"""Data-bias and model-bias drift checks, the JSON check report and the message number format."""
import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _zentrova as zt
from _reference import PASSED, fmt32, parse_report

f32 = np.float32
INF, NAN = float("inf"), float("nan")


# (selection name, map key, report key, prefix, compared by magnitude, value message is |L - B|)
DATA = [
    ("ClassImbalance", "ClassImbalance", "ClassImbalance", "Exceeded baseline by: ", True, False),
    ("DifferenceInProportionOfLabels", "DifferenceInProportionOfLabels", "DfferenceInProportionOfLabels",
     "Exceed baseline by: ", True, False),
    ("KlDivergence", "KlDivergence", "KlDivergence", "Execeed baseline by: ", False, False),
    ("JsDivergence", "JsDivergence", "JsDivergance", "Execeed baseline by: ", False, False),
    ("LpNorm", "LpNorm", "LpNorm", "Exceeded baseline by: ", False, False),
    ("TotalVariationDistance", "TotalVarationDistance", "TotalVariationDistance", "Exceed baseline by: ", False, False),
    ("KolmorogvSmirnov", "KolmorogvSmirnov", "KolmorogvSmirnov", "Exceed baseline by: ", False, False),
]
MODEL_NAMES = [
    "DifferenceInPositivePredictedLabels", "DisparateImpact", "AccuracyDifference", "RecallDifference",
    "DifferenceInConditionalAcceptance", "DifferenceInAcceptanceRate", "SpecialityDifference",
    "DifferenceInConditionalRejection", "DifferenceInRejectionRate", "TreatmentEquity",
    "ConditionalDemographicDesparityPredictedLabels", "GeneralizedEntropy",
]
BY_VALUE = {"DisparateImpact", "GeneralizedEntropy"}
MODEL = [(n, n, n, "Exceed baseline by: ", n not in BY_VALUE, True) for n in MODEL_NAMES]
FAMILIES = {
    "data": (DATA, zt.data_bias_runtime_check, zt.data_bias_partial_check, "Invalid DataBias metric passed"),
    "model": (MODEL, zt.model_bias_runtime_check, zt.model_bias_partial_check, "Invalid ModelBias metric passed"),
}


def zeros(family):
    return {m[1]: 0.0 for m in FAMILIES[family][0]}


def expected_report(members, baseline, latest, threshold=0.1):
    k = f32(1.0) + f32(threshold)
    out = {}
    with np.errstate(all="ignore"):
        for _, key, rkey, prefix, magnitude, abs_diff in members:
            L, B = f32(latest[key]), f32(baseline[key])
            if magnitude:
                fails, diff = abs(L) > k * abs(B), abs(abs(L) - abs(B))
            else:
                fails, diff = L > k * B, (abs(L - B) if abs_diff else L - B)
            if fails:
                out[rkey] = prefix + fmt32(diff)
    return out


def run_single(family, key, b, l, threshold=0.1):
    base, late = zeros(family), zeros(family)
    base[key], late[key] = b, l
    return parse_report(FAMILIES[family][1](base, late, threshold))


class TestComparisonRules:
    @pytest.mark.parametrize("family,key,b,l,threshold,expected", [
        ("data", "LpNorm", 0.5, 1.0, 0.1, {"LpNorm": "Exceeded baseline by: 0.5"}),
        ("data", "ClassImbalance", 0.5, -1.0, 0.1, {"ClassImbalance": "Exceeded baseline by: 0.5"}),
        ("data", "DifferenceInProportionOfLabels", -1.0, 3.0, 0.1,
         {"DfferenceInProportionOfLabels": "Exceed baseline by: 2"}),
        ("data", "KlDivergence", 1.0, INF, 0.1, {"KlDivergence": "Execeed baseline by: inf"}),
        ("data", "JsDivergence", 0.25, 0.5, 0.1, {"JsDivergance": "Execeed baseline by: 0.25"}),
        ("data", "TotalVarationDistance", 1.0, 3.0, 0.1, {"TotalVariationDistance": "Exceed baseline by: 2"}),
        ("data", "KolmorogvSmirnov", 0.5, 0.75, 0.1, {"KolmorogvSmirnov": "Exceed baseline by: 0.25"}),
        ("data", "LpNorm", 1.0, 1.5, 0.5, {}),  # exactly k * B: strict test passes
        ("data", "LpNorm", 1.0, float(np.nextafter(f32(1), f32(2))), 0.0,
         {"LpNorm": "Exceeded baseline by: 0.00000011920929"}),
        ("data", "ClassImbalance", -0.2, 0.2, 0.1, {}),  # sign change alone: magnitudes equal
        ("data", "DifferenceInProportionOfLabels", 0.2, -0.2, 0.1, {}),
        ("data", "KlDivergence", -1.0, -1.0, 0.1, {"KlDivergence": "Execeed baseline by: 0"}),
        ("data", "KlDivergence", -1.0, -1.0, 0.0, {}),
        ("data", "ClassImbalance", -1.0, -1.0, 0.1, {}),
        ("data", "LpNorm", 0.0, 1e-45, 0.1, {"LpNorm": "Exceeded baseline by: " + "0." + "0" * 44 + "1"}),
        ("data", "LpNorm", 0.0, -3.0, 0.1, {}),
        ("data", "ClassImbalance", 0.0, -3.0, 0.1, {"ClassImbalance": "Exceeded baseline by: 3"}),
        ("data", "LpNorm", 5.0, 0.25, -1.0, {"LpNorm": "Exceeded baseline by: -4.75"}),
        ("data", "ClassImbalance", 5.0, -0.25, -1.0, {"ClassImbalance": "Exceeded baseline by: 4.75"}),
        ("data", "KlDivergence", INF, 0.0, -2.0, {"KlDivergence": "Execeed baseline by: -inf"}),
        ("data", "ClassImbalance", INF, -INF, -2.0, {"ClassImbalance": "Exceeded baseline by: NaN"}),
        ("data", "LpNorm", NAN, 1.0, 0.1, {}),
        ("data", "LpNorm", 1.0, NAN, 0.1, {}),
        ("model", "DisparateImpact", 1.0, 1.2, 0.1, {"DisparateImpact": "Exceed baseline by: 0.20000005"}),
        ("model", "AccuracyDifference", -0.1, 0.1, 0.1, {}),
        ("model", "AccuracyDifference", -0.1, -0.2, 0.1, {"AccuracyDifference": "Exceed baseline by: 0.1"}),
        ("model", "GeneralizedEntropy", 0.0, -1.0, 0.0, {}),
        ("model", "GeneralizedEntropy", -1.0, -1.0, 0.1, {"GeneralizedEntropy": "Exceed baseline by: 0"}),
        # value-compared model members report |L - B|, never a negative number
        ("model", "DisparateImpact", -1.0, -1.0625, 0.25, {"DisparateImpact": "Exceed baseline by: 0.0625"}),
        ("model", "TreatmentEquity", 0.0, -0.5, 0.1, {"TreatmentEquity": "Exceed baseline by: 0.5"}),
        ("model", "GeneralizedEntropy", 0.0, 0.5, 0.1, {"GeneralizedEntropy": "Exceed baseline by: 0.5"}),
        ("model", "DisparateImpact", NAN, 3.0, 0.1, {}),
        ("model", "RecallDifference", 0.5, NAN, 0.1, {}),
    ])
    def test_single_member(self, family, key, b, l, threshold, expected):
        assert run_single(family, key, b, l, threshold) == expected

    @settings(max_examples=300, deadline=None)
    @given(data=st.data())
    def test_matches_reference(self, data):
        family = data.draw(st.sampled_from(list(FAMILIES)))
        members = FAMILIES[family][0]
        # bounded so that no reported number is an integer beyond 2**25 (TestMessageNumberFormat covers those)
        value = st.one_of(st.floats(-1e7, 1e7, width=32), st.sampled_from([0.0, -0.0, 1.0, -1.0, INF, -INF, NAN]))
        base = {m[1]: data.draw(value) for m in members}
        late = {m[1]: data.draw(value) for m in members}
        threshold = data.draw(st.one_of(st.just(0.1), st.floats(-2.0, 2.0, width=32)))
        assert parse_report(FAMILIES[family][1](base, late, threshold)) == expected_report(
            members, base, late, threshold)
        assert parse_report(FAMILIES[family][1](base, late)) == expected_report(members, base, late)


class TestPartialCheck:
    @pytest.mark.parametrize("family", FAMILIES)
    def test_selects_members_in_any_order_with_duplicates(self, family):
        members, _, partial, _ = FAMILIES[family]
        base = {m[1]: 1.0 for m in members}
        late = {m[1]: 3.0 for m in members}
        chosen = [members[-1], members[2], members[-1]]
        got = parse_report(partial(base, late, tuple(m[0] for m in chosen), 0.1))
        assert got == expected_report(chosen, base, late)
        assert len(got) == 2
        assert partial(base, late, []) == PASSED
        everything = parse_report(partial(base, late, [m[0] for m in members]))
        assert everything == parse_report(FAMILIES[family][1](base, late)) and len(everything) == len(members)

    def test_total_variation_selection_name(self):
        base, late = zeros("data"), zeros("data")
        late["TotalVarationDistance"] = 1.0
        assert parse_report(zt.data_bias_partial_check(base, late, ["TotalVariationDistance"])) == {
            "TotalVariationDistance": "Exceed baseline by: 1"}
        with pytest.raises(ValueError, match="^Invalid DataBias metric passed$"):
            zt.data_bias_partial_check(base, late, ["TotalVarationDistance"])

    @pytest.mark.parametrize("family", FAMILIES)
    @pytest.mark.parametrize("bad", ["lpNorm", " LpNorm", "classimbalance", "SpecificityDifference", ""])
    def test_unknown_name_reported_before_bodies(self, family, bad):
        _, _, partial, message = FAMILIES[family]
        with pytest.raises(ValueError, match=f"^{message}$"):
            partial({}, {}, [FAMILIES[family][0][0][0], bad])


class TestBodyErrors:
    @pytest.mark.parametrize("family,key", [(f, m[1]) for f in FAMILIES for m in FAMILIES[f][0]])
    def test_missing_key(self, family, key):
        _, full, partial, _ = FAMILIES[family]
        incomplete = zeros(family)
        del incomplete[key]
        for call in (lambda b, l: full(b, l), lambda b, l: partial(b, l, [])):
            with pytest.raises(ValueError, match="^Invalid metrics body passed$"):
                call(incomplete, incomplete)
            with pytest.raises(ValueError, match="^Invalid baseline body passed$"):
                call(incomplete, zeros(family))

    def test_report_keys_are_not_body_keys(self):
        base = zeros("data")
        base["TotalVariationDistance"] = base.pop("TotalVarationDistance")
        with pytest.raises(ValueError, match="^Invalid baseline body passed$"):
            zt.data_bias_runtime_check(base, zeros("data"))

    @pytest.mark.parametrize("family", FAMILIES)
    def test_extra_keys_ignored(self, family):
        base, late = zeros(family), zeros(family)
        base["Unrelated"], late["Unrelated"] = 0.0, 1e30
        assert FAMILIES[family][1](base, late) == PASSED


class TestRoundTrip:
    def test_data_bias_analyzer_result(self):
        rng = np.random.default_rng(7)
        facet, truth = rng.integers(0, 2, 500), rng.integers(0, 2, 500)
        metrics = zt.data_bias_analyzer(facet, truth, 1, 1)
        assert zt.data_bias_runtime_check(metrics, metrics) == PASSED
        names = [m[0] for m in DATA]
        assert zt.data_bias_partial_check(dict(metrics), dict(metrics), names) == PASSED

    def test_model_bias_analyzer_result(self):
        rng = np.random.default_rng(8)
        facet, truth, pred = (rng.integers(0, 2, 500) for _ in range(3))
        metrics = zt.model_bias_analyzer(facet, truth, pred, 1, 1, 1)
        assert metrics["GeneralizedEntropy"] >= 0 and metrics["DisparateImpact"] >= 0
        assert zt.model_bias_runtime_check(metrics, metrics) == PASSED
        assert zt.model_bias_partial_check(metrics, metrics, MODEL_NAMES) == PASSED


class TestMessageNumberFormat:
    @pytest.mark.parametrize("value,text", [
        (0.5, "0.5"), (2.0, "2"), (100.0, "100"), (0.1, "0.1"), (1e-7, "0.0000001"),
        (16777216.0, "16777216"), (1e30, "1" + "0" * 30), (3.4028234663852886e38, "34028235" + "0" * 31),
        (float(f32(1.2) - f32(1.0)), "0.20000005"), (INF, "inf"),
    ])
    def test_by_hand(self, value, text):
        base, late = zeros("model"), zeros("model")
        late["DisparateImpact"] = value
        assert parse_report(zt.model_bias_runtime_check(base, late)) == {
            "DisparateImpact": "Exceed baseline by: " + text}

    @settings(max_examples=300, deadline=None)
    @given(st.floats(width=32, min_value=0.0, exclude_min=True))
    def test_positive_value_written_exactly(self, value):
        base, late = zeros("model"), zeros("model")
        late["DisparateImpact"] = value
        assert parse_report(zt.model_bias_runtime_check(base, late)) == {
            "DisparateImpact": "Exceed baseline by: " + fmt32(value)}

    @settings(max_examples=300, deadline=None)
    @given(st.floats(width=32, min_value=2.0**-100, allow_infinity=False))
    def test_negative_difference(self, value):
        # k = 0, so a tiny positive latest fails and reports the signed difference L - B
        got = run_single("data", "LpNorm", value, 1e-45, -1.0)
        expected = fmt32(f32(1e-45) - f32(value))
        assert expected.startswith("-") and got == {"LpNorm": "Exceeded baseline by: " + expected}
