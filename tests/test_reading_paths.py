"""Arrays are read straight from memory when they are plain one-dimensional
ndarrays of a native dtype, and through Python iteration otherwise. Both ways
must give bit-identical results and identical errors, whatever the layout."""
import numpy as np
import pytest

import _zentrova as z
from _reference import LAYOUTS, bits, iterated, lay_out

NUMERIC = ["int16", "int32", "int64", "float32", "float64"]


def outcome(function, *args):
    """The result as float32 bit patterns, or the error's type and text."""
    try:
        result = function(*args)
    except BaseException as error:  # noqa: BLE001 - fatal errors too
        return type(error).__name__, str(error)
    return {key: bits(value) for key, value in result.items()}


def assert_same_both_ways(function, arrays, labels=()):
    direct = [a for a in arrays]
    assert all(type(a) is np.ndarray for a in direct)
    expected = outcome(function, *[iterated(a) for a in arrays], *labels)
    assert outcome(function, *direct, *labels) == expected
    # One array on each path: labels are then taken at once rather than deferred.
    mixed = [iterated(a) if i == 0 else a for i, a in enumerate(arrays)]
    assert outcome(function, *mixed, *labels) == expected


def column(rng, dtype, n, kind):
    if kind == "binary":
        values = rng.integers(0, 2, n)
    elif kind == "wide":
        values = rng.integers(-40, 90, n)
    else:
        values = rng.normal(0.5, 0.4, n)
    values = values.astype(dtype)
    if values.dtype.kind == "f" and n > 3:
        values[rng.integers(0, n, 2)] = np.nan
    return values


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dtype", NUMERIC)
class TestNumericPaths:
    n = 3001  # more than one block of rows

    def test_analyzers(self, dtype, layout):
        rng = np.random.default_rng(NUMERIC.index(dtype) * 10 + LAYOUTS.index(layout))
        facet = lay_out(column(rng, dtype, self.n, "wide"), layout)
        truth = lay_out(column(rng, dtype, self.n, "binary"), layout)
        pred = lay_out(column(rng, dtype, self.n, "real"), layout)
        assert_same_both_ways(z.data_bias_analyzer, [facet, truth], (30, 1))
        assert_same_both_ways(z.model_bias_analyzer, [facet, truth, pred], (30, 1, 0.5))
        assert_same_both_ways(z.model_bias_analyzer, [facet, truth, pred], (30.5, 1.0, 1))

    def test_performance(self, dtype, layout):
        rng = np.random.default_rng(NUMERIC.index(dtype) * 10 + LAYOUTS.index(layout) + 500)
        truth = lay_out(column(rng, dtype, self.n, "binary"), layout)
        pred = lay_out(column(rng, dtype, self.n, "binary"), layout)
        real = lay_out(column(rng, dtype, self.n, "real"), layout)
        assert_same_both_ways(z.model_performance_classification, [pred, truth])
        assert_same_both_ways(z.model_performance_logisitic_regression, [real, truth])
        assert_same_both_ways(z.model_performance_regression, [real, lay_out(np.abs(real) + 1, layout)])


class TestWideIntegers:
    def test_values_beyond_two_to_the_51(self):
        values = np.array([2**51 - 1, 2**51, -(2**51), -(2**51) - 1, 2**62 + 2**40 + 1, -(2**63), 2**63 - 1] * 300)
        truth = np.resize(np.array([0, 1, 2**53 + 1]), len(values)).astype(np.int64)
        assert_same_both_ways(z.model_performance_regression, [values, truth])
        assert_same_both_ways(z.model_performance_classification, [values, truth])


@pytest.mark.parametrize("layout", LAYOUTS)
class TestTextPaths:
    def test_labels_match_object_arrays(self, layout):
        rng = np.random.default_rng(LAYOUTS.index(layout))
        words = np.array(["Female", "Male", "", "Fem", "Female\0x", "F\u00e9male", "\U0001f600"])
        facet = lay_out(words[rng.integers(0, len(words), 2500)], layout)
        truth = lay_out(rng.integers(0, 2, 2500), layout)
        for label in ["Female", "", "F\u00e9male", "\U0001f600", "Female\0", "a" * 20]:
            assert_same_both_ways(z.data_bias_analyzer, [facet, truth], (label, 1))
            expected = outcome(z.data_bias_analyzer, facet.astype(object), truth, label, 1)
            assert outcome(z.data_bias_analyzer, facet, truth, label, 1) == expected

    def test_unencodable_row_gives_the_same_error(self, layout):
        facet = lay_out(np.array(["a", "b"] * 1500 + ["\ud800"] + ["a"] * 10), layout)
        truth = lay_out(np.resize(np.array([0, 1]), len(facet)), layout)
        result = outcome(z.data_bias_analyzer, facet, truth, "a", 1)
        assert result[0] == "TypeError" and result[1].startswith("UnicodeEncodeError: ")
        assert_same_both_ways(z.data_bias_analyzer, [facet, truth], ("a", 1))
