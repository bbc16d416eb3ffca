"""Binary classification metrics, checked bit for bit against a float32 reference with exact counts and sums."""
import math

import numpy as np
import pytest

from _reference import Sub, assert_metrics_equal, bits, exact_sum
from _zentrova import model_performance_classification as classify

f32 = np.float32
ONE, ZERO, HALF = f32(1), f32(0), f32(0.5)
EPS = f32(2.0 ** -23)
EPS64 = 2.0 ** -23
KEYS = {"RecallPositive", "RecallNegative", "PrecisionPositive", "PrecisionNegative",
        "BalancedAccuracy", "Accuracy", "F1Score"}
PREFIX = "Invalid arrays for y_pred and y_true: "


def to_f32(column):
    # every item goes through a double first, then rounds to float32
    return [f32(float(v)) for v in column]


def count(flags):
    """An exact count, rounded once to float32."""
    return f32(sum(1 for flag in flags if flag))


def reference(y_pred, y_true):
    p, t = to_f32(y_pred), to_f32(y_true)
    with np.errstate(all="ignore"):
        sum_true, sum_pred = exact_sum(t), exact_sum(p)
        tp = count(abs(a - ONE) <= EPS and abs(a - b) <= EPS for a, b in zip(t, p))
        tn = count(abs(a) <= EPS and abs(a - b) <= EPS for a, b in zip(t, p))
        correct = count(a == b for a, b in zip(t, p))
        n = f32(len(t))
        rp, rn = tp / sum_true, tn / (n - sum_true)
        pp, pn = tp / sum_pred, tn / (n - sum_pred)
        return {"RecallPositive": rp, "RecallNegative": rn, "PrecisionPositive": pp, "PrecisionNegative": pn,
                "BalancedAccuracy": (rp * rn) * HALF, "Accuracy": (ONE / n) * correct,
                "F1Score": ((rp + rp) * pp) / (rp + pp)}


def assert_matches(got, expected):
    """Same keys and float32 bit patterns; the sign and payload of a NaN are not fixed by IEEE 754."""
    assert set(got) == KEYS and set(expected) == KEYS
    for key, value in expected.items():
        assert type(got[key]) is float, key
        if math.isnan(value):
            assert math.isnan(got[key]), (key, got[key])
        else:
            assert bits(got[key]) == bits(value), (key, got[key], value)


def panic_message(call):
    with pytest.raises(BaseException) as info:
        call()
    exc = info.value
    assert type(exc).__name__ == "PanicException" and not isinstance(exc, Exception)
    return exc.args[0]


class TestValidation:
    @pytest.mark.parametrize("y_pred,y_true,message", [
        ([1.0, 0.0], np.array([1, 0], dtype=np.int64), "Type between y_true and y_pred do not match"),
        (np.array([1, 0], dtype=np.int32), [1.0, 0.0], "Type between y_true and y_pred do not match"),
        (np.array(["1", "0"]), [1.0, 0.0], "Type between y_true and y_pred do not match"),
        ([1.0, 0.0], np.array(["1", "0"]), "Type between y_true and y_pred do not match"),
        ([1.0, 0.0], np.array([1.0, 0.0], dtype=">f8"), "Type between y_true and y_pred do not match"),
        (np.array([1.0, 0.0, 1.0]), np.array([1, 0, 1, 1]), "Type between y_true and y_pred do not match"),
        (np.array(1.0), np.array([1, 0]), "Type between y_true and y_pred do not match"),
        ([1.0, 0.0, 1.0], [1.0, 0.0, 1.0, 0.0], "Arrays have different lengths"),
        (np.array([1, 0, 1], dtype=np.int32), np.array([1, 0], dtype=np.int16), "Arrays have different lengths"),
        ([], [], "Arrays have no data"),
        (np.array([], dtype=np.int64), np.array([], dtype=np.int32), "Arrays have no data"),
        (np.array(1.0), np.array([1.0, 0.0]), None),
        (np.array([1.0, 0.0]), np.array(1.0, dtype=np.float32), None),
        (np.array(1, dtype=np.int16), np.array([], dtype=np.int64), None),
    ])
    def test_error_values(self, y_pred, y_true, message):
        if message is None:  # a zero-dimensional array cannot be iterated
            with pytest.raises(TypeError) as iteration:
                iter(np.array(1.0))
            message = f"TypeError: {iteration.value}"
        y_pred, y_true = (np.asarray(a, dtype=np.float64) if isinstance(a, list) else a for a in (y_pred, y_true))
        with pytest.raises(ValueError) as info:
            classify(y_pred, y_true)
        assert type(info.value) is ValueError and str(info.value) == PREFIX + message

    @pytest.mark.parametrize("y_pred,y_true", [
        (np.array(["1", "0"]), np.array(["1", "0"])),
        (np.array([True, False]), np.array([True, False])),
        (np.array([1, 0], dtype=np.uint8), np.array([1, 0], dtype=np.int8)),
        (np.array([1.0, 0.0], dtype=np.float16), np.array([1.0, 0.0], dtype=">f8")),
        (np.array([], dtype=np.uint64), np.array([], dtype=bool)),
    ])
    def test_other_columns_are_fatal(self, y_pred, y_true):
        assert panic_message(lambda: classify(y_pred, y_true)) == "Data of type String is not supported"


class TestEdgeCases:
    @pytest.mark.parametrize("dtype", [np.float64, np.float32, np.int64, np.int32, np.int16])
    def test_worked_example(self, dtype):
        got = classify(np.array([1, 0, 0, 0], dtype=dtype), np.array([1, 0, 1, 0], dtype=dtype))
        two_thirds = f32(2) / f32(3)
        assert_metrics_equal(got, {"RecallPositive": 0.5, "RecallNegative": 1.0, "PrecisionPositive": 1.0,
                                   "PrecisionNegative": two_thirds, "BalancedAccuracy": 0.25,
                                   "Accuracy": 0.75, "F1Score": two_thirds})

    def test_no_positives(self):
        got = classify(np.zeros(5), np.zeros(5))
        assert [k for k in sorted(KEYS) if math.isnan(got[k])] == \
            ["BalancedAccuracy", "F1Score", "PrecisionPositive", "RecallPositive"]
        assert got["RecallNegative"] == got["PrecisionNegative"] == got["Accuracy"] == 1.0

    def test_labels_zero_and_two(self):
        # a 2 is never a true positive but still weighs 2 in the sums
        got = classify(np.array([2, 0, 0, 0]), np.array([2, 0, 2, 0]))
        assert got["RecallPositive"] == 0.0 and got["PrecisionPositive"] == 0.0
        assert got["RecallNegative"] == math.inf and got["PrecisionNegative"] == 1.0
        assert math.isnan(got["BalancedAccuracy"]) and math.isnan(got["F1Score"])
        assert got["Accuracy"] == 0.75

    @pytest.mark.parametrize("true_value,pred_value,counted", [
        (1.0000001, 1.0, "TP"), (1.0 + EPS64, 1.0, "TP"), (1.0 - EPS64, 1.0, "TP"), (1.0 - EPS64 / 2, 1.0, "TP"),
        (1.0, 1.0 + EPS64, "TP"), (1.0 + 2 ** -24, 1.0, "TP"), (1.0 + 2 ** -24 + 2 ** -40, 1.0 + 2 * EPS64, "TP"),
        (1.0 + 2 * EPS64, 1.0, None), (1.0 - 1.5 * EPS64, 1.0, None), (1.001, 1.0, None),
        (1e-8, 0.0, "TN"), (-EPS64, 0.0, "TN"), (EPS64, 2 * EPS64, "TN"), (2 * EPS64, 0.0, None),
        (0.0, 1.5 * EPS64, None)])
    def test_epsilon_tolerance(self, true_value, pred_value, counted):
        # row 0 is the probe, row 1 a true positive, row 2 a true negative
        p, t = np.array([pred_value, 1.0, 0.0]), np.array([true_value, 1.0, 0.0])
        got = classify(p, t)
        assert_matches(got, reference(p, t))
        tp = round(got["RecallPositive"] * (true_value + 1.0))
        tn = round(got["RecallNegative"] * (2.0 - true_value))
        assert (tp, tn) == (1 + (counted == "TP"), 1 + (counted == "TN"))

    def test_values_are_compared_after_rounding_to_float32(self):
        got = classify(np.array([1.00000001, 0.0]), np.array([1.0, 1e-50]))
        assert got["Accuracy"] == 1.0 and got["RecallPositive"] == 1.0

    def test_accuracy_is_reciprocal_times_correct(self):
        t = np.array([1, 1, 1, 1, 1, 0, 0, 0, 0, 0], dtype=np.int64)
        p = t.copy()
        p[0] = 0
        assert (ONE / f32(10)) * f32(9) != f32(9) / f32(10)
        assert bits(classify(p, t)["Accuracy"]) == bits((ONE / f32(10)) * f32(9))

    def test_large_integers_round_through_double(self):
        big = 2 ** 60 + 2 ** 36 + 1  # to float32 directly it rounds up, through a double it ties to 2**60
        got = classify(np.array([big, 1]), np.array([big, 1]))
        assert got["RecallPositive"] == 2.0 ** -60
        assert_matches(got, reference([big, 1], [big, 1]))

    def test_counts_pass_two_to_the_24(self):
        n = 2 ** 24 + 5
        ones = np.ones(n, dtype=np.int16)
        ones[-1] = 0  # one true negative
        n32, top = f32(n), f32(n - 1)  # exact counts, rounded once
        with np.errstate(all="ignore"):
            rp, rn = top / top, ONE / (n32 - top)
            expected = {"RecallPositive": rp, "PrecisionPositive": rp, "RecallNegative": rn,
                        "PrecisionNegative": rn, "BalancedAccuracy": (rp * rn) * HALF,
                        "Accuracy": (ONE / n32) * n32, "F1Score": ((rp + rp) * rp) / (rp + rp)}
        assert top == 2 ** 24 + 4  # a float32 running count would have stopped at 2**24
        assert_matches(classify(ones, ones), expected)

    @pytest.mark.parametrize("where", ["true", "pred", "both"])
    def test_nan(self, where):
        t = np.array([1.0, 0.0, math.nan if where != "pred" else 1.0, 1.0])
        p = np.array([1.0, 0.0, math.nan if where != "true" else 1.0, 0.0])
        got = classify(p, t)
        assert_matches(got, reference(p, t))
        assert got["Accuracy"] == 0.5  # a NaN row is never correct
        assert math.isnan(got["RecallPositive"]) == (where != "pred")
        assert math.isnan(got["PrecisionPositive"]) == (where != "true")


ODD_VALUES = {
    "f": [2.0, -1.0, 0.5, 3.7, 1e-8, -0.0, 1 + EPS64, 1 - EPS64 / 2, 1 - EPS64, 1 + 2 * EPS64, 1 - 1.5 * EPS64,
          1.0000001, 1 + 2 ** -24, 1 + 2 ** -24 + 2 ** -40, 1.001, math.nan, math.inf, -math.inf],
    "int64": [2, -1, 3, 2 ** 24 + 1, 2 ** 60 + 2 ** 36 + 1, -(2 ** 62)],
    "int32": [2, -1, 3, 2 ** 24 + 1, 2 ** 31 - 1, -(2 ** 31)],
    "int16": [2, -1, 3, 32767, -32768],
}


def random_column(rng, labels, dtype):
    col = labels.astype(np.float64 if dtype.kind == "f" else np.int64)
    odd = ODD_VALUES["f" if dtype.kind == "f" else dtype.name]
    mask = rng.random(len(col)) < rng.choice([0.0, 0.1, 0.4])
    col[mask] = rng.choice(np.array(odd, dtype=col.dtype), int(mask.sum()))
    return col.astype(dtype)


def random_pair(seed, pred_dtype, true_dtype):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(1, 60))
    t = rng.integers(0, 2, n)
    p = np.where(rng.random(n) < 0.7, t, rng.integers(0, 2, n))
    return random_column(rng, p, np.dtype(pred_dtype)), random_column(rng, t, np.dtype(true_dtype))


DTYPE_PAIRS = [("float64", "float64"), ("float32", "float32"), ("float32", "float64"), ("float64", "float32"),
               ("int64", "int64"), ("int32", "int32"), ("int16", "int16"), ("int32", "int64"), ("int64", "int16")]


class TestAgainstReference:
    @pytest.mark.parametrize("seed", range(12))
    @pytest.mark.parametrize("pred_dtype,true_dtype", DTYPE_PAIRS)
    def test_random_columns(self, seed, pred_dtype, true_dtype):
        p, t = random_pair(seed, pred_dtype, true_dtype)
        assert_matches(classify(p, t), reference(p, t))

    @pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int16"])
    @pytest.mark.parametrize("layout", ["subclass", "reversed", "stepped", "column", "reversed_subclass"])
    def test_layout_does_not_change_the_result(self, dtype, layout):
        p, t = random_pair(99, dtype, dtype)
        p, t = np.concatenate([p, p[::-1]]), np.concatenate([t, t[::-1]])

        def arrange(a):
            if layout == "subclass":
                return a.view(Sub)
            if layout == "reversed":
                return a[::-1]
            if layout == "stepped":
                return np.repeat(a, 3)[1::3]
            if layout == "column":
                return np.stack([a, a[::-1]], axis=1)[:, 0]
            return a[::-1].view(Sub)

        ap, at = arrange(p), arrange(t)
        assert isinstance(ap, Sub) or not ap.flags.c_contiguous or ap.strides[0] < 0
        got = classify(ap, at)
        plain = classify(np.array(ap, dtype=dtype), np.array(at, dtype=dtype))
        assert_metrics_equal(got, plain)
        assert_matches(got, reference(ap, at))

    def test_columns_are_read_through_iteration(self):
        class Reversed(np.ndarray):
            def __iter__(self):
                return iter(np.asarray(self)[::-1].tolist())

        p, t = np.array([1.0, 1.0, 1.0, 0.0, 0.0]), np.array([1.0, 1.0, 0.0, 0.0, 0.0])
        assert_matches(classify(p.view(Reversed), t), reference(p[::-1], t))
