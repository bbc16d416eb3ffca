"""model_bias_analyzer: argument order, error precedence, segmentation and the twelve metrics."""
import itertools
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

from _reference import FLOAT32_EXACT_COUNTS, assert_metrics_equal, bits, exact_sum, fcount
from _reference import encode as encode_column, error_text as type_error_text
from _zentrova import model_bias_analyzer

F = np.float32


def post_ref(fp, rp, fg, rg):
    """The twelve post-training metrics of two groups, in float32 arithmetic."""
    fp, rp, fg, rg = (np.asarray(c, np.int64) for c in (fp, rp, fg, rg))
    with np.errstate(all="ignore"):
        s = {}
        for g, p, t in (("f", fp, fg), ("r", rp, rg)):  # a group's two columns have the same length
            s[g] = dict(N=F(len(p)), TP=fcount((p == 1) & (t == 1)), FP=fcount((p == 1) & (t == 0)),
                        FN=fcount((p == 0) & (t == 1)), TN=fcount((p == 0) & (t == 0)),
                        PP=fcount(p == 1), PN=fcount(p == 0), LP=fcount(t == 1), LN=fcount(t == 0))
        f, r = s["f"], s["r"]
        q = r["PP"] / r["LP"]
        truth, pred = np.concatenate([fg, rg]), np.concatenate([fp, rp])
        n = min(len(truth), len(pred))
        benefit = np.where(truth[:n] == 1, (pred[:n] == 1).astype(F), F(2.0)).astype(F)
        nf = F(n)
        ratio = benefit / (exact_sum(benefit) / nf)
        total = exact_sum(ratio * ratio + F(-1.0))
        return {
            "DifferenceInPositivePredictedLabels": f["PP"] / f["LP"] - r["PP"] / r["LP"],
            "DisparateImpact": F(0.0) if q == 0 else (f["PP"] / r["LP"]) / q,
            "AccuracyDifference": (f["TP"] + f["TN"]) / f["N"] - (r["TP"] + r["TN"]) / r["N"],
            "RecallDifference": f["TP"] / (f["TP"] + f["FN"]) - r["TP"] / (r["TP"] + r["FN"]),
            "DifferenceInConditionalAcceptance": f["LP"] / f["PP"] - r["LP"] / r["PP"],
            "DifferenceInAcceptanceRate": f["TP"] / (f["TP"] + f["FP"]) - r["TP"] / (r["TP"] + r["FP"]),
            "SpecialityDifference": r["TN"] / (r["FP"] + r["TN"]) - f["TN"] / (f["FP"] + f["TN"]),
            "DifferenceInConditionalRejection": r["LN"] / r["PN"] - f["LN"] / f["PN"],
            "DifferenceInRejectionRate": r["TN"] / (r["FN"] + r["TN"]) - f["TN"] / (f["FN"] + f["TN"]),
            "TreatmentEquity": r["FN"] / r["FP"] - f["FN"] / f["FP"],
            "ConditionalDemographicDesparityPredictedLabels":
                r["PN"] / (f["PN"] + r["PN"]) - r["PP"] / (f["PP"] + r["PP"]),
            "GeneralizedEntropy": (nf * F(0.5)) * total,
        }


def split(facet, pred, truth):
    """(facet preds, rest preds, facet truth, rest truth) over the rows of the shortest column."""
    rows = list(zip(facet, pred, truth))
    return ([p for f, p, _ in rows if f == 1], [p for f, p, _ in rows if f != 1],
            [t for f, _, t in rows if f == 1], [t for f, _, t in rows if f != 1])


def analyze(facet, pred, truth):
    return model_bias_analyzer(*(np.array(c, np.int64) for c in (facet, truth, pred)), 1, 1, 1)


def error_text(*args):
    return type_error_text(model_bias_analyzer, *args)


STATES = {  # column, label, error it produces when labelled
    "ok": (np.array([0, 1, 1, 0]), 1, None),
    "float": (np.array([0, 1, 1, 0], np.int16), "1", "float"),
    "string": (np.array(["0", "1", "1", "0"], dtype=object), 1.0, "string"),
    "read": (np.array([False, True, True, False]), None, "TypeError: 'bool' object cannot be converted to 'PyString'"),
    "flat": (np.array([1.0, 1.0, 1.0, 1.0]), 1.0, None),
}


class TestArguments:
    @pytest.mark.parametrize("lists", [(1, 0, 0), (0, 1, 0), (0, 0, 1), (0, 1, 1), (1, 1, 1)])
    def test_list_refused_before_labelling(self, lists):
        arrays = [[0, 1] if is_list else np.array([0, 1]) for is_list in lists]
        name = ["feature_array", "ground_truth_array", "prediction_array"][lists.index(1)]
        msg = error_text(*arrays, None, None, None)
        assert msg == f"argument '{name}': 'list' object cannot be converted to 'PyUntypedArray'"


class TestErrorPrecedence:
    @pytest.mark.parametrize("pred_state, truth_state, facet_state", list(itertools.product(STATES, repeat=3)))
    def test_predictions_then_truth_then_facet(self, pred_state, truth_state, facet_state):
        (pred, lp, ep), (truth, lt, et), (facet, lf, ef) = (STATES[s] for s in (pred_state, truth_state, facet_state))
        expected = ep or et or ef or ("no deviaton" if facet_state == "flat" else None)
        if expected is None:
            assert len(model_bias_analyzer(facet, truth, pred, lf, lt, lp)) == 12
        else:
            assert error_text(facet, truth, pred, lf, lt, lp) == expected


class TestSegmentation:
    @pytest.mark.parametrize("facet, pred, truth", [([1, 0, 1, 0, 1], [1, 1, 0, 0], [1, 0, 1, 1, 0, 1]),
                                                    ([0, 1, 0], [1, 0, 1, 1, 1], [0, 1, 1, 0])])
    def test_shortest_column_decides(self, facet, pred, truth):
        assert_metrics_equal(analyze(facet, pred, truth), post_ref(*split(facet, pred, truth)))

    @pytest.mark.parametrize("facet, pred, truth", [([1, 1, 1], [1, 0, 1], [0, 1, 1]), ([0, 0], [1, 0], [0, 1]),
                                                    ([], [], []), ([1, 0], [], [1, 0]), ([1, 0, 0], [1, 0, 0], [1])])
    def test_empty_group(self, facet, pred, truth):
        with pytest.raises(TypeError, match="^no deviaton$"):
            analyze(facet, pred, truth)


class TestWorkedExamples:
    def test_twelve_values(self):
        # facet rows (prediction, truth): (1,1) (1,0) (0,1) (0,0) (1,1); rest rows: (1,1) (0,0) (0,0) (0,1)
        facet, pred, truth = [1, 0] * 4 + [1], [1, 1, 1, 0, 0, 0, 0, 0, 1], [1, 1, 0, 0, 1, 0, 0, 1, 1]
        got = analyze(facet, pred, truth)
        exact = {"DifferenceInPositivePredictedLabels": 0.5, "DisparateImpact": 3.0, "SpecialityDifference": 0.5,
                 "DifferenceInConditionalAcceptance": -1.0, "TreatmentEquity": math.inf}
        approx = {"AccuracyDifference": -0.15, "RecallDifference": 0.1666667, "DifferenceInAcceptanceRate": -0.3333333,
                  "DifferenceInConditionalRejection": -0.3333333, "DifferenceInRejectionRate": 0.1666667,
                  "ConditionalDemographicDesparityPredictedLabels": 0.35, "GeneralizedEntropy": 16.73554}
        assert set(got) == set(exact) | set(approx) and type(got) is dict
        assert {k: got[k] for k in exact} == exact
        for key, value in approx.items():
            assert got[key] == pytest.approx(value, rel=5e-7), key
        assert_metrics_equal(got, post_ref([1, 1, 0, 0, 1], [1, 0, 0, 0], [1, 0, 1, 0, 1], [1, 0, 0, 1]))

    @pytest.mark.parametrize("facet, pred, truth, key, expected", [
        ([1, 0], [1, 0], [1, 1], "GeneralizedEntropy", 2.0),
        ([1, 0, 0], [1, 1, 1], [1, 1, 1], "GeneralizedEntropy", 0.0),
        ([1, 0, 1, 0], [1, 0, 0, 1], [0, 0, 0, 0], "GeneralizedEntropy", 0.0),
        ([1, 0, 1, 0], [0, 0, 0, 0], [1, 1, 1, 1], "GeneralizedEntropy", math.nan),
        ([1, 0, 0, 1], [1, 0, 0, 1], [1, 1, 0, 0], "DisparateImpact", 0.0),  # no rest positives predicted
        ([1, 1, 0, 0], [1, 1, 1, 0], [1, 1, 0, 0], "DisparateImpact", math.nan),  # no rest positive labels
        ([1, 1, 1, 0, 0], [1, 1, 0, 1, 0], [1, 1, 0, 1, 0], "DisparateImpact", 2.0),  # LabelPos(f) / LabelPos(r)
        ([1, 1, 1, 0, 0], [1, 1, 0, 1, 0], [1, 1, 0, 1, 0], "TreatmentEquity", math.nan),
        ([1, 1, 1, 0, 0], [1, 1, 0, 1, 0], [1, 1, 0, 1, 0], "AccuracyDifference", 0.0),
    ])
    def test_known_values(self, facet, pred, truth, key, expected):
        got = analyze(facet, pred, truth)[key]
        assert math.isnan(got) if math.isnan(expected) else bits(got) == bits(expected)


def encode(labels, kind):
    return encode_column(labels, kind, 1.0)  # a float label: truncated on integer columns


KINDS = st.sampled_from([np.int16, np.int32, np.int64, np.float32, np.float64, "U", object])


class TestRandomized:
    @settings(max_examples=300, deadline=None)
    @given(st.lists(st.tuples(*[st.integers(0, 1)] * 3), max_size=40), KINDS, KINDS, KINDS)
    def test_matches_reference(self, rows, facet_kind, pred_kind, truth_kind):
        (facet, lf), (pred, lp), (truth, lt) = (encode([r[i] for r in rows], k)
                                                for i, k in enumerate((facet_kind, pred_kind, truth_kind)))
        groups = split(*zip(*rows)) if rows else ([], [], [], [])
        if not (groups[0] and groups[1]):
            assert error_text(facet, truth, pred, lf, lt, lp) == "no deviaton"
        else:
            assert_metrics_equal(model_bias_analyzer(facet, truth, pred, lf, lt, lp), post_ref(*groups))

    @pytest.mark.parametrize("seed", range(6))
    def test_large_groups(self, seed):
        rng = np.random.default_rng(seed)
        n = int(rng.integers(1000, 60000))
        facet = (rng.random(n) < rng.uniform(0.05, 0.95)).astype(np.int64)
        truth = (rng.random(n) < rng.random()).astype(np.int64)
        pred = np.where(rng.random(n) < rng.random(), truth, 1 - truth)
        got = model_bias_analyzer(facet, truth, pred, 1, 1, 1)
        f = facet == 1
        assert_metrics_equal(got, post_ref(pred[f], pred[~f], truth[f], truth[~f]))


def test_counts_beyond_float32_precision():
    # Rest-group counts pass 2**24: each is the exact count rounded once.
    rng = np.random.default_rng(5)
    n = FLOAT32_EXACT_COUNTS + 6001
    facet, pred, truth = np.zeros(n, np.int16), np.ones(n, np.int16), np.ones(n, np.int16)
    facet_rows, rest_rows = rng.choice(n, 2000, replace=False), rng.choice(n, 3000, replace=False)
    facet[facet_rows] = 1
    pred[facet_rows[:600]], truth[facet_rows[200:900]] = 0, 0  # all four outcomes in the facet group
    pred[rest_rows[:1800]], truth[rest_rows[700:]] = 0, 0
    f = facet == 1
    assert np.sum(~f & (pred == 1) & (truth == 1)) > FLOAT32_EXACT_COUNTS
    assert np.sum(~f & (pred == 0) & (truth == 0)) > 0
    assert_metrics_equal(model_bias_analyzer(facet, truth, pred, 1, 1, 1),
                         post_ref(pred[f], pred[~f], truth[f], truth[~f]))
