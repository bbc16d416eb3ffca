"""data_bias_analyzer: argument order, error precedence, segmentation and the seven metrics."""
import itertools
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _reference import assert_metrics_equal, bits, logf
from _zentrova import data_bias_analyzer

F = np.float32
SATURATION = 2**24


def fcount(count):
    """A float32 counter incremented by 1.0 `count` times stops at 2**24."""
    return F(min(int(count), SATURATION))


def pre_ref(facet_gt, rest_gt):
    """The seven pre-training metrics of two labelled groups, in float32 arithmetic."""
    groups = [np.asarray(facet_gt, np.int64), np.asarray(rest_gt, np.int64)]
    one, half = F(1.0), F(0.5)
    with np.errstate(all="ignore"):
        (nf, nr) = (F(len(g)) for g in groups)
        qf, qr = (F(int(g.sum())) / F(len(g)) for g in groups)
        b, c = one - qf, one - qr
        m = (qf + qr) * half
        u = one - m
        big_a = qf * logf(qf / m) + (one - qf) * logf((one - qf) / u)
        big_b = qr * logf(qr / m) + (one - qr) * logf((one - qr) / u)
        d1, d0 = qf - qr, (one - qf) - (one - qr)
        (p0f, p1f), (p0r, p1r) = ((fcount(np.sum(g == 0)) / F(len(g)), fcount(np.sum(g == 1)) / F(len(g)))
                                  for g in groups)
        k0, k1 = abs(p0f - p0r), abs(p1f - p1r)
        return {
            "ClassImbalance": abs(nf - nr) / F(len(groups[0]) + len(groups[1])),
            "DifferenceInProportionOfLabels": qf - qr,
            "KlDivergence": qf * logf(qf / qr) + b * logf(b / c),
            "JsDivergence": (big_a + big_b) * half,
            "LpNorm": np.sqrt(d1 * d1 + d0 * d0),
            "TotalVarationDistance": abs(qf - qr),
            "KolmorogvSmirnov": k1 if k0 > k1 else k0,
        }


def split(facet, truth):
    n = min(len(facet), len(truth))
    return ([g for f, g in zip(facet[:n], truth[:n]) if f == 1],
            [g for f, g in zip(facet[:n], truth[:n]) if f != 1])


def analyze(facet, truth):
    return data_bias_analyzer(np.array(facet, np.int64), np.array(truth, np.int64), 1, 1)


def error_text(*args, **kwargs):
    with pytest.raises(TypeError) as info:
        data_bias_analyzer(*args, **kwargs)
    assert info.type is TypeError
    return str(info.value)


BOOL_ERROR = "TypeError: 'bool' object cannot be converted to 'PyString'"
STATES = {  # column, label, error it produces when labelled
    "ok": (np.array([0, 1, 1, 0]), 1, None),
    "float": (np.array([0.0, 1.0, 1.0, 0.0]), "1", "float"),
    "string": (np.array(["0", "1", "1", "0"]), 1, "string"),
    "read": (np.array([False, True, True, False]), None, BOOL_ERROR),
    "flat": (np.array([1, 1, 1, 1]), 1, None),
}


class TestArguments:
    @pytest.mark.parametrize("facet_is_list, truth_is_list", [(1, 0), (0, 1), (1, 1)])
    def test_list_refused_before_labelling(self, facet_is_list, truth_is_list):
        facet = [0, 1] if facet_is_list else np.array([0, 1])
        truth = [0, 1] if truth_is_list else np.array([0, 1])
        name = "feature_array" if facet_is_list else "ground_truth_array"
        msg = error_text(facet, truth, None, None)
        assert msg == f"argument '{name}': 'list' object cannot be converted to 'PyUntypedArray'"

    def test_keywords(self):
        got = data_bias_analyzer(ground_truth_label_or_threshold=1, feature_label_or_threshold=1,
                                 ground_truth_array=np.array([1, 0, 1, 1]), feature_array=np.array([0, 1, 1, 0]))
        assert_metrics_equal(got, pre_ref([0, 1], [1, 1]))


class TestErrorPrecedence:
    @pytest.mark.parametrize("truth_state, facet_state", itertools.product(STATES, STATES))
    def test_truth_then_facet_then_split(self, truth_state, facet_state):
        facet, facet_label, facet_err = STATES[facet_state]
        truth, truth_label, truth_err = STATES[truth_state]
        expected = truth_err or facet_err or ("No deviation" if facet_state == "flat" else None)
        if expected is None:
            assert set(data_bias_analyzer(facet, truth, facet_label, truth_label)) == set(pre_ref([1], [1]))
        else:
            assert error_text(facet, truth, facet_label, truth_label) == expected

    def test_iteration_error_before_label_error(self):
        msg = error_text(np.array([0, 1]), np.array(3), 1, "not a number")
        assert msg.startswith("TypeError: ") and msg != "float"


class TestSegmentation:
    @pytest.mark.parametrize("facet, truth", [
        ([0, 1, 1, 0], [1, 0, 1, 1]),
        ([1, 0, 1], [1, 1]),
        ([1, 0], [1, 0, 0, 0, 0]),
        ([1, 0, 2, 0], [0, 1, 1]),  # three distinct values: facet is value >= 1
        ([0, 0, 1, 1, 0], [1, 1, 0, 1, 1]),
    ])
    def test_groups_follow_labelled_facet(self, facet, truth):
        labelled = [int(v >= 1) for v in facet]
        assert_metrics_equal(analyze(facet, truth), pre_ref(*split(labelled, truth)))

    def test_worked_groups(self):
        # facet [0, 1, 1, 0], truth [1, 0, 1, 1]: facet group [0, 1], rest group [1, 1]
        got = analyze([0, 1, 1, 0], [1, 0, 1, 1])
        assert got["DifferenceInProportionOfLabels"] == -0.5 and got["ClassImbalance"] == 0.0
        assert set(got) == {"ClassImbalance", "DifferenceInProportionOfLabels", "KlDivergence", "JsDivergence",
                            "LpNorm", "TotalVarationDistance", "KolmorogvSmirnov"}
        assert type(got) is dict

    @pytest.mark.parametrize("facet, truth", [
        ([1, 1, 1], [0, 1, 0]), ([0, 0, 0], [0, 1, 0]), ([], []), ([1, 0], []), ([], [1, 0]), ([1, 0, 0], [1]),
    ])
    def test_empty_group(self, facet, truth):
        assert error_text(np.array(facet, np.int64), np.array(truth, np.int64), 1, 1) == "No deviation"


class TestWorkedExamples:
    def test_three_quarters_against_one_quarter(self):
        got = analyze([1] * 4 + [0] * 4, [1, 1, 1, 0, 1, 0, 0, 0])
        for key in ("DifferenceInProportionOfLabels", "TotalVarationDistance", "KolmorogvSmirnov"):
            assert got[key] == 0.5
        assert got["ClassImbalance"] == 0.0
        assert bits(got["LpNorm"]) == bits(np.sqrt(F(0.5)))
        assert got["KlDivergence"] == pytest.approx(0.5 * math.log(3), rel=1e-6)
        # m = 0.5 and the two group terms are equal, so the divergence is one of them
        expected_js = 0.75 * math.log(1.5) + 0.25 * math.log(0.5)
        assert got["JsDivergence"] == pytest.approx(expected_js, rel=1e-6)
        assert got["JsDivergence"] == pytest.approx(0.13081, abs=1e-5)

    @pytest.mark.parametrize("facet_gt, rest_gt", [([1, 0, 0], [1, 1, 0, 0, 0, 0]), ([1, 0], [1, 1, 0, 0])])
    def test_equal_proportions(self, facet_gt, rest_gt):
        got = analyze([1] * len(facet_gt) + [0] * len(rest_gt), facet_gt + rest_gt)
        for key in set(got) - {"ClassImbalance"}:
            assert bits(got[key]) == 0, key
        n_f, n_r = len(facet_gt), len(rest_gt)
        assert bits(got["ClassImbalance"]) == bits(F(abs(n_f - n_r)) / F(n_f + n_r))

    @pytest.mark.parametrize("facet", [[1, 0, 0, 0], [0, 1, 1, 1]])
    def test_class_imbalance_is_symmetric(self, facet):
        assert analyze(facet, [1, 0, 1, 0])["ClassImbalance"] == 0.5

    @pytest.mark.parametrize("facet_gt, rest_gt, kl", [
        ([0, 0], [1, 0], "nan"), ([1, 1], [1, 0], "nan"), ([1, 0], [0, 0], "inf"), ([1, 0], [1, 1], "inf"),
    ])
    def test_pure_groups(self, facet_gt, rest_gt, kl):
        got = analyze([1, 1, 0, 0], facet_gt + rest_gt)
        assert math.isnan(got["KlDivergence"]) if kl == "nan" else got["KlDivergence"] == math.inf
        assert math.isnan(got["JsDivergence"])
        assert all(math.isfinite(got[k]) for k in ("DifferenceInProportionOfLabels", "LpNorm",
                                                   "TotalVarationDistance", "KolmorogvSmirnov"))


def encode(labels, kind):
    """A column of `kind` whose labelling with the returned label gives back `labels`."""
    labels = np.asarray(labels, np.int64)
    if kind in ("U", object):
        return np.where(labels == 1, "yes", "no").astype(kind), "yes"
    return labels.astype(kind), 1


KINDS = [np.int16, np.int32, np.int64, np.float32, np.float64, "U", object]
BITS = st.integers(0, 1)


class TestRandomized:
    @settings(max_examples=300, deadline=None)
    @given(st.lists(st.tuples(BITS, BITS), max_size=40), st.sampled_from(KINDS), st.sampled_from(KINDS))
    def test_matches_reference(self, rows, facet_kind, truth_kind):
        facet, facet_label = encode([r[0] for r in rows], facet_kind)
        truth, truth_label = encode([r[1] for r in rows], truth_kind)
        groups = split([r[0] for r in rows], [r[1] for r in rows])
        if not all(groups):
            assert error_text(facet, truth, facet_label, truth_label) == "No deviation"
        else:
            assert_metrics_equal(data_bias_analyzer(facet, truth, facet_label, truth_label), pre_ref(*groups))

    @pytest.mark.parametrize("seed", range(6))
    def test_large_groups(self, seed):
        rng = np.random.default_rng(seed)
        n = int(rng.integers(1000, 60000))
        facet = (rng.random(n) < rng.uniform(0.05, 0.95)).astype(np.int64)
        truth = (rng.random(n) < np.where(facet == 1, rng.random(), rng.random())).astype(np.int64)
        got = data_bias_analyzer(facet, truth, 1, 1)
        assert_metrics_equal(got, pre_ref(truth[facet == 1], truth[facet != 1]))


def test_counts_beyond_float32_precision():
    # LabelPos is an exact count rounded once; the zero/one counts saturate at 2**24.
    rng = np.random.default_rng(11)
    n = SATURATION + 6001
    facet = np.zeros(n, np.int16)
    facet[rng.choice(n, 2000, replace=False)] = 1
    truth = np.ones(n, np.int16)
    truth[rng.choice(n, 1001, replace=False)] = 0
    rest = truth[facet == 0]
    assert np.sum(rest == 1) > SATURATION
    expected = pre_ref(truth[facet == 1], rest)
    assert_metrics_equal(data_bias_analyzer(facet, truth, 1, 1), expected)
