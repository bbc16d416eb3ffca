# Type stubs of the native module _zentrova.
from typing import Dict, Sequence, Union

import numpy as np
import numpy.typing as npt

__all__ = [
    "model_bias_analyzer",
    "data_bias_analyzer",
    "data_bias_runtime_check",
    "data_bias_partial_check",
    "model_bias_runtime_check",
    "model_bias_partial_check",
    "model_performance_regression",
    "model_performance_classification",
    "model_performance_logisitic_regression",
    "model_performance_runtime_entry_full",
    "model_performance_runtime_entry_partial",
]

_Label = Union[float, int, str]
_Array = npt.NDArray[np.generic]
_Metrics = Dict[str, float]

def model_bias_analyzer(
    feature_array: _Array,
    ground_truth_array: _Array,
    prediction_array: _Array,
    feature_label_or_threshold: _Label,
    ground_truth_label_or_threshold: _Label,
    prediction_label_or_threshold: _Label,
) -> Dict[str, float]: ...
def data_bias_analyzer(
    feature_array: _Array,
    ground_truth_array: _Array,
    feature_label_or_threshold: _Label,
    ground_truth_label_or_threshold: _Label,
) -> Dict[str, float]: ...
def data_bias_runtime_check(baseline: _Metrics, latest: _Metrics, threshold: float = 0.1) -> str: ...
def data_bias_partial_check(
    baseline: _Metrics, latest: _Metrics, metrics: Sequence[str], threshold: float = 0.1
) -> str: ...
def model_bias_runtime_check(baseline: _Metrics, latest: _Metrics, threshold: float = 0.1) -> str: ...
def model_bias_partial_check(
    baseline: _Metrics, latest: _Metrics, metrics: Sequence[str], threshold: float = 0.1
) -> str: ...
def model_performance_regression(y_pred: _Array, y_true: _Array) -> Dict[str, float]: ...
def model_performance_classification(y_pred: _Array, y_true: _Array) -> Dict[str, float]: ...
def model_performance_logisitic_regression(
    y_pred: _Array, y_true: _Array, decision_threshold: float = 0.5
) -> Dict[str, float]: ...
def model_performance_runtime_entry_full(
    model_type: str, baseline: _Metrics, latest: _Metrics, threshold: float = 0.1
) -> str: ...
def model_performance_runtime_entry_partial(
    model_type: str,
    baseline: _Metrics,
    latest: _Metrics,
    evaluation_metrics: Sequence[str],
    threshold: float = 0.1,
) -> str: ...
