"""The monitoring job: feed batches of rows to the statistics objects, write and check metrics.

The same code serves files read batch by batch, Dask partitions and Spark partitions: a
:class:`Profiler` takes Arrow record batches (or tables), keeps one statistics object per
configured family, and can be shipped as bytes and merged with another. Because the statistics
objects merge exactly, the metrics do not depend on how the rows were split.
"""
from __future__ import annotations

import datetime as _dt
import json
import math
import os
import struct
from pathlib import Path
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from .config import FAMILIES, METRIC_ENUMS, FamilyConfig, JobConfig, JobError, load_config
from .readers import open_reader

__all__ = ["FORMAT_VERSION", "Profiler", "profile_files", "check_documents", "metrics_document"]

FORMAT_VERSION = 1

# Integer and float dtypes the engine reads straight from memory; others are widened exactly.
_ENGINE_NUMERIC = {np.dtype(t) for t in ("int16", "int32", "int64", "float32", "float64")}


def _pa() -> Any:
    from .readers import require_pyarrow

    return require_pyarrow()


def _engine() -> Any:
    from . import _engine

    return _engine


def _new_stats(family: FamilyConfig) -> Any:
    engine = _engine()
    columns = family.columns
    if family.name == "data_bias":
        return engine.DataBiasStats(_engine_label(columns["facet"].value),
                                    _engine_label(columns["label"].value))
    if family.name == "model_bias":
        return engine.ModelBiasStats(_engine_label(columns["facet"].value),
                                     _engine_label(columns["label"].value),
                                     _engine_label(columns["prediction"].value))
    if family.name == "classification":
        return engine.ClassificationStats()
    if family.name == "logistic":
        return engine.LogisticStats(decision_threshold=family.decision_threshold)
    return engine.RegressionStats()


def _engine_label(value: Any) -> Any:
    # Text columns are labelled here (1 where the text matches), so the engine sees a 0/1 column
    # and the label 1: with two distinct values it tests equality with 1, with one value it
    # tests "at least 1"; both give back exactly the 0/1 column, as labelling the text would.
    return 1 if isinstance(value, (str, tuple)) else value


class _FamilyFeed:
    """Turns the columns of one batch into the arrays one family's statistics object takes."""

    def __init__(self, family: FamilyConfig, missing: str) -> None:
        self.family = family
        self.drop_missing = missing == "drop"
        self.stats = _new_stats(family)
        self.rows = 0
        self.dropped = 0

    def feed(self, columns: "_BatchColumns") -> None:
        pa = _pa()
        family = self.family
        source = columns.source
        arrays = {role: columns.array(column_def.column) for role, column_def in family.columns.items()}
        missing = None
        for role, column_def in family.columns.items():
            mask = columns.missing(column_def.column)
            if mask is None:
                continue
            if not self.drop_missing:
                raise JobError(f"{source}: column {column_def.column!r} ({family.name}.{role}) has "
                               f"{int(mask.sum())} missing value(s) in one batch; set "
                               f"missing = \"drop\" to skip such rows")
            missing = mask if missing is None else (missing | mask)
        if missing is not None:
            keep = pa.array(~missing)
            arrays = {role: array.filter(keep) for role, array in arrays.items()}
            self.dropped += int(missing.sum())
        # Rows equal to a text value are marked once per batch for all families, unless this
        # family dropped rows of its own.
        marks = columns.marks if missing is None else None
        converted = {role: self._convert(role, array, source, marks)
                     for role, array in arrays.items()}
        rows = len(next(iter(converted.values())))
        if rows == 0:
            return
        try:
            self.stats.update(**self._arguments(converted))
        except (TypeError, ValueError) as exc:
            raise JobError(f"{source}: {family.name}: {exc}") from None
        self.rows += rows

    def _arguments(self, c: Mapping[str, np.ndarray]) -> Dict[str, np.ndarray]:
        name = self.family.name
        if name == "data_bias":
            return {"feature_array": c["facet"], "ground_truth_array": c["label"]}
        if name == "model_bias":
            return {"feature_array": c["facet"], "ground_truth_array": c["label"],
                    "prediction_array": c["prediction"]}
        if name == "classification":
            return {"y_pred": c["prediction"], "y_true": c["label"]}
        if name == "logistic":
            return {"y_pred": c["probability"], "y_true": c["label"]}
        return {"y_pred": c["prediction"], "y_true": c["target"]}

    def _convert(self, role: str, array: Any, source: str,
                 marks: Optional[Callable[[str, Any], np.ndarray]]) -> np.ndarray:
        pa = _pa()
        family = self.family
        column_def = family.columns[role]
        where = f"{source}: column {column_def.column!r} ({family.name}.{role})"
        text = _is_text(pa, array.type)
        if column_def.value is not None and (text or column_def.text_value):
            if text != column_def.text_value:
                held = "text" if text else f"numbers ({array.type})"
                raise JobError(f"{where} holds {held} but its value is {column_def.value!r}")
            marked = (marks(column_def.column, column_def.value) if marks is not None
                      else _matches(pa, array, column_def.value))
            return marked.astype(np.float64 if _performance(family.name) else np.int64)
        if text:
            hint = (f"; give {family.name}.{role}.value, the text of the positive rows"
                    if role in ("label", "prediction") and _performance(family.name) else "")
            raise JobError(f"{where} holds text where numbers are needed{hint}")
        values = _numeric(pa, array, where)
        if column_def.value is not None and _performance(family.name):
            return np.asarray(values == column_def.value, dtype=np.float64)
        if family.name in ("classification", "logistic") and role in ("label", "prediction"):
            if not np.all((values == 0) | (values == 1)):
                raise JobError(f"{where} holds values other than 0 and 1; give "
                               f"{family.name}.{role}.value, the value of the positive rows")
        if role == "probability" and not np.all((values >= 0) & (values <= 1)):
            raise JobError(f"{where} holds values outside [0, 1]; probabilities are needed")
        return values


class _BatchColumns:
    """The columns of one batch, each decoded, checked for missing values and matched against
    a text value once, however many families use it."""

    def __init__(self, batch: Any, source: str) -> None:
        self.batch = batch
        self.source = source
        self._arrays: Dict[str, Any] = {}
        self._missing: Dict[str, Optional[np.ndarray]] = {}
        self._marks: Dict[Tuple[str, Any], np.ndarray] = {}

    def array(self, name: str) -> Any:
        if name not in self._arrays:
            self._arrays[name] = _column(self.batch, name, self.source)
        return self._arrays[name]

    def missing(self, name: str) -> Optional[np.ndarray]:
        if name not in self._missing:
            self._missing[name] = _missing_mask(_pa(), self.array(name))
        return self._missing[name]

    def marks(self, name: str, value: Any) -> np.ndarray:
        key = (name, value)
        if key not in self._marks:
            self._marks[key] = _matches(_pa(), self.array(name), value)
        return self._marks[key]


def _performance(family: str) -> bool:
    return family in ("classification", "logistic")


def _column(batch: Any, name: str, source: str) -> Any:
    try:
        array = batch.column(name)
    except KeyError:
        raise JobError(f"{source}: no column {name!r}") from None
    if hasattr(array, "combine_chunks"):  # a table's ChunkedArray
        array = array.combine_chunks()
    pa = _pa()
    if pa.types.is_dictionary(array.type):
        array = array.dictionary_decode()
    return array


def _is_text(pa: Any, arrow_type: Any) -> bool:
    return bool(pa.types.is_string(arrow_type) or pa.types.is_large_string(arrow_type)
                or getattr(pa.types, "is_string_view", lambda t: False)(arrow_type))


def _missing_mask(pa: Any, array: Any) -> Optional[np.ndarray]:
    """Rows that are null, or NaN in a float column; None when there are none."""
    mask = None
    if array.null_count:
        mask = array.is_null().to_numpy(zero_copy_only=False)
    if pa.types.is_floating(array.type):
        nan = np.isnan(array.fill_null(0).to_numpy(zero_copy_only=False))
        if nan.any():
            mask = nan if mask is None else (mask | nan)
    return mask if mask is not None and mask.any() else None


def _matches(pa: Any, array: Any, value: Any) -> np.ndarray:
    import pyarrow.compute as pc

    values = list(value) if isinstance(value, tuple) else [value]
    marked = pc.is_in(array, value_set=pa.array(values, type=array.type))
    return np.asarray(marked.to_numpy(zero_copy_only=False), dtype=bool)


def _numeric(pa: Any, array: Any, where: str) -> np.ndarray:
    """An Arrow numeric column as a NumPy array of a dtype the engine reads, values unchanged."""
    arrow_type = array.type
    if pa.types.is_boolean(arrow_type):
        return np.asarray(array.to_numpy(zero_copy_only=False), dtype=np.int64)
    if not (pa.types.is_integer(arrow_type) or pa.types.is_floating(arrow_type)):
        raise JobError(f"{where} has type {arrow_type}, which the job cannot measure")
    values: np.ndarray = np.asarray(array.to_numpy(zero_copy_only=False))
    if values.dtype in _ENGINE_NUMERIC:
        return values
    if values.dtype == np.float16:
        return values.astype(np.float32)
    if values.dtype.kind == "u" and values.dtype.itemsize == 8:
        if values.size and values.max() >= 2**63:
            raise JobError(f"{where} holds a value above 2**63 - 1")
        return values.astype(np.int64)
    # int8, uint8, uint16 fit int32 exactly; uint32 needs int64.
    return values.astype(np.int32 if values.dtype.itemsize < 4 else np.int64)


class Profiler:
    """Statistics of every configured family over the rows fed so far.

    Parameters
    ----------
    config : JobConfig, path or dict
        The job's configuration.
    """

    def __init__(self, config: Union[JobConfig, str, Path, Mapping[str, Any]]) -> None:
        self.config = config if isinstance(config, JobConfig) else load_config(config)
        self._feeds = {name: _FamilyFeed(family, self.config.missing)
                       for name, family in self.config.families.items()}

    def feed(self, batch: Any, source: str = "data") -> None:
        """Add the rows of an Arrow record batch or table (extra columns are ignored)."""
        columns = _BatchColumns(batch, source)
        for feed in self._feeds.values():
            feed.feed(columns)

    def merge(self, other: "Profiler") -> "Profiler":
        """A new profiler holding the rows of both (self's rows first)."""
        if other.config.digest != self.config.digest:
            raise JobError("cannot merge statistics of different configurations")
        merged = Profiler(self.config)
        for name, feed in merged._feeds.items():
            mine, theirs = self._feeds[name], other._feeds[name]
            feed.stats = mine.stats.merge(theirs.stats)
            feed.rows = mine.rows + theirs.rows
            feed.dropped = mine.dropped + theirs.dropped
        return merged

    def to_bytes(self) -> bytes:
        """The statistics as bytes: a JSON header (rows and sizes) followed by each family's."""
        blobs = {name: feed.stats.to_bytes() for name, feed in self._feeds.items()}
        header = json.dumps({
            "config_sha256": self.config.digest,
            "families": {name: [feed.rows, feed.dropped, len(blobs[name])]
                         for name, feed in self._feeds.items()},
        }).encode()
        return struct.pack("<I", len(header)) + header + b"".join(blobs.values())

    @classmethod
    def from_bytes(cls, config: JobConfig, data: bytes) -> "Profiler":
        (size,) = struct.unpack_from("<I", data)
        header = json.loads(data[4:4 + size])
        if header["config_sha256"] != config.digest:
            raise JobError("the statistics were computed under another configuration")
        profiler = cls(config)
        offset = 4 + size
        for name, (rows, dropped, length) in header["families"].items():
            feed = profiler._feeds[name]
            feed.stats = type(feed.stats).from_bytes(data[offset:offset + length])
            feed.rows, feed.dropped = rows, dropped
            offset += length
        return profiler

    @property
    def rows(self) -> Dict[str, int]:
        return {name: feed.rows for name, feed in self._feeds.items()}

    def document(self, created: Optional[str] = None) -> Dict[str, Any]:
        """The metrics file's contents: every family's metrics under their canonical names."""
        families = {}
        for name, feed in self._feeds.items():
            family = feed.family
            if feed.rows == 0:
                raise JobError(f"{name}: no rows to measure")
            try:
                raw = feed.stats.metrics()
            except (TypeError, ValueError) as exc:
                raise JobError(f"{name}: {_engine_problem(name, exc)}") from None
            entry: Dict[str, Any] = {"rows": feed.rows, "threshold": family.threshold,
                                     "metrics": _canonical(name, raw)}
            if family.metrics is not None:
                entry["checked"] = list(family.metrics)
            families[name] = entry
        return metrics_document(self.config.digest, families, created)


def _engine_problem(family: str, exc: BaseException) -> str:
    text = str(exc)
    if text in ("No deviation", "no deviaton") or "group" in text and "empty" in text:
        return ("the facet group or the rest group is empty (every row or no row matches "
                "the facet's value)")
    return text


def _canonical(family: str, raw: Mapping[str, float]) -> Dict[str, Optional[float]]:
    enum = METRIC_ENUMS[family]
    metrics: Dict[str, Optional[float]] = {}
    for member in enum:
        value = raw[member.key] if member.key in raw else raw[member.canonical]
        metrics[member.canonical] = stored_number(value)
    return metrics


def stored_number(value: Any) -> Optional[float]:
    """A metric as written to the metrics file: the float32 value widened to a Python float
    (whose repr reads back to the same float32), or None when it is not finite."""
    single = np.float32(value)
    return float(single) if np.isfinite(single) else None


def metrics_document(digest: str, families: Mapping[str, Any],
                     created: Optional[str] = None) -> Dict[str, Any]:
    if created is None:
        created = _dt.datetime.now(_dt.timezone.utc).isoformat(timespec="seconds")
    return {"format": FORMAT_VERSION, "created": created, "config_sha256": digest,
            "families": dict(families)}


ProgressCallback = Callable[[float, int], None]


def profile_files(paths: Sequence[Union[str, Path]],
                  config: Union[JobConfig, str, Path, Mapping[str, Any]],
                  progress: Optional[ProgressCallback] = None) -> Dict[str, Any]:
    """Profile data files batch by batch and return the metrics file's contents.

    Parameters
    ----------
    paths : sequence of path
        CSV (plain or compressed), Parquet or Arrow IPC files, read in order.
    config : JobConfig, path or dict
    progress : callable, optional
        Called after each batch with the share of bytes read (0..1) and the rows read so far.
    """
    profiler = Profiler(config)
    job = profiler.config
    if not paths:
        raise JobError("no data file given")
    for path in paths:
        if not os.access(path, os.R_OK):
            reason = "no such file" if not os.path.exists(path) else "permission denied"
            raise JobError(f"{path}: cannot read the file: {reason}")
    readers = [open_reader(str(path), job.column_names, _text_columns(job), job.csv)
               for path in paths]
    total = sum(reader.size for reader in readers) or 1
    done, rows = 0, 0
    for reader in readers:
        for batch in reader:
            profiler.feed(batch, str(reader.path))
            rows += batch.num_rows
            if progress is not None:
                progress(min((done + reader.progress * reader.size) / total, 1.0), rows)
        done += reader.size
    return profiler.document()


def _text_columns(config: JobConfig) -> List[str]:
    return [column_def.column for family in config.families.values()
            for column_def in family.columns.values() if column_def.text_value]


def check_documents(baseline: Mapping[str, Any], latest: Mapping[str, Any],
                    threshold: Optional[float] = None,
                    baseline_name: str = "baseline") -> List[Tuple[str, Any]]:
    """Check every family of the latest metrics against the baseline.

    The latest file's thresholds and metric subsets apply unless `threshold` overrides them.
    Returns (family, CheckResult) pairs in the family order.
    """
    from ._check import check

    results = []
    for name in FAMILIES:
        if name not in latest["families"]:
            continue
        entry = latest["families"][name]
        base = baseline["families"].get(name)
        if base is None:
            have = ", ".join(baseline["families"]) or "none"
            raise JobError(f"{baseline_name}: no metrics for {name} (it has: {have})")
        result = check(_values(base["metrics"]), _values(entry["metrics"]), family=name,
                       metrics=entry.get("checked"),
                       threshold=entry["threshold"] if threshold is None else threshold)
        results.append((name, result))
    return results


def _values(metrics: Mapping[str, Optional[float]]) -> Dict[str, float]:
    return {name: math.nan if value is None else float(value) for name, value in metrics.items()}

