"""The `zentrova` command: profile data files, check metrics against a baseline, or both.

Exit status: 0 when every checked metric passed, 1 when any failed or is undefined, 2 for a
usage or input error (reported in one line on standard error, without a traceback).
"""
from __future__ import annotations

import argparse
import math
import os
import sys
import time
from typing import Any, NoReturn, Optional, Sequence, TextIO

from ._errors import ZentrovaError
from .config import JobError

EXIT_PASSED, EXIT_FAILED, EXIT_ERROR = 0, 1, 2

_DESCRIPTION = """\
Monitor a model's data and predictions: compute bias and performance metrics from data files
(CSV, Parquet, Arrow) batch by batch, and check them against a stored baseline.

  zentrova profile DATA... --config job.toml -o metrics.json
  zentrova check --baseline base.json --latest metrics.json
  zentrova run DATA... --config job.toml --baseline base.json

Exit status: 0 all metrics passed, 1 a metric failed or is undefined, 2 usage or input error.
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # One line with the command's name, as for input errors, plus a pointer to --help.
        self.exit(EXIT_ERROR, f"{self.prog}: error: {message} (see {self.prog} --help)\n")


def _threshold(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a number, got {text!r}") from None
    if not math.isfinite(value) or value < 0:
        raise argparse.ArgumentTypeError(f"expected a finite number of at least 0, got {text!r}")
    return value


def _parser() -> argparse.ArgumentParser:
    from .formats import REPORT_FORMATS

    parser = _Parser(prog="zentrova", description=_DESCRIPTION,
                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    commands.required = True

    def data_options(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("data", nargs="+", metavar="DATA",
                         help="data files: CSV (plain or gzip), Parquet or Arrow IPC")
        sub.add_argument("-c", "--config", required=True, metavar="TOML",
                         help="the job's configuration file")
        sub.add_argument("--no-progress", action="store_true",
                         help="no progress bar (it is shown only on a terminal anyway)")

    def check_options(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--baseline", required=True, metavar="JSON",
                         help="metrics file of the reference data")
        sub.add_argument("--threshold", type=_threshold, metavar="T",
                         help="relative threshold for every family (default: the thresholds "
                              "stored in the latest metrics file)")
        sub.add_argument("--format", choices=REPORT_FORMATS, default="text",
                         help="report format on standard output (default: text)")
        sub.add_argument("--html", metavar="FILE", help="also write the report as an HTML page")

    profile = commands.add_parser("profile", help="compute metrics from data files",
                                  description="Compute the configured metrics from data files "
                                              "and write them as a metrics file.")
    data_options(profile)
    profile.add_argument("-o", "--output", default="-", metavar="JSON",
                         help="metrics file to write (default: standard output)")

    check = commands.add_parser("check", help="check metrics against a baseline",
                                description="Compare a metrics file with a baseline.")
    check.add_argument("--latest", required=True, metavar="JSON",
                       help="metrics file of the data to check")
    check_options(check)

    run = commands.add_parser("run", help="profile data files and check them",
                              description="Profile data files, then check the metrics "
                                          "against a baseline.")
    data_options(run)
    check_options(run)
    run.add_argument("-o", "--output", metavar="JSON", help="also write the metrics file")
    return parser


def _version() -> str:
    try:
        from . import __version__
    except ImportError:
        return "unknown"
    return str(__version__)


class Progress:
    """A one-line progress bar on a terminal; silent when the stream is not one."""

    WIDTH = 30

    def __init__(self, stream: TextIO, label: str, enabled: bool = True) -> None:
        self.stream = stream
        self.label = label
        self.enabled = enabled and stream.isatty()
        self.last = 0.0
        self.start = time.monotonic()
        self.drawn = False

    def __call__(self, fraction: float, rows: int) -> None:
        now = time.monotonic()
        if not self.enabled or now - self.last < 0.1:
            return
        self.last = now
        filled = int(self.WIDTH * fraction)
        bar = "#" * filled + "." * (self.WIDTH - filled)
        self.stream.write(f"\r{self.label} [{bar}] {fraction:4.0%}  {rows:,} rows  "
                          f"{now - self.start:.0f} s")
        self.stream.flush()
        self.drawn = True

    def close(self) -> None:
        if self.drawn:
            self.stream.write("\r\033[K")
            self.stream.flush()


def _profile(args: argparse.Namespace) -> Any:
    from .job import profile_files

    label = os.path.basename(args.data[0]) if len(args.data) == 1 else f"{len(args.data)} files"
    progress = Progress(sys.stderr, label, enabled=not args.no_progress)
    try:
        return profile_files(args.data, args.config, progress)
    finally:
        progress.close()


def _check(args: argparse.Namespace, latest: Any, latest_name: str) -> int:
    from .formats import overall_passed, read_metrics, render
    from .job import check_documents

    baseline = read_metrics(args.baseline)
    if baseline.get("config_sha256") != latest.get("config_sha256"):
        print(f"zentrova: note: {args.baseline} was profiled under another configuration",
              file=sys.stderr)
    results = check_documents(baseline, latest, args.threshold, baseline_name=args.baseline)
    sys.stdout.write(render(results, args.format, args.baseline, latest_name))
    if args.html:
        from .report_html import render_html

        _write_text(args.html, render_html(results, args.baseline, latest_name,
                                           (baseline, latest)))
    return EXIT_PASSED if overall_passed(results) else EXIT_FAILED


def _write_text(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
    except OSError as exc:
        raise JobError(f"{path}: cannot write: {exc.strerror or exc}") from None


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command with `argv` (default: the process's arguments); return the exit status."""
    args = _parser().parse_args(argv)
    from .formats import read_metrics, write_metrics

    try:
        if args.command == "profile":
            write_metrics(_profile(args), args.output)
            return EXIT_PASSED
        if args.command == "check":
            return _check(args, read_metrics(args.latest), args.latest)
        # Read the baseline first: a typo in its path should not cost a whole profile.
        read_metrics(args.baseline)
        latest = _profile(args)
        if args.output:
            write_metrics(latest, args.output)
        return _check(args, latest, args.output or " ".join(args.data))
    except ZentrovaError as exc:  # JobError and the package's other input errors
        print(f"zentrova: error: {exc}", file=sys.stderr)
        return EXIT_ERROR
    except KeyboardInterrupt:
        print("zentrova: interrupted", file=sys.stderr)
        return 130

