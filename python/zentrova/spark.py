"""The monitoring job on a Spark DataFrame: statistics per partition, merged in a tree.

    import zentrova.spark

    metrics = zentrova.spark.profile(spark.read.parquet("batch/"), "job.toml")

Each partition is profiled on its executor from Arrow batches (`mapInArrow`); only the
statistics come back, as bytes, one value per partition, and the driver merges neighbouring
pairs level by level. The result equals `zentrova profile` on the same rows, bit for bit.
"""
from __future__ import annotations

from pathlib import Path
from typing import Any, Dict, Iterator, List, Mapping, Union

from .config import JobConfig, JobError, load_config
from .job import Profiler

__all__ = ["profile"]


def profile(df: Any, config: Union[str, Path, Mapping[str, Any], JobConfig]) -> Dict[str, Any]:
    """Profile a Spark DataFrame; return the metrics file's contents as a dict.

    Parameters
    ----------
    df : pyspark.sql.DataFrame
        The rows to measure; it must hold every column the configuration names.
    config : path, dict or JobConfig
        The job's configuration (a TOML file's path, or its contents as a dict).

    Returns
    -------
    dict
        The same contents `zentrova profile` writes to its metrics file.

    Raises
    ------
    JobError
        The configuration is invalid or a column is missing; a column holding values the job
        cannot use fails the Spark job with the same message.
    """
    try:
        from pyspark.sql import functions as F
    except ImportError:
        raise JobError("zentrova.spark needs PySpark: pip install 'zentrova[spark]'") from None
    job = config if isinstance(config, JobConfig) else load_config(config)
    columns = list(job.column_names)
    absent = [name for name in columns if name not in df.columns]
    if absent:
        raise JobError(f"the Spark DataFrame has no column {absent[0]!r}")
    selected = df.select(*[F.col(f"`{name}`") for name in columns])

    def partition_stats(batches: Iterator[Any]) -> Iterator[Any]:
        import pyarrow as pa

        profiler = Profiler(job)
        for batch in batches:
            if batch.num_rows:
                profiler.feed(batch, "Spark partition")
        yield pa.RecordBatch.from_arrays([pa.array([profiler.to_bytes()], pa.binary())],
                                         names=["stats"])

    # collect() keeps partition order, so the tree below merges neighbours in row order.
    payloads = [row.stats for row in
                selected.mapInArrow(partition_stats, "stats binary").collect()]
    if not payloads:
        raise JobError("the Spark DataFrame has no partitions")
    return _merge_tree(job, payloads).document()


def _merge_tree(job: JobConfig, payloads: List[bytes]) -> Profiler:
    level = [Profiler.from_bytes(job, bytes(payload)) for payload in payloads]
    while len(level) > 1:
        level = [level[i].merge(level[i + 1]) if i + 1 < len(level) else level[i]
                 for i in range(0, len(level), 2)]
    return level[0]
