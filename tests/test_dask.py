"""zentrova.dask on a real local cluster of two worker processes."""
import pytest

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

from _job_helpers import CONFIG, adult_like, assert_same_metrics, metrics_of, reference, write  # noqa: E402
from zentrova.config import JobError  # noqa: E402
from zentrova.job import profile_files  # noqa: E402

TABLE = adult_like(2500, seed=11)


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as connected:
        yield connected


@pytest.fixture(scope="module")
def config(tmp_path_factory):
    path = tmp_path_factory.mktemp("dask") / "job.toml"
    path.write_text(CONFIG)
    return path


@pytest.fixture(scope="module")
def frame():
    return TABLE.to_pandas()


class TestDaskProfile:
    @pytest.mark.parametrize("partitions, split_every", [(1, 2), (5, 2), (7, 3)])
    def test_equals_profile_of_the_file(self, client, config, frame, tmp_path, partitions,
                                        split_every):
        import zentrova.dask

        document = zentrova.dask.profile(dd.from_pandas(frame, npartitions=partitions), config,
                                         split_every=split_every)
        from_file = profile_files([write(TABLE, tmp_path / "data.parquet")], config)
        assert_same_metrics(metrics_of(document), metrics_of(from_file))
        assert_same_metrics(metrics_of(document), reference(TABLE))
        assert document["config_sha256"] == from_file["config_sha256"]
        assert {e["rows"] for e in document["families"].values()} == {TABLE.num_rows}

    def test_missing_column_is_refused_before_computing(self, client, config, frame):
        import zentrova.dask

        with pytest.raises(JobError, match="no column 'score'"):
            zentrova.dask.profile(dd.from_pandas(frame.drop(columns="score"), npartitions=2),
                                  config)

    def test_a_partition_error_reaches_the_caller(self, client, config, frame):
        import zentrova.dask

        bad = frame.assign(score=frame["score"] * 3)
        with pytest.raises(JobError, match="holds values outside"):
            zentrova.dask.profile(dd.from_pandas(bad, npartitions=3), config)
