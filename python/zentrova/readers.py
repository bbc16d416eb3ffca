"""Batch readers for the monitoring job: CSV (plain or compressed), Parquet and Arrow IPC files.

Each reader yields PyArrow record batches holding only the requested columns, one bounded batch
at a time, so memory stays flat however large the file. Parquet goes through
``ParquetFile.iter_batches``, which reads one row group at a time; a dataset scan was measured to
grow with the file and is not used.
"""
from __future__ import annotations

import os
from pathlib import Path
from typing import Any, Iterator, List, Sequence

from .config import CsvOptions, JobError

__all__ = ["BatchReader", "open_reader", "detect_format"]

BATCH_ROWS = 64 * 1024
CSV_BLOCK_BYTES = 4 << 20

_COMPRESSION_MAGIC = (
    (b"\x1f\x8b", "gzip"),
    (b"BZh", "bz2"),
    (b"\x28\xb5\x2f\xfd", "zstd"),
)


def require_pyarrow() -> Any:
    try:
        import pyarrow
    except ImportError:
        raise JobError("reading data files needs PyArrow: pip install 'zentrova[arrow]'") from None
    return pyarrow


def detect_format(path: Path) -> str:
    """'parquet', 'ipc_file', 'ipc_stream' or 'csv' (possibly compressed), from the first bytes.

    The content decides rather than the name, so a misnamed file still reads correctly.
    """
    with open(path, "rb") as handle:
        head = handle.read(8)
    if head[:4] == b"PAR1":
        return "parquet"
    if head[:6] == b"ARROW1":
        return "ipc_file"
    if head[:4] == b"\xff\xff\xff\xff":
        return "ipc_stream"
    return "csv"


class BatchReader:
    """Iterates one file's batches; `progress` tells how much of the file has been read (0..1).

    Batches hold the requested columns under the requested names, in the requested order.
    """

    def __init__(self, path: Path, columns: Sequence[str], text_columns: Sequence[str] = (),
                 csv: CsvOptions = CsvOptions(), batch_rows: int = BATCH_ROWS) -> None:
        self.path = path
        self.columns = list(dict.fromkeys(columns))
        self.text_columns = set(text_columns)
        self.csv = csv
        self.batch_rows = batch_rows
        self._fraction = 0.0
        try:
            self.size = os.path.getsize(path)
            self.format = detect_format(path)
        except OSError as exc:
            raise self._error(f"cannot read the file: {exc.strerror or exc}") from None

    @property
    def progress(self) -> float:
        return self._fraction

    def __iter__(self) -> Iterator[Any]:
        pa = require_pyarrow()
        opener = {"parquet": self._parquet, "ipc_file": self._ipc_file,
                  "ipc_stream": self._ipc_stream, "csv": self._csv}[self.format]
        batches = opener(pa)
        while True:
            try:
                batch = next(batches)
            except StopIteration:
                break
            except JobError:
                raise
            except (pa.ArrowException, OSError, ValueError) as exc:
                problem = _arrow_text(exc)
                if "CSV conversion error" in problem:
                    problem += ("; the type was inferred from the start of the file: declare "
                                "it in [csv] column_types")
                raise self._error(problem) from None
            yield batch
        self._fraction = 1.0

    # -- formats -----------------------------------------------------------------------------

    def _parquet(self, pa: Any) -> Iterator[Any]:
        import pyarrow.parquet as pq

        try:
            # Pre-buffering keeps the column chunks of every row group read so far until the
            # reader closes, so memory would grow with the file (measured: 45 MB of cached
            # chunks for one float column of 10M rows, against 6 MB without).
            parquet = pq.ParquetFile(self.path, pre_buffer=False)
        except (pa.ArrowException, OSError) as exc:
            raise self._error(f"not a readable Parquet file: {_arrow_text(exc)}") from None
        self._check_columns(parquet.schema_arrow.names)
        total = max(parquet.metadata.num_rows, 1)
        done = 0
        for batch in parquet.iter_batches(batch_size=self.batch_rows, columns=self.columns,
                                          use_threads=False):
            done += batch.num_rows
            self._fraction = done / total
            yield self._select(batch, batch.schema.names)

    def _ipc_file(self, pa: Any) -> Iterator[Any]:
        # Read, not memory-mapped: mapped pages that were touched count as resident memory,
        # which would then grow with the file.
        source = pa.OSFile(str(self.path))
        try:
            reader = pa.ipc.open_file(source)
        except (pa.ArrowException, OSError) as exc:
            source.close()
            raise self._error(f"not a readable Arrow file: {_arrow_text(exc)}") from None
        with source:
            self._check_columns(reader.schema.names)
            count = reader.num_record_batches
            for index in range(count):
                self._fraction = (index + 1) / count
                yield from self._split(self._select(reader.get_batch(index),
                                                    reader.schema.names))

    def _ipc_stream(self, pa: Any) -> Iterator[Any]:
        source = pa.OSFile(str(self.path))
        try:
            reader = pa.ipc.open_stream(source)
        except (pa.ArrowException, OSError) as exc:
            source.close()
            raise self._error(f"not a readable Arrow stream: {_arrow_text(exc)}") from None
        with source:
            self._check_columns(reader.schema.names)
            for batch in reader:
                self._fraction = source.tell() / max(self.size, 1)
                yield from self._split(self._select(batch, reader.schema.names))

    def _csv(self, pa: Any) -> Iterator[Any]:
        import pyarrow.csv as pcsv

        names = self._csv_header(pa, pcsv)
        actual = {name.strip(): name for name in names}
        self._check_columns(list(actual))
        wanted = [actual[name] for name in self.columns]
        arrow_types = {"int": pa.int64(), "float": pa.float64(), "text": pa.string()}
        declared = dict(self.csv.column_types)
        types = {actual[name]: arrow_types[declared.get(name, "text")] for name in self.columns
                 if name in self.text_columns or name in declared}
        raw = pa.OSFile(str(self.path))
        with raw:
            reader = pcsv.open_csv(
                self._decompressed(pa, raw),
                read_options=pcsv.ReadOptions(block_size=CSV_BLOCK_BYTES),
                parse_options=pcsv.ParseOptions(delimiter=self.csv.delimiter),
                convert_options=pcsv.ConvertOptions(include_columns=wanted, column_types=types),
            )
            for batch in reader:
                self._fraction = min(raw.tell() / max(self.size, 1), 1.0)
                batch = pa.RecordBatch.from_arrays(
                    [batch.column(name) for name in wanted], names=self.columns)
                if self.csv.trim_spaces:
                    batch = _trim_text(pa, batch)
                yield batch

    def _csv_header(self, pa: Any, pcsv: Any) -> List[str]:
        # Opening a reader parses one small block: enough to learn the column names.
        with pa.OSFile(str(self.path)) as raw:
            try:
                reader = pcsv.open_csv(
                    self._decompressed(pa, raw),
                    read_options=pcsv.ReadOptions(block_size=1 << 16),
                    parse_options=pcsv.ParseOptions(delimiter=self.csv.delimiter),
                )
            except (pa.ArrowException, OSError) as exc:
                raise self._error(f"not a readable CSV file: {_arrow_text(exc)}") from None
            names = list(reader.schema.names)
        if not names:
            raise self._error("not a readable CSV file: no header line")
        return names

    def _decompressed(self, pa: Any, raw: Any) -> Any:
        head = raw.read(4)
        raw.seek(0)
        for magic, codec in _COMPRESSION_MAGIC:
            if head.startswith(magic):
                return pa.CompressedInputStream(raw, codec)
        return raw

    # -- helpers -----------------------------------------------------------------------------

    def _check_columns(self, available: Sequence[str]) -> None:
        present = set(available)
        for name in self.columns:
            if name not in present:
                shown = ", ".join(repr(n) for n in list(available)[:12])
                more = ", ..." if len(available) > 12 else ""
                raise self._error(f"no column {name!r} (the file has {shown}{more})")

    def _select(self, batch: Any, names: Sequence[str]) -> Any:
        index = {name: i for i, name in enumerate(names)}
        if list(names) == self.columns:
            return batch
        pa = require_pyarrow()
        return pa.RecordBatch.from_arrays([batch.column(index[name]) for name in self.columns],
                                          names=self.columns)

    def _split(self, batch: Any) -> Iterator[Any]:
        # IPC batches can be as large as their writer chose; cut them so that downstream
        # conversions stay bounded.
        for offset in range(0, max(batch.num_rows, 1), self.batch_rows):
            yield batch.slice(offset, self.batch_rows)

    def _error(self, problem: str) -> JobError:
        return JobError(f"{self.path}: {problem}")


def _trim_text(pa: Any, batch: Any) -> Any:
    import pyarrow.compute as pc

    columns = []
    for column in batch.columns:
        if pa.types.is_string(column.type) or pa.types.is_large_string(column.type):
            column = pc.utf8_trim_whitespace(column)
        columns.append(column)
    return pa.RecordBatch.from_arrays(columns, names=batch.schema.names)


def _arrow_text(exc: BaseException) -> str:
    text = str(exc).strip().splitlines()
    return text[0] if text else type(exc).__name__


def open_reader(path: str, columns: Sequence[str], text_columns: Sequence[str] = (),
                csv: CsvOptions = CsvOptions(), batch_rows: int = BATCH_ROWS) -> BatchReader:
    """A reader of one data file; raises JobError naming the file when it cannot be opened."""
    file = Path(path)
    if file.is_dir():
        raise JobError(f"{file}: is a directory, not a data file")
    return BatchReader(file, columns, text_columns, csv, batch_rows)

