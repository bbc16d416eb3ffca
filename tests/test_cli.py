"""The `zentrova` command end to end, each run in a fresh interpreter on small files."""
import csv
import datetime
import gzip
import json
import re
import xml.etree.ElementTree as ET
from html.parser import HTMLParser
from pathlib import Path

import numpy as np
import pytest

import _zentrova as zv
from _job_helpers import (CONFIG, FORMATS, adult_like, assert_same_metrics, load, metrics_of,
                          reference, shifted, stored, write, zentrova)


@pytest.fixture(scope="module")
def job(tmp_path_factory):
    """Config, test data in every format, a shifted copy, and a baseline profiled from Parquet."""
    root = tmp_path_factory.mktemp("job")
    (root / "job.toml").write_text(CONFIG)
    table = adult_like()
    files = {fmt: write(table, root / f"batch.{fmt}") for fmt in FORMATS}
    write(shifted(table), root / "shifted.parquet")
    done = zentrova("profile", files["parquet"], "--config", root / "job.toml",
                    "-o", root / "base.json")
    assert done.returncode == 0, done.stderr
    return {"root": root, "table": table, "files": files}


def _run_check(job, latest, *extra):
    root = job["root"]
    return zentrova("run", latest, "--config", root / "job.toml", "--baseline",
                    root / "base.json", *extra)


class TestProfile:
    @pytest.mark.parametrize("fmt", FORMATS)
    def test_every_format_matches_one_engine_call(self, job, fmt):
        out = job["root"] / f"metrics-{fmt}.json"
        done = zentrova("profile", job["files"][fmt], "-c", job["root"] / "job.toml", "-o", out)
        assert done.returncode == 0 and done.stderr == "", done.stderr  # no bar off a terminal
        document = load(out)
        assert_same_metrics(metrics_of(document), reference(job["table"]))
        rows = job["table"].num_rows
        assert {f: e["rows"] for f, e in document["families"].items()} == dict.fromkeys(
            document["families"], rows)
        assert document["format"] == 1
        assert re.fullmatch(r"[0-9a-f]{64}", document["config_sha256"])
        assert datetime.datetime.fromisoformat(document["created"]).tzinfo is not None
        assert document["families"]["model_bias"]["checked"] == ["DisparateImpact",
                                                                  "AccuracyDifference"]
        assert "checked" not in document["families"]["data_bias"]
        assert document["families"]["regression"]["threshold"] == 0.2

    def test_several_files_equal_their_concatenation(self, job, tmp_path):
        table = job["table"]
        parts = [write(table.slice(start, 1000), tmp_path / f"part{i}.{fmt}")
                 for i, (start, fmt) in enumerate(zip((0, 1000, 2000),
                                                      ("csv", "parquet", "arrows")))]
        done = zentrova("profile", *parts, "-c", job["root"] / "job.toml")
        assert done.returncode == 0, done.stderr
        assert_same_metrics(metrics_of(json.loads(done.stdout)), reference(table))


    def test_raw_adult_csv_with_spaces_after_commas(self, tmp_path):
        source = Path(__file__).resolve().parent.parent / "data" / "adult" / "adult.test.gz"
        (tmp_path / "job.toml").write_text(
            '[csv]\ntrim_spaces = true\n[data_bias]\nfacet = { column = "sex", value = '
            '"Female" }\nlabel = { column = "Y", value = [">50K", ">50K."] }\n')
        done = zentrova("profile", source, "-c", tmp_path / "job.toml")
        assert done.returncode == 0, done.stderr
        with gzip.open(source, "rt", newline="") as handle:
            rows = list(csv.DictReader(handle, skipinitialspace=True))
        sex = np.array([row["sex"] for row in rows])
        label = np.array([row["Y"] in (">50K", ">50K.") for row in rows], dtype=np.int64)
        expected = stored("data_bias", zv.data_bias_analyzer(sex, label, "Female", 1))
        assert_same_metrics(metrics_of(json.loads(done.stdout)), {"data_bias": expected})


class TestExitCodes:
    def test_unchanged_data_passes(self, job):
        done = _run_check(job, job["files"]["csv.gz"])
        assert done.returncode == 0, done.stdout + done.stderr
        assert done.stdout.startswith("zentrova check: passed")

    def test_shifted_data_fails(self, job):
        done = _run_check(job, job["root"] / "shifted.parquet")
        assert done.returncode == 1, done.stderr
        assert "data_bias" in done.stdout.splitlines()[0]
        assert "logistic" in done.stdout.splitlines()[0]

    def test_undefined_metric_fails(self, tmp_path):
        # A negative prediction makes the logarithmic errors NaN: undefined, so not a pass.
        table = adult_like(200)
        predicted = table["hours_predicted"].to_numpy().copy()
        predicted[0] = -5.0
        table = table.set_column(5, "hours_predicted", [predicted])
        write(table, tmp_path / "data.parquet")
        (tmp_path / "job.toml").write_text(
            '[regression]\ntarget = "hours"\nprediction = "hours_predicted"\n')
        assert zentrova("profile", tmp_path / "data.parquet", "-c", tmp_path / "job.toml",
                        "-o", tmp_path / "base.json").returncode == 0
        done = zentrova("check", "--baseline", tmp_path / "base.json",
                        "--latest", tmp_path / "base.json", "--format", "json")
        assert done.returncode == 1
        rows = json.loads(done.stdout)["families"]["regression"]["rows"]
        assert {r["metric"] for r in rows if r["status"] == "undefined"} == {
            "MeanSquaredLogError", "RootMeanSquaredLogError"}
        assert all(r["status"] == "passed" for r in rows
                   if r["metric"] not in ("MeanSquaredLogError", "RootMeanSquaredLogError"))

    @pytest.mark.parametrize("threshold, code", [("100", 0), ("0.1", 1)])
    def test_threshold_overrides_the_files(self, job, threshold, code):
        root = job["root"]
        done = _run_check(job, root / "shifted.parquet", "--threshold", threshold,
                          "-o", root / f"shifted-{threshold}.json")
        assert done.returncode == code
        # The stored metrics keep the configured thresholds; only this check used the override.
        assert load(root / f"shifted-{threshold}.json")["families"]["data_bias"]["threshold"] \
            == 0.1


class _PageParser(HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.attrs = [], []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.attrs.append(dict(attrs))


@pytest.fixture(scope="module")
def shifted_check(job):
    root = job["root"]
    assert _run_check(job, root / "shifted.parquet", "-o", root / "shifted.json").returncode == 1
    return root / "shifted.json"


@pytest.fixture(scope="module")
def expected(shifted_check, job):
    """The families' verdicts from the JSON report, which the other formats must agree with."""
    done = zentrova("check", "--baseline", job["root"] / "base.json",
                    "--latest", shifted_check, "--format", "json")
    return json.loads(done.stdout)


class TestReportFormats:
    def _report(self, job, shifted_check, fmt):
        done = zentrova("check", "--baseline", job["root"] / "base.json", "--latest",
                        shifted_check, "--format", fmt)
        assert done.returncode == 1 and done.stderr == ""
        return done.stdout

    def test_json(self, expected):
        families = expected["families"]
        assert expected["passed"] is False
        assert list(families) == ["data_bias", "model_bias", "classification", "logistic",
                                  "regression"]
        assert [r["metric"] for r in families["model_bias"]["rows"]] == ["DisparateImpact",
                                                                          "AccuracyDifference"]
        for entry in families.values():
            assert entry["failed"] == [r["metric"] for r in entry["rows"]
                                       if r["status"] == "failed"]
        assert families["data_bias"]["failed"] and not families["regression"]["failed"]

    def test_junit(self, job, shifted_check, expected):
        suites = ET.fromstring(self._report(job, shifted_check, "junit"))
        assert [s.get("name") for s in suites] == list(expected["families"])
        for suite in suites:
            rows = expected["families"][suite.get("name")]["rows"]
            assert [c.get("name") for c in suite] == [r["metric"] for r in rows]
            assert [c.find("failure") is not None for c in suite] == [
                r["status"] != "passed" for r in rows]
            assert int(suite.get("failures")) == sum(r["status"] != "passed" for r in rows)

    def test_markdown(self, job, shifted_check, expected):
        text = self._report(job, shifted_check, "markdown")
        for family, entry in expected["families"].items():
            section = text.split(f"### {family}: ", 1)[1].split("###", 1)[0]
            table = [line for line in section.splitlines() if line.startswith("| ")][1:]
            assert [line.split(" | ")[0][2:] for line in table] == [
                r["metric"] for r in entry["rows"]]
            assert [("**failed**" in line) for line in table] == [
                r["status"] == "failed" for r in entry["rows"]]

    def test_text(self, job, shifted_check, expected):
        text = self._report(job, shifted_check, "text")
        assert text.startswith("zentrova check: FAILED")
        for family, entry in expected["families"].items():
            assert f"{family} check {'passed' if entry['passed'] else 'FAILED'}" in text

    def test_html_page(self, job, shifted_check, expected, tmp_path):
        page = tmp_path / "report.html"
        done = zentrova("check", "--baseline", job["root"] / "base.json", "--latest",
                        shifted_check, "--html", page, "--format", "json")
        assert done.returncode == 1
        parser = _PageParser()
        parser.feed(page.read_text())
        assert page.read_text().count("rows: baseline 3,000, latest 3,000") == len(
            expected["families"])
        assert "script" not in parser.tags and "link" not in parser.tags
        assert not any(v and re.match(r"(https?:)?//", v) for a in parser.attrs
                       for k, v in a.items() if k in ("href", "src"))
        assert parser.tags.count("svg") == len(expected["families"])
        groups = [a.get("class") for t, a in zip(parser.tags, parser.attrs)
                  if t == "g" and "metric" in a.get("class", "")]
        statuses = [r["status"] for e in expected["families"].values() for r in e["rows"]]
        assert groups == [f"metric {s}" for s in statuses]
        assert sum(a.get("class") == "latest" for a in parser.attrs) == len(statuses)
        assert sum(a.get("class") == "band" for a in parser.attrs) == len(statuses)


def _one_line_error(done, *fragments):
    assert done.returncode == 2, (done.stdout, done.stderr)
    lines = done.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith("zentrova: error: "), done.stderr
    for fragment in fragments:
        assert fragment in lines[0]
    assert done.stdout == ""


class TestInputErrors:
    @pytest.mark.parametrize("name, content, problem", [
        ("missing.parquet", None, "no such file"),
        ("garbage.parquet", b"PAR1 but nothing else", "not a readable Parquet file"),
        ("garbage.arrow", b"ARROW1\x00\x00 truncated", "not a readable Arrow file"),
        ("folder", "dir", "is a directory"),
        ("binary.csv", b'sex,income\n"unterminated', "CSV"),
    ])
    def test_unreadable_data_file(self, job, tmp_path, name, content, problem):
        path = tmp_path / name
        if content == "dir":
            path.mkdir()
        elif content is not None:
            path.write_bytes(content)
        done = zentrova("profile", path, "-c", job["root"] / "job.toml")
        _one_line_error(done, str(path), problem)

    @pytest.mark.parametrize("fmt", ["csv", "parquet", "arrow"])
    def test_missing_column(self, job, tmp_path, fmt):
        path = write(job["table"].drop_columns(["score"]), tmp_path / f"data.{fmt}")
        done = zentrova("profile", path, "-c", job["root"] / "job.toml")
        _one_line_error(done, str(path), "no column 'score'")

    @pytest.mark.parametrize("content, problem", [
        ("{not json", "invalid JSON at line 1"),
        ('{"format": 2, "families": {}}', "format: expected 1"),
        ('{"format": 1, "families": {"fairness": {}}}', "families.fairness: unknown family"),
        ('{"format": 1, "families": {"regression": {"rows": 3, "threshold": 0.1, '
         '"metrics": {"MaxError": 1}}}}', "families.regression.metrics: lacks"),
        ('{"format": 1, "families": {"regression": {"rows": 3, "threshold": 0.1, '
         '"metrics": {"Foo": 1}}}}', "unknown metric 'Foo'"),
    ])
    def test_malformed_metrics_file(self, job, tmp_path, content, problem):
        bad = tmp_path / "bad.json"
        bad.write_text(content)
        done = zentrova("check", "--baseline", job["root"] / "base.json", "--latest", bad)
        _one_line_error(done, str(bad), problem)

    def test_unwritable_output(self, job, tmp_path):
        out = tmp_path / "no" / "such" / "dir" / "metrics.json"
        done = zentrova("profile", job["files"]["csv"], "-c", job["root"] / "job.toml", "-o", out)
        _one_line_error(done, str(out), "cannot write the metrics file")

    def test_baseline_without_the_family(self, job, tmp_path):
        document = load(job["root"] / "base.json")
        del document["families"]["logistic"]
        (tmp_path / "base.json").write_text(json.dumps(document))
        done = zentrova("check", "--baseline", tmp_path / "base.json",
                        "--latest", job["root"] / "base.json")
        _one_line_error(done, str(tmp_path / "base.json"), "no metrics for logistic")

    @pytest.mark.parametrize("args", [
        ["check", "--latest", "x.json"],
        ["check", "--baseline", "a.json", "--latest", "b.json", "--threshold", "-1"],
        ["check", "--baseline", "a.json", "--latest", "b.json", "--format", "yaml"],
        ["profile", "data.csv"],
        ["frobnicate"],
    ])
    def test_usage_error(self, args):
        done = zentrova(*args)
        assert done.returncode == 2 and "Traceback" not in done.stderr
        assert done.stderr.strip().splitlines()[-1].startswith("zentrova")


CONFIG_MISTAKES = [
    ("threshold = [\n", "not valid TOML"),
    ("treshold = 0.1\n[regression]\ntarget = 'a'\nprediction = 'b'\n", "treshold: unknown key"),
    ("", "no metric family configured"),
    ("[regresion]\n", "regresion: unknown key"),
    ("regression = 3\n", "regression: expected a table"),
    ("[regression]\ntarget = 'a'\n", "regression.prediction: missing"),
    ("[regression]\ntarget = 'a'\nprediction = 'b'\nmetric = ['MaxError']\n",
     "regression.metric: unknown key"),
    ("[regression]\ntarget = 'a'\nprediction = { column = 'b', value = 1 }\n",
     "regression.prediction.value: not allowed"),
    ("[regression]\ntarget = { name = 'a' }\nprediction = 'b'\n", "regression.target.name"),
    ("[regression]\ntarget = { column = 4 }\nprediction = 'b'\n", "regression.target.column"),
    ("[data_bias]\nfacet = 'sex'\nlabel = { column = 'y', value = 1 }\n",
     "data_bias.facet.value: missing"),
    ("[data_bias]\nfacet = { column = 'sex', value = [1, 2] }\nlabel = { column = 'y', value = 1 }\n",
     "data_bias.facet.value"),
    ("[regression]\ntarget = 'a'\nprediction = 'b'\nthreshold = 'high'\n",
     "regression.threshold: expected a number"),
    ("threshold = -0.1\n[regression]\ntarget = 'a'\nprediction = 'b'\n",
     "threshold: must not be negative"),
    ("threshold = nan\n[regression]\ntarget = 'a'\nprediction = 'b'\n",
     "threshold: must be a finite number"),
    ("[regression]\ntarget = 'a'\nprediction = 'b'\nmetrics = ['MaxError', 'F1Score']\n",
     "unknown metric 'F1Score' for regression"),
    ("[regression]\ntarget = 'a'\nprediction = 'b'\nmetrics = []\n", "regression.metrics"),
    ("[regression]\ntarget = 'a'\nprediction = 'b'\nmetrics = ['MaxError', 'MaxError']\n",
     "named twice"),
    ("[logistic]\nlabel = 'y'\nprobability = 'p'\ndecision_threshold = 1.5\n",
     "logistic.decision_threshold"),
    ("missing = 'ignore'\n[regression]\ntarget = 'a'\nprediction = 'b'\n", "missing: expected"),
    ("[csv]\ndelimiter = ';;'\n[regression]\ntarget = 'a'\nprediction = 'b'\n",
     "csv.delimiter"),
    ("[csv]\ncolumn_types = { a = 'double' }\n[regression]\ntarget = 'a'\nprediction = 'b'\n",
     "csv.column_types.a"),
]


class TestConfigErrors:
    @pytest.mark.parametrize("text, problem", CONFIG_MISTAKES,
                             ids=[p.split(":")[0] for _, p in CONFIG_MISTAKES])
    def test_refused_before_reading_data(self, tmp_path, text, problem):
        config = tmp_path / "job.toml"
        config.write_text(text)
        # The data file does not exist: the configuration must be refused first.
        done = zentrova("profile", tmp_path / "absent.parquet", "-c", config)
        _one_line_error(done, str(config), problem)

    def test_unreadable_config(self, tmp_path):
        done = zentrova("profile", tmp_path / "absent.parquet", "-c", tmp_path / "none.toml")
        _one_line_error(done, str(tmp_path / "none.toml"), "cannot read the configuration")


class TestEntryPoints:
    def test_console_script_is_the_cli(self):
        from importlib.metadata import entry_points

        import zentrova.cli

        (script,) = [e for e in entry_points(group="console_scripts") if e.name == "zentrova"]
        assert script.load() is zentrova.cli.main

    def test_help_names_every_command(self):
        done = zentrova("--help")
        assert done.returncode == 0
        for command in ("profile", "check", "run"):
            assert f"zentrova {command}" in done.stdout


class _Stream:
    def __init__(self, tty):
        self.tty, self.text = tty, ""

    def isatty(self):
        return self.tty

    def write(self, text):
        self.text += text

    def flush(self):
        pass


class TestProgress:
    @pytest.mark.parametrize("tty, enabled, shown", [(True, True, True), (False, True, False),
                                                     (True, False, False)])
    def test_bar_only_on_a_terminal(self, tty, enabled, shown):
        from zentrova.cli import Progress

        stream = _Stream(tty)
        progress = Progress(stream, "batch.parquet", enabled=enabled)
        progress(0.5, 123456)
        progress.close()
        assert ("50%" in stream.text and "123,456 rows" in stream.text) == shown
        assert (stream.text == "") == (not shown)
