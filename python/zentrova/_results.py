"""Result objects: read-only metric mappings and drift-check results."""

from __future__ import annotations

import json
import math
from typing import (
    Any,
    Dict,
    Generic,
    Iterator,
    List,
    Mapping,
    NamedTuple,
    Optional,
    Tuple,
    Type,
    TypeVar,
)

from ._names import Metric

__all__ = ["CheckResult", "CheckRow", "MetricResult"]

_M = TypeVar("_M", bound=Metric)


_KEYS: Dict[type, Dict[str, str]] = {}


def _keys(family: Type[Metric]) -> Dict[str, str]:
    # The engine key of each canonical name, in the family's order; built
    # once per family and shared by its results.
    keys = _KEYS.get(family)
    if keys is None:
        keys = _KEYS[family] = {m.canonical: m.key for m in family}
    return keys


class MetricResult(Mapping[str, float], Generic[_M]):
    """The metrics of one measurement, as a read-only mapping.

    Keys are canonical metric names, in the family's order; a lookup also
    accepts the engine's spellings and the family's enumeration members.

    Parameters
    ----------
    family : type of Metric
        The enumeration of the measured family.
    engine_dict : dict of str to float
        The engine's result dict, keyed by its own spellings.

    Attributes
    ----------
    family : type of Metric
        The enumeration of the metrics held.
    """

    # The engine's dict is kept as it is, read through the family's shared
    # table of names: a result costs no mapping of its own to make.
    __slots__ = ("family", "_engine", "_keys")

    def __init__(self, family: Type[_M], engine_dict: Mapping[str, float]) -> None:
        self.family: Type[_M] = family
        self._engine = dict(engine_dict)
        self._keys = _keys(family)
        for key in self._keys.values():
            if key not in self._engine:
                raise KeyError(key)

    @classmethod
    def _of(cls, family: Type[_M], engine_dict: Dict[str, float]) -> "MetricResult[_M]":
        # A dict fresh from the engine: complete, and owned by no one else.
        result = cls.__new__(cls)
        result.family = family
        result._engine = engine_dict
        result._keys = _keys(family)
        return result

    def __getitem__(self, name: str) -> float:
        key = self._keys.get(name)
        if key is None:
            try:
                key = self._keys[self.family.parse(name).canonical]
            except ValueError:
                raise KeyError(name) from None
        return self._engine[key]

    def __contains__(self, name: object) -> bool:
        if not isinstance(name, str):
            return False
        try:
            self[name]
        except KeyError:
            return False
        return True

    def __iter__(self) -> Iterator[str]:
        return iter(self._keys)

    def __len__(self) -> int:
        return len(self._keys)

    def __repr__(self) -> str:
        inner = ", ".join(f"{k!r}: {v!r}" for k, v in self.items())
        return f"MetricResult({self.family.__name__}, {{{inner}}})"

    def metric(self, member: _M) -> float:
        """Return the value of one member of the family."""
        return self._engine[self._keys[member.canonical]]

    def engine_dict(self) -> Dict[str, float]:
        """Return a new dict keyed as the engine keys it (``_zentrova``'s spellings).

        Such a dict is what the ``_zentrova`` drift checks expect, and what
        a baseline stored by earlier code looks like.
        """
        return dict(self._engine)

    def to_dict(self) -> Dict[str, float]:
        """Return a new plain dict keyed by canonical names."""
        return {canonical: self._engine[key] for canonical, key in self._keys.items()}


class CheckRow(NamedTuple):
    """One compared metric of a :class:`CheckResult`.

    Attributes
    ----------
    metric : str
        Canonical metric name.
    baseline, latest : float
        The values compared.
    threshold : float
        The relative threshold of the check.
    rule : str
        When the metric fails, in words.
    status : str
        "failed" when the engine fails it; otherwise "undefined" when the
        baseline or the latest value is not finite; otherwise "passed".
    message : str or None
        The engine's failure message, None when it did not fail.
    """

    metric: str
    baseline: float
    latest: float
    threshold: float
    rule: str
    status: str
    message: Optional[str]


def _finite_or_none(value: float) -> Optional[float]:
    return value if math.isfinite(value) else None


class CheckResult:
    """The outcome of :func:`zentrova.check`.

    Parameters
    ----------
    family : str
        The checked family.
    rows : list of CheckRow
        One row per compared metric, in check order.
    engine_report : str
        The engine's JSON report, unchanged.

    Attributes
    ----------
    family : str
        The checked family.
    rows : tuple of CheckRow
        One row per compared metric, in check order.
    engine_report : str
        The engine's own JSON report text.
    """

    __slots__ = ("family", "rows", "engine_report")

    def __init__(self, family: str, rows: "List[CheckRow]", engine_report: str) -> None:
        self.family = family
        self.rows: Tuple[CheckRow, ...] = tuple(rows)
        self.engine_report = engine_report

    @property
    def passed(self) -> bool:
        """True only when every row's status is "passed"."""
        return all(row.status == "passed" for row in self.rows)

    @property
    def failed(self) -> List[str]:
        """Canonical names of the metrics the engine failed, in check order."""
        return [row.metric for row in self.rows if row.status == "failed"]

    @property
    def undefined(self) -> List[str]:
        """Canonical names of the rows with a non-finite value that did not fail."""
        return [row.metric for row in self.rows if row.status == "undefined"]

    def __bool__(self) -> bool:
        return self.passed

    def __repr__(self) -> str:
        return f"CheckResult(family={self.family!r}, passed={self.passed}, failed={self.failed})"

    def to_dict(self) -> Dict[str, Any]:
        """Return the result as plain Python values (numbers kept as they are)."""
        return {
            "family": self.family,
            "passed": self.passed,
            "failed": self.failed,
            "rows": [row._asdict() for row in self.rows],
        }

    def to_json(self, **kwargs: Any) -> str:
        """Return the result as strict JSON; non-finite numbers become null.

        Parameters
        ----------
        **kwargs
            Passed to :func:`json.dumps` (``indent``, ``sort_keys``...).
        """
        data = self.to_dict()
        for row in data["rows"]:
            for field in ("baseline", "latest", "threshold"):
                row[field] = _finite_or_none(row[field])
        return json.dumps(data, allow_nan=False, **kwargs)

    def to_frame(self) -> Any:
        """Return the rows as a pandas DataFrame (needs pandas).

        Returns
        -------
        pandas.DataFrame
            One line per row, columns as the fields of :class:`CheckRow`.
        """
        import pandas

        return pandas.DataFrame([row._asdict() for row in self.rows], columns=list(CheckRow._fields))

    def __str__(self) -> str:
        header = ("metric", "baseline", "latest", "status", "message")
        lines = [header] + [
            (row.metric, f"{row.baseline:.6g}", f"{row.latest:.6g}", row.status, row.message or "")
            for row in self.rows
        ]
        widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
        verdict = "passed" if self.passed else "FAILED"
        threshold = f", threshold {self.rows[0].threshold:g}" if self.rows else ""
        title = f"{self.family} check {verdict}{threshold}"
        body = ["  ".join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip() for line in lines]
        return "\n".join([title, *body])
