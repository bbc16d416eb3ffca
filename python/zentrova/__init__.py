"""Bias, performance and drift metrics for machine-learning monitoring.

The measuring functions take NumPy arrays, pandas, Polars or PyArrow columns,
lists or tuples, and return read-only mappings keyed by canonical metric
names; :func:`check` compares a baseline with a latest metric set. Every
metric is computed by the native engine (``_zentrova``) in IEEE single
precision, each operation rounded in a fixed order, so results are
reproducible bit for bit.
"""

from ._check import check
from ._engine import (
    ClassificationStats,
    DataBiasStats,
    LogisticStats,
    ModelBiasStats,
    RegressionStats,
)
from ._errors import (
    EmptyGroupError,
    InvalidInputError,
    InvalidMetricError,
    MissingValuesError,
    UnsupportedInputError,
    ZentrovaError,
)
from ._functions import classification, data_bias, logistic, model_bias, regression
from ._names import (
    FAMILIES,
    ClassificationMetric,
    DataBiasMetric,
    LogisticMetric,
    Metric,
    ModelBiasMetric,
    RegressionMetric,
)
from ._results import CheckResult, CheckRow, MetricResult

__version__ = "0.2.0"

__all__ = [
    "RegressionStats",
    "ModelBiasStats",
    "LogisticStats",
    "DataBiasStats",
    "ClassificationStats",
    "FAMILIES",
    "CheckResult",
    "CheckRow",
    "ClassificationMetric",
    "DataBiasMetric",
    "EmptyGroupError",
    "InvalidInputError",
    "InvalidMetricError",
    "LogisticMetric",
    "Metric",
    "MetricResult",
    "MissingValuesError",
    "ModelBiasMetric",
    "RegressionMetric",
    "UnsupportedInputError",
    "ZentrovaError",
    "check",
    "classification",
    "data_bias",
    "logistic",
    "model_bias",
    "regression",
]
