"""The example monitoring job, run in-process on a slice of the Adult data."""
import sys
from pathlib import Path

import numpy as np
import pytest

from _reference import bits

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))
import monitoring_run as demo  # noqa: E402

ROWS = 3000


@pytest.fixture(scope="module")
def result():
    return demo.run(ROWS)


class TestMonitoringRun:
    def test_main_prints_every_check(self, capsys):
        assert demo.main(["--rows", str(ROWS)]) == 0
        out = capsys.readouterr().out
        assert f"{ROWS} training rows" in out
        for check, _, _ in demo.CHECKS:
            assert check in out

    def test_baseline_against_itself_passes_every_check(self, result):
        assert {c: v["baseline"] for c, v in result["checks"].items()} == {
            c: {"passed": True} for c, _, _ in demo.CHECKS}

    @pytest.mark.parametrize("check", ["data_bias_runtime_check", "BinaryClassification, full",
                                       "LogisticRegression, full"])
    def test_shifted_batch_fails(self, result, check):
        verdict = result["checks"][check]["shifted"]
        assert verdict["passed"] is False and verdict["failReport"]

    def test_shifted_data_bias_reports_the_thinned_facet(self, result):
        # Fewer positives in the facet group widens the gap in positive-label proportions.
        assert "DfferenceInProportionOfLabels" in (
            result["checks"]["data_bias_runtime_check"]["shifted"]["failReport"])

    @pytest.mark.parametrize("batch", demo.BATCHES)
    def test_accuracy_matches_numpy(self, result, batch):
        _, income, proba = result["batches"][batch]
        correct = np.float32(np.count_nonzero((proba >= np.float32(0.5)) == (income == 1)))
        expected = np.float32(1) / np.float32(len(income)) * correct
        assert bits(result["metrics"][batch]["classification"]["Accuracy"]) == bits(expected)

    def test_missing_data_is_an_error(self, tmp_path, monkeypatch, capsys):
        monkeypatch.setattr(demo, "DATA_DIR", tmp_path)
        assert demo.main(["--rows", "10"]) == 1
        assert "error" in capsys.readouterr().err
