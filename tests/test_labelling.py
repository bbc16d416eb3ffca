"""Column typing, reading and labelling, observed through the two analyzers."""
import math

import numpy as np
import pytest

from _reference import bits, error_text, iterated, lay_out
from _zentrova import data_bias_analyzer, model_bias_analyzer


def labels_as_predictions(arr, label):
    """Row i alone is the facet group and every ground truth is 1, so
    "DifferenceInConditionalAcceptance" = 1/p_i - (n-1)/PredPos(rest) is +inf or NaN exactly when p_i is 0."""
    n, out = len(arr), []
    for i in range(n):
        facet = np.zeros(n, np.int64)
        facet[i] = 1
        v = model_bias_analyzer(facet, np.ones(n, np.int64), arr, 1, 1, label)["DifferenceInConditionalAcceptance"]
        out.append(0 if math.isnan(v) or v == math.inf else 1)
    return out


def labels_as_facet(arr, label):
    """The ground truth marks row i only: the proportion difference is positive iff row i is in the facet group."""
    n, out = len(arr), []
    for i in range(n):
        truth = np.zeros(n, np.int64)
        truth[i] = 1
        out.append(int(data_bias_analyzer(arr, truth, label, 1)["DifferenceInProportionOfLabels"] > 0))
    return out


NAN, INF = float("nan"), float("inf")
INTEGER_CASES = [  # exactly two distinct values -> equality, otherwise value >= label
    ([0, 1, 1, 0], 1, [0, 1, 1, 0]), ([1, 3, 3], 2, [0, 0, 0]), ([1, 2, 3], 2, [0, 1, 1]),
    ([5, 5, 5], 5, [1, 1, 1]), ([5, 5, 5], 6, [0, 0, 0]), ([0, 1, 1, 0], True, [0, 1, 1, 0]),
    # float labels truncate toward zero and saturate; NaN becomes 0
    ([1, 2], 1.9, [1, 0]), ([-1, -2], -1.9, [1, 0]), ([-1, 0, 5], -0.9, [0, 1, 1]), ([-1, 0, 5], NAN, [0, 1, 1]),
    ([-1, 0, 5], 1e300, [0, 0, 0]), ([-1, 0, 5], -INF, [1, 1, 1]), ([-1, 0, 5], np.float64(5.5), [0, 0, 1]),
]
FLOAT_CASES = [  # distinct values counted after truncation to int32 (toward zero, saturating, NaN -> 0)
    ([0.2, 0.7, 0.4], 0.4, [0, 1, 1]), ([0.0, 1.0, 0.5], 0.5, [0, 0, 1]), ([0.5, 1.5], 1, [0, 0]),
    ([0.5, 1.5, 2.5], 1, [0, 1, 1]), ([-1.0, 1.0], -1, [1, 0]), ([-0.5, 0.5, 2.0], 0.5, [0, 1, 0]),
    ([3e9, 5e9, 1.0], 4e9, [0, 0, 0]), ([NAN, 0.5, 2.0], 1.0, [0, 0, 0]), ([NAN, 1.0, 2.0, 3.0], 2.0, [0, 0, 1, 1]),
    ([0.0, 1.0, 2.0], NAN, [0, 0, 0]), ([0.0, 1.0], NAN, [0, 0]), ([-0.0, 1.0], 0.0, [1, 0]),
    ([0.5, 2.5], np.float64(2.5), [0, 1]), ([0.1, 0.3, 0.2], 0.2, [0, 1, 1]),
]
TEXT_CASES = [  # byte equality, no distinct-value rule
    (["a", "b", "A"], "a", [1, 0, 0]), (["a", "b", "A"], "a ", [0, 0, 0]), (["1", "2", "3"], "2", [0, 1, 0]),
    (["b", "b", "c"], "b", [1, 1, 0]), (["é", "e"], "é", [1, 0]), (["x", "y"], np.str_("y"), [0, 1]),
]
LABEL_CASES = [
    *[(np.array(v, dt), lab, exp) for dt in (np.int16, np.int32, np.int64) for v, lab, exp in INTEGER_CASES],
    *[(np.array(v, dt), lab, exp) for dt in (np.float32, np.float64) for v, lab, exp in FLOAT_CASES],
    *[(np.array(v, dt), lab, exp) for dt in ("U", object) for v, lab, exp in TEXT_CASES],
    # only the low 32 bits count for distinctness: 4294967297 and 1 are one value
    (np.array([1, 4294967297, 5]), 2, [0, 0, 0]), (np.array([1, 4294967298, 5]), 2, [0, 1, 1]),
    (np.array([1, 4294967297, 5]), 4294967297, [0, 1, 0]),
    # float32 values are widened to double, and float32(0.1) lies above 0.1
    (np.array([0.1, 0.3, 0.2], np.float32), 0.1, [1, 1, 1]), (np.array([0.1, 0.3, 0.2], np.float32), 0.3, [0, 1, 0]),
]


def case_id(v):
    return str(v.dtype) if isinstance(v, np.ndarray) else repr(v)


class TestLabelling:
    @pytest.mark.parametrize("arr, label, expected", LABEL_CASES, ids=case_id)
    def test_prediction_role(self, arr, label, expected):
        assert labels_as_predictions(arr, label) == expected

    @pytest.mark.parametrize("arr, label, expected", LABEL_CASES[::3], ids=case_id)
    def test_facet_role(self, arr, label, expected):
        if len(set(expected)) == 1:
            assert error_text(data_bias_analyzer, arr, np.arange(len(arr)) % 2, label, 1) == "No deviation"
        else:
            assert labels_as_facet(arr, label) == expected


class TestLabelErrors:
    @pytest.mark.parametrize("dtype", [np.int16, np.int32, np.int64, np.float32, np.float64])
    @pytest.mark.parametrize("label", [np.int64(1), np.float32(1.0), np.bool_(True), "1", None, b"1"], ids=repr)
    def test_numeric_column_refuses(self, dtype, label):
        assert error_text(data_bias_analyzer, np.array([0, 1, 1]), np.array([0, 1, 1], dtype), 1, label) == "float"

    @pytest.mark.parametrize("arr", [np.array(["a", "b"]), np.array(["a", "b"], object), np.array([], "U1")],
                             ids=["U", "object", "empty"])
    @pytest.mark.parametrize("label", [1, 1.0, None, b"a", np.int64(1)], ids=repr)
    def test_text_column_refuses(self, arr, label):
        assert error_text(model_bias_analyzer, np.array([0, 1]), np.array([0, 1]), arr, 1, 1, label) == "string"

    def test_integer_label_out_of_range(self):
        msg = error_text(data_bias_analyzer, np.array([0, 1]), np.array([0, 1], np.int64), 1, 2**63)
        assert msg.startswith("OverflowError: ")


class TestColumnKinds:
    @pytest.mark.parametrize("arr", [
        np.array([True, False, True]), np.array([0, 1, 1], np.uint8), np.array([0, 1, 1], np.uint64),
        np.array([0, 1, 1], np.int8), np.array([0, 1, 1], np.float16),
        np.array([0, 1, 1], np.dtype(np.float64).newbyteorder()), np.array([0, 1, 1], np.dtype(np.int64).newbyteorder()),
        np.array(["a", 1], dtype=object),
    ], ids=lambda a: a.dtype.str)
    @pytest.mark.parametrize("label", [1, "a", None], ids=repr)
    def test_text_kind_fails_on_first_non_str(self, arr, label):
        bad = next(item for item in arr if not isinstance(item, str))
        expected = f"TypeError: '{type(bad).__qualname__}' object cannot be converted to 'PyString'"
        good = np.array([0, 1, 1])  # a read failure wins over any label problem, in every role
        assert error_text(data_bias_analyzer, arr, good, label, 1) == expected
        assert error_text(data_bias_analyzer, good, arr, 1, label) == expected
        assert error_text(model_bias_analyzer, good, good, arr, 1, 1, label) == expected

    def test_bool_message(self):
        msg = error_text(data_bias_analyzer, np.array([0, 1]), np.array([True, False]), 1, 1)
        assert msg == "TypeError: 'bool' object cannot be converted to 'PyString'"

    @pytest.mark.parametrize("arr", [np.array(1), np.array(1.0), np.array("a"), np.array(True)], ids=repr)
    @pytest.mark.parametrize("label", [1, "a", None], ids=repr)
    def test_zero_dimensional_fails_at_iteration(self, arr, label):
        good = np.array([0, 1, 1])
        for msg in (error_text(data_bias_analyzer, arr, good, label, 1),
                    error_text(model_bias_analyzer, good, good, arr, 1, 1, label)):
            assert msg.startswith("TypeError: ") and "PyString" not in msg


def layouts(a):
    """The same values as a plain array, a subclass, a negative-stride view and a strided view."""
    return [lay_out(a, "contiguous"), iterated(a), lay_out(a, "reversed"), lay_out(a, "every_third")]


def outcome(fn, *args):
    try:
        return ("ok", {k: bits(v) for k, v in fn(*args).items()})
    except TypeError as exc:
        return ("error", type(exc), str(exc))


rng = np.random.default_rng(7)
TEXT = rng.choice(["a", "b", "c"], (3, 14))
PATH_DATA = {  # three columns (facet, truth, predictions) and their labels
    "int16": (rng.integers(0, 10, (3, 14)).astype(np.int16), (5, 4, 6)),
    "int32": (rng.integers(0, 2, (3, 14)).astype(np.int32), (1, 1, 1)),
    "int64": (rng.integers(0, 10, (3, 14)), (5.5, 4, 6)),
    "float32": (rng.uniform(0, 10, (3, 14)).astype(np.float32), (5.0, 4.5, 6)),
    "float64": (rng.integers(0, 2, (3, 14)).astype(np.float64), (1.0, 1, 1.0)),
    "U": (TEXT, ("a", "b", "c")),
    "object": (TEXT.astype(object), ("a", "b", "c")),
    "bool": (rng.integers(0, 2, (3, 14)).astype(bool), (1, 1, 1)),
    "U-bad-label": (TEXT, ("a", 1, "b")),
    "object-bad-label": (TEXT.astype(object), ("a", 1, "b")),
}


class TestReadingPaths:
    @staticmethod
    def run_both(cols, labels):
        (f, g, p), (lf, lg, lp) = cols, labels
        return outcome(data_bias_analyzer, f, g, lf, lg), outcome(model_bias_analyzer, f, g, p, lf, lg, lp)

    @pytest.mark.parametrize("kind", PATH_DATA)
    def test_layouts_agree(self, kind):
        cols, labels = PATH_DATA[kind]
        results = [self.run_both(views, labels) for views in zip(*(layouts(c) for c in cols))]
        assert all(r == results[0] for r in results)
        assert (results[0][0][0] == "ok") == (kind not in ("bool", "U-bad-label", "object-bad-label"))

    @pytest.mark.parametrize("labels", [("a", "b", "c"), ("a", 1, "b")])
    def test_text_and_object_agree(self, labels):
        assert self.run_both(list(TEXT), labels) == self.run_both(list(TEXT.astype(object)), labels)
