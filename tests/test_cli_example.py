"""The README's main job: the Adult batches of the example, profiled and checked by the command."""
import sys
from pathlib import Path

import numpy as np
import pyarrow.parquet as pq
import pytest

from _job_helpers import load, zentrova
from _reference import bits

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))
import adult_batches  # noqa: E402

ROWS = None  # all rows: the test batch passes on the full files, as the README shows


@pytest.fixture(scope="module")
def batches(tmp_path_factory):
    out = tmp_path_factory.mktemp("adult")
    paths = adult_batches.write_batches(out, ROWS)
    done = zentrova("profile", paths["train"], "-c", EXAMPLES / "adult_job.toml",
                    "-o", out / "baseline.json")
    assert done.returncode == 0, done.stderr
    return out, paths


class TestAdultJob:
    @pytest.mark.parametrize("batch, code", [("train", 0), ("test", 0), ("shifted", 1)])
    def test_exit_code(self, batches, batch, code):
        out, paths = batches
        done = zentrova("run", paths[batch], "-c", EXAMPLES / "adult_job.toml",
                        "--baseline", out / "baseline.json", "-o", out / f"{batch}.json")
        assert done.returncode == code, done.stdout + done.stderr
        rows = pq.read_metadata(paths[batch]).num_rows
        assert load(out / f"{batch}.json")["families"]["data_bias"]["rows"] == rows

    def test_shifted_batch_shows_the_thinned_facet(self, batches):
        out, paths = batches
        done = zentrova("run", paths["shifted"], "-c", EXAMPLES / "adult_job.toml",
                        "--baseline", out / "baseline.json", "--format", "json")
        failed = __import__("json").loads(done.stdout)["families"]["data_bias"]["failed"]
        assert "DifferenceInProportionOfLabels" in failed

    def test_accuracy_matches_numpy(self, batches):
        out, paths = batches
        table = pq.read_table(paths["train"])
        proba = table["score"].to_numpy()
        truth = table["income"].to_numpy(zero_copy_only=False) == ">50K"
        correct = np.float32(np.count_nonzero((proba >= np.float32(0.5)) == truth))
        expected = np.float32(1) / np.float32(len(truth)) * correct
        accuracy = load(out / "baseline.json")["families"]["logistic"]["metrics"]["Accuracy"]
        assert bits(accuracy) == bits(expected)
