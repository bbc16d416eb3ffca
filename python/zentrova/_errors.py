"""The exceptions of the package and the one place that translates the engine's.

Every error a caller can meet for bad data is a :class:`ZentrovaError`, which
derives from :class:`ValueError`, so ``except ValueError`` in existing code
keeps working. The engine's own text stays on the exception as
:attr:`ZentrovaError.engine_message`.
"""

from __future__ import annotations

from typing import Callable, Optional, TypeVar

__all__ = [
    "EmptyGroupError",
    "InvalidInputError",
    "InvalidMetricError",
    "MissingValuesError",
    "UnsupportedInputError",
    "ZentrovaError",
]

_T = TypeVar("_T")


class ZentrovaError(ValueError):
    """Base class of every error the package raises for bad input.

    Parameters
    ----------
    message : str
        What went wrong, in words.
    argument : str, optional
        The argument of the call the error is about, when there is one.
    engine_message : str, optional
        The native engine's own text, when the error comes from the engine.

    Attributes
    ----------
    argument : str or None
        The argument the error is about.
    engine_message : str or None
        The engine's original text (None when the package found the fault
        before calling the engine).
    """

    def __init__(
        self,
        message: str,
        *,
        argument: Optional[str] = None,
        engine_message: Optional[str] = None,
    ) -> None:
        super().__init__(message)
        self.argument = argument
        self.engine_message = engine_message

    def __reduce__(self) -> "tuple[Callable[..., ZentrovaError], tuple[object, ...]]":
        # Keyword-only attributes survive pickling (errors cross process
        # boundaries in parallel jobs).
        return _rebuild, (type(self), self.args, dict(self.__dict__))


def _rebuild(cls: "type[ZentrovaError]", args: "tuple[object, ...]", state: "dict[str, object]") -> ZentrovaError:
    error = cls.__new__(cls)
    ValueError.__init__(error, *args)
    error.__dict__.update(state)
    return error


class InvalidInputError(ZentrovaError):
    """A column or value that cannot be measured: wrong shape, lengths that
    disagree, labels outside {0, 1}, probabilities outside [0, 1], or a label
    value of the wrong kind for its column."""


class UnsupportedInputError(InvalidInputError):
    """An input of a kind the package does not read (an unknown container,
    a complex, date or byte-string column, an object column mixing text and
    numbers, a two-dimensional array...)."""


class MissingValuesError(InvalidInputError):
    """A column holds missing values (None, NaN, pandas NA, Arrow or Polars
    nulls) and the call did not ask for ``missing="drop"``.

    Attributes
    ----------
    counts : dict of str to int
        The number of missing rows of each argument that has any.
    """

    def __init__(self, message: str, *, argument: str, counts: "dict[str, int]") -> None:
        super().__init__(message, argument=argument)
        self.counts = dict(counts)


class EmptyGroupError(ZentrovaError):
    """The facet group or the rest group of a bias measurement has no rows,
    or a performance measurement has no rows at all."""


class InvalidMetricError(ZentrovaError):
    """An unknown metric name or family, or a metric set that lacks a metric
    the check compares."""


def _panic_class(exc: BaseException) -> bool:
    # The engine's fatal-error class is no module attribute and derives from
    # BaseException; it is recognised by name only, so nothing else of that
    # tree (KeyboardInterrupt, SystemExit) is ever caught here.
    return type(exc).__name__ == "PanicException"


_EMPTY_GROUP_TEXTS = ("No deviation", "no deviaton")
_EMPTY_TEXTS = ("Arrays have no data", "Arrays are emtpy")
_METRIC_TEXTS = (
    "Invalid metrics body passed",
    "Invalid baseline body passed",
    "Invalid DataBias metric passed",
    "Invalid ModelBias metric passed",
    "Invalid model type",
    "Invalid metric name passed",
    "Invalid baseline report",
    "Invalid latest report",
)


def translate(exc: BaseException, context: str) -> ZentrovaError:
    """Turn an exception raised by the engine into the package's own.

    Parameters
    ----------
    exc : BaseException
        The engine's exception (TypeError, ValueError or its fatal error).
    context : str
        What the package was doing, put in front of the message.

    Returns
    -------
    ZentrovaError
        The matching subclass; the engine's text is kept on it.
    """
    text = str(exc.args[0]) if exc.args else str(exc)
    if text in _EMPTY_GROUP_TEXTS:
        return EmptyGroupError(
            f"{context}: the facet group or the rest group is empty "
            "(every row or no row matches facet_value)",
            engine_message=text,
        )
    if any(text.endswith(empty) for empty in _EMPTY_TEXTS):
        return EmptyGroupError(f"{context}: the columns have no rows", engine_message=text)
    if any(text.startswith(prefix) for prefix in _METRIC_TEXTS):
        return InvalidMetricError(f"{context}: {text}", engine_message=text)
    if _panic_class(exc) or isinstance(exc, TypeError):
        return UnsupportedInputError(f"{context}: {text}", engine_message=text)
    return InvalidInputError(f"{context}: {text}", engine_message=text)


def call_engine(context: str, function: Callable[..., _T], *args: object) -> _T:
    """Call an engine function, letting only the package's errors out.

    MemoryError and the interpreter's own BaseExceptions pass unchanged.
    """
    try:
        return function(*args)
    except (TypeError, ValueError) as exc:
        raise translate(exc, context) from exc
    except BaseException as exc:
        if _panic_class(exc):
            raise translate(exc, context) from exc
        raise
