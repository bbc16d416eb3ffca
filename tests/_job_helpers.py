"""Data, configuration and an independent reference for the monitoring-job tests.

The reference computes every family with one call of the `_zentrova` function on all rows
(text columns passed as text, labelled by the engine itself), so it shares nothing with the
job's batch path, its own labelling of text, or the statistics objects.
"""
import json
import subprocess
import sys
from pathlib import Path

import numpy as np
import pyarrow as pa
import pyarrow.csv as pcsv
import pyarrow.parquet as pq

import _zentrova as zv
from _reference import bits

CONFIG = """\
threshold = 0.1

[data_bias]
facet = { column = "sex", value = "Female" }
label = { column = "income", value = ">50K" }

[model_bias]
facet = { column = "sex", value = "Female" }
label = { column = "income", value = ">50K" }
prediction = { column = "predicted", value = ">50K" }
metrics = ["DisparateImpact", "AccuracyDifference"]

[classification]
label = { column = "income", value = ">50K" }
prediction = { column = "predicted", value = ">50K" }

[logistic]
label = { column = "income", value = ">50K" }
probability = { column = "score" }
decision_threshold = 0.5

[regression]
target = { column = "hours" }
prediction = { column = "hours_predicted" }
threshold = 0.2
"""

FORMATS = ("csv", "csv.gz", "parquet", "arrow", "arrows")


def adult_like(rows=3000, seed=7):
    """A table shaped like the Adult data plus a model's outputs."""
    rng = np.random.default_rng(seed)
    female = rng.random(rows) < 0.35
    positive = rng.random(rows) < np.where(female, 0.12, 0.3)
    score = np.clip(np.where(positive, 0.65, 0.3) + rng.normal(0, 0.2, rows), 0.001, 0.999)
    hours = rng.integers(5, 80, rows).astype(np.float64)
    return pa.table({
        "sex": np.where(female, "Female", "Male"),
        "income": np.where(positive, ">50K", "<=50K"),
        "predicted": np.where(score >= 0.5, ">50K", "<=50K"),
        "score": score.astype(np.float32),
        "hours": hours,
        "hours_predicted": np.abs(hours + rng.normal(0, 4, rows)) + 1.0,
        "age": rng.integers(17, 90, rows),
    })


def shifted(table):
    """Drift: 3 of 4 positive labels of the facet group dropped, 3 of 10 scores inverted."""
    sex = table["sex"].to_numpy(zero_copy_only=False)
    income = table["income"].to_numpy(zero_copy_only=False).copy()
    facet_positive = np.flatnonzero((sex == "Female") & (income == ">50K"))
    income[facet_positive[np.arange(len(facet_positive)) % 4 != 0]] = "<=50K"
    score = table["score"].to_numpy().copy()
    inverted = np.arange(len(score)) % 10 < 3
    score[inverted] = np.float32(1) - score[inverted]
    table = table.set_column(table.schema.get_field_index("income"), "income", pa.array(income))
    return table.set_column(table.schema.get_field_index("score"), "score", pa.array(score))


def write(table, path, fmt=None):
    """Write `table` in one of FORMATS, in small batches so that reading takes many."""
    path = Path(path)
    fmt = fmt or path.name.split(".", 1)[1]
    if fmt == "csv":
        pcsv.write_csv(table, path)
    elif fmt == "csv.gz":
        with pa.CompressedOutputStream(str(path), "gzip") as out:
            pcsv.write_csv(table, out)
    elif fmt == "parquet":
        pq.write_table(table, path, row_group_size=409)
    elif fmt in ("arrow", "arrows"):
        new = pa.ipc.new_file if fmt == "arrow" else pa.ipc.new_stream
        with pa.OSFile(str(path), "wb") as sink, new(sink, table.schema) as writer:
            for batch in table.to_batches(max_chunksize=333):
                writer.write_batch(batch)
    else:
        raise ValueError(fmt)
    return path


def _text(table, name):
    return np.asarray(table[name].to_numpy(zero_copy_only=False), dtype=str)


def reference(table):
    """Every family of CONFIG by one engine call on all rows, as the metrics file stores it."""
    sex, income, predicted = (_text(table, n) for n in ("sex", "income", "predicted"))
    truth = (income == ">50K").astype(np.float64)
    raw = {
        "data_bias": zv.data_bias_analyzer(sex, income, "Female", ">50K"),
        "model_bias": zv.model_bias_analyzer(sex, income, predicted, "Female", ">50K", ">50K"),
        "classification": zv.model_performance_classification(
            (predicted == ">50K").astype(np.float64), truth),
        "logistic": zv.model_performance_logisitic_regression(
            table["score"].to_numpy(), truth, 0.5),
        "regression": zv.model_performance_regression(
            table["hours_predicted"].to_numpy(), table["hours"].to_numpy()),
    }
    return {family: stored(family, values) for family, values in raw.items()}


def stored(family, engine_dict):
    """An engine dict as the metrics file keeps it: canonical names, None for non-finite."""
    from zentrova import FAMILIES

    out = {}
    for member in FAMILIES[family]:
        value = np.float32(engine_dict[member.key])
        out[member.canonical] = float(value) if np.isfinite(value) else None
    return out


def assert_same_metrics(got, expected):
    """Both are {family: {name: number or None}}; numbers must be the same float32 bits."""
    assert list(got) == list(expected)
    for family, metrics in expected.items():
        assert list(got[family]) == list(metrics), family
        for name, value in metrics.items():
            if value is None:
                assert got[family][name] is None, (family, name)
            else:
                assert bits(got[family][name]) == bits(value), (family, name,
                                                                got[family][name], value)


def metrics_of(document):
    return {family: entry["metrics"] for family, entry in document["families"].items()}


def zentrova(*args, cwd=None):
    """Run the command in a fresh interpreter; returns the completed process (text output)."""
    return subprocess.run([sys.executable, "-m", "zentrova", *map(str, args)], cwd=cwd,
                          capture_output=True, text=True, timeout=120)


def load(path):
    return json.loads(Path(path).read_text())
