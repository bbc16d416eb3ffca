"""The monitoring job's configuration: read from TOML (or a dict) and validated in full.

Everything is checked before any data is read, so a typo in a key costs a second, not the first
hour of a long profile. Every error names the key it is about.
"""
from __future__ import annotations

import hashlib
import json
import math
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Dict, Mapping, Optional, Sequence, Tuple, Union

from ._errors import ZentrovaError
from ._names import FAMILIES as METRIC_ENUMS

__all__ = ["FAMILIES", "METRIC_ENUMS", "JobError", "CsvOptions", "ColumnSpec", "FamilyConfig",
           "JobConfig", "load_config", "canonical_metric_names"]

DEFAULT_THRESHOLD = 0.1
DEFAULT_DECISION_THRESHOLD = 0.5
MISSING_POLICIES = ("error", "drop")
CSV_TYPES = ("int", "float", "text")

# Column roles of each family: (role, whether `value` is required, allowed, or forbidden).
REQUIRED, OPTIONAL, FORBIDDEN = "required", "optional", "forbidden"
ROLES = {
    "data_bias": (("facet", REQUIRED), ("label", REQUIRED)),
    "model_bias": (("facet", REQUIRED), ("label", REQUIRED), ("prediction", REQUIRED)),
    "classification": (("label", OPTIONAL), ("prediction", OPTIONAL)),
    "logistic": (("label", OPTIONAL), ("probability", FORBIDDEN)),
    "regression": (("target", FORBIDDEN), ("prediction", FORBIDDEN)),
}
FAMILY_KEYS = {"metrics", "threshold"}
EXTRA_FAMILY_KEYS = {"logistic": {"decision_threshold"}}
TOP_KEYS = {"threshold", "missing", "csv"}


FAMILIES = tuple(METRIC_ENUMS)


class JobError(ZentrovaError):
    """An input problem of the monitoring job: configuration, data file or metrics file.

    The message names the file (or key) and the problem in one line; the command line prints it
    and exits with status 2.
    """


Value = Union[str, int, float, Tuple[str, ...]]


@dataclass(frozen=True)
class ColumnSpec:
    """One input column of a family, and the value that marks its positive rows (if any)."""

    column: str
    value: Optional[Value] = None

    @property
    def text_value(self) -> bool:
        return isinstance(self.value, (str, tuple))


@dataclass(frozen=True)
class FamilyConfig:
    name: str
    columns: Mapping[str, ColumnSpec]  # role -> column, in the family's role order
    threshold: float
    metrics: Optional[Tuple[str, ...]] = None  # canonical names of a partial check
    decision_threshold: Optional[float] = None  # logistic only


@dataclass(frozen=True)
class CsvOptions:
    delimiter: str = ","
    trim_spaces: bool = False  # strip spaces around text values (", "-separated files)
    # Declared column types ("int", "float" or "text"); the others are inferred from the
    # file's first block.
    column_types: Tuple[Tuple[str, str], ...] = ()


@dataclass(frozen=True)
class JobConfig:
    families: Mapping[str, FamilyConfig]  # in the canonical family order
    threshold: float
    missing: str
    digest: str  # SHA-256 of the normalised configuration
    csv: CsvOptions = CsvOptions()

    @property
    def column_names(self) -> Tuple[str, ...]:
        """Every column the job reads, each once, in first-use order."""
        seen: Dict[str, None] = {}
        for family in self.families.values():
            for column_def in family.columns.values():
                seen.setdefault(column_def.column, None)
        return tuple(seen)

    def to_dict(self) -> Dict[str, Any]:
        """The normalised configuration (defaults filled in, canonical metric names)."""
        return _normalised(self)


def load_config(source: Union[str, Path, Mapping[str, Any]]) -> JobConfig:
    """Read and validate a configuration from a TOML file's path or from its contents as a dict.

    Raises
    ------
    JobError
        The file cannot be read or parsed, or a key is missing, unknown or of the wrong kind.
    """
    if isinstance(source, Mapping):
        return _validate(source, "configuration")
    if not isinstance(source, (str, Path)):
        raise JobError(f"configuration: expected a TOML file's path or a dict, "
                       f"got {type(source).__name__}")
    path = Path(source)
    try:
        raw = path.read_bytes()
    except OSError as exc:
        raise JobError(f"{path}: cannot read the configuration: {exc.strerror or exc}") from None
    toml = _toml_module()
    try:
        data = toml.loads(raw.decode("utf-8"))
    except UnicodeDecodeError:
        raise JobError(f"{path}: the configuration is not UTF-8 text") from None
    except toml.TOMLDecodeError as exc:
        raise JobError(f"{path}: not valid TOML: {exc}") from None
    return _validate(data, str(path))


def _toml_module() -> Any:
    if sys.version_info >= (3, 11):
        import tomllib
        return tomllib
    try:
        import tomli
    except ImportError:  # pragma: no cover - depends on the installation
        raise JobError("reading a TOML configuration on Python < 3.11 needs the package tomli "
                       "(pip install tomli)") from None
    return tomli


class _Where:
    """Formats errors as '<source>: <key path>: <problem>'."""

    def __init__(self, source: str) -> None:
        self.source = source

    def error(self, key: str, problem: str) -> JobError:
        return JobError(f"{self.source}: {key}: {problem}" if key else f"{self.source}: {problem}")


def _validate(data: Mapping[str, Any], source: str) -> JobConfig:
    where = _Where(source)
    known = TOP_KEYS | set(FAMILIES)
    for key in data:
        if key not in known:
            raise where.error(str(key), f"unknown key (expected one of {_listing(known)})")
    threshold = _threshold(data, "threshold", where, DEFAULT_THRESHOLD)
    missing = data.get("missing", "error")
    if missing not in MISSING_POLICIES:
        raise where.error("missing", f"expected one of {_listing(MISSING_POLICIES)}, "
                                     f"got {missing!r}")
    csv = _csv(data.get("csv", {}), where)
    families = {}
    for name in FAMILIES:
        if name in data:
            families[name] = _family(name, data[name], threshold, where)
    if not families:
        raise where.error("", f"no metric family configured: add at least one of the tables "
                              f"{_listing(FAMILIES, brackets=True)}")
    config = JobConfig(families=families, threshold=threshold, missing=missing, digest="",
                       csv=csv)
    digest = hashlib.sha256(json.dumps(_normalised(config), sort_keys=True,
                                       separators=(",", ":")).encode()).hexdigest()
    return JobConfig(families=families, threshold=threshold, missing=missing, digest=digest,
                     csv=csv)


def _csv(table: Any, where: _Where) -> CsvOptions:
    if not isinstance(table, Mapping):
        raise where.error("csv", f"expected a table [csv], got {_kind(table)}")
    for key in table:
        if key not in ("delimiter", "trim_spaces", "column_types"):
            raise where.error(f"csv.{key}", "unknown key (expected 'delimiter', 'trim_spaces' "
                                            "or 'column_types')")
    delimiter = table.get("delimiter", ",")
    if not isinstance(delimiter, str) or len(delimiter) != 1 or delimiter in "\r\n\"":
        raise where.error("csv.delimiter", f"expected one character, got {_kind(delimiter)}")
    trim = table.get("trim_spaces", False)
    if not isinstance(trim, bool):
        raise where.error("csv.trim_spaces", f"expected true or false, got {_kind(trim)}")
    types = table.get("column_types", {})
    if not isinstance(types, Mapping):
        raise where.error("csv.column_types", f"expected a table of column = type, got "
                                              f"{_kind(types)}")
    for column, kind in types.items():
        if kind not in CSV_TYPES:
            raise where.error(f"csv.column_types.{column}",
                              f"expected one of {_listing(CSV_TYPES)}, got {_kind(kind)}")
    return CsvOptions(delimiter=delimiter, trim_spaces=trim,
                      column_types=tuple(sorted(types.items())))


def _family(name: str, table: Any, default_threshold: float, where: _Where) -> FamilyConfig:
    if not isinstance(table, Mapping):
        raise where.error(name, f"expected a table [{name}], got {_kind(table)}")
    roles = ROLES[name]
    known = {role for role, _ in roles} | FAMILY_KEYS | EXTRA_FAMILY_KEYS.get(name, set())
    for key in table:
        if key not in known:
            raise where.error(f"{name}.{key}", f"unknown key (expected one of {_listing(known)})")
    columns = {}
    for role, value_rule in roles:
        if role not in table:
            raise where.error(f"{name}.{role}", "missing; give it as { column = \"...\" }")
        columns[role] = _column(table[role], f"{name}.{role}", value_rule, where)
    threshold = _threshold(table, f"{name}.threshold", where, default_threshold, key="threshold")
    metrics = None
    if "metrics" in table:
        metrics = _metrics(name, table["metrics"], where)
    decision = None
    if name == "logistic":
        decision = _number(table, "decision_threshold", f"{name}.decision_threshold", where,
                           DEFAULT_DECISION_THRESHOLD)
        if not 0.0 <= decision <= 1.0:
            raise where.error(f"{name}.decision_threshold",
                              f"must lie between 0 and 1, got {decision!r}")
    return FamilyConfig(name=name, columns=columns, threshold=threshold, metrics=metrics,
                        decision_threshold=decision)


def _column(column_def: Any, key: str, value_rule: str, where: _Where) -> ColumnSpec:
    if isinstance(column_def, str):
        column_def = {"column": column_def}
    if not isinstance(column_def, Mapping):
        raise where.error(key, f"expected {{ column = \"...\" }}, got {_kind(column_def)}")
    for sub in column_def:
        if sub not in ("column", "value"):
            raise where.error(f"{key}.{sub}", "unknown key (expected 'column' or 'value')")
    column = column_def.get("column")
    if not isinstance(column, str) or not column:
        raise where.error(f"{key}.column", "missing; expected the column's name as a text"
                          if column is None else f"expected a non-empty text, got {_kind(column)}")
    if "value" not in column_def:
        if value_rule == REQUIRED:
            raise where.error(f"{key}.value", "missing; give the text or number that marks "
                                              "the positive rows")
        return ColumnSpec(column)
    if value_rule == FORBIDDEN:
        raise where.error(f"{key}.value", "not allowed here: this column is used as it is")
    return ColumnSpec(column, _value(column_def["value"], f"{key}.value", where))


def _value(value: Any, key: str, where: _Where) -> Value:
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, str):
        return value
    if isinstance(value, int):
        if not -2**63 <= value < 2**63:
            raise where.error(key, "the number does not fit in 64 bits")
        return value
    if isinstance(value, float):
        if not math.isfinite(value):
            raise where.error(key, f"must be a finite number, got {value!r}")
        return value
    if isinstance(value, (list, tuple)):
        # Several texts that all mark the positive rows (say ">50K" and ">50K.").
        if not value or not all(isinstance(item, str) for item in value):
            raise where.error(key, "a list of values must hold one or more texts")
        return tuple(value)
    raise where.error(key, f"expected a text or a number, got {_kind(value)}")


def _metrics(family: str, names: Any, where: _Where) -> Tuple[str, ...]:
    key = f"{family}.metrics"
    if isinstance(names, str) or not isinstance(names, Sequence):
        raise where.error(key, f"expected a list of metric names, got {_kind(names)}")
    if not names:
        raise where.error(key, "the list is empty; name at least one metric or drop the key")
    known = canonical_metric_names(family)
    result = []
    for name in names:
        canonical = known.get(name) if isinstance(name, str) else None
        if canonical is None:
            raise where.error(key, f"unknown metric {name!r} for {family} (known: "
                                   f"{', '.join(sorted(set(known.values())))})")
        if canonical in result:
            raise where.error(key, f"metric {name!r} is named twice")
        result.append(canonical)
    return tuple(result)


def _threshold(table: Mapping[str, Any], path: str, where: _Where, default: float,
               key: str = "threshold") -> float:
    value = _number(table, key, path, where, default)
    if value < 0.0:
        raise where.error(path, f"must not be negative, got {value!r}")
    return value


def _number(table: Mapping[str, Any], key: str, path: str, where: _Where,
            default: float) -> float:
    if key not in table:
        return default
    value = table[key]
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise where.error(path, f"expected a number, got {_kind(value)}")
    value = float(value)
    if not math.isfinite(value):
        raise where.error(path, f"must be a finite number, got {value!r}")
    return value


def _normalised(config: JobConfig) -> Dict[str, Any]:
    out: Dict[str, Any] = {"threshold": config.threshold, "missing": config.missing,
                 "csv": {"delimiter": config.csv.delimiter, "trim_spaces": config.csv.trim_spaces,
                         "column_types": dict(config.csv.column_types)}}
    for name, family in config.families.items():
        table: Dict[str, Any] = {"threshold": family.threshold}
        for role, column_def in family.columns.items():
            table[role] = {"column": column_def.column}
            if column_def.value is not None:
                table[role]["value"] = (list(column_def.value) if isinstance(column_def.value, tuple)
                                        else column_def.value)
        if family.metrics is not None:
            table["metrics"] = list(family.metrics)
        if family.decision_threshold is not None:
            table["decision_threshold"] = family.decision_threshold
        out[name] = table
    return out


def canonical_metric_names(family: str) -> Mapping[str, str]:
    """Every spelling of the family's metric names (canonical or the engine's) -> canonical."""
    table = {}
    for member in METRIC_ENUMS[family]:
        for spelling in (member.canonical, member.key, member.check_name, member.report_key):
            table[spelling] = member.canonical
    return table


def _kind(value: Any) -> str:
    if isinstance(value, Mapping):
        return "a table"
    if isinstance(value, bool):
        return f"the boolean {str(value).lower()}"
    if isinstance(value, (list, tuple)):
        return "a list"
    if isinstance(value, str):
        return f"the text {value!r}"
    if isinstance(value, (int, float)):
        return f"the number {value!r}"
    return type(value).__name__


def _listing(items: Any, brackets: bool = False) -> str:
    items = sorted(items) if isinstance(items, set) else list(items)
    return ", ".join(f"[{item}]" if brackets else repr(item) for item in items)
