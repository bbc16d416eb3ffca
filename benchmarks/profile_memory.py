"""Peak resident memory of `zentrova profile` on a large Parquet file.

Writes an N-row Parquet file of Adult-like columns plus a model's outputs (generated chunk by
chunk, so the generator's own memory stays small), then runs `zentrova profile` on it in a child
process and reports the child's peak resident set size, its wall time and the file's size.

    python benchmarks/profile_memory.py                    # 50,000,000 rows
    python benchmarks/profile_memory.py --rows 2000000 --keep /tmp/batch.parquet

Needs the package installed with PyArrow (`pip install '.[arrow]'`). The file takes about
16 bytes per row (about 0.8 GB at 50M rows); it goes to a temporary directory and is deleted
afterwards unless --keep names where to put it.
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

CHUNK_ROWS = 1_000_000

CONFIG = """\
threshold = 0.1

[data_bias]
facet = { column = "sex", value = "Female" }
label = { column = "income", value = ">50K" }

[model_bias]
facet = { column = "sex", value = "Female" }
label = { column = "income", value = ">50K" }
prediction = { column = "predicted", value = ">50K" }

[classification]
label = { column = "income", value = ">50K" }
prediction = { column = "predicted", value = ">50K" }

[logistic]
label = { column = "income", value = ">50K" }
probability = { column = "score" }

[regression]
target = { column = "hours" }
prediction = { column = "hours_predicted" }
"""


def chunk(rng, rows):
    """One chunk of Adult-like rows: text columns, integers, a score and a regression pair."""
    import pyarrow as pa

    female = rng.random(rows) < 0.33
    positive = rng.random(rows) < np.where(female, 0.11, 0.31)
    score = np.clip(np.where(positive, 0.62, 0.28) + rng.normal(0, 0.18, rows), 0.001, 0.999)
    hours = rng.integers(1, 99, rows).astype(np.float64)
    races = np.array(["White", "Black", "Asian-Pac-Islander", "Amer-Indian-Eskimo", "Other"])
    return pa.table({
        "age": rng.integers(17, 91, rows),
        "sex": pa.array(np.where(female, "Female", "Male")).dictionary_encode(),
        "race": pa.array(races[rng.choice(5, rows, p=[0.85, 0.1, 0.03, 0.01, 0.01])]),
        "hours": hours,
        "income": pa.array(np.where(positive, ">50K", "<=50K")),
        "predicted": pa.array(np.where(score >= 0.5, ">50K", "<=50K")),
        "score": score.astype(np.float32),
        "hours_predicted": np.abs(hours + rng.normal(0, 5, rows)) + 0.5,
    })


def write_parquet(path, rows, seed=2024):
    """Write `rows` rows in chunks; one row group per chunk."""
    import pyarrow.parquet as pq

    rng = np.random.default_rng(seed)
    writer = None
    try:
        for start in range(0, rows, CHUNK_ROWS):
            table = chunk(rng, min(CHUNK_ROWS, rows - start))
            if writer is None:
                writer = pq.ParquetWriter(path, table.schema, compression="snappy")
            writer.write_table(table, row_group_size=CHUNK_ROWS)
    finally:
        if writer is not None:
            writer.close()


def pq_rows(path):
    import pyarrow.parquet as pq

    return pq.read_metadata(path).num_rows


def profile_peak(data, config, output):
    """Run the command in a child process; return (exit code, peak RSS in bytes, seconds)."""
    command = [sys.executable, "-m", "zentrova", "profile", str(data), "-c", str(config),
               "-o", str(output), "--no-progress"]
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    code = subprocess.call(command)
    seconds = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    if peak <= before:
        print("warning: an earlier child had a higher peak; the figure is an upper bound",
              file=sys.stderr)
    # ru_maxrss is in kilobytes on Linux, in bytes on macOS.
    return code, peak * (1 if sys.platform == "darwin" else 1024), seconds


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=50_000_000, help="rows (default 50,000,000)")
    parser.add_argument("--keep", metavar="PATH", help="write the Parquet file here and keep it")
    parser.add_argument("--reuse", action="store_true",
                        help="with --keep: profile the existing file instead of writing it again")
    args = parser.parse_args(argv)
    if args.rows < 1:
        parser.error("--rows must be positive")
    if args.reuse and not args.keep:
        parser.error("--reuse needs --keep")
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        data = Path(args.keep) if args.keep else scratch / "batch.parquet"
        if not (args.reuse and data.exists()):
            start = time.perf_counter()
            write_parquet(data, args.rows)
            print(f"wrote {args.rows:,} rows to {data} in {time.perf_counter() - start:.0f} s")
        config = scratch / "job.toml"
        config.write_text(CONFIG)
        code, peak, seconds = profile_peak(data, config, scratch / "metrics.json")
        size = os.path.getsize(data)
        rows = pq_rows(data)
        print(f"rows {rows:,}; file {size / 1e6:,.0f} MB; zentrova profile exit {code}; "
              f"peak RSS {peak / 2**20:,.0f} MiB; {seconds:,.1f} s")
        return code


if __name__ == "__main__":
    sys.exit(main())
