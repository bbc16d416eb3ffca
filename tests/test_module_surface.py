"""Module table, argument binding, argument conversion and exception mapping."""
import ctypes
import inspect
import sys

import numpy as np
import pytest

import _zentrova as z

SIGNATURES = [
    ("model_bias_analyzer", "(feature_array, ground_truth_array, prediction_array, feature_label_or_threshold, "
     "ground_truth_label_or_threshold, prediction_label_or_threshold)"),
    ("data_bias_analyzer", "(feature_array, ground_truth_array, feature_label_or_threshold, ground_truth_label_or_threshold)"),
    ("data_bias_runtime_check", "(baseline, latest, threshold=0.10)"),
    ("data_bias_partial_check", "(baseline, latest, metrics, threshold=0.10)"),
    ("model_bias_runtime_check", "(baseline, latest, threshold=0.10)"),
    ("model_bias_partial_check", "(baseline, latest, metrics, threshold=0.10)"),
    ("model_performance_regression", "(y_pred, y_true)"),
    ("model_performance_classification", "(y_pred, y_true)"),
    ("model_performance_logisitic_regression", "(y_pred, y_true, decision_threshold=0.5)"),
    ("model_performance_runtime_entry_full", "(model_type, baseline, latest, threshold=0.10)"),
    ("model_performance_runtime_entry_partial", "(model_type, baseline, latest, evaluation_metrics, threshold=0.10)"),
]
ARR = np.array([1.0, 0.0, 1.0])

_as_double = ctypes.pythonapi.PyFloat_AsDouble
_as_double.restype = ctypes.c_double
_as_double.argtypes = [ctypes.py_object]


def float_error(value):
    """The exception the interpreter's own float conversion raises for value."""
    try:
        _as_double(value)
    except Exception as exc:  # noqa: BLE001
        return exc
    raise AssertionError(f"{value!r} converts to float")


class Outer:
    class Inner:
        pass


class FloatRaising:
    def __init__(self, exc):
        self.exc = exc

    def __float__(self):
        raise self.exc


class TestModuleTable:
    def test_all_lists_the_functions_in_registration_order(self):
        assert z.__all__ == [name for name, _ in SIGNATURES]
        assert isinstance(z.__doc__, str) and z.__doc__

    @pytest.mark.parametrize("name,text", SIGNATURES)
    def test_signature_and_docstring(self, name, text):
        fn = getattr(z, name)
        assert fn.__name__ == name and fn.__self__ is z
        assert fn.__doc__ is None
        assert fn.__text_signature__ == text
        sig = inspect.signature(fn)
        assert str(sig) == text.replace("0.10", "0.1")
        assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in sig.parameters.values())
        defaults = {k: p.default for k, p in sig.parameters.items() if p.default is not p.empty}
        expected = {}
        if "decision_threshold=" in text:
            expected = {"decision_threshold": 0.5}
        elif "threshold=" in text:
            expected = {"threshold": 0.1}
        assert defaults == expected
        assert all(type(v) is float for v in defaults.values())


class TestBinding:
    @pytest.mark.parametrize("call,message", [
        (lambda: z.model_performance_classification(1, 2, 3),
         "model_performance_classification() takes 2 positional arguments but 3 were given"),
        (lambda: z.data_bias_analyzer(1, 2, 3, 4, 5, 6),
         "data_bias_analyzer() takes 4 positional arguments but 6 were given"),
        (lambda: z.data_bias_runtime_check(1, 2, 3, 4),
         "data_bias_runtime_check() takes from 2 to 3 positional arguments but 4 were given"),
        (lambda: z.model_performance_runtime_entry_partial(1, 2, 3, 4, 5, 6, bogus=1),
         "model_performance_runtime_entry_partial() takes from 4 to 5 positional arguments but 6 were given"),
        (lambda: z.model_performance_classification(1, y_pred=2),
         "model_performance_classification() got multiple values for argument 'y_pred'"),
        (lambda: z.data_bias_runtime_check({}, baseline={}),
         "data_bias_runtime_check() got multiple values for argument 'baseline'"),
        (lambda: z.model_performance_logisitic_regression(ARR, ARR, threshold=0.5),
         "model_performance_logisitic_regression() got an unexpected keyword argument 'threshold'"),
        (lambda: z.model_bias_partial_check(Metrics=[]),
         "model_bias_partial_check() got an unexpected keyword argument 'Metrics'"),
        (lambda: z.data_bias_runtime_check({}),
         "data_bias_runtime_check() missing 1 required positional argument: 'latest'"),
        (lambda: z.model_performance_classification(),
         "model_performance_classification() missing 2 required positional arguments: 'y_pred' and 'y_true'"),
        (lambda: z.model_performance_runtime_entry_partial(latest=[]),
         "model_performance_runtime_entry_partial() missing 3 required positional arguments: "
         "'model_type', 'baseline', and 'evaluation_metrics'"),
        (lambda: z.data_bias_analyzer(None),
         "data_bias_analyzer() missing 3 required positional arguments: "
         "'ground_truth_array', 'feature_label_or_threshold', and 'ground_truth_label_or_threshold'"),
    ])
    def test_binding_errors(self, call, message):
        # binding is checked before any argument is converted, so bad values never surface here
        with pytest.raises(TypeError) as info:
            call()
        assert type(info.value) is TypeError and str(info.value) == message

    def test_keywords_are_routed_by_name(self):
        p, t = np.array([1, 0, 0, 0]), np.array([1, 0, 1, 0])
        by_kw = z.model_performance_classification(y_true=t, y_pred=p)
        assert by_kw == z.model_performance_classification(p, t)
        assert by_kw != z.model_performance_classification(t, p)


class TestConversion:
    @pytest.mark.parametrize("call,name,reason", [
        (lambda: z.data_bias_analyzer([0, 1], ARR, 1, 1), "feature_array",
         "'list' object cannot be converted to 'PyUntypedArray'"),
        (lambda: z.model_performance_classification(np.float64(1.0), ARR), "y_pred",
         "'float64' object cannot be converted to 'PyUntypedArray'"),
        (lambda: z.model_performance_regression(ARR, Outer.Inner()), "y_true",
         "'Outer.Inner' object cannot be converted to 'PyUntypedArray'"),
        (lambda: z.data_bias_runtime_check([], {}), "baseline", "'list' object cannot be converted to 'PyDict'"),
        (lambda: z.model_bias_runtime_check({}, {1: 0.5}), "latest", "'int' object cannot be converted to 'PyString'"),
        (lambda: z.data_bias_runtime_check(type("D", (dict,), {})({None: 1.0}), {}), "baseline",
         "'NoneType' object cannot be converted to 'PyString'"),
        (lambda: z.model_bias_runtime_check({"Accuracy": "x"}, {}), "baseline", str(float_error("x"))),
        (lambda: z.data_bias_partial_check({}, {}, "ClassImbalance"), "metrics", "Can't extract `str` to `Vec`"),
        (lambda: z.data_bias_partial_check({}, {}, 5), "metrics", "'int' object cannot be converted to 'Sequence'"),
        (lambda: z.model_bias_partial_check({}, {}, ["DI", None]), "metrics",
         "'NoneType' object cannot be converted to 'PyString'"),
        (lambda: z.model_performance_runtime_entry_partial("LinearRegression", {}, {}, 3), "evaluation_metrics",
         "'int' object cannot be converted to 'Sequence'"),
        (lambda: z.model_performance_runtime_entry_full(b"LinearRegression", {}, {}), "model_type",
         "'bytes' object cannot be converted to 'PyString'"),
        (lambda: z.data_bias_runtime_check({}, {}, "0.1"), "threshold", str(float_error("0.1"))),
        (lambda: z.model_performance_logisitic_regression(ARR, ARR, None), "decision_threshold",
         str(float_error(None))),
        (lambda: z.model_performance_logisitic_regression(ARR, ARR, decision_threshold="0.5"), "decision_threshold",
         str(float_error("0.5"))),
    ])
    def test_type_errors_are_prefixed_with_the_argument(self, call, name, reason):
        with pytest.raises(TypeError) as info:
            call()
        assert type(info.value) is TypeError
        assert str(info.value) == f"argument '{name}': {reason}"
        assert info.value.__cause__ is None

    @pytest.mark.parametrize("call,name", [
        (lambda: z.data_bias_analyzer(ARR, (1,), None, None), "ground_truth_array"),
        (lambda: z.model_bias_analyzer(ARR, [1], [1], 1, 1, 1), "ground_truth_array"),
        (lambda: z.model_performance_classification(ARR, [1]), "y_true"),
        (lambda: z.model_performance_logisitic_regression(ARR, [1], "x"), "y_true"),
        (lambda: z.data_bias_runtime_check([], [], "t"), "baseline"),
        (lambda: z.data_bias_runtime_check(threshold="t", latest=[], baseline={}), "latest"),
        (lambda: z.data_bias_partial_check({}, {}, "abc", "t"), "metrics"),
        (lambda: z.model_bias_partial_check({}, {}, [], "t"), "threshold"),
        (lambda: z.model_performance_runtime_entry_full(1, [], [], "t"), "model_type"),
        (lambda: z.model_performance_runtime_entry_partial(evaluation_metrics=5, latest={}, baseline={},
                                                           model_type="x", threshold="t"), "evaluation_metrics"),
    ])
    def test_first_bad_parameter_in_parameter_order_is_reported(self, call, name):
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            call()

    @pytest.mark.parametrize("fn,head,tail", [
        (z.data_bias_runtime_check, (), ({},)),
        (z.model_performance_runtime_entry_partial, ("BinaryClassification",), ({}, [])),
    ])
    def test_float_conversion_errors(self, fn, head, tail):
        def call(baseline=None, **kwargs):
            return fn(*head, {} if baseline is None else baseline, *tail, **kwargs)

        huge = 10 ** 400
        with pytest.raises(OverflowError) as info:
            call(threshold=huge)
        assert type(info.value) is OverflowError and str(info.value) == str(float_error(huge))
        with pytest.raises(OverflowError):
            call({"Accuracy": huge})
        other = ValueError("not a float")
        with pytest.raises(ValueError) as info:
            call(threshold=FloatRaising(other))
        assert info.value is other
        root = KeyError("root")
        inner = TypeError("inner")
        inner.__cause__ = root
        with pytest.raises(TypeError) as info:
            call(threshold=FloatRaising(inner))
        assert str(info.value) == "argument 'threshold': inner" and info.value.__cause__ is root

    def test_lone_surrogate_model_type_raises_the_encoding_error(self):
        with pytest.raises(UnicodeEncodeError) as own:
            "\ud800".encode("utf-8")
        with pytest.raises(UnicodeEncodeError) as info:
            z.model_performance_runtime_entry_full("\ud800", {}, {})
        assert str(info.value) == str(own.value)

    def test_decision_threshold_default_is_half(self):
        p, t = np.array([0.9, 0.2, 0.5, 0.4]), np.array([1.0, 0.0, 1.0, 0.0])
        default = z.model_performance_logisitic_regression(p, t)
        assert default == z.model_performance_logisitic_regression(p, t, 0.5)
        assert default == z.model_performance_logisitic_regression(p, t, decision_threshold=np.float32(0.5))
        assert default != z.model_performance_logisitic_regression(p, t, 0.6)


class TestPanicException:
    def test_fatal_error_escapes_except_exception(self):
        s = np.array(["a", "b"])
        caught = None
        try:
            try:
                z.model_performance_classification(s, s)
            except Exception:  # noqa: BLE001
                pytest.fail("a fatal error must not be an Exception")
        except BaseException as exc:  # noqa: BLE001
            caught = exc
        assert type(caught).__name__ == "PanicException"
        assert type(caught).__bases__ == (BaseException,)
        assert caught.args == ("Data of type String is not supported",)
        with pytest.raises(BaseException) as again:
            z.model_performance_classification(s, s)
        assert type(again.value) is type(caught)


def _fails(fn, args, kwargs, exc_type):
    try:
        fn(*args, **kwargs)
    except BaseException as exc:  # noqa: BLE001
        assert type(exc) is exc_type or type(exc).__name__ == exc_type
    else:
        pytest.fail("call succeeded")


class TestReferencesOnErrorPaths:
    def test_failing_calls_leave_reference_counts_unchanged(self):
        text = "".join(["Class", "Imbalance"])
        value = float("0.25")
        baseline = {text: value}
        bad_dict = {text: value, "".join(["x", "y"]): "".join(["n", "o"])}
        metrics = [text, None]
        fa, ia, sa = np.array([1.0, 0.0]), np.array([1, 0, 1]), np.array(["a", "b"])
        bad_float = type("FreshError", (), {"__float__": lambda self: float("x")})()
        cases = [
            (z.model_performance_classification, (fa, ia), {}, ValueError),
            (z.model_performance_classification, (fa, fa[:1]), {}, ValueError),
            (z.model_performance_classification, (sa, sa), {}, "PanicException"),
            (z.model_performance_classification, (fa, fa, ia), {}, TypeError),
            (z.model_performance_logisitic_regression, (fa, fa), {"decision_threshold": text}, TypeError),
            (z.data_bias_analyzer, (fa, [1]), {"feature_label_or_threshold": value,
                                              "ground_truth_label_or_threshold": text}, TypeError),
            (z.data_bias_runtime_check, (baseline, bad_dict), {}, TypeError),
            (z.data_bias_partial_check, (baseline, baseline, metrics), {}, TypeError),
            (z.model_performance_runtime_entry_full, (text, baseline, baseline, bad_float), {}, ValueError),
        ]
        watched = [text, value, baseline, bad_dict, metrics, fa, ia, sa, bad_float, *bad_dict.values()]
        before = [sys.getrefcount(o) for o in watched]
        for fn, args, kwargs, exc_type in cases:
            for _ in range(5):
                _fails(fn, args, kwargs, exc_type)
        assert [sys.getrefcount(o) for o in watched] == before
