"""Logistic-regression and regression performance metrics, bit-exact against a float32 reference with exact sums."""
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _zentrova as zt
from _reference import assert_metrics_equal, bits, exact_squared_deviations, exact_sum, log10f

f32 = np.float32
ONE, EPS = f32(1.0), f32(1.1920929e-7)
NAN, INF = float("nan"), float("inf")
PREFIX = "Invalid arrays for y_pred and y_true: "
value32 = st.floats(width=32).map(lambda x: x + 0.0)  # no negative zero


def assert_same(got, expected):
    """Bit-exact, except that any NaN equals any NaN (the sign of a NaN is not part of the contract)."""
    def canon(m):
        return {k: (NAN if math.isnan(v) else v) for k, v in m.items()}
    assert_metrics_equal(canon(got), canon(expected))


def log_loss_term(t, p):
    """t·log10(p) + (1 − t)·log10(1 − p), a product whose first factor is exactly 0 being +0."""
    a = f32(0.0) if t == 0 else t * log10f(p)
    b = f32(0.0) if ONE - t == 0 else (ONE - t) * log10f(ONE - p)
    return a + b


def ref_logistic(p, t, threshold=0.5):
    p, t, thr = [f32(x) for x in p], [f32(x) for x in t], f32(threshold)
    labels = [ONE if x >= thr else f32(0.0) for x in p]
    N = f32(len(t))
    with np.errstate(all="ignore"):
        sum_true, sum_pred = exact_sum(t), exact_sum(labels)
        tp = f32(sum(1 for a, b in zip(t, labels) if abs(a - ONE) <= EPS and abs(a - b) <= EPS))
        tn = f32(sum(1 for a, b in zip(t, labels) if abs(a) <= EPS and abs(a - b) <= EPS))
        correct = f32(sum(1 for a, b in zip(t, labels) if a == b))
        rp, rn = tp / sum_true, tn / (N - sum_true)
        pp, pn = tp / sum_pred, tn / (N - sum_pred)
        loss = exact_sum([log_loss_term(a, b) for a, b in zip(t, p)]) * -(ONE / N)
        return {"BalancedAccuracy": (rp * rn) * f32(0.5), "PrecisionPositive": pp, "PrecisionNegative": pn,
                "RecallPositive": rp, "RecallNegative": rn, "Accuracy": (ONE / N) * correct,
                "F1Score": ((rp + rp) * pp) / (rp + pp), "LogLoss": loss}


def ref_regression(p, t):
    p, t = [f32(x) for x in p], [f32(x) for x in t]
    R = ONE / f32(len(t))
    with np.errstate(all="ignore"):
        sse = exact_sum([(a - b) * (a - b) for a, b in zip(t, p)])
        sae = exact_sum([abs(a - b) for a, b in zip(t, p)])
        mean = R * exact_sum(t)
        sst = exact_squared_deviations(t, mean)
        largest = f32(0.0)
        for a, b in zip(t, p):
            if a - b > largest:
                largest = a - b
        sld = exact_sum([log10f(a + ONE) - log10f(b + ONE) for a, b in zip(t, p)])
        sape = exact_sum([abs(a - b) / a for a, b in zip(t, p)])
        return {"RootMeanSquaredError": np.sqrt(R * sse), "MeanSquaredError": R * sse,
                "MeanAbsoluteError": R * sae, "RSquared": sse / sst, "MaxError": largest,
                "MeanSquaredLogError": (sld * sld) / R, "RootMeanSquaredLogError": np.sqrt(sld * sld) / R,
                "MeanAbsolutePercentageError": (R * sape) * f32(100.0)}


def last_of_sequential_sum(x):
    return np.add.accumulate(x, dtype=np.float32)[-1]  # strictly left to right, unlike np.sum


def log10f_many(x):
    uniques, inverse = np.unique(x, return_inverse=True)
    return np.array([log10f(u) for u in uniques], dtype=np.float32)[inverse]


class TestLogisticMetrics:
    def test_worked_example(self):
        p, t = [0.9, 0.2, 0.5, 0.4], [1, 0, 1, 0]
        got = zt.model_performance_logisitic_regression(np.array(p), np.array(t))
        expected = dict.fromkeys(["PrecisionPositive", "PrecisionNegative", "RecallPositive", "RecallNegative",
                                  "Accuracy", "F1Score"], 1.0)
        loss = -(ONE / f32(4)) * exact_sum([log10f(0.9), log10f(f32(1) - f32(0.2)), log10f(0.5),
                                          log10f(f32(1) - f32(0.4))])
        assert_same(got, dict(expected, BalancedAccuracy=0.5, LogLoss=loss))
        assert got["LogLoss"] == pytest.approx(0.16639, abs=1e-5)

    @pytest.mark.parametrize("p,t,threshold,accuracy", [
        ([0.5, 0.25], [1, 0], 0.5, 1.0),  # equal to the threshold is a positive
        ([0.5, 0.25], [1, 0], float(np.nextafter(f32(0.5), ONE)), 0.5),
        ([0.5, 0.25], [1, 0], 0.0, 0.5),
        ([NAN, 0.0], [0, 1], 0.0, 1.0),  # NaN is a negative even at threshold 0
        ([0.7, 0.3], [1, 0], None, 1.0),
    ])
    def test_decision_threshold(self, p, t, threshold, accuracy):
        args = (np.array(p), np.array(t)) + (() if threshold is None else (threshold,))
        got = zt.model_performance_logisitic_regression(*args)
        assert bits(got["Accuracy"]) == bits(accuracy)
        assert_same(got, ref_logistic(p, t, 0.5 if threshold is None else threshold))

    @pytest.mark.parametrize("p,t,loss", [
        # a confident right answer adds 0, a confident wrong one makes the loss +inf
        ([0.0, 0.9], [0, 1], log10f(0.9) * -(ONE / f32(2))), ([1.0, 0.9], [0, 1], INF),
        ([1.0], [1], f32(0.0) * -ONE), ([0.0], [0], f32(0.0) * -ONE), ([0.0], [1], INF), ([1.0], [0], INF),
        ([1.0, 0.0], [0, 0], INF), ([0.5, 0.5], [1, 0], -log10f(0.5)),
        ([0.5, NAN], [1, 0], NAN), ([0.5, 0.5], [1, NAN], NAN),  # NaN stays NaN
    ])
    def test_logloss_edges(self, p, t, loss):
        got = zt.model_performance_logisitic_regression(np.array(p), np.array(t, dtype=np.float64))
        if math.isnan(loss):
            assert math.isnan(got["LogLoss"])
        else:
            assert bits(got["LogLoss"]) == bits(loss)

    @settings(max_examples=200, deadline=None)
    @given(rows=st.lists(st.tuples(st.one_of(st.floats(0, 1, width=32), value32, st.sampled_from([0.0, 1.0, 0.5])),
                                   st.sampled_from([0.0, 1.0, 1.0, 0.0, 1.0000001, 2.0, 0.5, NAN])),
                         min_size=1, max_size=40),
           threshold=st.one_of(st.just(0.5), st.floats(-0.5, 1.5, width=32)),
           dtype=st.sampled_from([np.float32, np.float64]))
    def test_matches_reference(self, rows, threshold, dtype):
        p, t = zip(*rows)
        got = zt.model_performance_logisitic_regression(np.array(p, dtype=dtype), np.array(t), threshold)
        assert_same(got, ref_logistic(p, t, threshold))

    def test_logloss_is_exact_over_millions_of_rows(self):
        rng = np.random.default_rng(11)
        n = 3_000_000
        t = rng.integers(0, 2, n)
        p = (rng.integers(1, 1024, n) / np.float32(1024)).astype(np.float32)
        tf = t.astype(np.float32)
        terms = tf * log10f_many(p) + (ONE - tf) * log10f_many(ONE - p)
        expected = exact_sum(terms) * -(ONE / f32(n))
        assert expected != last_of_sequential_sum(terms) * -(ONE / f32(n))  # a float32 running sum drifts
        got = zt.model_performance_logisitic_regression(p, t)
        assert bits(got["LogLoss"]) == bits(expected)
        assert bits(got["RecallPositive"]) == bits(f32(np.count_nonzero(t & (p >= 0.5))) / f32(t.sum()))


class TestRegressionMetrics:
    @pytest.mark.parametrize("p,t,expected", [
        ([2, 7], [3, 5], {"MeanSquaredError": 2.5, "MeanAbsoluteError": 1.5, "RSquared": 2.5, "MaxError": 1.0,
                          "RootMeanSquaredError": np.sqrt(f32(2.5))}),
        ([0, 0], [9, 9], {"MeanSquaredError": 81.0, "RootMeanSquaredError": 9.0, "MeanAbsoluteError": 9.0,
                          "RSquared": INF, "MaxError": 9.0, "MeanSquaredLogError": 8.0,
                          "RootMeanSquaredLogError": 4.0, "MeanAbsolutePercentageError": 100.0}),
        ([-1, 4], [-2, 4], {"MeanAbsolutePercentageError": -25.0, "MaxError": 0.0}),
        ([3, 4], [1, 2], {"MaxError": 0.0}),
        ([2, 2], [2, 2], {"RSquared": NAN, "MeanSquaredError": 0.0}),
        ([1, 2], [2, 2], {"RSquared": INF}),
        ([1], [0], {"MeanAbsolutePercentageError": INF}),
        ([0], [0], {"MeanAbsolutePercentageError": NAN}),
    ])
    def test_definitions(self, p, t, expected):
        assert log10f(10.0) == 1.0 and log10f(1.0) == 0.0  # premise of the log-metric expectations
        got = zt.model_performance_regression(np.array(p, dtype=np.float64), np.array(t, dtype=np.int64))
        assert_same({k: got[k] for k in expected}, expected)
        assert_same(got, ref_regression(p, t))

    @settings(max_examples=200, deadline=None)
    @given(rows=st.lists(st.tuples(st.one_of(value32, st.floats(-1, 100, width=32)),
                                   st.one_of(value32, st.floats(-1, 100, width=32))), min_size=1, max_size=40),
           dtype=st.sampled_from([np.float32, np.float64]))
    def test_matches_reference(self, rows, dtype):
        p, t = zip(*rows)
        got = zt.model_performance_regression(np.array(p, dtype=dtype), np.array(t, dtype=dtype))
        assert_same(got, ref_regression(p, t))

    def test_sums_are_exact_over_millions_of_rows(self):
        rng = np.random.default_rng(5)
        n = 3_000_000
        t = (rng.integers(32, 1000, n) / 8).astype(np.float32)
        p = (t + rng.integers(-50, 50, n) / np.float32(16)).astype(np.float32)
        d, R = t - p, ONE / f32(n)
        sse, mean = exact_sum(d * d), R * exact_sum(t)
        sld = exact_sum(log10f_many(t + ONE) - log10f_many(p + ONE))
        expected = {"RootMeanSquaredError": np.sqrt(R * sse), "MeanSquaredError": R * sse,
                    "MeanAbsoluteError": R * exact_sum(np.abs(d)),
                    "RSquared": sse / exact_squared_deviations(t, mean),
                    "MaxError": max(f32(0.0), d.max()), "MeanSquaredLogError": (sld * sld) / R,
                    "RootMeanSquaredLogError": np.sqrt(sld * sld) / R,
                    "MeanAbsolutePercentageError": (R * exact_sum(np.abs(d) / t)) * f32(100.0)}
        assert sse != last_of_sequential_sum(d * d)  # the data tells exact and running sums apart
        assert_same(zt.model_performance_regression(p, t.astype(np.float64)), expected)


class TestValidation:
    @pytest.mark.parametrize("func,p,t,message", [
        (zt.model_performance_logisitic_regression, [0.1, 0.2], [1, 0, 1], "Arrays have different lengths"),
        (zt.model_performance_logisitic_regression, [], [1.0], "Arrays have different lengths"),
        (zt.model_performance_logisitic_regression, [], [], "Arrays have no data"),
        (zt.model_performance_regression, [0.1, 0.2], [1, 0, 1], "Arrays have different lengths"),
        (zt.model_performance_regression, [], [], "Arrays are emtpy"),
    ])
    def test_error_values(self, func, p, t, message):
        with pytest.raises(ValueError) as info:
            func(np.array(p, dtype=np.float64), np.array(t, dtype=np.float64))
        assert str(info.value) == PREFIX + message

    @pytest.mark.parametrize("func", [zt.model_performance_logisitic_regression, zt.model_performance_regression])
    def test_column_types_not_compared(self, func):
        p, t = np.array([0.25, 0.75, 0.5]), [0, 1, 1]
        same = func(p.astype(np.float32), np.array(t, dtype=np.float64))
        assert_same(func(p, np.array(t, dtype=np.int64)), same)
        assert_same(func(p, np.array(t, dtype=np.int32)), same)

    @pytest.mark.parametrize("func", [zt.model_performance_logisitic_regression, zt.model_performance_regression])
    def test_y_true_converted_first(self, func):
        text, scalar = np.array(["a", "b"]), np.array(0.5)
        with pytest.raises(BaseException) as info:
            func(scalar, text)
        assert type(info.value).__name__ == "PanicException" and not isinstance(info.value, Exception)
        assert str(info.value) == "Data of type String is not supported"
        with pytest.raises(ValueError, match=f"^{PREFIX}.*0-d array"):
            func(text, scalar)
