"""Mergeable statistics of zentrova's metrics: add rows batch by batch, merge, read the metrics."""

from zentrova._engine import (
    ClassificationStats,
    DataBiasStats,
    LogisticStats,
    ModelBiasStats,
    RegressionStats,
)

__all__ = [
    "ClassificationStats",
    "DataBiasStats",
    "LogisticStats",
    "ModelBiasStats",
    "RegressionStats",
]
