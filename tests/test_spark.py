"""zentrova.spark on a real Spark session, local[2]."""
import os
import sys

import pytest

pyspark_sql = pytest.importorskip("pyspark.sql")

from _job_helpers import CONFIG, adult_like, assert_same_metrics, metrics_of, reference, write  # noqa: E402
from zentrova.config import JobError  # noqa: E402
from zentrova.job import profile_files  # noqa: E402

# PySpark announces that it does not yet fully support the installed pandas major version.
pytestmark = pytest.mark.filterwarnings("ignore:PySpark does not yet fully support:FutureWarning")

TABLE = adult_like(2500, seed=13)


@pytest.fixture(scope="module")
def spark():
    # Workers must run this interpreter, where zentrova and its engine are installed.
    previous = os.environ.get("PYSPARK_PYTHON")
    os.environ["PYSPARK_PYTHON"] = sys.executable
    session = (pyspark_sql.SparkSession.builder.master("local[2]").appName("zentrova-tests")
               .config("spark.ui.enabled", "false")
               .config("spark.default.parallelism", "4")
               .config("spark.sql.execution.arrow.pyspark.enabled", "true")
               .getOrCreate())
    yield session
    session.stop()
    if previous is None:
        os.environ.pop("PYSPARK_PYTHON", None)
    else:
        os.environ["PYSPARK_PYTHON"] = previous


@pytest.fixture(scope="module")
def config(tmp_path_factory):
    path = tmp_path_factory.mktemp("spark") / "job.toml"
    path.write_text(CONFIG)
    return path


class TestSparkProfile:
    def test_equals_profile_of_the_file(self, spark, config, tmp_path):
        import zentrova.spark

        frame = spark.createDataFrame(TABLE.to_pandas())
        assert frame.rdd.getNumPartitions() > 1
        document = zentrova.spark.profile(frame, config)
        from_file = profile_files([write(TABLE, tmp_path / "data.parquet")], config)
        assert_same_metrics(metrics_of(document), metrics_of(from_file))
        assert_same_metrics(metrics_of(document), reference(TABLE))
        assert document["config_sha256"] == from_file["config_sha256"]
        assert {e["rows"] for e in document["families"].values()} == {TABLE.num_rows}

    def test_config_as_dict_equals_config_file(self, spark, config):
        import zentrova.spark
        from zentrova.config import _toml_module

        frame = spark.createDataFrame(TABLE.slice(0, 400).to_pandas())
        from_path = zentrova.spark.profile(frame, config)
        from_dict = zentrova.spark.profile(frame, _toml_module().loads(CONFIG))
        assert from_dict["config_sha256"] == from_path["config_sha256"]
        assert_same_metrics(metrics_of(from_dict), metrics_of(from_path))

    def test_missing_column_is_refused(self, spark, config):
        import zentrova.spark

        frame = spark.createDataFrame(TABLE.slice(0, 10).drop_columns(["hours"]).to_pandas())
        with pytest.raises(JobError, match="no column 'hours'"):
            zentrova.spark.profile(frame, config)
