"""The monitoring job on a Dask DataFrame: statistics per partition, merged in a tree.

    import dask.dataframe as dd
    import zentrova.dask

    metrics = zentrova.dask.profile(dd.read_parquet("batch/"), "job.toml")

Each partition is profiled where it lives and only the statistics travel, as bytes; pairs of
neighbouring partitions are merged level by level, so the result equals `zentrova profile` on
the same rows, bit for bit.
"""
from __future__ import annotations

import importlib
from pathlib import Path
from typing import Any, Dict, List, Mapping, Union

from .config import JobConfig, JobError, load_config
from .job import Profiler

__all__ = ["profile"]


def profile(ddf: Any, config: Union[str, Path, Mapping[str, Any], JobConfig],
            split_every: int = 2) -> Dict[str, Any]:
    """Profile a Dask DataFrame; return the metrics file's contents as a dict.

    Parameters
    ----------
    ddf : dask.dataframe.DataFrame
        The rows to measure; it must hold every column the configuration names.
    config : path, dict or JobConfig
        The job's configuration (a TOML file's path, or its contents as a dict).
    split_every : int, default 2
        How many partial statistics each merge task combines.

    Returns
    -------
    dict
        The same contents `zentrova profile` writes to its metrics file.

    Raises
    ------
    JobError
        The configuration is invalid, a column is missing or holds values the job cannot use.
    """
    try:
        dask: Any = importlib.import_module("dask")
        import pandas as pd
    except ImportError:
        raise JobError("zentrova.dask needs Dask: pip install 'zentrova[dask]'") from None
    job = config if isinstance(config, JobConfig) else load_config(config)
    if split_every < 2:
        raise JobError(f"split_every must be at least 2, got {split_every}")
    columns = list(job.column_names)
    absent = [name for name in columns if name not in ddf.columns]
    if absent:
        raise JobError(f"the Dask DataFrame has no column {absent[0]!r}")
    partials = ddf[columns].map_partitions(_partition_stats, job,
                                           meta=pd.Series([], dtype=object)).to_delayed()
    merge = dask.delayed(_merge, pure=True)
    level: List[Any] = list(partials)
    if len(level) == 1:
        level = [merge(job, level[0])]
    while len(level) > 1:
        level = [merge(job, *level[i:i + split_every])
                 for i in range(0, len(level), split_every)]
    (payload,) = dask.compute(level[0])
    return Profiler.from_bytes(job, payload).document()


def _partition_stats(frame: Any, job: JobConfig) -> Any:
    import pandas as pd
    import pyarrow as pa

    profiler = Profiler(job)
    if len(frame):
        profiler.feed(pa.Table.from_pandas(frame, preserve_index=False), "Dask partition")
    return pd.Series([profiler.to_bytes()], dtype=object)


def _merge(job: JobConfig, *parts: Any) -> bytes:
    # A part is a partition's one-element Series on the first level, bytes above it.
    payloads = [part.iloc[0] if hasattr(part, "iloc") else part for part in parts]
    merged = Profiler.from_bytes(job, payloads[0])
    for payload in payloads[1:]:
        merged = merged.merge(Profiler.from_bytes(job, payload))
    return merged.to_bytes()
