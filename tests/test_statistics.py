"""The statistics objects: batches, merges and encodings give exactly the raw function's result."""
import inspect
import pickle
import random
import signal
import threading
import time

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import _zentrova as raw
import zentrova
from _reference import assert_identical

PREFIX = "Invalid arrays for y_pred and y_true: "


# Each family: how to build an object, feed a batch, and the raw call on all rows.
class DataBias:
    cls = zentrova.DataBiasStats
    columns = ("feature_array", "ground_truth_array")

    def __init__(self, labels=(1, 1)):
        self.labels = labels

    def make(self):
        return self.cls(*self.labels)

    def raw(self, *arrays):
        return raw.data_bias_analyzer(*arrays, *self.labels)


class ModelBias(DataBias):
    cls = zentrova.ModelBiasStats
    columns = ("feature_array", "ground_truth_array", "prediction_array")

    def __init__(self, labels=(1, 1, 1)):
        self.labels = labels

    def raw(self, *arrays):
        return raw.model_bias_analyzer(*arrays, *self.labels)


class Performance:
    columns = ("y_pred", "y_true")

    def __init__(self, cls, function, *args):
        self.cls, self.function, self.args = cls, function, args

    def make(self):
        return self.cls(*self.args)

    def raw(self, *arrays):
        return self.function(*arrays, *self.args)


FAMILIES = {
    "data_bias": DataBias(),
    "model_bias": ModelBias(),
    "classification": Performance(zentrova.ClassificationStats, raw.model_performance_classification),
    "logistic": Performance(zentrova.LogisticStats, raw.model_performance_logisitic_regression),
    "logistic_0.3": Performance(zentrova.LogisticStats, raw.model_performance_logisitic_regression, 0.3),
    "regression": Performance(zentrova.RegressionStats, raw.model_performance_regression),
}


def columns_for(name, rng, n, dtype=np.int64):
    """Random columns of the family `name`, mixing values so every metric moves."""
    if name in ("data_bias", "model_bias"):
        count = 2 if name == "data_bias" else 3
        return [rng.integers(0, rng.integers(2, 5), n).astype(dtype) for _ in range(count)]
    if name == "classification":
        return [rng.integers(0, 2, n).astype(dtype), rng.integers(0, 2, n).astype(dtype)]
    if name.startswith("logistic"):
        p = rng.random(n).astype(np.float32)
        p[rng.random(n) < 0.05] = rng.choice([0.0, 1.0])
        return [p, rng.integers(0, 2, n).astype(dtype)]
    t = (rng.standard_normal(n) * 10.0 ** rng.integers(-3, 6, n)).astype(np.float32)
    return [(t + rng.standard_normal(n).astype(np.float32)).astype(np.float32), t]


def outcome(call):
    """A call's result, or its exception type and text."""
    try:
        return "ok", call()
    except (TypeError, ValueError) as error:
        return type(error), str(error)


def batches(arrays, cuts):
    bounds = [0, *sorted(cuts), len(arrays[0])]
    return [[a[lo:hi] for a in arrays] for lo, hi in zip(bounds, bounds[1:])]


def merged_in_random_tree(objects, rnd):
    objects = list(objects)
    while len(objects) > 1:
        i = rnd.randrange(len(objects) - 1)
        objects[i:i + 2] = [objects[i].merge(objects[i + 1])]
    return objects[0]


class TestBatchesAndMerges:
    @settings(max_examples=60, deadline=None)
    @given(family=st.sampled_from(sorted(FAMILIES)), seed=st.integers(0, 2**32 - 1),
           n=st.integers(0, 300), pieces=st.integers(1, 6), encode=st.booleans())
    def test_any_split_and_merge_tree_gives_one_call(self, family, seed, n, pieces, encode):
        family_case, rng, rnd = FAMILIES[family], np.random.default_rng(seed), random.Random(seed)
        arrays = columns_for(family, rng, n)
        parts = []
        for batch in batches(arrays, [rnd.randint(0, n) for _ in range(pieces - 1)]):
            stats = family_case.make()
            stats.update(*batch)
            parts.append(stats.from_bytes(stats.to_bytes()) if encode else stats)
        rnd.shuffle(parts)
        combined = merged_in_random_tree(parts, rnd)
        expected = outcome(lambda: family_case.raw(*arrays))
        got = outcome(combined.metrics)
        assert got[0] == expected[0]
        if got[0] == "ok":
            assert_identical(got[1], expected[1])
        else:
            assert got == expected

    @pytest.mark.parametrize("family", sorted(FAMILIES))
    def test_repeated_updates_equal_one_call(self, family):
        family_case, rng = FAMILIES[family], np.random.default_rng(3)
        arrays = columns_for(family, rng, 5000)
        stats = family_case.make()
        for batch in batches(arrays, [700, 701, 2048, 4000]):
            stats.update(*batch)
        assert_identical(stats.metrics(), family_case.raw(*arrays))

    @pytest.mark.parametrize("kind", ["U", object, np.float32, np.int16])
    def test_text_and_narrow_columns_split_like_one_call(self, kind):
        rng = np.random.default_rng(12)
        codes = rng.integers(0, 3, 3000)
        feature = np.array(["a", "b", "cc"], dtype=object)[codes].astype(kind) if kind in ("U", object) \
            else codes.astype(kind)
        label = "b" if kind in ("U", object) else 1
        truth, prediction = rng.integers(0, 2, 3000), rng.integers(0, 2, 3000)
        parts = []
        for lo, hi in ((0, 1000), (1000, 1001), (1001, 3000)):
            stats = zentrova.ModelBiasStats(label, 1, 1)
            stats.update(feature[lo:hi], truth[lo:hi], prediction[lo:hi])
            parts.append(stats)
        merged = parts[2].merge(parts[0]).merge(parts[1])
        assert_identical(merged.metrics(), raw.model_bias_analyzer(feature, truth, prediction, label, 1, 1))

    @pytest.mark.parametrize("family", ["data_bias", "model_bias"])
    def test_labelling_rule_is_decided_over_all_rows(self, family):
        # Each batch alone has two distinct values (equality); all rows have
        # three, so the threshold rule applies to the whole.
        family_case = FAMILIES[family]
        first = [np.array([0, 1, 0, 1])] * len(family_case.columns)
        second = [np.array([1, 2, 2, 1])] * len(family_case.columns)
        a, b = family_case.make(), family_case.make()
        a.update(*first)
        b.update(*second)
        whole = [np.concatenate(pair) for pair in zip(first, second)]
        merged = a.merge(b).metrics()
        assert_identical(merged, family_case.raw(*whole))
        by_equality = family_case.raw(*((w == 1).astype(np.int64) for w in whole))
        assert merged != by_equality  # the threshold rule, not each batch's equality, was applied

    def test_merge_leaves_both_operands_unchanged(self):
        family_case, rng = FAMILIES["model_bias"], np.random.default_rng(8)
        x, y = (columns_for("model_bias", rng, 200) for _ in range(2))
        a, b = family_case.make(), family_case.make()
        a.update(*x)
        b.update(*y)
        before = (a.to_bytes(), b.to_bytes())
        merged = a.merge(b)
        assert (a.to_bytes(), b.to_bytes()) == before
        assert merged is not a and merged is not b
        assert_identical(a.metrics(), family_case.raw(*x))

    def test_threads_updating_one_object(self):
        family_case, rng = FAMILIES["regression"], np.random.default_rng(4)
        arrays = columns_for("regression", rng, 40000)
        parts = batches(arrays, range(1000, 40000, 1000))
        stats = family_case.make()
        threads = [threading.Thread(target=lambda chunk=parts[i::4]: [stats.update(*b) for b in chunk])
                   for i in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert_identical(stats.metrics(), family_case.raw(*arrays))


PART = 65536  # the fewest rows a part of a split update runs on


def split_layouts(family, rng, n):
    """(layout, family case, columns) in layouts a split update must cut alike:
    contiguous, reversed views, narrow dtypes, text, and bias columns of
    unequal lengths."""
    family_case, arrays = FAMILIES[family], columns_for(family, rng, n)
    yield "contiguous", family_case, arrays
    yield "reversed", family_case, [a[::-1] for a in arrays]
    if family in ("data_bias", "model_bias"):
        yield "int16", family_case, [a.astype(np.int16) for a in arrays]
        text_case = type(family_case)(("b", *family_case.labels[1:]))
        yield "text", text_case, [np.array(["a", "b", "c", "dd"])[arrays[0]], *arrays[1:]]
        # Rows past the shortest column count only for their distinct keys:
        # here a third value, seen only there, decides the feature's rule.
        feature = arrays[0] % 2
        feature[-100:] = 2
        yield "unequal", family_case, [feature, *(a[: n - 5000 * i] for i, a in enumerate(arrays[1:], 1))]
    elif family != "regression":
        yield "float32", family_case, [a.astype(np.float32) for a in arrays]


class TestThreadsInOneUpdate:
    @pytest.mark.parametrize("family", sorted(FAMILIES))
    def test_split_update_equals_one_thread(self, family):
        for layout, family_case, arrays in split_layouts(family, np.random.default_rng(21), 3 * PART + 4097):
            one = family_case.make()
            one.update(*arrays)
            for threads in (2, 3, 16):
                split = family_case.make()
                split.update(*arrays, threads=threads)
                assert split.to_bytes() == one.to_bytes(), (layout, threads)
            assert_identical(split.metrics(), family_case.raw(*arrays))

    @pytest.mark.parametrize("family", ["data_bias", "model_bias"])
    def test_a_third_key_in_a_later_part_decides_the_rule(self, family):
        family_case = FAMILIES[family]
        column = np.zeros(4 * PART, np.int64)
        column[1::2] = 1
        column[-1] = 2  # only the last part sees a third distinct value
        arrays = [column] * len(family_case.columns)
        stats = family_case.make()
        stats.update(*arrays, threads=4)
        assert_identical(stats.metrics(), family_case.raw(*arrays))

    def test_small_batches_and_earlier_rows(self):
        family_case, rng = FAMILIES["logistic"], np.random.default_rng(5)
        first, second = columns_for("logistic", rng, 100), columns_for("logistic", rng, 2 * PART + 1)
        stats = family_case.make()
        stats.update(*first, threads=8)  # too few rows to split
        stats.update(*second, threads=2)
        whole = [np.concatenate(pair) for pair in zip(first, second)]
        assert_identical(stats.metrics(), family_case.raw(*whole))

    @pytest.mark.parametrize("value,error", [
        (0, (ValueError, "threads must be at least 1, not 0")),
        (-3, (ValueError, "threads must be at least 1, not -3")),
        (-(10**30), (ValueError, f"threads must be at least 1, not {-(10**30)}")),
        (True, (TypeError, "argument 'threads': must be int, not bool")),
        (2.0, (TypeError, "argument 'threads': must be int, not float")),
        ("2", (TypeError, "argument 'threads': must be int, not str")),
        (None, (TypeError, "argument 'threads': must be int, not NoneType")),
    ])
    def test_threads_must_be_a_positive_int(self, value, error):
        stats = zentrova.RegressionStats()
        assert outcome(lambda: stats.update(np.ones(3), np.ones(3), threads=value)) == error
        assert outcome(stats.metrics) == (ValueError, PREFIX + "Arrays are emtpy")

    def test_threads_is_keyword_only_and_takes_any_index(self):
        with pytest.raises(TypeError, match=r"^update\(\) takes 2 positional arguments but 3 were given$"):
            zentrova.LogisticStats().update(np.ones(3), np.ones(3), 2)
        stats = zentrova.LogisticStats()
        stats.update(np.full(3, 0.5), np.ones(3), threads=np.int64(2))
        stats.update(np.full(3, 0.5), np.ones(3), threads=10**30)  # as many as the rows allow
        assert_identical(stats.metrics(), raw.model_performance_logisitic_regression(np.full(6, 0.5), np.ones(6)))

    def test_a_failing_part_fails_the_update_and_adds_nothing(self):
        feature = np.array(["a", "b"] * (2 * PART))
        feature[-3] = "\ud800"  # a lone surrogate, in the last part only
        truth = np.tile([0, 1], 2 * PART)
        expected = outcome(lambda: raw.data_bias_analyzer(feature, truth, "a", 1))
        stats = zentrova.DataBiasStats("a", 1)
        assert outcome(lambda: stats.update(feature, truth, threads=4)) == expected
        assert expected[0] is TypeError and "surrogates not allowed" in expected[1]
        assert stats.to_bytes() == zentrova.DataBiasStats("a", 1).to_bytes()


class TestInterpreterLock:
    @pytest.mark.parametrize("family,rows", [("data_bias", 2**27), ("regression", 2**23)])  # ~0.3 s each
    def test_other_threads_run_during_an_update(self, family, rows):
        # While one thread's update works, another thread keeps running Python code
        # through the update's time window, not just for the few milliseconds a
        # thread holding the lock could leave it before the call begins.
        family_case = FAMILIES[family]
        stats = family_case.make()
        big = np.broadcast_to(np.array([1], np.int16), (rows,))
        window, steps, done = [], [], threading.Event()

        def work():
            start = time.perf_counter()
            stats.update(*[big] * len(family_case.columns))
            window.extend([start, time.perf_counter()])
            done.set()

        worker = threading.Thread(target=work)
        worker.start()
        while not done.is_set():
            steps.append(time.perf_counter())
        worker.join()
        start, end = window
        inside = [step for step in steps if start < step < end]
        assert inside and inside[-1] - inside[0] > 0.02


class TestInterruptedUpdate:
    # With threads, the other parts never look at signals themselves: the
    # part on the caller's thread sees it and stops them.
    @pytest.mark.parametrize("threads", [1, 3])
    @pytest.mark.parametrize("family", sorted(FAMILIES))
    def test_a_signal_ends_the_update_and_adds_nothing(self, family, threads):
        class Alarm(Exception):
            pass

        def ring(signum, frame):
            raise Alarm

        family_case = FAMILIES[family]
        stats = family_case.make()
        stats.update(*columns_for(family, np.random.default_rng(6), 100))
        before = stats.to_bytes()
        huge = np.broadcast_to(np.array([1], np.int64), (2**36,))  # hours of work if the loop never looks
        previous = signal.signal(signal.SIGALRM, ring)
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        try:
            with pytest.raises(Alarm):
                stats.update(*[huge] * len(family_case.columns), threads=threads)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
        assert stats.to_bytes() == before


class TestErrors:
    @pytest.mark.parametrize("family,error", [
        ("data_bias", (TypeError, "No deviation")), ("model_bias", (TypeError, "no deviaton")),
        ("classification", (ValueError, PREFIX + "Arrays have no data")),
        ("logistic", (ValueError, PREFIX + "Arrays have no data")),
        ("regression", (ValueError, PREFIX + "Arrays are emtpy")),
    ])
    def test_metrics_of_no_rows(self, family, error):
        stats = FAMILIES[family].make()
        assert outcome(stats.metrics) == error
        stats.update(*(np.array([], np.int64) for _ in FAMILIES[family].columns))
        assert outcome(stats.metrics) == error

    @pytest.mark.parametrize("family", sorted(FAMILIES))
    def test_update_refuses_what_the_raw_function_refuses(self, family):
        family_case = FAMILIES[family]
        good = columns_for(family, np.random.default_rng(1), 10)
        stats = family_case.make()
        for position, name in enumerate(family_case.columns):
            bad = list(good)
            bad[position] = list(bad[position])
            with pytest.raises(TypeError) as info:
                stats.update(*bad)
            assert str(info.value) == f"argument '{name}': 'list' object cannot be converted to 'PyUntypedArray'"
            assert outcome(lambda: stats.update(*bad)) == outcome(lambda: family_case.raw(*bad))
        assert outcome(stats.metrics) == outcome(lambda: family_case.make().metrics())  # nothing was added

    @pytest.mark.parametrize("labels,error", [(("1", 1), "float"), ((1, 1.5j), "float"), ((1, "x"), "float")])
    def test_bias_label_errors_come_at_update(self, labels, error):
        stats = zentrova.DataBiasStats(*labels)
        with pytest.raises(TypeError, match=f"^{error}$"):
            stats.update(np.array([0, 1]), np.array([1, 0]))

    def test_performance_length_and_type_rules(self):
        with pytest.raises(ValueError, match="Arrays have different lengths"):
            zentrova.RegressionStats().update(np.ones(3), np.ones(4))
        with pytest.raises(ValueError, match="Type between y_true and y_pred do not match"):
            zentrova.ClassificationStats().update(np.ones(3), np.ones(3, np.int64))
        with pytest.raises(BaseException) as info:
            zentrova.ClassificationStats().update(np.array(["a"]), np.array(["b"]))
        assert type(info.value).__name__ == "PanicException"

    def test_failed_update_adds_nothing(self):
        stats = zentrova.ModelBiasStats(1, 1, 1)
        good = np.array([0, 1, 1, 0])
        with pytest.raises(TypeError, match="^string$"):
            stats.update(np.array(["a", "b", "a", "b"]), good, good)
        assert outcome(stats.metrics) == (TypeError, "no deviaton")

    def test_batch_of_another_column_kind(self):
        stats = zentrova.DataBiasStats(1, 1)
        stats.update(np.array([0, 1]), np.array([0, 1]))
        with pytest.raises(ValueError, match="feature_array column kind differs: integer and float"):
            stats.update(np.array([0.0, 1.0]), np.array([0, 1]))
        stats.update(np.array([0, 1], np.int16), np.array([1, 1], np.int32))  # every integer width is one kind


class TestSignatures:
    @pytest.mark.parametrize("cls,params", [
        (zentrova.DataBiasStats, ["feature_label_or_threshold", "ground_truth_label_or_threshold"]),
        (zentrova.ModelBiasStats, ["feature_label_or_threshold", "ground_truth_label_or_threshold",
                                   "prediction_label_or_threshold"]),
        (zentrova.ClassificationStats, []), (zentrova.RegressionStats, []),
        (zentrova.LogisticStats, ["decision_threshold"]),
    ])
    def test_constructor_and_update(self, cls, params):
        assert list(inspect.signature(cls).parameters) == params
        family = next(family_case for family_case in FAMILIES.values() if type(family_case.make()) is cls)
        update = inspect.signature(cls.update).parameters
        assert list(update) == ["self", *family.columns, "threads"]
        assert update["threads"].kind is inspect.Parameter.KEYWORD_ONLY and update["threads"].default == 1

    def test_decision_threshold_converts_like_the_raw_function(self):
        assert inspect.signature(zentrova.LogisticStats).parameters["decision_threshold"].default == 0.5
        with pytest.raises(TypeError) as ours:
            zentrova.LogisticStats(None)
        with pytest.raises(TypeError) as theirs:
            raw.model_performance_logisitic_regression(np.ones(1), np.ones(1), None)
        assert str(ours.value) == str(theirs.value)
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'y_true'"):
            zentrova.LogisticStats().update(np.ones(1))


class TestMergeCompatibility:
    @pytest.mark.parametrize("a,b,named", [
        ((zentrova.DataBiasStats, 1, 1), (zentrova.DataBiasStats, 2, 1), "feature_label_or_threshold"),
        ((zentrova.DataBiasStats, 1, 1), (zentrova.DataBiasStats, 1, 1.0), "ground_truth_label_or_threshold"),
        ((zentrova.DataBiasStats, "a", 1), (zentrova.DataBiasStats, "b", 1), "feature_label_or_threshold"),
        ((zentrova.ModelBiasStats, 1, 1, 1), (zentrova.ModelBiasStats, 1, 1, 0), "prediction_label_or_threshold"),
        ((zentrova.LogisticStats, 0.5), (zentrova.LogisticStats, 0.25), "decision_threshold"),
        ((zentrova.DataBiasStats, 1, 1), (zentrova.ModelBiasStats, 1, 1, 1), "ModelBiasStats"),
        ((zentrova.RegressionStats,), (zentrova.ClassificationStats,), "ClassificationStats"),
    ])
    def test_what_differs_is_named(self, a, b, named):
        with pytest.raises(ValueError, match=named):
            a[0](*a[1:]).merge(b[0](*b[1:]))

    @pytest.mark.parametrize("column", [0, 1])
    def test_column_kinds_must_agree(self, column):
        # The same labels fit integer and float columns; the kinds still differ.
        a, b = zentrova.DataBiasStats(1, 1), zentrova.DataBiasStats(1, 1)
        other = np.array([0, 1])
        for stats, values in ((a, np.array([0, 1])), (b, np.array([0.0, 1.0]))):
            stats.update(*((values, other) if column == 0 else (other, values)))
        name = ("feature_array", "ground_truth_array")[column]
        with pytest.raises(ValueError, match=f"{name} column kind differs: integer and float"):
            a.merge(b)
        assert_identical(a.merge(zentrova.DataBiasStats(1, 1)).metrics(), a.metrics())  # no rows, no kind

    def test_merge_with_a_non_statistics_object(self):
        with pytest.raises(TypeError):
            zentrova.RegressionStats().merge(3)


class TestEncoding:
    @pytest.mark.parametrize("family", sorted(FAMILIES))
    def test_round_trip_and_pickle(self, family):
        family_case = FAMILIES[family]
        stats = family_case.make()
        stats.update(*columns_for(family, np.random.default_rng(2), 3000))
        data = stats.to_bytes()
        assert isinstance(data, bytes) and len(data) <= 4096
        for copy in (type(stats).from_bytes(data), type(stats).from_bytes(bytearray(data)),
                     type(stats).from_bytes(memoryview(data)), pickle.loads(pickle.dumps(stats))):
            assert type(copy) is type(stats)
            assert copy.to_bytes() == data
            assert_identical(copy.metrics(), stats.metrics())

    @pytest.mark.parametrize("labels", [(1.25, 7), ("naïve", "\udcff"), (2**70, -(2**70)), (None, True)])
    def test_labels_survive_the_encoding(self, labels):
        stats = zentrova.DataBiasStats(*labels)
        copy = zentrova.DataBiasStats.from_bytes(stats.to_bytes())
        batch = (np.array(["naïve", "x"]), np.array([1.5, 7.0]))
        assert outcome(lambda: copy.update(*batch)) == outcome(lambda: stats.update(*batch))
        assert copy.to_bytes() == stats.to_bytes()

    @pytest.mark.parametrize("family", sorted(FAMILIES))
    def test_truncated_and_flipped_bytes_are_refused(self, family):
        stats = FAMILIES[family].make()
        stats.update(*columns_for(family, np.random.default_rng(5), 500))
        data = stats.to_bytes()
        cls = type(stats)
        for size in range(len(data)):
            with pytest.raises(ValueError):
                cls.from_bytes(data[:size])
        for bit in range(len(data) * 8):
            flipped = bytearray(data)
            flipped[bit // 8] ^= 1 << (bit % 8)
            with pytest.raises(ValueError):
                cls.from_bytes(bytes(flipped))
        with pytest.raises(ValueError):
            cls.from_bytes(data + b"\0")

    def test_foreign_bytes_are_refused(self):
        encodings = {type(family_case.make()): family_case.make().to_bytes() for family_case in FAMILIES.values()}
        for cls in encodings:
            for other, data in encodings.items():
                if other is not cls:
                    with pytest.raises(ValueError):
                        cls.from_bytes(data)
            with pytest.raises(TypeError):
                cls.from_bytes("text")

    @settings(max_examples=300, deadline=None)
    @given(data=st.binary(max_size=700), family=st.sampled_from(sorted(FAMILIES)))
    def test_random_bytes_are_refused(self, data, family):
        with pytest.raises(ValueError):
            type(FAMILIES[family].make()).from_bytes(data)

    @settings(max_examples=200, deadline=None)
    @given(family=st.sampled_from(sorted(FAMILIES)), seed=st.integers(0, 2**32 - 1), edits=st.integers(1, 8))
    def test_scrambled_bytes_never_crash(self, family, seed, edits):
        rnd = random.Random(seed)
        stats = FAMILIES[family].make()
        stats.update(*columns_for(family, np.random.default_rng(seed), rnd.randint(0, 50)))
        data = bytearray(stats.to_bytes())
        for _ in range(edits):
            data[rnd.randrange(len(data))] = rnd.randrange(256)
        try:
            copy = type(stats).from_bytes(bytes(data))
        except ValueError:
            return
        assert copy.to_bytes() == bytes(data)  # only an intact encoding is taken
