"""Counts and sums over rows are exact, rounded once to float32, whatever the order of the rows."""
import math

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _zentrova as raw
import zentrova
from _reference import assert_identical, assert_metrics_equal, bits, exact_fraction, exact_sum, round_f32

f32 = np.float32
ONE = f32(1.0)


def sequential(values):
    return np.add.accumulate(np.asarray(values, np.float32), dtype=np.float32)[-1]


def pairwise(values):
    values = np.asarray(values, np.float32)
    while len(values) > 1:
        if len(values) % 2:
            values = np.append(values, f32(0.0))
        values = (values[0::2] + values[1::2]).astype(np.float32)
    return values[0]


def compensated(values):
    total, carry = f32(0.0), f32(0.0)
    for v in np.asarray(values, np.float32):
        y = f32(v - carry)
        t = f32(total + y)
        carry = f32(f32(t - total) - y)
        total = t
    return total


def in_double(values):
    total = 0.0
    for v in np.asarray(values, np.float32):
        total += float(v)
    return f32(total)


def precision_sum(values):
    """PrecisionPositive = 1 / Σ y_pred, where y_pred holds `values` and one extra 1
    (the one true positive): the classification metrics read a sum through it."""
    y_pred = np.append(np.asarray(values, np.float32), f32(1.0))
    y_true = np.zeros(len(y_pred), np.float32)
    y_true[-1] = 1.0
    return raw.model_performance_classification(y_pred, y_true)["PrecisionPositive"]


SAMPLES = {
    # cancellation beyond the range of a double: every running sum loses the 1
    "dynamic_range": ([1e30, 1.0, -1e30], {sequential, pairwise, compensated, in_double}),
    # small terms after a large one: a float32 running sum stalls
    "stall": ([2.0**24] + [1.0] * 1001, {sequential}),
    # ties: the pairs round to even differently than the whole
    "ties": ([2.0**25, 1.0, 1.0, 1.0, 1.0, -2.0**25, 2.0**-30] * 3, {sequential, pairwise}),
    "tiny": ([1.0, 2.0**-24, 2.0**-24, 2.0**-24], {sequential, pairwise}),
}


class TestExactSums:
    @pytest.mark.parametrize("name", sorted(SAMPLES))
    def test_samples_that_defeat_running_sums(self, name):
        values, defeated = SAMPLES[name]
        values = [*values, 1.0]  # as precision_sum adds it
        exact = round_f32(exact_fraction(np.asarray(values, np.float32)))
        for method in defeated:
            assert method(values) != exact, method.__name__  # the sample tells this method apart
        with np.errstate(all="ignore"):
            assert bits(precision_sum(values[:-1])) == bits(ONE / exact)

    @settings(max_examples=200, deadline=None)
    @given(st.lists(st.floats(width=32, allow_nan=False, allow_infinity=False), min_size=1, max_size=60))
    def test_matches_the_rational_sum(self, values):
        exact = round_f32(exact_fraction(np.asarray([*values, 1.0], np.float32)))
        with np.errstate(all="ignore"):
            expected = ONE / exact
        got = precision_sum(values)
        if math.isnan(expected):
            assert math.isnan(got)
        else:
            assert bits(got) == bits(expected)

    @pytest.mark.parametrize("values,expected", [
        ([math.nan, 1.0], math.nan), ([math.inf, -math.inf], math.nan), ([math.inf, 1.0, 3e38], math.inf),
        ([-math.inf, 5.0], -math.inf), ([3.4e38, 3.4e38], math.inf), ([-3.4e38, -3.4e38], -math.inf),
        ([1.0, -2.0], 0.0), ([-0.0, -1.0], 0.0),
    ])
    def test_special_values(self, values, expected):
        # Σ y_pred (with precision_sum's extra 1) is `expected`; an exact zero is +0.0,
        # so the precision is +inf, not -inf.
        got = precision_sum(values)
        with np.errstate(all="ignore"):
            want = ONE / f32(expected)
        assert (math.isnan(got) and math.isnan(want)) or bits(got) == bits(want)

    def test_regression_sums_against_the_reference(self):
        rng = np.random.default_rng(17)
        t = (rng.standard_normal(20000) * 10.0 ** rng.integers(-8, 9, 20000)).astype(np.float32)
        p = (t * (1 + rng.standard_normal(20000) / 100)).astype(np.float32)
        got = raw.model_performance_regression(p, t)
        r = ONE / f32(len(t))
        d = t - p
        assert bits(got["MeanSquaredError"]) == bits(r * exact_sum(d * d))
        assert bits(got["MeanAbsoluteError"]) == bits(r * exact_sum(np.abs(d)))
        assert bits(got["MeanAbsolutePercentageError"]) == bits((r * exact_sum(np.abs(d) / t)) * f32(100.0))


def permuted(arrays, seed):
    order = np.random.default_rng(seed).permutation(len(arrays[0]))
    return [a[order] for a in arrays]


class TestOrderDoesNotMatter:
    @pytest.mark.parametrize("seed", range(3))
    def test_regression_and_logistic(self, seed):
        rng = np.random.default_rng(seed)
        n = 50000
        t = (rng.standard_normal(n) * 10.0 ** rng.integers(-6, 7, n)).astype(np.float32)
        p = (t + rng.standard_normal(n).astype(np.float32) * 10.0 ** rng.integers(-3, 4, n)).astype(np.float32)
        prob, label = rng.random(n).astype(np.float32), rng.integers(0, 2, n)
        for other in range(3):
            assert_identical(raw.model_performance_regression(*permuted([p, t], other)),
                             raw.model_performance_regression(p, t))
            assert_identical(raw.model_performance_logisitic_regression(*permuted([prob, label], other)),
                             raw.model_performance_logisitic_regression(prob, label))
            assert_identical(raw.model_performance_classification(*permuted([p, t], other)),
                             raw.model_performance_classification(p, t))

    @pytest.mark.parametrize("seed", range(3))
    def test_bias_metrics_and_generalized_entropy(self, seed):
        rng = np.random.default_rng(seed)
        n = 30000
        columns = [rng.integers(0, 2, n), rng.integers(0, 2, n), rng.integers(0, 2, n)]
        expected = raw.model_bias_analyzer(*columns, 1, 1, 1)
        for other in range(3):
            assert_identical(raw.model_bias_analyzer(*permuted(columns, other), 1, 1, 1), expected)
            assert_identical(raw.data_bias_analyzer(*permuted(columns[:2], other), 1, 1),
                             raw.data_bias_analyzer(*columns[:2], 1, 1))

    def test_generalized_entropy_against_the_rational_value(self):
        rng = np.random.default_rng(9)
        n = 20001
        facet, truth, pred = rng.integers(0, 2, n), rng.integers(0, 2, n), rng.integers(0, 2, n)
        benefit = np.where(truth == 1, pred.astype(np.float32), f32(2.0)).astype(np.float32)
        nf = f32(n)
        mean = exact_sum(benefit) / nf
        ratio = benefit / mean
        expected = (nf * f32(0.5)) * exact_sum(ratio * ratio + f32(-1.0))
        got = raw.model_bias_analyzer(facet, truth, pred, 1, 1, 1)["GeneralizedEntropy"]
        assert bits(got) == bits(expected)


class TestCountsBeyondTwoToThe24:
    ROWS = 2**24 + 5  # not a float32; a running float32 count would stop at 2**24

    def broadcast(self, value, rows=None):
        return np.broadcast_to(np.int16(value), (rows or self.ROWS,))  # zero stride, no memory

    def test_classification_counts(self):
        stats = zentrova.ClassificationStats()
        stats.update(self.broadcast(1), self.broadcast(1))
        stats.update(np.array([0, 1], np.int16), np.array([0, 0], np.int16))
        n, tp = self.ROWS + 2, self.ROWS
        sum_pred = f32(tp + 1)
        with np.errstate(all="ignore"):
            expected = {"RecallPositive": f32(tp) / f32(tp), "RecallNegative": ONE / (f32(n) - f32(tp)),
                        "PrecisionPositive": f32(tp) / sum_pred, "PrecisionNegative": ONE / (f32(n) - sum_pred),
                        "Accuracy": (ONE / f32(n)) * f32(tp + 1)}
        got = stats.metrics()
        for key, value in expected.items():
            assert bits(got[key]) == bits(value), key

    def test_data_bias_counts(self):
        stats = zentrova.DataBiasStats(1, 1)
        stats.update(self.broadcast(0), self.broadcast(1))
        stats.update(np.array([1, 1, 1], np.int16), np.array([1, 0, 0], np.int16))
        rest, facet_ones = self.ROWS, 1
        qf, qr = f32(facet_ones) / f32(3), f32(rest) / f32(rest)
        got = stats.metrics()
        assert bits(got["DifferenceInProportionOfLabels"]) == bits(qf - qr)
        assert bits(got["ClassImbalance"]) == bits(abs(f32(3) - f32(rest)) / f32(rest + 3))
        assert bits(got["KolmorogvSmirnov"]) == bits(min(abs(f32(2) / f32(3) - f32(0.0)), abs(qf - qr)))

    def test_model_bias_counts(self):
        stats = zentrova.ModelBiasStats(1, 1, 1)
        stats.update(self.broadcast(0), self.broadcast(1), self.broadcast(1))  # rest: all true positives
        stats.update(np.array([1, 1, 0], np.int16), np.array([1, 0, 0], np.int16), np.array([1, 1, 0], np.int16))
        # facet: a true positive and a false positive; rest: ROWS true positives and a true negative
        tp, tn, n = f32(self.ROWS), f32(1), f32(self.ROWS + 1)
        got = stats.metrics()
        assert bits(got["AccuracyDifference"]) == bits(f32(1) / f32(2) - (tp + tn) / n)
        assert bits(got["DifferenceInPositivePredictedLabels"]) == bits(f32(2) / f32(1) - tp / tp)
        assert bits(got["SpecialityDifference"]) == bits(tn / (f32(0) + tn) - f32(0) / (f32(1) + f32(0)))

    def test_raw_function_on_int16_columns(self):
        n = self.ROWS
        facet, truth = np.zeros(n, np.int16), np.ones(n, np.int16)
        facet[:4], truth[:1] = 1, 0
        got = raw.data_bias_analyzer(facet, truth, 1, 1)
        qf, qr = f32(3) / f32(4), f32(n - 4) / f32(n - 4)
        assert_metrics_equal({"TotalVarationDistance": got["TotalVarationDistance"]},
                             {"TotalVarationDistance": abs(qf - qr)})
        assert bits(got["ClassImbalance"]) == bits(abs(f32(4) - f32(n - 4)) / f32(n))
