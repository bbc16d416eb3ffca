"""Failure modes outside the happy path: interrupts, allocations that cannot
succeed, sub-interpreters, and the references a successful call holds."""
import os
import signal
import sys
import textwrap

import numpy as np
import pytest

import _zentrova as z
from _reference import Sub

# The sanitizer build's allocator returns null instead of failing for real.
REAL_ALLOCATION_FAILURE = not os.environ.get("ZENTROVA_SANITIZED")

ANALYZERS_AND_PERFORMANCE = {
    "data_bias": lambda a, b: z.data_bias_analyzer(a, b, 1, 1),
    "model_bias": lambda a, b: z.model_bias_analyzer(b, b, a, 1, 1, 1),
    "regression": z.model_performance_regression,
    "classification": z.model_performance_classification,
    "logistic": z.model_performance_logisitic_regression,
}


class Raising:
    """An item whose int and float conversions raise the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __index__(self):
        raise self.exc

    __float__ = __index__


def iterating(items, dtype):
    """An array read by iteration whose iteration yields `items`."""

    class Yielding(Sub):
        def __iter__(self):
            return iter(items)

    return np.zeros(len(items), dtype).view(Yielding)


class TestBaseExceptionsPassThrough:
    @pytest.mark.parametrize("exc_type", [KeyboardInterrupt, SystemExit])
    @pytest.mark.parametrize("dtype", [np.int64, np.float64])
    @pytest.mark.parametrize("function", ANALYZERS_AND_PERFORMANCE)
    def test_raised_by_an_item(self, function, dtype, exc_type):
        bad = iterating([1, Raising(exc_type("stop")), 0], dtype)
        with pytest.raises(exc_type) as info:
            ANALYZERS_AND_PERFORMANCE[function](bad, np.array([0, 1, 0], dtype))
        assert info.type is exc_type and info.value.args == ("stop",)

    @pytest.mark.parametrize("function", ANALYZERS_AND_PERFORMANCE)
    def test_raised_by_the_iterator(self, function):
        class Stopping(Sub):
            def __iter__(self):
                raise KeyboardInterrupt("iterator")

        with pytest.raises(KeyboardInterrupt, match="^iterator$"):
            ANALYZERS_AND_PERFORMANCE[function](np.zeros(3).view(Stopping), np.array([0.0, 1.0, 0.0]))

    @pytest.mark.parametrize("dtype", [np.int64, np.float64])
    def test_ordinary_exceptions_keep_their_wrapping(self, dtype):
        bad = iterating([1, Raising(ValueError("boom")), 0], dtype)
        good = np.array([0, 1, 0], dtype)
        with pytest.raises(TypeError, match="^ValueError: boom$"):
            z.data_bias_analyzer(bad, good, 1, 1)
        with pytest.raises(BaseException) as info:
            z.model_performance_regression(bad, good)
        assert type(info.value).__name__ == "PanicException" and info.value.args == ("ValueError: boom",)


class TestSignalsDuringLongLoops:
    """A signal handler that raises stops a long native loop soon after the signal."""

    @pytest.fixture
    def alarm(self):
        class Alarm(Exception):
            pass

        def ring(signum, frame):
            raise Alarm

        previous = signal.signal(signal.SIGALRM, ring)
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        yield Alarm
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)

    @pytest.mark.parametrize("function", ANALYZERS_AND_PERFORMANCE)
    @pytest.mark.parametrize("dtype", [np.int64, np.float64])
    def test_handler_exception_ends_the_call(self, alarm, function, dtype):
        # 2^36 rows of one shared element: hours of work if the loop never looks.
        huge = np.broadcast_to(np.array([1], dtype), (2**36,))
        with pytest.raises(alarm):
            ANALYZERS_AND_PERFORMANCE[function](huge, huge)

    def test_text_rows(self, alarm):
        huge = np.broadcast_to(np.array(["yes"]), (2**36,))
        with pytest.raises(alarm):
            z.data_bias_analyzer(huge, huge, "yes", "yes")


class TestImpossibleAllocations:
    """More elements than a vector can hold is an allocation that cannot succeed."""

    @pytest.mark.parametrize("shape", [(2**61,), (2, 2**60)])
    @pytest.mark.parametrize("function", ANALYZERS_AND_PERFORMANCE)
    def test_memory_error(self, function, shape):
        huge = np.broadcast_to(np.array([1], np.int16), shape)
        if len(shape) == 1:
            huge = huge.view(Sub)
        with pytest.raises(MemoryError):
            ANALYZERS_AND_PERFORMANCE[function](huge, np.array([0, 1], np.int16))


@pytest.mark.skipif(not REAL_ALLOCATION_FAILURE, reason="needs an allocation that really fails")
class TestMemoryExhaustion:
    @pytest.mark.parametrize("function", ANALYZERS_AND_PERFORMANCE)
    def test_column_too_large_to_hold(self, function):
        # 2^40 rows of one shared element, read through iteration: the column
        # reserved for them cannot be allocated.
        huge = np.broadcast_to(np.array([1], dtype=np.int64), (2**40,)).view(Sub)
        with pytest.raises(MemoryError):
            ANALYZERS_AND_PERFORMANCE[function](huge, np.array([0, 1]))
        assert z.data_bias_analyzer(np.array([0, 1]), np.array([1, 1]), 1, 1)["ClassImbalance"] == 0.0


def outcome_in_subinterpreter(body):
    """Runs `body` in a second interpreter; returns "ran" or the exception it raised, as text."""
    interpreters = pytest.importorskip("_xxsubinterpreters")
    read, write = os.pipe()
    code = "import os\ntry:\n" + textwrap.indent(textwrap.dedent(body), "    ") + textwrap.dedent(f"""
        except BaseException as exc:
            outcome = type(exc).__name__ + ": " + str(exc)
        else:
            outcome = "ran"
        os.write({write}, outcome.encode())
    """)
    interpreter = interpreters.create()
    try:
        interpreters.run_string(interpreter, code)
    finally:
        interpreters.destroy(interpreter)
    os.close(write)
    with os.fdopen(read) as pipe:
        return pipe.read()


class TestSubInterpreters:
    def test_functions_refuse_to_run_in_another_interpreter(self):
        outcome = outcome_in_subinterpreter("""
            import _zentrova
            _zentrova.data_bias_runtime_check({}, {})
        """)
        assert outcome == ("ImportError: _zentrova does not support sub-interpreters: it can only be imported "
                           "by the interpreter that imported it first")
        # The owning interpreter still runs them.
        with pytest.raises(ValueError, match="^Invalid metrics body passed$"):
            z.data_bias_runtime_check({}, {})

    def test_statistics_refuse_to_run_in_another_interpreter(self):
        from zentrova import _engine

        # Load the extension by its file: the package itself imports NumPy, which refuses to
        # load in a second interpreter before the engine is reached.
        outcome = outcome_in_subinterpreter(f"""
            import importlib.util
            found = importlib.util.spec_from_file_location("zentrova._engine", {_engine.__file__!r})
            engine = importlib.util.module_from_spec(found)
            found.loader.exec_module(engine)
            engine.RegressionStats()
        """)
        assert outcome.startswith("ImportError: ") and "sub-interpreters" in outcome
        assert _engine.RegressionStats().to_bytes()  # the owning interpreter still runs them


def fresh_float(value):
    return float(repr(float(value)))


def fresh_text(text):
    return "".join(list(text))


def held_references(values):
    """getrefcount of each of `values` as seen from here: their container, the list, the argument."""
    return [sys.getrefcount(v) for v in values]


BIAS = {"data": list(z.data_bias_analyzer(np.array([0, 1, 1, 0]), np.array([1, 1, 0, 0]), 1, 1)),
        "model": list(z.model_bias_analyzer(np.array([0, 1, 1, 0]), np.array([1, 1, 0, 0]),
                                            np.array([1, 0, 1, 0]), 1, 1, 1))}


def successful_calls():
    f, t, p = np.array([0, 1, 1, 0, 1]), np.array([1, 1, 0, 0, 1]), np.array([0.9, 0.2, 0.6, 0.4, 0.7])
    text = np.array(["a", "b", "a", "b", "a"]).view(Sub)
    label, threshold = fresh_text("a"), fresh_float(0.25)
    data = {fresh_text(k): fresh_float(0.5) for k in BIAS["data"]}
    model = {fresh_text(k): fresh_float(0.5) for k in BIAS["model"]}
    names = [fresh_text(k) for k in ("ClassImbalance", "LpNorm", "ClassImbalance")]
    performance = {fresh_text(k): fresh_float(0.5) for k in z.model_performance_regression(p, p)}
    model_type = fresh_text("LinearRegression")
    return [
        (z.data_bias_analyzer, (text, t, label, 1)),
        (z.model_bias_analyzer, (f, t, text, 1, 1, label)),
        (z.model_performance_regression, (p, t.astype(float))),
        (z.model_performance_classification, (t.view(Sub), f)),
        (z.model_performance_logisitic_regression, (p, t.astype(float), threshold)),
        (z.data_bias_runtime_check, (data, data, threshold)),
        (z.data_bias_partial_check, (data, data, names)),
        (z.model_bias_runtime_check, (model, model)),
        (z.model_bias_partial_check, (model, model, list(BIAS["model"][:2]), threshold)),
        (z.model_performance_runtime_entry_full, (model_type, performance, performance)),
        (z.model_performance_runtime_entry_partial, (model_type, performance, performance, ["RSquared"])),
    ]


class TestReferencesOnSuccess:
    @pytest.mark.parametrize("index", range(11))
    def test_inputs_and_results_hold_their_own_references(self, index):
        function, args = successful_calls()[index]
        watched = [*args, *[item for a in args if isinstance(a, dict) for item in (*a.keys(), *a.values())],
                   *[item for a in args if isinstance(a, list) for item in a]]
        before = held_references(watched)
        for _ in range(3):
            result = function(*args)
        assert held_references(watched) == before
        # A result owned by the dict alone: counted once by it, the list and the argument.
        expected_key = held_references([fresh_text("key")])[0] + 1
        if isinstance(result, dict):
            keys, values = list(result.keys()), list(result.values())
            assert held_references(keys) == [expected_key] * len(keys)
            assert held_references(values) == [expected_key] * len(values)
            assert sys.getrefcount(result) == sys.getrefcount(fresh_float(1.0))
        else:
            assert isinstance(result, str) and sys.getrefcount(result) == sys.getrefcount(fresh_text("xy"))
