"""The metrics file (read, validated, written) and the check report in text, JSON, JUnit XML and
Markdown.

A metrics file stores each metric as its 32-bit value widened to a Python float, so the JSON
number reads back to the very same 32-bit float; non-finite values are stored as null.
"""
from __future__ import annotations

import json
import math
import os
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any, Dict, Mapping, Optional, Sequence, Tuple

import numpy as np

from .config import FAMILIES, JobError, canonical_metric_names
from .job import FORMAT_VERSION

__all__ = ["read_metrics", "write_metrics", "render", "REPORT_FORMATS", "number_text"]

REPORT_FORMATS = ("text", "json", "junit", "markdown")
Results = Sequence[Tuple[str, Any]]  # (family, CheckResult)


# -- the metrics file ------------------------------------------------------------------------

def write_metrics(document: Mapping[str, Any], path: str) -> None:
    """Write a metrics file ("-" for standard output); a crash never leaves a half-written file."""
    text = json.dumps(document, indent=2, allow_nan=False) + "\n"
    if path == "-":
        sys.stdout.write(text)
        return
    target = Path(path)
    try:
        handle, temporary = tempfile.mkstemp(prefix=f".{target.name}.", dir=target.parent or ".")
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            out.write(text)
        os.replace(temporary, target)
    except OSError as exc:
        raise JobError(f"{path}: cannot write the metrics file: {exc.strerror or exc}") from None


def read_metrics(path: str) -> Dict[str, Any]:
    """Read and validate a metrics file; JobError names the file and what is wrong."""
    try:
        text = Path(path).read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as exc:
        reason = getattr(exc, "strerror", None) or str(exc)
        raise JobError(f"{path}: cannot read the metrics file: {reason}") from None
    try:
        document = json.loads(text)
    except json.JSONDecodeError as exc:
        raise JobError(f"{path}: not a metrics file: invalid JSON at line {exc.lineno}, "
                       f"column {exc.colno}: {exc.msg}") from None
    return validate_metrics(document, path)


def validate_metrics(document: Any, path: str) -> Dict[str, Any]:
    def bad(where: str, problem: str) -> JobError:
        return JobError(f"{path}: not a metrics file: {where}: {problem}")

    if not isinstance(document, dict):
        raise JobError(f"{path}: not a metrics file: expected a JSON object")
    version = document.get("format")
    if version != FORMAT_VERSION:
        raise bad("format", f"expected {FORMAT_VERSION}, got {json.dumps(version)}")
    families = document.get("families")
    if not isinstance(families, dict) or not families:
        raise bad("families", "expected an object with one entry per family")
    clean: Dict[str, Any] = {}
    for name, entry in families.items():
        if name not in FAMILIES:
            raise bad(f"families.{name}", f"unknown family (expected one of {', '.join(FAMILIES)})")
        where = f"families.{name}"
        if not isinstance(entry, dict):
            raise bad(where, "expected an object")
        rows = entry.get("rows")
        if isinstance(rows, bool) or not isinstance(rows, int) or rows < 0:
            raise bad(f"{where}.rows", "expected a row count")
        threshold: Any = entry.get("threshold")
        if not _is_number(threshold) or not math.isfinite(threshold):
            raise bad(f"{where}.threshold", "expected a number")
        names = canonical_metric_names(name)
        metrics = entry.get("metrics")
        if not isinstance(metrics, dict):
            raise bad(f"{where}.metrics", "expected an object of metric values")
        values: Dict[str, Optional[float]] = {}
        value: Any
        for metric, value in metrics.items():
            if metric not in names:
                raise bad(f"{where}.metrics", f"unknown metric {metric!r}")
            if value is not None and not _is_number(value):
                raise bad(f"{where}.metrics.{metric}", "expected a number or null")
            # NaN and Infinity tokens (from lenient writers) are stored as null, as we write them.
            values[names[metric]] = (float(value) if value is not None and math.isfinite(value)
                                      else None)
        missing = [m for m in dict.fromkeys(names.values()) if m not in values]
        if missing:
            raise bad(f"{where}.metrics", f"lacks {', '.join(missing)}")
        clean_entry: Dict[str, Any] = {"rows": rows, "threshold": float(threshold),
                                       "metrics": values}
        if "checked" in entry:
            checked = entry["checked"]
            if not isinstance(checked, list) or not checked or not all(
                    isinstance(m, str) and m in names for m in checked):
                raise bad(f"{where}.checked", "expected a list of the family's metric names")
            clean_entry["checked"] = [names[m] for m in checked]
        clean[name] = clean_entry
    result = dict(document)
    result["families"] = clean
    return result


def _is_number(value: Any) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool)


# -- the check report ------------------------------------------------------------------------

def number_text(value: Optional[float]) -> str:
    """A metric as people read it: the shortest text of its 32-bit value."""
    if value is None or math.isnan(value):
        return "NaN"
    return str(np.float32(value))


def overall_passed(results: Results) -> bool:
    return all(result.passed for _, result in results)


def _summary(results: Results) -> str:
    bad = [f"{family} ({len(result.rows) - sum(r.status == 'passed' for r in result.rows)})"
           for family, result in results if not result.passed]
    if not bad:
        return f"passed: {len(results)} famil{'y' if len(results) == 1 else 'ies'} within bounds"
    return f"FAILED: {', '.join(bad)}"


def render(results: Results, fmt: str, baseline: str, latest: str) -> str:
    """The report of a check in one of REPORT_FORMATS."""
    if fmt == "json":
        return _json(results, baseline, latest)
    if fmt == "junit":
        return _junit(results)
    if fmt == "markdown":
        return _markdown(results, baseline, latest)
    return _text(results, baseline, latest)


def _text(results: Results, baseline: str, latest: str) -> str:
    lines = [f"zentrova check: {_summary(results)}", f"baseline: {baseline}",
             f"latest:   {latest}"]
    for _, result in results:
        lines.append("")
        lines.append(str(result))
    return "\n".join(lines) + "\n"


def _json(results: Results, baseline: str, latest: str) -> str:
    families = {family: json.loads(result.to_json()) for family, result in results}
    return json.dumps({"passed": overall_passed(results), "baseline": baseline,
                       "latest": latest, "families": families}, indent=2) + "\n"


def _junit(results: Results) -> str:
    suites = ET.Element("testsuites", name="zentrova check")
    total = failures = 0
    for family, result in results:
        failed = [row for row in result.rows if row.status != "passed"]
        suite = ET.SubElement(suites, "testsuite", name=family, tests=str(len(result.rows)),
                              failures=str(len(failed)), errors="0", skipped="0")
        for row in result.rows:
            case = ET.SubElement(suite, "testcase", classname=f"zentrova.{family}",
                                 name=row.metric)
            if row.status == "passed":
                continue
            message = row.message or "baseline or latest value is not finite"
            failure = ET.SubElement(case, "failure", type=row.status, message=message)
            failure.text = (f"baseline {number_text(row.baseline)}, latest "
                            f"{number_text(row.latest)}, threshold {row.threshold:g}: "
                            f"{row.rule}")
        total += len(result.rows)
        failures += len(failed)
    suites.set("tests", str(total))
    suites.set("failures", str(failures))
    suites.set("errors", "0")
    ET.indent(suites)
    return '<?xml version="1.0" encoding="utf-8"?>\n' + ET.tostring(suites, "unicode") + "\n"


def _markdown(results: Results, baseline: str, latest: str) -> str:
    lines = [f"## zentrova check: {_summary(results)}", "",
             f"Baseline `{baseline}`, latest `{latest}`.", ""]
    for family, result in results:
        verdict = "passed" if result.passed else "**failed**"
        threshold = result.rows[0].threshold if result.rows else 0.0
        lines += [f"### {family}: {verdict} (threshold {threshold:g})", "",
                  "| Metric | Baseline | Latest | Status | Rule |",
                  "|---|---:|---:|---|---|"]
        for row in result.rows:
            status = row.status if row.status == "passed" else f"**{row.status}**"
            if row.message:
                status += f": {_md_escape(row.message)}"
            lines.append(f"| {row.metric} | {number_text(row.baseline)} | "
                         f"{number_text(row.latest)} | {status} | {_md_escape(row.rule)} |")
        lines.append("")
    return "\n".join(lines)


def _md_escape(text: str) -> str:
    return text.replace("|", "\\|")

