"""data_bias_analyzer: argument checks, error precedence, segmentation and the seven metrics."""
import itertools
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _reference import FLOAT32_EXACT_COUNTS, assert_metrics_equal, bits, encode, fcount, logf
from _reference import error_text as type_error_text
from _zentrova import data_bias_analyzer

F = np.float32
def pre_ref(facet_gt, rest_gt):
    """The seven pre-training metrics of two labelled groups, in float32 arithmetic."""
    fg, rg = np.asarray(facet_gt, np.int64), np.asarray(rest_gt, np.int64)
    one, half = F(1.0), F(0.5)
    with np.errstate(all="ignore"):
        nf, nr = F(len(fg)), F(len(rg))
        qf, qr = F(int(fg.sum())) / nf, F(int(rg.sum())) / nr  # exact count, rounded once
        m = (qf + qr) * half
        u = one - m
        js_f = qf * logf(qf / m) + (one - qf) * logf((one - qf) / u)
        js_r = qr * logf(qr / m) + (one - qr) * logf((one - qr) / u)
        d1, d0 = qf - qr, (one - qf) - (one - qr)
        k0 = abs(fcount(fg == 0) / nf - fcount(rg == 0) / nr)
        k1 = abs(fcount(fg == 1) / nf - fcount(rg == 1) / nr)
        return {
            "ClassImbalance": abs(nf - nr) / F(len(fg) + len(rg)),
            "DifferenceInProportionOfLabels": qf - qr,
            "KlDivergence": qf * logf(qf / qr) + (one - qf) * logf((one - qf) / (one - qr)),
            "JsDivergence": (js_f + js_r) * half,
            "LpNorm": np.sqrt(d1 * d1 + d0 * d0),
            "TotalVarationDistance": abs(qf - qr),
            "KolmorogvSmirnov": k1 if k0 > k1 else k0,
        }


def split(facet, truth):
    rows = list(zip(facet, truth))
    return [g for f, g in rows if f == 1], [g for f, g in rows if f != 1]


def analyze(facet, truth):
    return data_bias_analyzer(np.array(facet, np.int64), np.array(truth, np.int64), 1, 1)


def error_text(*args):
    return type_error_text(data_bias_analyzer, *args)


STATES = {  # column, label, error it produces when labelled
    "ok": (np.array([0, 1, 1, 0]), 1, None),
    "float": (np.array([0.0, 1.0, 1.0, 0.0]), "1", "float"),
    "string": (np.array(["0", "1", "1", "0"]), 1, "string"),
    "read": (np.array([False, True, True, False]), None, "TypeError: 'bool' object cannot be converted to 'PyString'"),
    "flat": (np.array([1, 1, 1, 1]), 1, None),
}


class TestArguments:
    @pytest.mark.parametrize("lists, name", [((1, 0), "feature_array"), ((0, 1), "ground_truth_array"),
                                             ((1, 1), "feature_array")])
    def test_list_refused_before_labelling(self, lists, name):
        facet, truth = ([0, 1] if is_list else np.array([0, 1]) for is_list in lists)
        msg = error_text(facet, truth, None, None)
        assert msg == f"argument '{name}': 'list' object cannot be converted to 'PyUntypedArray'"


class TestErrorPrecedence:
    @pytest.mark.parametrize("truth_state, facet_state", list(itertools.product(STATES, STATES)))
    def test_truth_then_facet_then_split(self, truth_state, facet_state):
        (facet, lf, ef), (truth, lt, et) = STATES[facet_state], STATES[truth_state]
        expected = et or ef or ("No deviation" if facet_state == "flat" else None)
        if expected is None:
            assert set(data_bias_analyzer(facet, truth, lf, lt)) == set(pre_ref([1], [1]))
        else:
            assert error_text(facet, truth, lf, lt) == expected

    def test_iteration_error_before_label_error(self):
        msg = error_text(np.array([0, 1]), np.array(3), 1, "not a number")
        assert msg.startswith("TypeError: ") and msg != "float"


class TestSegmentation:
    @pytest.mark.parametrize("facet, truth", [
        ([0, 1, 1, 0], [1, 0, 1, 1]), ([1, 0, 1], [1, 1]), ([1, 0], [1, 0, 0, 0, 0]),
        ([1, 0, 2, 0], [0, 1, 1]),  # three distinct values: the facet is value >= 1
        ([0, 0, 1, 1, 0], [1, 1, 0, 1, 1]),
    ])
    def test_groups_follow_labelled_facet(self, facet, truth):
        assert_metrics_equal(analyze(facet, truth), pre_ref(*split([int(v >= 1) for v in facet], truth)))

    def test_worked_groups(self):
        got = analyze([0, 1, 1, 0], [1, 0, 1, 1])  # facet group [0, 1], rest group [1, 1]
        assert got["DifferenceInProportionOfLabels"] == -0.5 and got["ClassImbalance"] == 0.0
        assert type(got) is dict and set(got) == {
            "ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence", "LpNorm",
            "TotalVarationDistance", "KolmorogvSmirnov"}

    @pytest.mark.parametrize("facet, truth", [([1, 1, 1], [0, 1, 0]), ([0, 0, 0], [0, 1, 0]), ([], []),
                                              ([1, 0], []), ([], [1, 0]), ([1, 0, 0], [1])])
    def test_empty_group(self, facet, truth):
        assert error_text(np.array(facet, np.int64), np.array(truth, np.int64), 1, 1) == "No deviation"


class TestWorkedExamples:
    def test_three_quarters_against_one_quarter(self):
        got = analyze([1] * 4 + [0] * 4, [1, 1, 1, 0, 1, 0, 0, 0])
        assert [got[k] for k in ("DifferenceInProportionOfLabels", "TotalVarationDistance", "KolmorogvSmirnov",
                                 "ClassImbalance")] == [0.5, 0.5, 0.5, 0.0]
        assert bits(got["LpNorm"]) == bits(np.sqrt(F(0.5)))
        assert got["KlDivergence"] == pytest.approx(0.5 * math.log(3), rel=1e-6)
        # m = 0.5 and both group terms are equal, so the divergence is one of them
        assert got["JsDivergence"] == pytest.approx(0.75 * math.log(1.5) + 0.25 * math.log(0.5), rel=1e-6)

    @pytest.mark.parametrize("facet_gt, rest_gt", [([1, 0, 0], [1, 1, 0, 0, 0, 0]), ([1, 0], [1, 1, 0, 0])])
    def test_equal_proportions(self, facet_gt, rest_gt):
        got = analyze([1] * len(facet_gt) + [0] * len(rest_gt), facet_gt + rest_gt)
        assert all(bits(got[k]) == 0 for k in set(got) - {"ClassImbalance"})
        assert bits(got["ClassImbalance"]) == bits(F(len(rest_gt) - len(facet_gt)) / F(len(facet_gt + rest_gt)))

    @pytest.mark.parametrize("facet", [[1, 0, 0, 0], [0, 1, 1, 1]])
    def test_class_imbalance_one_against_three(self, facet):
        assert analyze(facet, [1, 0, 1, 0])["ClassImbalance"] == 0.5

    @pytest.mark.parametrize("facet_gt, rest_gt, kl", [([0, 0], [1, 0], math.nan), ([1, 1], [1, 0], math.nan),
                                                       ([1, 0], [0, 0], math.inf), ([1, 0], [1, 1], math.inf)])
    def test_pure_groups(self, facet_gt, rest_gt, kl):
        got = analyze([1, 1, 0, 0], facet_gt + rest_gt)
        assert math.isnan(got["KlDivergence"]) if math.isnan(kl) else got["KlDivergence"] == kl
        assert math.isnan(got["JsDivergence"])
        assert all(math.isfinite(got[k]) for k in ("DifferenceInProportionOfLabels", "LpNorm",
                                                   "TotalVarationDistance", "KolmorogvSmirnov"))


KINDS = st.sampled_from([np.int16, np.int32, np.int64, np.float32, np.float64, "U", object])


class TestRandomized:
    @settings(max_examples=300, deadline=None)
    @given(st.lists(st.tuples(st.integers(0, 1), st.integers(0, 1)), max_size=40), KINDS, KINDS)
    def test_matches_reference(self, rows, facet_kind, truth_kind):
        (facet, lf), (truth, lt) = encode([r[0] for r in rows], facet_kind), encode([r[1] for r in rows], truth_kind)
        groups = split(*zip(*rows)) if rows else ([], [])
        if not all(groups):
            assert error_text(facet, truth, lf, lt) == "No deviation"
        else:
            assert_metrics_equal(data_bias_analyzer(facet, truth, lf, lt), pre_ref(*groups))

    @pytest.mark.parametrize("seed", range(6))
    def test_large_groups(self, seed):
        rng = np.random.default_rng(seed)
        n = int(rng.integers(1000, 60000))
        facet = (rng.random(n) < rng.uniform(0.05, 0.95)).astype(np.int64)
        truth = (rng.random(n) < np.where(facet == 1, rng.random(), rng.random())).astype(np.int64)
        assert_metrics_equal(data_bias_analyzer(facet, truth, 1, 1), pre_ref(truth[facet == 1], truth[facet == 0]))


def test_counts_beyond_float32_precision():
    # Every count is exact and rounded once, the zero/one counts included.
    rng = np.random.default_rng(11)
    n = FLOAT32_EXACT_COUNTS + 6001
    facet, truth = np.zeros(n, np.int16), np.ones(n, np.int16)
    facet_rows = rng.choice(n, 2000, replace=False)
    facet[facet_rows] = 1
    truth[facet_rows[:700]] = 0
    truth[rng.choice(n, 1000, replace=False)] = 0
    rest = truth[facet == 0]
    assert np.sum(rest == 1) > FLOAT32_EXACT_COUNTS and np.sum(rest == 1) % 2 == 1
    assert_metrics_equal(data_bias_analyzer(facet, truth, 1, 1), pre_ref(truth[facet == 1], rest))
