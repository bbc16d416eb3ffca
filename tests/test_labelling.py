"""Column typing, reading and labelling, observed through the two analyzers."""
import math

import numpy as np
import pytest

from _reference import bits
from _zentrova import data_bias_analyzer, model_bias_analyzer


def labels_as_predictions(arr, label):
    """Labelled column of `arr` used as the prediction column, decoded row by row.

    Row i alone forms the facet group and every ground truth is 1, so
    "DifferenceInConditionalAcceptance" = 1/p_i - (n-1)/PredPos(rest) is
    +inf or NaN exactly when p_i is 0.
    """
    n = len(arr)
    truth = np.ones(n, np.int64)
    out = []
    for i in range(n):
        facet = np.zeros(n, np.int64)
        facet[i] = 1
        v = model_bias_analyzer(facet, truth, arr, 1, 1, label)["DifferenceInConditionalAcceptance"]
        out.append(0 if math.isnan(v) or v == math.inf else 1)
    return out


def labels_as_facet(arr, label):
    """Labelled column of `arr` used as the facet: the ground truth marks row i only,
    so the facet group holds row i exactly when the proportion difference is positive."""
    n = len(arr)
    out = []
    for i in range(n):
        truth = np.zeros(n, np.int64)
        truth[i] = 1
        out.append(int(data_bias_analyzer(arr, truth, label, 1)["DifferenceInProportionOfLabels"] > 0))
    return out


def error_text(fn, *args):
    with pytest.raises(TypeError) as info:
        fn(*args)
    assert info.type is TypeError
    return str(info.value)


BIG_F64 = np.dtype(np.float64).newbyteorder()
LABEL_CASES = [
    # Integer kinds: exactly two distinct values -> equality, otherwise value >= label.
    *[(np.array(v, dt), lab, exp) for dt in (np.int16, np.int32, np.int64) for v, lab, exp in [
        ([0, 1, 1, 0], 1, [0, 1, 1, 0]),
        ([1, 3, 3], 2, [0, 0, 0]),
        ([1, 2, 3], 2, [0, 1, 1]),
        ([5, 5, 5], 5, [1, 1, 1]),
        ([5, 5, 5], 6, [0, 0, 0]),
        ([1, 2], 1.9, [1, 0]),
        ([0, 1, 1, 0], True, [0, 1, 1, 0]),
        ([-1, 0, 5], -0.9, [0, 1, 1]),
        ([-1, -2], -1.9, [1, 0]),
        ([-1, 0, 5], float("nan"), [0, 1, 1]),
        ([-1, 0, 5], 1e300, [0, 0, 0]),
        ([-1, 0, 5], float("-inf"), [1, 1, 1]),
        ([-1, 0, 5], np.float64(5.5), [0, 0, 1]),
    ]],
    # Low 32 bits decide distinctness: 4294967297 and 1 are one value.
    (np.array([1, 4294967297, 5], np.int64), 2, [0, 0, 0]),
    (np.array([1, 4294967298, 5], np.int64), 2, [0, 1, 1]),
    (np.array([1, 4294967297, 5], np.int64), 4294967297, [0, 1, 0]),
    # Float kinds: distinctness after truncation to int32 (toward zero, saturating).
    *[(np.array(v, dt), lab, exp) for dt in (np.float32, np.float64) for v, lab, exp in [
        ([0.2, 0.7, 0.4], 0.4, [0, 1, 1]),
        ([0.0, 1.0, 0.5], 0.5, [0, 0, 1]),
        ([0.5, 1.5], 1, [0, 0]),
        ([0.5, 1.5, 2.5], 1, [0, 1, 1]),
        ([-1.0, 1.0], -1, [1, 0]),
        ([-0.5, 0.5, 2.0], 0.5, [0, 1, 0]),
        ([3e9, 5e9, 1.0], 4e9, [0, 0, 0]),
        ([np.nan, 0.5, 2.0], 1.0, [0, 0, 0]),
        ([np.nan, 1.0, 2.0, 3.0], 2.0, [0, 0, 1, 1]),
        ([0.0, 1.0, 2.0], float("nan"), [0, 0, 0]),
        ([0.0, 1.0], float("nan"), [0, 0]),
        ([-0.0, 1.0], 0.0, [1, 0]),
        ([0.5, 2.5], np.float64(2.5), [0, 1]),
    ]],
    # The float32 nearest to 0.1 lies above the double 0.1.
    (np.array([0.1, 0.3, 0.2], np.float32), 0.1, [1, 1, 1]),
    (np.array([0.1, 0.3, 0.2], np.float64), 0.1, [1, 1, 1]),
    (np.array([0.1, 0.3, 0.2], np.float64), 0.2, [0, 1, 1]),
    # Text: byte equality, no distinct-value rule.
    *[(np.array(v, dt), lab, exp) for dt in ("U", object) for v, lab, exp in [
        (["a", "b", "A"], "a", [1, 0, 0]),
        (["a", "b", "A"], "a ", [0, 0, 0]),
        (["1", "2", "3"], "2", [0, 1, 0]),
        (["b", "b", "c"], "b", [1, 1, 0]),
        (["é", "e"], "é", [1, 0]),
        (["x", "y"], np.str_("y"), [0, 1]),
    ]],
]


class TestLabelling:
    @pytest.mark.parametrize("arr, label, expected", LABEL_CASES,
                             ids=lambda v: repr(v) if not isinstance(v, np.ndarray) else str(v.dtype))
    def test_prediction_role(self, arr, label, expected):
        assert labels_as_predictions(arr, label) == expected

    @pytest.mark.parametrize("arr, label, expected", LABEL_CASES[::3],
                             ids=lambda v: repr(v) if not isinstance(v, np.ndarray) else str(v.dtype))
    def test_facet_role(self, arr, label, expected):
        if len(set(expected)) == 1:
            assert error_text(data_bias_analyzer, arr, np.array([0, 1] * 2)[:len(arr)], label, 1) == "No deviation"
        else:
            assert labels_as_facet(arr, label) == expected

    def test_object_array_of_str_subclass(self):
        class S(str):
            pass
        arr = np.array([S("p"), S("q"), "p"], dtype=object)
        assert labels_as_predictions(arr, S("p")) == [1, 0, 1]


class TestLabelErrors:
    NUMERIC = [np.array([0, 1, 1], dt) for dt in (np.int16, np.int32, np.int64, np.float32, np.float64)]

    @pytest.mark.parametrize("arr", NUMERIC, ids=lambda a: str(a.dtype))
    @pytest.mark.parametrize("label", [np.int64(1), np.float32(1.0), np.bool_(True), "1", None, b"1", [1]],
                             ids=repr)
    def test_numeric_column_refuses(self, arr, label):
        assert error_text(data_bias_analyzer, np.array([0, 1, 1]), arr, 1, label) == "float"

    @pytest.mark.parametrize("arr", [np.array(["a", "b"]), np.array(["a", "b"], dtype=object),
                                     np.array([], dtype="U1")], ids=["U", "object", "empty"])
    @pytest.mark.parametrize("label", [1, 1.0, None, b"a", np.int64(1)], ids=repr)
    def test_text_column_refuses(self, arr, label):
        assert error_text(model_bias_analyzer, np.array([0, 1]), np.array([0, 1]), arr, 1, 1, label) == "string"

    def test_integer_label_out_of_range(self):
        msg = error_text(data_bias_analyzer, np.array([0, 1]), np.array([0, 1], np.int64), 1, 2**63)
        assert msg.startswith("OverflowError: ")


class TestColumnKinds:
    @pytest.mark.parametrize("arr", [
        np.array([True, False, True]),
        np.array([0, 1, 1], np.uint8),
        np.array([0, 1, 1], np.uint64),
        np.array([0, 1, 1], np.int8),
        np.array([0, 1, 1], np.float16),
        np.array([0.0, 1.0, 1.0], BIG_F64),
        np.array([0, 1, 1], np.dtype(np.int64).newbyteorder()),
        np.array(["a", 1], dtype=object),
    ], ids=lambda a: a.dtype.str)
    @pytest.mark.parametrize("label", [1, "a", None], ids=repr)
    def test_text_kind_fails_on_first_non_str(self, arr, label):
        bad = next(item for item in arr if not isinstance(item, str))
        expected = f"TypeError: '{type(bad).__qualname__}' object cannot be converted to 'PyString'"
        # A read failure wins over any label problem, in every role.
        good = np.array([0, 1, 1])
        assert error_text(data_bias_analyzer, arr, good, label, 1) == expected
        assert error_text(data_bias_analyzer, good, arr, 1, label) == expected
        assert error_text(model_bias_analyzer, good, good, arr, 1, 1, label) == expected

    def test_bool_message(self):
        msg = error_text(data_bias_analyzer, np.array([0, 1]), np.array([True, False]), 1, 1)
        assert msg == "TypeError: 'bool' object cannot be converted to 'PyString'"

    @pytest.mark.parametrize("arr", [np.array(1, np.int64), np.array(1.0), np.array("a"), np.array(True)],
                             ids=lambda a: a.dtype.str)
    @pytest.mark.parametrize("label", [1, "a", None], ids=repr)
    def test_zero_dimensional_fails_at_iteration(self, arr, label):
        good = np.array([0, 1, 1])
        for msg in (error_text(data_bias_analyzer, arr, good, label, 1),
                    error_text(model_bias_analyzer, good, good, arr, 1, 1, label)):
            assert msg.startswith("TypeError: ")
            assert "PyString" not in msg


class Sub(np.ndarray):
    pass


def layouts(a):
    """The same values as a plain array, a subclass, a negative-stride and a strided view."""
    wide = np.empty(2 * len(a), a.dtype)
    wide[::2] = a
    rev = np.ascontiguousarray(a[::-1])[::-1]
    assert rev.strides[0] < 0 and not wide[::2].flags.c_contiguous
    return [a.copy(), a.copy().view(Sub), rev, wide[::2]]


def outcome(fn, *args):
    try:
        d = fn(*args)
    except TypeError as exc:
        return ("error", type(exc), str(exc))
    return ("ok", {k: bits(v) for k, v in d.items()})


rng = np.random.default_rng(7)
PATH_DATA = {
    "int16": (rng.integers(0, 10, (3, 14)).astype(np.int16), (5, 4, 6)),
    "int32": (rng.integers(0, 2, (3, 14)).astype(np.int32), (1, 1, 1)),
    "int64": (rng.integers(0, 10, (3, 14)), (5, 4, 6)),
    "float32": (rng.uniform(0, 10, (3, 14)).astype(np.float32), (5.0, 4.5, 6)),
    "float64": (rng.integers(0, 2, (3, 14)).astype(np.float64), (1.0, 1, 1.0)),
    "U": (rng.choice(["a", "b", "c"], (3, 14)), ("a", "b", "c")),
    "object": (rng.choice(["a", "b", "c"], (3, 14)).astype(object), ("a", "b", "c")),
    "bool": (rng.integers(0, 2, (3, 14)).astype(bool), (1, 1, 1)),
    "text-bad-label": (rng.choice(["a", "b"], (3, 14)), ("a", 1, "b")),
}


class TestReadingPaths:
    @pytest.mark.parametrize("kind", PATH_DATA)
    def test_layouts_agree(self, kind):
        (f, g, p), (lf, lg, lp) = PATH_DATA[kind]
        results = [(outcome(data_bias_analyzer, fv, gv, lf, lg),
                    outcome(model_bias_analyzer, fv, gv, pv, lf, lg, lp))
                   for fv, gv, pv in zip(layouts(f), layouts(g), layouts(p))]
        assert all(r == results[0] for r in results)
        assert (results[0][0][0] == "ok") == (kind not in ("bool", "text-bad-label"))

    def test_text_and_object_agree(self):
        (f, g, p), labels = PATH_DATA["U"]
        as_obj = [c.astype(object) for c in (f, g, p)]
        assert outcome(model_bias_analyzer, f, g, p, *labels) == outcome(model_bias_analyzer, *as_obj, *labels)
        assert outcome(data_bias_analyzer, f, g, *labels[:2]) == outcome(data_bias_analyzer, *as_obj[:2], *labels[:2])
