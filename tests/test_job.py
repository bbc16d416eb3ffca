"""The job's batch path in-process: splits, column kinds, refusals, missing values, the metrics
file and the chart's allowed range."""
import json

import numpy as np
import pyarrow as pa
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _zentrova as zv
from _job_helpers import CONFIG, adult_like, assert_same_metrics, metrics_of, reference, stored
from _reference import bits
from zentrova import FAMILIES, check
from zentrova.config import JobError, _toml_module, load_config
from zentrova.formats import read_metrics, write_metrics
from zentrova.job import Profiler, profile_files
from zentrova.report_html import allowed_range

TABLE = adult_like(1200, seed=3)
REFERENCE = reference(TABLE)
JOB = load_config(_toml_module().loads(CONFIG))


def _profile(table, config=JOB, batch_rows=None):
    profiler = Profiler(config)
    for batch in table.to_batches(max_chunksize=batch_rows):
        profiler.feed(batch, "test data")
    return profiler.document()


def _cuts(draw_cuts, rows):
    bounds = [0, *sorted(draw_cuts), rows]
    return [(start, stop - start) for start, stop in zip(bounds, bounds[1:])]


class TestSplits:
    @settings(max_examples=20, deadline=None)
    @given(st.lists(st.integers(0, TABLE.num_rows), max_size=6))
    def test_batches_in_sequence_equal_one_call(self, cuts):
        profiler = Profiler(JOB)
        for start, length in _cuts(cuts, TABLE.num_rows):
            profiler.feed(TABLE.slice(start, length), "part")
        document = profiler.document()
        assert_same_metrics(metrics_of(document), REFERENCE)
        assert {e["rows"] for e in document["families"].values()} == {TABLE.num_rows}

    @settings(max_examples=20, deadline=None)
    @given(st.lists(st.integers(0, TABLE.num_rows), min_size=1, max_size=6))
    def test_parts_shipped_as_bytes_and_merged_equal_one_call(self, cuts):
        parts = []
        for start, length in _cuts(cuts, TABLE.num_rows):
            profiler = Profiler(JOB)
            profiler.feed(TABLE.slice(start, length), "part")
            parts.append(Profiler.from_bytes(JOB, profiler.to_bytes()))
        merged = parts[0]
        for part in parts[1:]:
            merged = merged.merge(part)
        assert_same_metrics(metrics_of(merged.document()), REFERENCE)

    def test_statistics_of_another_configuration_are_refused(self):
        other = load_config({"regression": {"target": "hours", "prediction": "age"}})
        with pytest.raises(JobError, match="another configuration"):
            Profiler.from_bytes(other, Profiler(JOB).to_bytes())


def _with(table, name, values):
    return table.set_column(table.schema.get_field_index(name), name, values)


REGRESSION = {"regression": {"target": "hours", "prediction": "hours_predicted"}}


class TestColumnKinds:
    @pytest.mark.parametrize("arrow_type", [
        pa.int8(), pa.int16(), pa.int32(), pa.int64(), pa.uint8(), pa.uint16(), pa.uint32(),
        pa.uint64(), pa.float16(), pa.float32(), pa.float64()])
    def test_numeric_kinds_measure_their_values(self, arrow_type):
        hours = TABLE["hours"].to_numpy()
        table = _with(TABLE, "hours", pa.array(hours).cast(arrow_type))
        document = _profile(table, load_config(REGRESSION), batch_rows=500)
        expected = zv.model_performance_regression(TABLE["hours_predicted"].to_numpy(),
                                                   hours.astype(np.int64))
        assert_same_metrics(metrics_of(document), {"regression": stored("regression", expected)})

    def test_bool_and_integer_labels_without_value(self):
        truth = TABLE["income"].to_numpy(zero_copy_only=False) == ">50K"
        predicted = TABLE["predicted"].to_numpy(zero_copy_only=False) == ">50K"
        table = _with(_with(TABLE, "income", pa.array(truth)), "predicted",
                      pa.array(predicted.astype(np.int32)))
        config = load_config({"classification": {"label": "income", "prediction": "predicted"}})
        assert_same_metrics(metrics_of(_profile(table, config, 300)),
                            {"classification": REFERENCE["classification"]})

    def test_dictionary_encoded_text_equals_plain_text(self):
        table = pa.table({name: (TABLE[name].dictionary_encode() if name in ("sex", "income")
                                 else TABLE[name]) for name in TABLE.column_names})
        assert_same_metrics(metrics_of(_profile(table, batch_rows=250)), REFERENCE)

    def test_several_texts_mark_the_positive_rows(self):
        income = TABLE["income"].to_numpy(zero_copy_only=False).copy()
        income[::3] = np.where(income[::3] == ">50K", ">50K.", "<=50K.")
        config = load_config({"data_bias": {"facet": {"column": "sex", "value": "Female"},
                                            "label": {"column": "income",
                                                      "value": [">50K", ">50K."]}}})
        document = _profile(_with(TABLE, "income", pa.array(income)), config, 400)
        assert_same_metrics(metrics_of(document), {"data_bias": REFERENCE["data_bias"]})

    @pytest.mark.parametrize("value", [40, 40.5, 65.0])
    def test_numeric_facet_value_is_the_engines_label_or_threshold(self, value):
        config = load_config({"data_bias": {"facet": {"column": "age", "value": value},
                                            "label": {"column": "income", "value": ">50K"}}})
        expected = zv.data_bias_analyzer(TABLE["age"].to_numpy(),
                                         np.asarray(TABLE["income"].to_pylist()), value, ">50K")
        assert_same_metrics(metrics_of(_profile(TABLE, config, 256)),
                            {"data_bias": stored("data_bias", expected)})


REFUSALS = [
    ({"data_bias": {"facet": {"column": "age", "value": "old"},
                    "label": {"column": "income", "value": ">50K"}}}, None,
     "column 'age' (data_bias.facet) holds numbers (int64) but its value is 'old'"),
    ({"data_bias": {"facet": {"column": "sex", "value": 1},
                    "label": {"column": "income", "value": ">50K"}}}, None,
     "column 'sex' (data_bias.facet) holds text but its value is 1"),
    ({"classification": {"label": "age", "prediction": "age"}}, None,
     "holds values other than 0 and 1"),
    ({"logistic": {"label": {"column": "income", "value": ">50K"}, "probability": "hours"}},
     None, "holds values outside [0, 1]"),
    ({"regression": {"target": "sex", "prediction": "hours"}}, None,
     "column 'sex' (regression.target) holds text where numbers are needed"),
    ({"regression": {"target": "when", "prediction": "hours"}}, "when",
     "has type timestamp[s], which the job cannot measure"),
    ({"data_bias": {"facet": {"column": "sex", "value": "Nobody"},
                    "label": {"column": "income", "value": ">50K"}}}, None,
     "data_bias: the facet group or the rest group is empty"),
    ({"regression": {"target": "hours", "prediction": "nothing"}}, None,
     "no column 'nothing'"),
]


class TestRefusals:
    @pytest.mark.parametrize("config, extra, message", REFUSALS)
    def test_refused_with_the_column_named(self, config, extra, message):
        table = TABLE
        if extra:
            table = table.append_column(extra, pa.array(np.arange(table.num_rows),
                                                        pa.timestamp("s")))
        with pytest.raises(JobError) as raised:
            _profile(table, load_config(config), 500)
        assert message in str(raised.value)


class TestMissingValues:
    @staticmethod
    def _holes():
        sex = TABLE["sex"].to_pylist()
        score = TABLE["score"].to_numpy().copy()
        for i in range(5, len(sex), 97):
            sex[i] = None
        score[11::101] = np.nan
        return _with(_with(TABLE, "sex", pa.array(sex)), "score", pa.array(score)), sex, score

    @pytest.mark.parametrize("family, column", [("data_bias", "sex"), ("logistic", "score")])
    def test_refused_by_default(self, family, column):
        table, _, _ = self._holes()
        config = load_config({family: _toml_module().loads(CONFIG)[family]})
        with pytest.raises(JobError, match=f"column '{column}' .* missing value"):
            _profile(table, config, 500)

    def test_dropped_per_family_on_request(self):
        table, sex, score = self._holes()
        config = load_config(dict(_toml_module().loads(CONFIG), missing="drop"))
        document = _profile(table, config, 300)
        keep_sex = np.array([s is not None for s in sex])
        keep_score = ~np.isnan(score)
        expected = {}
        for family, keep in (("data_bias", keep_sex), ("model_bias", keep_sex),
                             ("classification", None), ("logistic", keep_score),
                             ("regression", None)):
            rows = TABLE.filter(pa.array(keep)) if keep is not None else TABLE
            expected[family] = reference(rows)[family]
            assert document["families"][family]["rows"] == rows.num_rows
        assert_same_metrics(metrics_of(document), expected)


float32_values = st.integers(0, 2**32 - 1).map(
    lambda b: float(np.array(b, dtype=np.uint32).view(np.float32)))


class TestMetricsFile:
    @settings(max_examples=50, deadline=None)
    @given(st.lists(float32_values, min_size=8, max_size=8))
    def test_numbers_read_back_to_the_same_float32(self, tmp_path_factory, values):
        from zentrova.job import metrics_document, stored_number

        names = [m.canonical for m in FAMILIES["regression"]]
        metrics = {n: stored_number(v) for n, v in zip(names, values)}
        path = tmp_path_factory.mktemp("m") / "metrics.json"
        write_metrics(metrics_document("0" * 64, {"regression": {
            "rows": 1, "threshold": 0.1, "metrics": metrics}}), str(path))
        json.loads(path.read_text())  # strict JSON: no NaN or Infinity tokens
        read = read_metrics(str(path))["families"]["regression"]["metrics"]
        for name, value in zip(names, values):
            if np.isfinite(value):
                assert bits(read[name]) == bits(value)
            else:
                assert read[name] is None

    def test_engine_spellings_read_as_canonical_names(self, tmp_path):
        engine = dict(zv.data_bias_analyzer(np.array(["a", "b", "a"]), np.array([1, 0, 0]),
                                            "a", 1))
        path = tmp_path / "old.json"
        path.write_text(json.dumps({"format": 1, "families": {"data_bias": {
            "rows": 3, "threshold": 0.1, "metrics": engine, "checked": ["KolmorogvSmirnov"]}}}))
        entry = read_metrics(str(path))["families"]["data_bias"]
        assert entry["metrics"] == stored("data_bias", engine)
        assert entry["checked"] == ["KolmogorovSmirnov"]


class TestAllowedRange:
    @settings(max_examples=300, deadline=None)
    @given(st.sampled_from([(f, m.canonical) for f, e in FAMILIES.items() for m in e]),
           st.floats(-10, 10, width=32), st.floats(-10, 10, width=32),
           st.floats(0, 2, width=32))
    def test_band_holds_exactly_the_passing_values(self, metric, baseline, latest, threshold):
        family, name = metric
        result = check({name: baseline}, {name: latest}, family=family, metrics=[name],
                       threshold=threshold)
        (row,) = result.rows
        low, high = allowed_range(row.rule, baseline, threshold)
        inside = (low is None or latest >= low) and (high is None or latest <= high)
        assert inside == (row.status == "passed"), (row.rule, low, high)


class TestCsvColumnTypes:
    @pytest.mark.parametrize("declared", [False, True])
    def test_type_inferred_from_the_first_block_or_declared(self, tmp_path, monkeypatch,
                                                           declared):
        import zentrova.readers

        monkeypatch.setattr(zentrova.readers, "CSV_BLOCK_BYTES", 1 << 12)
        hours = np.arange(2000) % 60 + 1.0
        hours[-1] = 40.5  # far past the first block, which held whole numbers only
        predicted = hours + 0.25
        path = tmp_path / "data.csv"
        path.write_text("hours,predicted\n" + "".join(
            f"{h:g},{p:g}\n" for h, p in zip(hours, predicted)))
        config = dict(REGRESSION_CSV, csv={"column_types": {"hours": "float"}} if declared
                      else {})
        if not declared:
            with pytest.raises(JobError, match="declare it in \\[csv\\] column_types"):
                profile_files([path], config)
            return
        expected = zv.model_performance_regression(predicted, hours)
        assert_same_metrics(metrics_of(profile_files([path], config)),
                            {"regression": stored("regression", expected)})


REGRESSION_CSV = {"regression": {"target": "hours", "prediction": "predicted"}}
