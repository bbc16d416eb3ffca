"""The check report as one self-contained HTML page: no scripts, no fonts or images to fetch.

Per family, an inline SVG chart gives each metric its own scale (bias ratios and entropies
differ by orders of magnitude): the allowed range is a shaded band, the baseline a hollow
circle, the latest value a filled one, red when the metric failed. The table follows.
"""
from __future__ import annotations

import html
import math
from typing import Any, List, Mapping, Optional, Sequence, Tuple

import numpy as np

from .formats import Results, number_text, overall_passed

__all__ = ["render_html", "allowed_range"]

ROW_HEIGHT = 30
LABEL_WIDTH = 330
PLOT_WIDTH = 420
VALUE_WIDTH = 170
MARGIN = 16
FAIL = "#c62828"
UNDEFINED = "#ef6c00"
PASS = "#2e7d32"

_STYLE = """
body { font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: #1a1a1a;
       margin: 2em auto; max-width: 60em; padding: 0 1em; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 2em; }
.passed { color: #2e7d32; } .failed { color: #c62828; } .undefined { color: #ef6c00; }
table { border-collapse: collapse; width: 100%; margin-top: .5em; }
th, td { text-align: left; padding: .25em .6em; border-bottom: 1px solid #ddd; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
tr.failed td { background: #fdecea; } tr.undefined td { background: #fff3e0; }
.meta { color: #555; } svg { display: block; margin: .5em 0; }
"""


def allowed_range(rule: str, baseline: float,
                  threshold: float) -> Tuple[Optional[float], Optional[float]]:
    """The latest values that pass, as (low, high); None for an open end.

    Computed in 32-bit floats the way the check computes its limits.
    """
    t = np.float32(threshold)
    b = np.float32(baseline)
    if rule.startswith("fails if |latest|"):
        limit = float(np.float32(np.float32(1) + t) * np.abs(b))
        return -limit, limit
    if rule.startswith("fails if latest >"):
        return None, float(np.float32(np.float32(1) + t) * b)
    if rule.startswith("fails if latest <"):
        return float(np.float32(np.float32(1) - t) * b), None
    return None, None


def render_html(results: Results, baseline: str, latest: str,
                documents: Optional[Tuple[Mapping[str, Any], Mapping[str, Any]]] = None) -> str:
    """The page; `documents` (the baseline and latest metrics files) add row counts and times."""
    verdict = "passed" if overall_passed(results) else "failed"
    base_doc, latest_doc = documents if documents is not None else ({}, {})
    parts = [
        "<!DOCTYPE html>", '<html lang="en">', "<head>", '<meta charset="utf-8">',
        f"<title>zentrova check: {verdict}</title>", f"<style>{_STYLE}</style>", "</head>",
        "<body>",
        f'<h1>zentrova check: <span class="{verdict}">{verdict}</span></h1>',
        f'<p class="meta">Baseline <code>{_e(baseline)}</code>{_created(base_doc)}, latest '
        f"<code>{_e(latest)}</code>{_created(latest_doc)}.</p>",
        _overview(results),
    ]
    for family, result in results:
        rows = [doc.get("families", {}).get(family, {}).get("rows")
                for doc in (base_doc, latest_doc)]
        parts.append(_family_section(family, result, rows))
    parts += ["</body>", "</html>", ""]
    return "\n".join(parts)


def _overview(results: Results) -> str:
    rows = []
    for family, result in results:
        status = "passed" if result.passed else "failed"
        bad = [row.metric for row in result.rows if row.status != "passed"]
        rows.append(f'<tr class="{status}"><td><a href="#{family}">{family}</a></td>'
                    f'<td class="{status}">{status}</td><td>{len(result.rows)}</td>'
                    f"<td>{_e(', '.join(bad)) or '&mdash;'}</td></tr>")
    return ("<table><thead><tr><th>Family</th><th>Status</th><th>Metrics</th>"
            "<th>Not passed</th></tr></thead><tbody>" + "".join(rows) + "</tbody></table>")


def _created(document: Mapping[str, Any]) -> str:
    created = document.get("created")
    return f" (profiled {_e(str(created))})" if created else ""


def _family_section(family: str, result: Any, rows: Sequence[Optional[int]]) -> str:
    status = "passed" if result.passed else "failed"
    threshold = result.rows[0].threshold if result.rows else 0.0
    counts = ""
    if all(isinstance(count, int) for count in rows):
        counts = f", rows: baseline {rows[0]:,}, latest {rows[1]:,}"
    head = (f'<section id="{family}"><h2>{family}: <span class="{status}">{status}</span> '
            f'<span class="meta">(threshold {threshold:g}{counts})</span></h2>')
    return head + _chart(family, result.rows) + _table(result.rows) + "</section>"


def _chart(family: str, rows: Sequence[Any]) -> str:
    height = MARGIN * 2 + 24 + ROW_HEIGHT * len(rows)
    width = LABEL_WIDTH + PLOT_WIDTH + VALUE_WIDTH + MARGIN * 2
    out: List[str] = [
        f'<svg class="chart" xmlns="http://www.w3.org/2000/svg" width="{width}" '
        f'height="{height}" viewBox="0 0 {width} {height}" role="img" '
        f'aria-label="{family}: baseline and latest value of each metric">',
        f"<title>{family}: baseline (hollow) and latest (filled) against the allowed range"
        f"</title>",
    ]
    x0 = MARGIN + LABEL_WIDTH
    legend_y = MARGIN + 8
    out += [
        f'<rect x="{x0}" y="{legend_y - 6}" width="18" height="12" fill="#d7e8d8"/>',
        f'<text x="{x0 + 24}" y="{legend_y + 4}" font-size="12">allowed</text>',
        f'<circle cx="{x0 + 100}" cy="{legend_y}" r="5" fill="white" stroke="#333" '
        f'stroke-width="2"/>',
        f'<text x="{x0 + 110}" y="{legend_y + 4}" font-size="12">baseline</text>',
        f'<circle cx="{x0 + 185}" cy="{legend_y}" r="5" fill="#333"/>',
        f'<text x="{x0 + 195}" y="{legend_y + 4}" font-size="12">latest</text>',
    ]
    for index, row in enumerate(rows):
        y = MARGIN + 24 + ROW_HEIGHT * index + ROW_HEIGHT // 2
        out.append(_chart_row(row, y))
    out.append("</svg>")
    return "\n".join(out)


def _chart_row(row: Any, y: int) -> str:
    x0, x1 = MARGIN + LABEL_WIDTH, MARGIN + LABEL_WIDTH + PLOT_WIDTH
    colour = {"failed": FAIL, "undefined": UNDEFINED}.get(row.status, PASS)
    weight = ' font-weight="bold"' if row.status != "passed" else ""
    parts = [f'<g class="metric {row.status}">',
             f'<text x="{x0 - 10}" y="{y + 4}" text-anchor="end" font-size="13" '
             f'fill="{colour if row.status != "passed" else "#1a1a1a"}"{weight}>'
             f"{_e(row.metric)}</text>",
             f'<line x1="{x0}" y1="{y}" x2="{x1}" y2="{y}" stroke="#ccc"/>']
    low, high = (allowed_range(row.rule, row.baseline, row.threshold)
                 if math.isfinite(row.baseline) else (None, None))
    points = [v for v in (row.baseline, row.latest, low, high, 0.0)
              if v is not None and math.isfinite(v)]
    lo, hi = min(points), max(points)
    span = hi - lo or max(abs(hi), 1.0)
    lo, hi = lo - 0.08 * span, hi + 0.08 * span

    def x(value: float) -> float:
        return round(x0 + (value - lo) / (hi - lo) * (x1 - x0), 1)

    if math.isfinite(row.baseline) and (low is not None or high is not None):
        left = x(low) if low is not None and math.isfinite(low) else x0
        right = x(high) if high is not None and math.isfinite(high) else x1
        parts.append(f'<rect class="band" x="{min(left, right)}" y="{y - 9}" '
                     f'width="{round(abs(right - left), 1)}" height="18" fill="#d7e8d8"/>')
    if lo < 0.0 < hi:
        parts.append(f'<line x1="{x(0.0)}" y1="{y - 11}" x2="{x(0.0)}" y2="{y + 11}" '
                     f'stroke="#999" stroke-dasharray="2,2"/>')
    if math.isfinite(row.baseline):
        parts.append(f'<circle class="baseline" cx="{x(row.baseline)}" cy="{y}" r="5" '
                     f'fill="white" stroke="#333" stroke-width="2"/>')
    if math.isfinite(row.latest):
        parts.append(f'<circle class="latest" cx="{x(row.latest)}" cy="{y}" r="5" '
                     f'fill="{colour}"/>')
    parts.append(f'<text x="{x1 + 12}" y="{y + 4}" font-size="12" fill="#444">'
                 f"{_short(row.baseline)} &#8594; {_short(row.latest)}</text>")
    parts.append("</g>")
    return "".join(parts)


def _table(rows: Sequence[Any]) -> str:
    body = []
    for row in rows:
        low, high = (allowed_range(row.rule, row.baseline, row.threshold)
                     if math.isfinite(row.baseline) else (None, None))
        allowed = _range_text(low, high)
        body.append(
            f'<tr class="{row.status}"><td>{_e(row.metric)}</td>'
            f'<td class="num">{number_text(row.baseline)}</td>'
            f'<td class="num">{number_text(row.latest)}</td><td>{allowed}</td>'
            f'<td class="{row.status}">{row.status}</td><td>{_e(row.message or "")}</td></tr>')
    return ("<table><thead><tr><th>Metric</th><th>Baseline</th><th>Latest</th>"
            "<th>Allowed</th><th>Status</th><th>Message</th></tr></thead><tbody>"
            + "".join(body) + "</tbody></table>")


def _short(value: float) -> str:
    return f"{value:.4g}" if math.isfinite(value) else "not finite"


def _range_text(low: Optional[float], high: Optional[float]) -> str:
    if low is None and high is None:
        return "&mdash;"
    if low is None:
        return f"&le; {number_text(high)}"
    if high is None:
        return f"&ge; {number_text(low)}"
    return f"{number_text(low)} &hellip; {number_text(high)}"


def _e(text: str) -> str:
    return html.escape(text, quote=True)
