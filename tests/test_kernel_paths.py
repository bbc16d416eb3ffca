"""Every vector path this CPU runs, and the C library fallback, give the same bits."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _zentrova as raw
from zentrova import _engine
from _reference import (assert_identical, bits, error_text, exact_sum, iterated, lay_out, log10f, outcome,
                        outcome_on_each_path, unaligned)

PATHS = _engine._kernel_paths()
f32 = np.float32


@pytest.fixture
def on_path(request):
    """Runs the test with every kernel pinned to one path, then back to the widest."""
    forced = _engine._force_kernel_path(request.param)
    yield request.param, forced
    _engine._force_kernel_path(None)


def logarithmic_inputs():
    rng = np.random.default_rng(21)
    special = np.array([0.0, 1.0, -0.0, 1e-45, 1e-40, 2.0**-126, 3.4e38, np.inf, -np.inf, np.nan, -1.0, 0.5,
                        1.0 - 2.0**-24, 1.0 + 2.0**-23], np.float32)
    spread = rng.integers(0, 2**31, 200000, dtype=np.uint32).view(np.float32)  # every positive float is possible
    near_one = (1.0 + rng.standard_normal(50000) * 1e-3).astype(np.float32)
    return np.concatenate([special, spread, near_one, rng.random(50000).astype(np.float32)])


def all_metrics():
    x = logarithmic_inputs()
    rng = np.random.default_rng(22)
    prob = np.clip(x, 0.0, 1.0)
    label = rng.integers(0, 2, len(x))
    return {
        "regression": raw.model_performance_regression(x, x[::-1].copy()),
        "logistic": raw.model_performance_logisitic_regression(prob, label),
        "classification": raw.model_performance_classification(x, x[::-1].copy()),
        "data_bias": raw.data_bias_analyzer(x, label, 0.5, 1),
        "model_bias": raw.model_bias_analyzer(x, label, label[::-1].copy(), 0.5, 1, 1),
    }


class TestKernelPaths:
    def test_scalar_is_always_there(self):
        assert PATHS[0] == "scalar" and len(set(PATHS)) == len(PATHS)

    @pytest.mark.parametrize("on_path", PATHS, indirect=True)
    def test_every_path_gives_the_same_metrics(self, on_path):
        name, forced = on_path
        assert forced  # the path passed its check against the C library on this machine
        got = all_metrics()
        _engine._force_kernel_path("scalar")  # the C library's own calls
        expected = all_metrics()
        for family in expected:
            assert_identical(got[family], expected[family])

    @pytest.mark.parametrize("on_path", PATHS, indirect=True)
    def test_log_sums_match_the_c_library(self, on_path):
        x = logarithmic_inputs()
        x = x[np.isfinite(x) & (x > -1)][:20000]
        got = raw.model_performance_regression(np.zeros_like(x), x)
        uniques, inverse = np.unique(x + f32(1.0), return_inverse=True)
        logs = np.array([log10f(u) for u in uniques], np.float32)[inverse]
        sld = exact_sum(logs)  # each term is log10(t + 1) - log10(0 + 1), and log10(1) is 0
        r = f32(1.0) / f32(len(x))
        assert bits(got["RootMeanSquaredLogError"]) == bits(np.sqrt(sld * sld) / r)

    def test_unknown_path_is_refused(self):
        with pytest.raises(ValueError):
            _engine._force_kernel_path("sse9")
        with pytest.raises(TypeError):
            _engine._force_kernel_path(3)


# ---- the bias analyzers on every path ----------------------------------------

BLOCK = 2048  # rows labelled at once
LAYOUTS = ["contiguous", "unaligned", "every_third", "reversed_stride_2"]


def arrange(values, layout):
    return unaligned(values) if layout == "unaligned" else lay_out(values, layout)


def texts_around(label, width, rows, seed):
    """Rows of at most `width` code points: the label, its prefix, the label with its last code point
    changed, the empty text, longer texts starting with it, others; the first row matches, the second not."""
    rng = np.random.default_rng(seed)
    pool = {label, label[:-1], "", "x" * width, "\U0001F600" * width, "é"}
    if label:
        pool.add(label[:-1] + chr(ord(label[-1]) + 1))
    if len(label) < width:
        pool.add(label + "a")
    if len(label) + 2 <= width:
        pool.add(label + "\x00b")  # a NUL inside a row is a code point like any other
    pool = sorted(t for t in pool if len(t) <= width)
    rows_out = [pool[i] for i in rng.integers(0, len(pool), rows)]
    rows_out[0] = label
    if rows > 1:
        rows_out[1] = next(t for t in pool if t != label)
    return np.array(rows_out, dtype=f"<U{width}")


def bias_outcomes(text, label, rows, seed):
    """Both analyzers with the text column as facet and as ground truth or prediction."""
    rng = np.random.default_rng(seed)
    a, b = rng.integers(0, 2, rows), rng.integers(0, 2, rows)
    a[:2], b[:2] = [1, 0], [0, 1]
    return (
        outcome(lambda: raw.data_bias_analyzer(text, a, label, 1)),
        outcome(lambda: raw.data_bias_analyzer(b, text, 1, label)),
        outcome(lambda: raw.model_bias_analyzer(text, a, b, label, 1, 1)),
        outcome(lambda: raw.model_bias_analyzer(b, a, text, 1, 1, label)),
    )


def assert_same_on_every_path(outcomes, expected):
    """Every path's outcomes (a tuple of metric dicts or errors) are the expected ones, bit for bit."""
    assert len(outcomes) >= 2  # scalar and the baseline vector path at least
    for path, got in outcomes.items():
        assert len(got) == len(expected), path
        for g, e in zip(got, expected):
            if isinstance(e, dict):
                assert isinstance(g, dict), (path, g)
                assert_identical(g, e)
            else:
                assert g == e, path


def label_of(kind, width):
    return {"full": "".join("Fémale"[i % 6] for i in range(width)), "short": "F" * max(width // 2, 1),
            "empty": ""}[kind]


class TestTextMatchingPaths:
    """Vector text matching gives, on every path, what reading the rows one by one as str gives."""

    @pytest.mark.parametrize("layout", LAYOUTS)
    @pytest.mark.parametrize("label_kind", ["full", "short", "empty"])
    @pytest.mark.parametrize("width", range(1, 18))
    def test_widths_and_layouts(self, width, label_kind, layout):
        rows = 2 * BLOCK + 13
        label = label_of(label_kind, width)
        text = arrange(texts_around(label, width, rows, width), layout)
        expected = bias_outcomes(text.astype(object), label, rows, width)  # compared as UTF-8, row by row
        assert_same_on_every_path(outcome_on_each_path(lambda: bias_outcomes(text, label, rows, width)), expected)

    @pytest.mark.parametrize("rows", [2, 3, 4, 5, 7, 8, 9, 17, BLOCK - 1, BLOCK, BLOCK + 1, BLOCK + 7, 3 * BLOCK + 5])
    @pytest.mark.parametrize("width", [1, 3, 6, 8, 9, 16, 17])
    def test_row_counts_around_steps_and_blocks(self, width, rows):
        label = label_of("full", width)
        text = texts_around(label, width, rows, rows)
        expected = bias_outcomes(text.astype(object), label, rows, rows)
        assert_same_on_every_path(outcome_on_each_path(lambda: bias_outcomes(text, label, rows, rows)), expected)

    @given(st.lists(st.text(alphabet="ab\x00é\U0001F600", max_size=5), min_size=2, max_size=40),
           st.text(alphabet="ab\x00é", max_size=5))
    @settings(max_examples=150, deadline=None)
    def test_any_rows_and_label(self, rows, label):
        text = np.array(rows, dtype="<U5")
        expected = bias_outcomes(text.astype(object), label, len(rows), 0)
        assert_same_on_every_path(outcome_on_each_path(lambda: bias_outcomes(text, label, len(rows), 0)), expected)


NUMERIC_DTYPES = [np.int16, np.int32, np.int64, np.float32, np.float64]
I64 = np.iinfo(np.int64)


def numeric_column(dtype, distinct, rows, seed):
    rng = np.random.default_rng(seed)
    if distinct == "two":
        values = rng.integers(0, 2, rows) * 7 - 3
    elif np.dtype(dtype).kind == "f":
        values = np.concatenate([[np.nan, -0.0, np.inf], rng.normal(0, 50, rows)])[:rows]
    else:
        info = np.iinfo(dtype)
        values = np.concatenate([[info.min, info.max, info.min + 1, -1, 0],
                                 rng.integers(info.min, info.max, rows, dtype=dtype, endpoint=True)])[:rows]
    return np.asarray(values).astype(dtype)


class TestNumericLabellingPaths:
    """Numeric labelling (equality for two distinct keys, greater-or-equal otherwise) is the same on every path."""

    @pytest.mark.parametrize("layout", ["contiguous", "unaligned", "every_third"])
    @pytest.mark.parametrize("label", [4, -3, 0, 0.5, I64.max, I64.min, -(2**31), 2**40])
    @pytest.mark.parametrize("distinct", ["two", "many"])
    @pytest.mark.parametrize("dtype", NUMERIC_DTYPES)
    def test_dtypes_labels_and_layouts(self, dtype, distinct, label, layout):
        rows = BLOCK + 37
        column = arrange(numeric_column(dtype, distinct, rows, 5), layout)
        other = np.random.default_rng(6).integers(0, 2, rows)
        other[:2] = [0, 1]

        def both():
            return (outcome(lambda: raw.data_bias_analyzer(column, other, label, 1)),
                    outcome(lambda: raw.data_bias_analyzer(other, column, 1, label)),
                    outcome(lambda: raw.model_bias_analyzer(column, other, other[::-1].copy(), label, 1, 1)))

        outcomes = outcome_on_each_path(both)
        assert_same_on_every_path(outcomes, outcomes["scalar"])

    @pytest.mark.parametrize("third", [2, 2**32, -(2**32)])  # a new value, or one whose low 32 bits repeat a key
    @pytest.mark.parametrize("where", [0, 300, 1100, BLOCK - 1, BLOCK, 3 * BLOCK + 5])
    @pytest.mark.parametrize("dtype", [np.int64, np.int32, np.float64])
    def test_a_third_value_in_a_later_block(self, dtype, where, third):
        # Two values for whole blocks, then one more: the rule changes to
        # greater-or-equal, whichever block (or part of one) brought it.
        rows = 4 * BLOCK
        values = (np.arange(rows) % 3 == 0).astype(np.int64)
        values[where] = third
        column = values.astype(dtype)
        truth = (np.arange(rows) % 5 == 0).astype(np.int64)
        # Keys: an integer's low 32 bits; a float truncated and saturated to 32 bits.
        keys = np.clip(column, -(2**31), 2**31 - 1).astype(np.int64) if column.dtype.kind == "f" else column.astype(np.int64) & 0xFFFFFFFF
        distinct = len(set(keys.tolist()))
        rule = column == 1 if distinct == 2 else column >= 1
        labelled, other = rule.astype(np.int64), truth[::-1].copy()

        def each(facet_or_prediction):
            return (outcome(lambda: raw.data_bias_analyzer(facet_or_prediction, truth, 1, 1)),
                    outcome(lambda: raw.data_bias_analyzer(truth, facet_or_prediction, 1, 1)),
                    outcome(lambda: raw.model_bias_analyzer(facet_or_prediction, truth, other, 1, 1, 1)),
                    outcome(lambda: raw.model_bias_analyzer(other, truth, facet_or_prediction, 1, 1, 1)))

        expected = each(labelled)
        outcomes = outcome_on_each_path(lambda: each(column))
        assert_same_on_every_path(outcomes, expected)

    @pytest.mark.parametrize("threshold", [I64.min, -1, 0, 1, I64.max, 2**32, -(2**32) - 1])
    def test_int64_at_least_matches_numpy(self, threshold):
        values = np.array([I64.min, I64.min + 1, -(2**32) - 1, -(2**32), -1, 0, 1, 2**32, 2**32 + 1,
                           I64.max - 1, I64.max] * 300, np.int64)
        truth = np.arange(len(values)) % 2
        # many distinct keys: the rule is greater-or-equal
        encoded = (values >= threshold).astype(np.int64)
        outcomes = outcome_on_each_path(lambda: (outcome(lambda: raw.data_bias_analyzer(values, truth, threshold, 1)),))
        expected = (outcome(lambda: raw.data_bias_analyzer(encoded, truth, 1, 1)),)
        assert_same_on_every_path(outcomes, expected)


def with_code_point(width, rows, row, code_point):
    """Text rows of `width` code points ("ab..."), one of them holding `code_point` as its last."""
    codes = np.full((rows, width), ord("a"), np.uint32)
    codes[:, 0] = np.arange(rows) % 2 + ord("a")
    codes[row, -1] = code_point
    return codes.view(f"<U{width}").ravel()


class TestCodePointsCheckedWhileLabelling:
    """Text rows holding what no str can hold fail as they do when the rows are read one by one."""

    @pytest.mark.parametrize("code_point", [0xD800, 0xDFFF, 0x110000, 0xFFFFFFFF])
    @pytest.mark.parametrize("width, rows, row", [(1, 10, 0), (6, 2 * BLOCK + 3, 2 * BLOCK + 2), (6, 5000, 4095),
                                                  (6, 20, 9), (16, 33, 31), (17, 40, 20)])
    def test_each_path_gives_what_iteration_gives(self, width, rows, row, code_point):
        text = with_code_point(width, rows, row, code_point)
        truth = np.arange(rows) % 2
        predictions = truth[::-1].copy()
        label = "a" * width

        def both(column):
            return (outcome(lambda: raw.data_bias_analyzer(column, truth, label, 1)),
                    outcome(lambda: raw.model_bias_analyzer(truth, column, predictions, 1, label, 1)))

        assert_same_on_every_path(outcome_on_each_path(lambda: both(text)), both(iterated(text)))
        if 0xD800 <= code_point < 0xE000:  # no UTF-8 form: the call fails
            assert all(isinstance(o, tuple) for o in both(text))

    def test_rows_beyond_the_shortest_column_are_checked(self):
        text = with_code_point(3, 50, 45, 0xD800)
        truth = np.arange(40) % 2
        assert "surrogates" in error_text(raw.data_bias_analyzer, text, truth, "aaa", 1)
        assert error_text(raw.data_bias_analyzer, text, truth, "aaa", 1) == \
            error_text(raw.data_bias_analyzer, iterated(text), truth, "aaa", 1)

    def test_an_earlier_column_error_still_wins(self):
        # the ground truth's bad text is reported before the facet's label error, as when read one by one
        text = with_code_point(4, 30, 3, 0xD800)
        facet = np.arange(30)
        got = error_text(raw.data_bias_analyzer, facet, text, "not a number", "a")
        assert got == error_text(raw.data_bias_analyzer, facet, iterated(text), "not a number", "a")
        assert "surrogates" in got

    def test_statistics_keep_their_state_after_a_bad_batch(self):
        from zentrova import DataBiasStats

        stats = DataBiasStats("a", 1)
        good = np.array(["a", "b", "a", "b"])
        stats.update(good, np.array([1, 0, 0, 1]))
        before = stats.to_bytes()
        with pytest.raises(TypeError):
            stats.update(with_code_point(2, 100, 70, 0xDBFF), np.arange(100) % 2)
        assert stats.to_bytes() == before
