"""Every vector path this CPU runs, and the C library fallback, give the same bits."""
import numpy as np
import pytest

import _zentrova as raw
from zentrova import _engine
from _reference import assert_identical, bits, exact_sum, log10f

PATHS = _engine._kernel_paths()
f32 = np.float32


@pytest.fixture
def on_path(request):
    """Runs the test with every kernel pinned to one path, then back to the widest."""
    forced = _engine._force_kernel_path(request.param)
    yield request.param, forced
    _engine._force_kernel_path(None)


def logarithmic_inputs():
    rng = np.random.default_rng(21)
    special = np.array([0.0, 1.0, -0.0, 1e-45, 1e-40, 2.0**-126, 3.4e38, np.inf, -np.inf, np.nan, -1.0, 0.5,
                        1.0 - 2.0**-24, 1.0 + 2.0**-23], np.float32)
    spread = rng.integers(0, 2**31, 200000, dtype=np.uint32).view(np.float32)  # every positive float is possible
    near_one = (1.0 + rng.standard_normal(50000) * 1e-3).astype(np.float32)
    return np.concatenate([special, spread, near_one, rng.random(50000).astype(np.float32)])


def all_metrics():
    x = logarithmic_inputs()
    rng = np.random.default_rng(22)
    prob = np.clip(x, 0.0, 1.0)
    label = rng.integers(0, 2, len(x))
    return {
        "regression": raw.model_performance_regression(x, x[::-1].copy()),
        "logistic": raw.model_performance_logisitic_regression(prob, label),
        "classification": raw.model_performance_classification(x, x[::-1].copy()),
        "data_bias": raw.data_bias_analyzer(x, label, 0.5, 1),
        "model_bias": raw.model_bias_analyzer(x, label, label[::-1].copy(), 0.5, 1, 1),
    }


class TestKernelPaths:
    def test_scalar_is_always_there(self):
        assert PATHS[0] == "scalar" and len(set(PATHS)) == len(PATHS)

    @pytest.mark.parametrize("on_path", PATHS, indirect=True)
    def test_every_path_gives_the_same_metrics(self, on_path):
        name, forced = on_path
        assert forced  # the path passed its check against the C library on this machine
        got = all_metrics()
        _engine._force_kernel_path("scalar")  # the C library's own calls
        expected = all_metrics()
        for family in expected:
            assert_identical(got[family], expected[family])

    @pytest.mark.parametrize("on_path", PATHS, indirect=True)
    def test_log_sums_match_the_c_library(self, on_path):
        x = logarithmic_inputs()
        x = x[np.isfinite(x) & (x > -1)][:20000]
        got = raw.model_performance_regression(np.zeros_like(x), x)
        uniques, inverse = np.unique(x + f32(1.0), return_inverse=True)
        logs = np.array([log10f(u) for u in uniques], np.float32)[inverse]
        sld = exact_sum(logs)  # each term is log10(t + 1) - log10(0 + 1), and log10(1) is 0
        r = f32(1.0) / f32(len(x))
        assert bits(got["RootMeanSquaredLogError"]) == bits(np.sqrt(sld * sld) / r)

    def test_unknown_path_is_refused(self):
        with pytest.raises(ValueError):
            _engine._force_kernel_path("sse9")
        with pytest.raises(TypeError):
            _engine._force_kernel_path(3)
