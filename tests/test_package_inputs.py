"""Every input kind gives exactly the engine's result on the equivalent ndarray."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _zentrova as raw
import zentrova as zv
from _inputs import NUMERIC_DTYPES, NUMERIC_KINDS, RULES, TEXT_KINDS, as_engine_dtype, census, fitting_column, labels
from _reference import assert_metrics_equal
from zentrova import _engine
from zentrova._columns import to_column

N = 64


@pytest.fixture
def rng():
    return np.random.default_rng(20261208)


def _engine_and_package(function, columns):
    """(engine result, package call) of one function on reference columns."""
    if function == "data_bias":
        facet, label = columns
        return (
            raw.data_bias_analyzer(facet, label, 2, 1),
            lambda f, l: zv.data_bias(f, l, facet_value=2, label_value=1),
        )
    if function == "model_bias":
        facet, y_true, y_pred = columns
        return (
            raw.model_bias_analyzer(facet, y_true, y_pred, 2, 1, 1),
            lambda f, t, p: zv.model_bias(f, t, p, facet_value=2, label_value=1, prediction_value=1),
        )
    if function == "classification":
        y_true, y_pred = columns
        return raw.model_performance_classification(y_pred, y_true), zv.classification
    if function == "logistic":
        y_true, y_prob = columns
        return raw.model_performance_logisitic_regression(y_prob, y_true, 0.5), zv.logistic
    y_true, y_pred = columns
    return raw.model_performance_regression(y_pred, y_true), zv.regression


def _columns(function, rng, dtype):
    """Reference columns of one function, in a dtype where the values fit."""
    if function == "data_bias":
        return rng.integers(0, 4, N).astype(dtype), labels(rng, N, dtype)
    if function == "model_bias":
        return rng.integers(0, 4, N).astype(dtype), labels(rng, N, dtype), labels(rng, N, dtype)
    if function == "classification":
        return labels(rng, N, dtype), labels(rng, N, dtype)
    if function == "logistic":
        prob = rng.random(N) if np.dtype(dtype).kind == "f" else labels(rng, N)
        return labels(rng, N, dtype), prob.astype(dtype)
    return (rng.random(N) * 50).astype(dtype), (rng.random(N) * 50).astype(dtype)


FUNCTIONS = ["data_bias", "model_bias", "classification", "logistic", "regression"]


def _bool_safe(function, dtype):
    # A bool facet cannot hold the value 2 that the bias cases label.
    return not (dtype == "bool" and function in ("data_bias", "model_bias"))


class TestNumericDtypes:
    @pytest.mark.parametrize("function", FUNCTIONS)
    @pytest.mark.parametrize("dtype", NUMERIC_DTYPES)
    def test_every_dtype_matches_engine_on_its_exact_equivalent(self, function, dtype, rng):
        if not _bool_safe(function, dtype):
            pytest.skip("bool facet has no value 2")
        columns = _columns(function, rng, dtype)
        expected, call = _engine_and_package(function, [as_engine_dtype(c) for c in columns])
        assert_metrics_equal(call(*columns).engine_dict(), expected)

    @pytest.mark.parametrize("function", ["data_bias", "classification"])
    def test_bool_columns_are_labels(self, function, rng):
        truth = labels(rng, N).astype(bool)
        other = labels(rng, N).astype(bool)
        if function == "data_bias":
            got = zv.data_bias(other, truth, facet_value=True, label_value=True)
            expected = raw.data_bias_analyzer(other.astype(np.int16), truth.astype(np.int16), 1, 1)
        else:
            got = zv.classification(truth, other)
            expected = raw.model_performance_classification(other.astype(np.int16), truth.astype(np.int16))
        assert_metrics_equal(got.engine_dict(), expected)


class TestContainers:
    @pytest.mark.parametrize("function", FUNCTIONS)
    @pytest.mark.parametrize("kind", sorted(NUMERIC_KINDS))
    @pytest.mark.parametrize("dtype", ["int64", "float32"])
    def test_numeric_kind_matches_engine_on_ndarray(self, function, kind, dtype, rng, tmp_path):
        columns = _columns(function, rng, dtype)
        expected, call = _engine_and_package(function, list(columns))
        converted = [NUMERIC_KINDS[kind](c, tmp_path) for c in columns]
        assert_metrics_equal(call(*converted).engine_dict(), expected)

    @pytest.mark.parametrize("kind", sorted(TEXT_KINDS))
    def test_text_facet_and_labels_match_engine_on_fixed_width_text(self, kind, rng, tmp_path):
        facet = rng.choice(np.array(["Female", "Male", "Other"]), N)
        truth = rng.choice(np.array([">50K", "<=50K"]), N)
        pred = rng.choice(np.array([">50K", "<=50K"]), N)
        build = TEXT_KINDS[kind]
        got = zv.model_bias(
            build(facet, tmp_path), build(truth, tmp_path), build(pred, tmp_path),
            facet_value="Female", label_value=">50K",
        )
        expected = raw.model_bias_analyzer(facet, truth, pred, "Female", ">50K", ">50K")
        assert_metrics_equal(got.engine_dict(), expected)
        got = zv.data_bias(build(facet, tmp_path), build(truth, tmp_path), facet_value="Male", label_value="<=50K")
        assert_metrics_equal(got.engine_dict(), raw.data_bias_analyzer(facet, truth, "Male", "<=50K"))

    @pytest.mark.parametrize("kind", ["pandas categorical", "polars", "arrow dictionary"])
    def test_text_label_absent_from_the_column_makes_an_empty_group(self, kind, tmp_path):
        facet = np.array(["a", "b", "a"])
        with pytest.raises(zv.EmptyGroupError):
            zv.data_bias(TEXT_KINDS[kind](facet, tmp_path), [1, 0, 1], facet_value="zzz", label_value=1)

    def test_numeric_pandas_categorical_reads_its_values(self):
        pd = pytest.importorskip("pandas")
        facet = np.array([3, 7, 3, 7, 7])
        got = zv.data_bias(pd.Series(facet, dtype="category"), [1, 0, 1, 1, 0], facet_value=3, label_value=1)
        assert_metrics_equal(got.engine_dict(), raw.data_bias_analyzer(facet, np.array([1, 0, 1, 1, 0]), 3, 1))

    @pytest.mark.parametrize("label", [np.int64(2), np.int8(2), np.float32(2.0), np.float64(2.0), 2.0])
    def test_numpy_scalar_labels_are_plain_numbers(self, label, rng):
        facet, truth = rng.integers(0, 4, N), labels(rng, N)
        got = zv.data_bias(facet, truth, facet_value=label, label_value=np.bool_(True))
        assert_metrics_equal(got.engine_dict(), raw.data_bias_analyzer(facet, truth, 2, 1))

    def test_numpy_str_scalar_label(self):
        facet = np.array(["a", "b", "a", "b"])
        got = zv.data_bias(facet, [1, 0, 0, 1], facet_value=np.str_("a"), label_value=1)
        assert_metrics_equal(got.engine_dict(), raw.data_bias_analyzer(facet, np.array([1, 0, 0, 1]), "a", 1))


class TestZeroCopy:
    def test_memmap_is_viewed_not_copied(self, tmp_path):
        mapped = NUMERIC_KINDS["memmap"](np.arange(10.0), tmp_path)
        assert np.shares_memory(to_column(mapped, "x").values, mapped)

    @pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32", "int16"])
    def test_engine_dtypes_are_passed_as_they_are(self, dtype):
        array = np.arange(10, dtype=dtype)
        assert to_column(array, "x").values is array

    def test_pandas_numeric_column_is_not_copied(self):
        pd = pytest.importorskip("pandas")
        series = pd.Series(np.arange(10.0))
        assert np.shares_memory(to_column(series, "x").values, series.to_numpy())

    def test_polars_numeric_column_is_not_copied(self):
        pl = pytest.importorskip("polars")
        series = pl.Series(np.arange(10.0))
        assert np.shares_memory(to_column(series, "x").values, series.to_numpy())

    def test_arrow_numeric_array_is_not_copied(self):
        pa = pytest.importorskip("pyarrow")
        array = pa.array(np.arange(10.0))
        buffer = np.frombuffer(array.buffers()[1], dtype=np.float64)
        assert np.shares_memory(to_column(array, "x").values, buffer)


class TestMissingDrop:
    @pytest.mark.parametrize(
        "build",
        [
            pytest.param(lambda v: np.array([np.nan if x is None else x for x in v], dtype=float), id="nan"),
            pytest.param(lambda v: list(v), id="list None"),
            pytest.param(lambda v: pytest.importorskip("pandas").Series(v, dtype="Int64"), id="pandas NA"),
            pytest.param(lambda v: pytest.importorskip("polars").Series(v), id="polars null"),
            pytest.param(lambda v: pytest.importorskip("pyarrow").array(v), id="arrow null"),
            pytest.param(
                lambda v: np.ma.masked_array([0 if x is None else x for x in v], mask=[x is None for x in v]),
                id="masked",
            ),
        ],
    )
    def test_drop_leaves_those_rows_out_of_every_column(self, build):
        facet = [1, 0, None, 1, 0, 0, 1, None]
        truth = [1, 1, 0, None, 0, 1, 0, 1]
        keep = [i for i in range(8) if facet[i] is not None and truth[i] is not None]
        expected = raw.data_bias_analyzer(
            np.array([facet[i] for i in keep]), np.array([truth[i] for i in keep]), 1, 1
        )
        got = zv.data_bias(build(facet), build(truth), facet_value=1, label_value=1, missing="drop")
        assert_metrics_equal(got.engine_dict(), expected)

    @pytest.mark.parametrize("kind", ["object ndarray", "pandas str", "pandas object", "polars", "arrow"])
    def test_missing_text_rows_are_dropped(self, kind, tmp_path):
        facet = np.array(["a", "b", "a", "b", "a"], dtype=object)
        facet[1] = None
        truth = np.array([1, 0, 0, 1, 1])
        build = TEXT_KINDS[kind]
        column = build(facet, tmp_path) if kind != "arrow" and kind != "polars" else build(facet.astype(object), tmp_path)
        got = zv.data_bias(column, truth, facet_value="a", label_value=1, missing="drop")
        keep = [0, 2, 3, 4]
        expected = raw.data_bias_analyzer(np.array(["a", "a", "b", "a"]), truth[keep], "a", 1)
        assert_metrics_equal(got.engine_dict(), expected)


text = st.text(alphabet=st.sampled_from(["a", "b", "é", "\x00", " "]), max_size=3)


class TestTextRule:
    @settings(max_examples=40, deadline=None)
    @given(values=st.lists(text, min_size=2, max_size=12), label=text, truth=st.lists(st.booleans(), min_size=12, max_size=12))
    def test_text_column_as_zero_one_labels_equals_the_engine_text_rule(self, values, label, truth):
        truth = np.array(truth[: len(values)], dtype=np.int64)
        objects = np.array(values, dtype=object)
        fixed = np.array(values)  # fixed-width text drops trailing NULs on both sides
        cases = [(fixed, fixed)]
        for kind in ("object ndarray", "list", "pandas object", "pandas str", "pandas categorical", "polars", "arrow"):
            column = TEXT_KINDS[kind](objects, None)
            # The reference is what the container holds (some pandas versions
            # fold "" and "\x00" into one category when building it).
            held = column.to_pylist() if hasattr(column, "to_pylist") else list(column)
            cases.append((np.array(held, dtype=object), column))
        for reference, column in cases:
            try:
                expected = raw.data_bias_analyzer(reference, truth, label, 1)
            except TypeError as exc:
                with pytest.raises(zv.EmptyGroupError) as caught:
                    zv.data_bias(column, truth, facet_value=label, label_value=1)
                assert caught.value.engine_message == str(exc)
            else:
                got = zv.data_bias(column, truth, facet_value=label, label_value=1)
                assert_metrics_equal(got.engine_dict(), expected)

    @pytest.mark.parametrize("values", [[0, 1, 1, 0], [1, 1, 1, 1], [0, 0, 0, 0], [1, 0, 0, 0]])
    def test_zero_one_column_labelled_by_one_is_itself(self, values):
        # Equality with 1 on two distinct values, ">= 1" on one: the same rows.
        truth = np.array([1, 0, 1, 1])
        column = np.array(values, dtype=np.int16)
        reference = np.array(["x" if v else "y" for v in values])
        try:
            expected = raw.data_bias_analyzer(reference, truth, "x", 1)
        except TypeError as exc:
            with pytest.raises(TypeError, match=str(exc)):
                raw.data_bias_analyzer(column, truth, 1, 1)
        else:
            assert_metrics_equal(raw.data_bias_analyzer(column, truth, 1, 1), expected)


class TestPandasShapes:
    def test_one_column_frame_and_index_are_columns(self):
        pd = pytest.importorskip("pandas")
        facet, truth = np.array([1, 0, 1, 0, 0]), np.array([1, 1, 0, 0, 1])
        expected = raw.data_bias_analyzer(facet, truth, 1, 1)
        got = zv.data_bias(pd.DataFrame({"f": facet}), pd.Index(truth), facet_value=1, label_value=1)
        assert_metrics_equal(got.engine_dict(), expected)
        with pytest.raises(zv.InvalidInputError, match="facet must be one column"):
            zv.data_bias(pd.DataFrame({"a": facet, "b": facet}), truth, facet_value=1, label_value=1)

    @pytest.mark.parametrize("dtype", ["category", "str", "object", "Int64", "Float64", "boolean", "polars", "arrow"])
    def test_all_missing_column_is_counted(self, dtype):
        if dtype in ("polars", "arrow"):
            module = pytest.importorskip("polars" if dtype == "polars" else "pyarrow")
            column = module.Series([None] * 4) if dtype == "polars" else module.array([None] * 4)
        else:
            column = pytest.importorskip("pandas").Series([None] * 4, dtype=dtype)
        with pytest.raises(zv.MissingValuesError) as caught:
            zv.data_bias(column, [1, 0, 1, 0], facet_value=1, label_value=1)
        assert caught.value.counts == {"facet": 4}


# The engine's argument order of each function, and its counting entry and
# raw function with the labels the reference columns are made for.
ENGINE_CALLS = {
    "data_bias": (["facet", "label"], _engine._data_bias, raw.data_bias_analyzer, (2, 1)),
    "model_bias": (["facet", "y_true", "y_pred"], _engine._model_bias, raw.model_bias_analyzer, (2, 1, 1)),
    "classification": (["y_pred", "y_true"], _engine._classification, raw.model_performance_classification, ()),
    "logistic": (["y_prob", "y_true"], _engine._logistic, raw.model_performance_logisitic_regression, (0.5,)),
    "regression": (["y_pred", "y_true"], _engine._regression, raw.model_performance_regression, ()),
}
# Values each rule refuses, other than NaN, by dtype kind: some round to an
# accepted float32 (1e-50, 1 + 1e-12), some lie just outside.
OUTSIDE = {
    ("label", "f"): [1e-45, 1 + 1e-7, 0.5, -1.0, np.inf],
    ("label", "i"): [2, -1],
    ("probability", "f"): [-1e-45, 1 + 1e-7, -np.inf, 2.0],
    ("probability", "i"): [2, -1],
}
ROWS = 2 * 2048 + 5  # two whole engine blocks and a partial one


@pytest.fixture(params=_engine._kernel_paths())
def kernel_path(request):
    if not _engine._force_kernel_path(request.param):
        pytest.skip(f"{request.param} falls back to the library")
    yield request.param
    _engine._force_kernel_path(None)


def _layout(array, strided):
    return np.repeat(array, 2)[::2] if strided else array


class TestEngineCounts:
    @pytest.mark.parametrize("function", FUNCTIONS)
    @pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32", "int16"])
    @pytest.mark.parametrize("strided", [False, True], ids=["contiguous", "strided"])
    def test_counts_equal_numpy_counts_and_clean_calls_equal_the_engine(self, function, dtype, strided, kernel_path):
        rng = np.random.default_rng(abs(hash((function, dtype, strided))) % 2**32)
        order, entry, engine, labels_ = ENGINE_CALLS[function]
        columns = {name: fitting_column(rng, ROWS, RULES[function][name], dtype) for name in order}
        arrays = [_layout(columns[name], strided) for name in order]
        metrics, counts = entry(*arrays, *labels_)
        assert counts == tuple((0, 0) for _ in order)
        assert_metrics_equal(metrics, engine(*arrays, *labels_))

        kind = np.dtype(dtype).kind
        for name in order:
            # Each value alone, so that no other one gives its block away.
            for bad in ([np.nan] if kind == "f" else []) + OUTSIDE.get((RULES[function][name], kind), []):
                spoiled = columns[name].copy()
                rows = [rng.integers(0, ROWS), ROWS - 1]  # anywhere, and the last row of the partial block
                spoiled[rows] = bad
                arrays = [_layout(spoiled if n == name else columns[n], strided) for n in order]
                metrics, counts = entry(*arrays, *labels_)
                expected = tuple(census(a, RULES[function][n]) for a, n in zip(arrays, order))
                assert counts == expected, (name, bad)
                assert metrics is None and any(any(c) for c in counts)

    @pytest.mark.parametrize("bad", [3, 2**51, 2**62, -(2**62)])
    @pytest.mark.parametrize("function", ["classification", "logistic"])
    def test_int64_labels_far_outside_are_counted_and_refused(self, function, bad, kernel_path):
        # Integer labels are checked by their bits alone, beyond the range the
        # fast conversion takes as well.
        rng = np.random.default_rng(5)
        order, entry, _, labels_ = ENGINE_CALLS[function]
        columns = {name: fitting_column(rng, ROWS, RULES[function][name], "int64") for name in order}
        columns["y_true"][rng.integers(0, ROWS)] = bad
        metrics, counts = entry(*(columns[name] for name in order), *labels_)
        assert metrics is None and counts == ((0, 0), (0, 1))
        package = zv.classification if function == "classification" else zv.logistic
        with pytest.raises(zv.InvalidInputError) as caught:
            package(columns["y_true"], columns[order[0]])
        assert caught.value.argument == "y_true"

    @pytest.mark.parametrize("rows", [0, 1, 2047, 2048, 2049])
    @pytest.mark.parametrize("function", ["classification", "logistic", "regression"])
    def test_a_value_in_the_last_row_of_any_size_is_counted(self, rows, function):
        order, entry, _, labels_ = ENGINE_CALLS[function]
        columns = [np.zeros(rows) for _ in order]
        if not rows:
            with pytest.raises(ValueError, match="Arrays are emtpy|Arrays have no data"):
                entry(*columns, *labels_)
            return
        columns[0][-1] = np.nan
        metrics, counts = entry(*columns, *labels_)
        assert counts == ((1, 0), (0, 0))
        assert metrics is None

    @given(st.data())
    @settings(max_examples=40, deadline=None)
    def test_package_results_are_the_engine_bits(self, data):
        function = data.draw(st.sampled_from(FUNCTIONS))
        dtype = data.draw(st.sampled_from(["float64", "float32", "int64"]))
        rows = data.draw(st.integers(3, 5000))
        rng = np.random.default_rng(data.draw(st.integers(0, 2**32 - 1)))
        order, _, engine, labels_ = ENGINE_CALLS[function]
        columns = {name: fitting_column(rng, rows, RULES[function][name], dtype) for name in order}
        for name in columns:
            if RULES[function][name] != "any":
                columns[name][:2] = [0, 1]
        try:
            expected = engine(*[columns[name] for name in order], *labels_)
        except (TypeError, ValueError):
            return  # an empty group: the refusals are tested elsewhere
        call = _engine_and_package(function, [columns[name] for name in order])[1]
        package_order = list(RULES[function])
        assert_metrics_equal(call(*[columns[name] for name in package_order]).engine_dict(), expected)
