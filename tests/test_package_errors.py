"""Refusals name their argument; engine failures come out as the package's errors."""
import datetime
import pickle

import numpy as np
import pytest

import zentrova as zv
from _inputs import RULES, fitting_column
from _reference import assert_metrics_equal
from zentrova._errors import call_engine

ONES = np.array([1, 0, 1, 0])


def _call(function, **columns):
    """Call a measuring function with good defaults, replacing some columns."""
    if function == "data_bias":
        args = {"facet": ONES, "label": ONES}
        args.update(columns)
        return zv.data_bias(args["facet"], args["label"], facet_value=1, label_value=1)
    if function == "model_bias":
        args = {"facet": ONES, "y_true": ONES, "y_pred": ONES}
        args.update(columns)
        return zv.model_bias(args["facet"], args["y_true"], args["y_pred"], facet_value=1, label_value=1)
    if function == "logistic":
        args = {"y_true": ONES, "y_prob": np.array([0.9, 0.1, 0.8, 0.3])}
        args.update(columns)
        return zv.logistic(args["y_true"], args["y_prob"])
    args = {"y_true": ONES, "y_pred": ONES}
    args.update(columns)
    return getattr(zv, function)(args["y_true"], args["y_pred"])


ARGUMENTS = [
    ("data_bias", "facet"), ("data_bias", "label"),
    ("model_bias", "facet"), ("model_bias", "y_true"), ("model_bias", "y_pred"),
    ("classification", "y_true"), ("classification", "y_pred"),
    ("logistic", "y_true"), ("logistic", "y_prob"),
    ("regression", "y_true"), ("regression", "y_pred"),
]


def _raises(error, argument, match=None):
    caught = pytest.raises(error, match=match)
    return caught, argument


class TestRefusals:
    @pytest.mark.parametrize("function,argument", ARGUMENTS)
    @pytest.mark.parametrize(
        "bad,error,match",
        [
            (np.array([1, 0, 1]), zv.InvalidInputError, "inconsistent numbers of samples"),
            (np.ones((4, 2)), zv.InvalidInputError, "one-dimensional"),
            (np.array(1.0), zv.InvalidInputError, "one-dimensional"),
            (np.array([b"a", b"b", b"a", b"b"]), zv.UnsupportedInputError, "byte-string"),
            (np.ones(4, dtype=complex), zv.UnsupportedInputError, "complex"),
            (np.array(["2020-01-01"] * 4, dtype="datetime64[D]"), zv.UnsupportedInputError, "datetime64"),
            (np.array([1, "a", 2.0, None], dtype=object), zv.UnsupportedInputError, "mixing"),
            (np.array([2**64 - 1, 0, 1, 0], dtype=np.uint64), zv.InvalidInputError, "2\\*\\*63"),
            ({1, 0, 1, 0}, zv.UnsupportedInputError, "set"),
            ("1010", zv.InvalidInputError, "single str"),
            (np.array([1, 0, np.nan, np.nan]), zv.MissingValuesError, "2 missing values"),
        ],
    )
    def test_bad_column_is_refused_naming_it(self, function, argument, bad, error, match):
        with pytest.raises(error, match=match) as caught:
            _call(function, **{argument: bad})
        assert isinstance(caught.value, ValueError)
        assert argument in str(caught.value)
        if error is not zv.InvalidInputError or "inconsistent" not in match:
            assert caught.value.argument == argument

    @pytest.mark.parametrize(
        "function,argument,bad",
        [
            ("classification", "y_true", np.array([1, 0, 2, 0])),
            ("classification", "y_pred", np.array([1, -1, 1, -1])),
            ("classification", "y_pred", np.array([1.0, 0.0, 0.5, 0.0])),
            ("classification", "y_true", np.array([0.25, 0.0, 1.0, 0.0], dtype=np.float32)),
            ("classification", "y_pred", np.array([0.9, 0.1, 0.8, 0.3])),
            ("logistic", "y_true", np.array([1, 0, 1, 3])),
            ("logistic", "y_true", np.array([1.0, -1.0, 1.0, 0.0])),
        ],
    )
    def test_labels_outside_zero_one_are_refused(self, function, argument, bad):
        with pytest.raises(zv.InvalidInputError, match=f"{argument} must hold labels 0 and 1") as caught:
            _call(function, **{argument: bad})
        assert caught.value.argument == argument

    @pytest.mark.parametrize("bad", [[0.5, 1.5, 0.2, 0.1], [0.5, -0.1, 0.2, 0.1], [1.0, 0.0, 2.0, 0.0]])
    @pytest.mark.parametrize("dtype", ["float64", "float32", "int64"])
    def test_probabilities_outside_unit_interval_are_refused(self, bad, dtype):
        bad = np.array(bad).astype(dtype) if dtype != "int64" else np.array([1, 0, 2, -1])
        with pytest.raises(zv.InvalidInputError, match="y_prob must hold probabilities in \\[0, 1\\]"):
            zv.logistic(ONES, bad)

    @pytest.mark.parametrize("good", [[0.0, -0.0, 1.0, 0.0], [1, 1, 1, 1], [0, 0, 0, 0]])
    def test_edges_of_the_label_set_are_accepted(self, good):
        for dtype in ("float64", "float32", "int8"):
            column = np.array(good).astype(dtype)
            assert set(zv.classification(column, ONES)) == {m.value for m in zv.ClassificationMetric}
            assert len(zv.logistic(ONES, column)) == 8

    @pytest.mark.parametrize(
        "facet,value,match",
        [
            (np.array(["a", "b", "a", "b"]), 1, "facet_value must be a str"),
            (ONES, "1", "facet_value must be a number"),
            (ONES, None, "facet_value must be a number"),
            (ONES, 2**70, "64-bit"),
        ],
    )
    def test_label_value_of_the_wrong_kind(self, facet, value, match):
        with pytest.raises(zv.InvalidInputError, match=match) as caught:
            zv.data_bias(facet, ONES, facet_value=value, label_value=1)
        assert caught.value.argument == "facet_value"

    def test_missing_values_are_counted_per_argument(self):
        facet = np.array([1.0, np.nan, 0.0, 1.0])
        label = np.array([None, None, None, 1], dtype=object)
        with pytest.raises(zv.MissingValuesError, match="facet has 1 missing value; label has 3 missing values") as caught:
            zv.data_bias(facet, label, facet_value=1, label_value=1)
        assert caught.value.counts == {"facet": 1, "label": 3}
        assert "missing='drop'" in str(caught.value)

    @pytest.mark.parametrize("missing", ["ignore", None, "DROP"])
    def test_unknown_missing_policy(self, missing):
        with pytest.raises(zv.InvalidInputError, match="missing must be"):
            zv.regression(ONES, ONES, missing=missing)

    @pytest.mark.parametrize("threshold", [None, "0.5", float("nan"), True])
    def test_decision_threshold_must_be_a_real_number(self, threshold):
        with pytest.raises(zv.InvalidInputError, match="threshold") as caught:
            zv.logistic(ONES, ONES, threshold=threshold)
        assert caught.value.argument == "threshold"

    def test_text_is_refused_by_performance_functions(self):
        with pytest.raises(zv.UnsupportedInputError, match="y_true holds text"):
            zv.classification(np.array(["yes", "no", "yes", "no"]), ONES)

    def test_labels_are_keyword_only(self):
        with pytest.raises(TypeError):
            zv.data_bias(ONES, ONES, 1, 1)  # type: ignore[misc]


class TestEngineErrors:
    @pytest.mark.parametrize(
        "function,engine_text",
        [("data_bias", "No deviation"), ("model_bias", "no deviaton")],
    )
    def test_empty_group(self, function, engine_text):
        with pytest.raises(zv.EmptyGroupError, match="facet group or the rest group is empty") as caught:
            _call(function, facet=np.ones(4, dtype=int))
        assert caught.value.engine_message == engine_text
        assert isinstance(caught.value.__cause__, TypeError)

    @pytest.mark.parametrize(
        "function,engine_text",
        [
            ("classification", "Invalid arrays for y_pred and y_true: Arrays have no data"),
            ("logistic", "Invalid arrays for y_pred and y_true: Arrays have no data"),
            ("regression", "Invalid arrays for y_pred and y_true: Arrays are emtpy"),
        ],
    )
    def test_no_rows(self, function, engine_text):
        empty = np.zeros(0)
        with pytest.raises(zv.EmptyGroupError, match="no rows") as caught:
            _call(function, **({"y_true": empty, "y_prob": empty} if function == "logistic" else {"y_true": empty, "y_pred": empty}))
        assert caught.value.engine_message == engine_text

    def test_fatal_engine_error_becomes_a_value_error(self):
        class PanicException(BaseException):
            pass

        def engine():
            raise PanicException("Data of type String is not supported")

        with pytest.raises(zv.UnsupportedInputError) as caught:
            call_engine("test", engine)
        assert caught.value.engine_message == "Data of type String is not supported"
        assert isinstance(caught.value.__cause__, PanicException)

    @pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, MemoryError])
    def test_other_errors_pass_unchanged(self, error):
        def engine():
            raise error()

        with pytest.raises(error):
            call_engine("test", engine)

    @pytest.mark.parametrize(
        "exc,expected",
        [
            (TypeError("float"), zv.UnsupportedInputError),
            (ValueError("Invalid metric name passed"), zv.InvalidMetricError),
            (ValueError("Invalid baseline report: Invalid regression report"), zv.InvalidMetricError),
            (ValueError("something else"), zv.InvalidInputError),
        ],
    )
    def test_translation_keeps_the_engine_text(self, exc, expected):
        def engine():
            raise exc

        with pytest.raises(expected) as caught:
            call_engine("where", engine)
        assert caught.value.engine_message == str(exc)
        assert str(exc) in str(caught.value)

    @pytest.mark.parametrize(
        "column",
        [
            np.array([datetime.date(2020, 1, 1)] * 4, dtype=object),
            np.array([object()] * 4, dtype=object),
            [[1, 2], [3], [4], [5]],
            np.zeros(4, dtype=[("a", "i4")]),
        ],
        ids=["dates", "objects", "ragged", "structured"],
    )
    @pytest.mark.parametrize("function,argument", ARGUMENTS)
    def test_odd_inputs_raise_only_package_errors(self, column, function, argument):
        with pytest.raises(zv.ZentrovaError):
            _call(function, **{argument: column})


class TestErrorObjects:
    @pytest.mark.parametrize(
        "error",
        [
            zv.ZentrovaError("a", argument="x", engine_message="raw"),
            zv.InvalidInputError("b", argument="y"),
            zv.UnsupportedInputError("c"),
            zv.MissingValuesError("d", argument="facet", counts={"facet": 2}),
            zv.EmptyGroupError("e", engine_message="No deviation"),
            zv.InvalidMetricError("f", argument="metrics"),
        ],
        ids=lambda e: type(e).__name__,
    )
    def test_errors_survive_pickling(self, error):
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is type(error) and str(copy) == str(error)
        assert copy.__dict__ == error.__dict__
        assert isinstance(copy, ValueError)


ROWS = 2 * 2048 + 5  # two whole engine blocks and a partial one


def _call_with(function, columns, **options):
    """Call a measuring function on columns keyed by argument name."""
    arrays = [columns[name] for name in RULES[function]]
    if function == "data_bias":
        return zv.data_bias(*arrays, facet_value=2, label_value=1, **options)
    if function == "model_bias":
        return zv.model_bias(*arrays, facet_value=2, label_value=1, **options)
    return getattr(zv, function)(*arrays, **options)


def _columns(function, dtype, seed=5):
    rng = np.random.default_rng(seed)
    return {name: fitting_column(rng, ROWS, rule, dtype) for name, rule in RULES[function].items()}


class TestMissingRowsAnywhere:
    @pytest.mark.parametrize("function,argument", ARGUMENTS)
    @pytest.mark.parametrize("dtype", ["float64", "float32", "float16"])
    @pytest.mark.parametrize(
        "rows", [[0], [ROWS // 2], [ROWS - 1], [4096, ROWS - 2], [0, 2047, 2048, ROWS - 1]],
        ids=["first", "middle", "last", "partial block", "block edges"],
    )
    def test_nan_is_refused_with_its_count_and_dropped_on_request(self, function, argument, dtype, rows):
        columns = _columns(function, dtype)
        columns[argument] = columns[argument].copy()
        columns[argument][rows] = np.nan
        with pytest.raises(zv.MissingValuesError) as caught:
            _call_with(function, columns)
        assert caught.value.counts == {argument: len(rows)}
        assert caught.value.argument == argument
        keep = np.ones(ROWS, dtype=bool)
        keep[rows] = False
        kept = {name: column[keep] for name, column in columns.items()}
        dropped = _call_with(function, columns, missing="drop")
        assert_metrics_equal(dropped.engine_dict(), _call_with(function, kept).engine_dict())

    @pytest.mark.parametrize("function,argument", [("data_bias", "label"), ("data_bias", "facet"),
                                                   ("model_bias", "y_true"), ("model_bias", "y_pred")])
    @pytest.mark.parametrize("dtype", ["float64", "float32"])
    @pytest.mark.parametrize("row", [2048, 3001, ROWS - 1])
    def test_nan_in_a_two_valued_column_after_its_first_block(self, function, argument, dtype, row):
        # Once a column's two values are known, later blocks are only compared
        # with them: a NaN there must still be found.
        columns = _columns(function, dtype)
        two_valued = (np.arange(ROWS) % 3 == 0).astype(dtype)  # 0 is also the key of a NaN
        two_valued[row] = np.nan
        columns[argument] = two_valued
        with pytest.raises(zv.MissingValuesError) as caught:
            _call_with(function, columns)
        assert caught.value.counts == {argument: 1}

    @pytest.mark.parametrize("function", ["data_bias", "model_bias"])
    def test_missing_rows_are_reported_before_an_empty_group(self, function):
        columns = _columns(function, "float64")
        columns["facet"] = np.zeros(ROWS)  # no row in the facet group
        columns["facet"][7] = np.nan
        with pytest.raises(zv.MissingValuesError, match="facet has 1 missing value"):
            _call_with(function, columns)

    @pytest.mark.parametrize(
        "call",
        [
            lambda nan: zv.data_bias(nan, ONES, facet_value="1", label_value=1),
            lambda nan: zv.classification(nan, np.array(["a", "b", "a", "b"])),
            lambda nan: zv.logistic(nan, np.array([0.5, 2.0, 0.5, 0.5])),
        ],
        ids=["bad label value", "text column", "bad probability"],
    )
    def test_missing_rows_are_reported_before_other_faults(self, call):
        with pytest.raises(zv.MissingValuesError, match="1 missing value"):
            call(np.array([1.0, np.nan, 0.0, 1.0]))


class TestValuesNearTheEdges:
    @pytest.mark.parametrize("function,argument", [a for a in ARGUMENTS if a[0] in ("classification", "logistic")])
    @pytest.mark.parametrize("value", [1e-50, 1 + 1e-12, -1e-50, 2.0**-149, 1 + 2.0**-23])
    def test_labels_that_round_to_zero_or_one_are_not_labels(self, function, argument, value):
        columns = _columns(function, "float64")
        columns[argument] = columns[argument].copy()
        columns[argument][ROWS - 1] = value
        expected = "probabilities in \\[0, 1\\]" if argument == "y_prob" else "labels 0 and 1 only"
        if argument == "y_prob" and 0 <= value <= 1:
            assert len(_call_with(function, columns)) == 8  # a probability after all
            return
        with pytest.raises(zv.InvalidInputError, match=f"{argument} must hold {expected}") as caught:
            _call_with(function, columns)
        assert caught.value.argument == argument
        assert f"e.g. {np.float64(value)!r}" in str(caught.value)

    @pytest.mark.parametrize("function,argument", [("classification", "y_true"), ("classification", "y_pred"), ("logistic", "y_true")])
    @pytest.mark.parametrize("dtype", ["float64", "float32"])
    def test_negative_zero_is_a_label(self, function, argument, dtype):
        columns = _columns(function, dtype)
        zeros = columns[argument] == 0
        columns[argument] = np.where(zeros, -0.0, columns[argument]).astype(dtype)
        reference = dict(columns, **{argument: np.abs(columns[argument])})
        assert_metrics_equal(_call_with(function, columns).engine_dict(), _call_with(function, reference).engine_dict())

    @pytest.mark.parametrize("value", [-1e-50, 1 + 1e-12, -np.inf, np.inf])
    @pytest.mark.parametrize("dtype", ["float64", "float32"])
    def test_probabilities_just_outside_are_refused(self, value, dtype):
        columns = _columns("logistic", dtype)
        columns["y_prob"][2048] = value
        if 0 <= np.array(value, dtype=dtype) <= 1:
            assert len(_call_with("logistic", columns)) == 8  # float32 holds it as -0 or 1
            return
        with pytest.raises(zv.InvalidInputError, match="y_prob must hold probabilities in \\[0, 1\\] \\(found 1 outside"):
            _call_with("logistic", columns)

    def test_nan_probability_is_a_missing_value(self):
        columns = _columns("logistic", "float64")
        columns["y_prob"][ROWS - 1] = np.nan
        with pytest.raises(zv.MissingValuesError) as caught:
            _call_with("logistic", columns)
        assert caught.value.counts == {"y_prob": 1}
