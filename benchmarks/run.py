#!/usr/bin/env python3
"""Benchmark suite for the `_zentrova` module.

For each of the five array functions, on realistic columns, it measures:

* rows per second of the module (median of the repeats);
* how much slower the same call is when every array argument is an ndarray
  subclass, which forces the module onto its element-by-element iteration path
  (measured on a fraction of the rows and scaled per row);
* how much slower the best hand-written vectorised NumPy code doing the same
  work is (labelling, distinct-value decision, segmentation, counting and the
  float32 metric arithmetic);
* how much slower scikit-learn's equivalent metric calls are (performance
  functions only; "n/a" when scikit-learn is not installed);
* the peak extra memory per row during the call, from ru_maxrss in a fresh
  subprocess per case (the module allocates with C++ new/malloc, which
  tracemalloc cannot see).

With --before PYTHON it also times every row under another interpreter whose
`_zentrova` is an earlier build, in a child process on the same seeded data,
alternating with the current build call by call.

It also times two Python threads calling a function on separate arrays against
one thread making both calls in turn; the statistics objects of the `zentrova`
package fed in batches and merged against one call on all rows (their metrics
must be bit-identical); and the six drift checks per call against the bare cost
of calling a C function with two dicts.

Usage: python3 benchmarks/run.py [--rows N] [--repeat K] [--quick] [--before PYTHON]
"""

from __future__ import annotations

import argparse
import gc
import hashlib
import importlib.metadata
import json
import operator
import os
import platform
import resource
import shlex
import statistics
import struct
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from typing import Callable

# The module works on one core; so do the NumPy and scikit-learn references (the BLAS library
# would otherwise spread np.dot over every core). Set before NumPy is imported; an explicit
# setting in the environment wins.
for _variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_variable, "1")

import numpy as np  # noqa: E402

try:
    import _zentrova as zv
except ImportError as exc:  # pragma: no cover - only when the module is not built
    sys.exit(f"cannot import _zentrova ({exc}); build and install the module first")

SEED = 20240607
CHUNK = 1 << 16  # rows generated per step, keeps generation temporaries small
EPS = np.float32(1.1920929e-7)  # float32 machine epsilon, the tolerance of the performance counts
F32 = np.float32
ITERATION_FRACTION = 20  # the iteration path runs on rows // ITERATION_FRACTION rows
CHECK_ROWS = 20_000  # prefix on which the NumPy equivalents are checked against the module


class Sub(np.ndarray):
    """An ndarray subclass: the module reads it through the iteration protocol."""


# --------------------------------------------------------------------------- data

# Column name -> the columns it is derived from (generated in the same chunk).
COLUMN_DEPENDENCIES = {
    "age": (),
    "sex": (),
    "gt_int": (),
    "gt_float": ("gt_int",),
    "proba": ("gt_int",),
    "pred_int": ("proba",),
    "pred_float": ("pred_int",),
    "y_true": (),
    "y_pred": ("y_true",),
}
TEXT_WIDTH = "<U6"


def _closure(names):
    needed: list[str] = []

    def visit(name):
        for dep in COLUMN_DEPENDENCIES[name]:
            visit(dep)
        if name not in needed:
            needed.append(name)

    for name in names:
        visit(name)
    return needed


def make_columns(names, rows: int) -> dict[str, np.ndarray]:
    """Deterministic, realistic columns, generated chunk by chunk.

    The result also holds the columns the requested ones derive from, so that
    nothing large is freed after generation (the memory baseline stays honest).

    age: int64 ages 18..90; sex: 'U6' text, about one third "Female";
    gt_*: 0/1 outcome, about 30 % positive; proba: a model's float64
    probability in (0, 1) correlated with the outcome; pred_*: proba >= 0.5;
    y_true / y_pred: positive float64 regression targets (log-normal prices)
    and predictions within about 15 %.
    """
    needed = _closure(names)
    dtypes = {"age": np.int64, "sex": TEXT_WIDTH, "gt_int": np.int64, "gt_float": np.float64,
              "proba": np.float64, "pred_int": np.int64, "pred_float": np.float64,
              "y_true": np.float64, "y_pred": np.float64}
    out = {name: np.empty(rows, dtype=dtypes[name]) for name in needed}
    # One independent stream per column so a column does not depend on which others are made.
    streams = {name: np.random.default_rng([SEED, i]) for i, name in enumerate(COLUMN_DEPENDENCIES)}
    for start in range(0, rows, CHUNK):
        stop = min(start + CHUNK, rows)
        k = stop - start
        part = {}
        for name in needed:
            rng = streams[name]
            if name == "age":
                part[name] = rng.integers(18, 91, k)
            elif name == "sex":
                part[name] = np.where(rng.random(k) < 0.34, "Female", "Male")
            elif name == "gt_int":
                part[name] = (rng.random(k) < 0.3).astype(np.int64)
            elif name == "gt_float":
                part[name] = part["gt_int"].astype(np.float64)
            elif name == "proba":
                score = 1.4 * (2 * part["gt_int"] - 1) - 0.8 + rng.normal(0.0, 1.3, k)
                part[name] = 1.0 / (1.0 + np.exp(-score))
            elif name == "pred_int":
                part[name] = (part["proba"] >= 0.5).astype(np.int64)
            elif name == "pred_float":
                part[name] = part["pred_int"].astype(np.float64)
            elif name == "y_true":
                part[name] = rng.lognormal(12.0, 0.6, k)
            elif name == "y_pred":
                part[name] = part["y_true"] * rng.lognormal(0.0, 0.15, k)
            out[name][start:stop] = part[name]
    return out  # the requested columns and those they were derived from


# ------------------------------------------------------------- NumPy equivalents

DISTINCT_CHUNK = 1 << 17


def np_two_distinct(col: np.ndarray) -> bool:
    """Whether the numeric column holds exactly two distinct 32-bit keys.

    Same decision as the module: integers reduced to their low 32 bits, floats
    truncated to int32; like the module, it stops at the first third key.
    """
    first = second = None
    for start in range(0, len(col), DISTINCT_CHUNK):
        keys = col[start:start + DISTINCT_CHUNK].astype(np.int32)
        if first is None:
            first = keys[0]
        if second is None:
            other = keys != first
            if not other.any():
                continue
            second = keys[other.argmax()]
            if np.logical_and(other, keys != second).any():
                return False
        elif np.logical_and(keys != first, keys != second).any():
            return False
    return second is not None


def np_text_equal(col: np.ndarray, label: str) -> np.ndarray:
    """col == label for a 'U' column, comparing the raw UCS-4 words of each row.

    NumPy pads text with NUL code points to the column width, so equal raw
    words mean equal texts; this is about three times faster than `col == label`.
    """
    width = col.dtype.itemsize // 4
    if len(label) > width:
        return np.zeros(len(col), dtype=bool)
    target = np.array([label], dtype=col.dtype)
    if col.dtype.itemsize % 8:
        return col == label
    words = col.view(np.uint64).reshape(len(col), -1)
    want = target.view(np.uint64)
    out = np.empty(len(col), dtype=bool)
    step = 1 << 15
    for start in range(0, len(col), step):
        chunk = words[start:start + step]
        mask = out[start:start + step]
        np.equal(chunk[:, 0], want[0], out=mask)
        for j in range(1, words.shape[1]):
            mask &= chunk[:, j] == want[j]
    return out


def np_label(col: np.ndarray, label, equal: bool | None = None) -> np.ndarray:
    """The module's labelling: equality for text and two-valued columns, >= otherwise.

    `equal` is the rule of a numeric column when the caller already knows it
    (True: equality, False: >=); None decides it from the column.
    """
    if col.dtype.kind == "U":
        return np_text_equal(col, label)
    if col.dtype.kind == "i" and isinstance(label, float):
        label = int(label)  # truncation toward zero
    if equal is None:
        equal = np_two_distinct(col)
    return col == label if equal else col >= label


def label_rules(*cols: np.ndarray) -> tuple:
    """The rule the module picks for each column (None for text, which is always equality),
    decided once by the caller, outside any timing."""
    return tuple(None if col.dtype.kind == "U" else np_two_distinct(col) for col in cols)


def _pre_training_metrics(n_f: int, n_r: int, pos_f: int, pos_r: int) -> dict[str, float]:
    nf, nr = F32(n_f), F32(n_r)
    qf, qr = F32(pos_f) / nf, F32(pos_r) / nr
    one = F32(1)
    m = (qf + qr) * F32(0.5)
    u = one - m
    d1 = qf - qr
    d0 = (one - qf) - (one - qr)
    p0 = abs((nf - F32(pos_f)) / nf - (nr - F32(pos_r)) / nr)
    p1 = abs(qf - qr)
    return {
        "ClassImbalance": abs(nf - nr) / F32(n_f + n_r),
        "DifferenceInProportionOfLabels": qf - qr,
        "KlDivergence": qf * np.log(qf / qr) + (one - qf) * np.log((one - qf) / (one - qr)),
        "JsDivergence": (qf * np.log(qf / m) + (one - qf) * np.log((one - qf) / u)
                         + qr * np.log(qr / m) + (one - qr) * np.log((one - qr) / u)) * F32(0.5),
        "LpNorm": np.sqrt(d1 * d1 + d0 * d0),
        "TotalVarationDistance": abs(qf - qr),
        "KolmorogvSmirnov": p1 if p0 > p1 else p0,
    }


def np_data_bias(facet, gt, facet_label, gt_label, rules=(None, None)):
    """`rules`: the caller's labelling rule of (facet, gt); the default decides them here."""
    g = np_label(gt, gt_label, rules[1])
    f = np_label(facet, facet_label, rules[0])
    n_f = np.count_nonzero(f)
    n_r = len(f) - n_f
    if n_f == 0 or n_r == 0:
        raise TypeError("No deviation")
    pos_f = np.count_nonzero(f & g)
    pos_r = np.count_nonzero(g) - pos_f
    with np.errstate(all="ignore"):
        return _pre_training_metrics(n_f, n_r, pos_f, pos_r)


def _post_training_metrics(c) -> dict[str, float]:
    tp_f, fp_f, fn_f, tn_f, tp_r, fp_r, fn_r, tn_r = (F32(x) for x in c)
    n_f, n_r = tp_f + fp_f + fn_f + tn_f, tp_r + fp_r + fn_r + tn_r
    pp_f, pp_r = tp_f + fp_f, tp_r + fp_r
    pn_f, pn_r = fn_f + tn_f, fn_r + tn_r
    lp_f, lp_r = tp_f + fn_f, tp_r + fn_r
    ln_f, ln_r = fp_f + tn_f, fp_r + tn_r
    q = pp_r / lp_r
    # Generalized entropy from the counts of the three benefit values 1, 0 and 2.
    n11, n10, n0 = c[0] + c[4], c[2] + c[6], c[1] + c[3] + c[5] + c[7]
    nf = F32(n11 + n10 + n0)
    mean = F32(n11 + 2 * n0) / nf
    one = F32(1)
    total = (F32(n11) * ((one / mean) * (one / mean) - one) - F32(n10)
             + F32(n0) * ((F32(2) / mean) * (F32(2) / mean) - one))
    return {
        "DifferenceInPositivePredictedLabels": pp_f / lp_f - pp_r / lp_r,
        "DisparateImpact": F32(0) if q == 0 else (pp_f / lp_r) / q,
        "AccuracyDifference": (tp_f + tn_f) / n_f - (tp_r + tn_r) / n_r,
        "RecallDifference": tp_f / (tp_f + fn_f) - tp_r / (tp_r + fn_r),
        "DifferenceInConditionalAcceptance": lp_f / pp_f - lp_r / pp_r,
        "DifferenceInAcceptanceRate": tp_f / (tp_f + fp_f) - tp_r / (tp_r + fp_r),
        "SpecialityDifference": tn_r / (fp_r + tn_r) - tn_f / (fp_f + tn_f),
        "DifferenceInConditionalRejection": ln_r / pn_r - ln_f / pn_f,
        "DifferenceInRejectionRate": tn_r / (fn_r + tn_r) - tn_f / (fn_f + tn_f),
        "TreatmentEquity": fn_r / fp_r - fn_f / fp_f,
        "ConditionalDemographicDesparityPredictedLabels": pn_r / (pn_f + pn_r) - pp_r / (pp_f + pp_r),
        "GeneralizedEntropy": (nf * F32(0.5)) * total,
    }


def np_model_bias(facet, gt, pred, facet_label, gt_label, pred_label):
    p = np_label(pred, pred_label)
    g = np_label(gt, gt_label)
    f = np_label(facet, facet_label)
    cnt = np.count_nonzero
    n = len(f)
    n_f = cnt(f)
    if n_f == 0 or n_f == n:
        raise TypeError("no deviaton")
    fp_mask = f & p
    # Seven counts give all eight confusion cells of both groups.
    c_p, c_g, c_fp, c_fg, c_pg = cnt(p), cnt(g), cnt(fp_mask), cnt(f & g), cnt(p & g)
    c_fpg = cnt(fp_mask & g)
    tp_f, fp_f, fn_f = c_fpg, c_fp - c_fpg, c_fg - c_fpg
    tn_f = n_f - tp_f - fp_f - fn_f
    tp_r, fp_r, fn_r = c_pg - c_fpg, (c_p - c_fp) - (c_pg - c_fpg), (c_g - c_fg) - (c_pg - c_fpg)
    tn_r = (n - n_f) - tp_r - fp_r - fn_r
    with np.errstate(all="ignore"):
        return _post_training_metrics((tp_f, fp_f, fn_f, tn_f, tp_r, fp_r, fn_r, tn_r))


def _classification_metrics(n, tp, tn, correct, sum_true, sum_pred) -> dict[str, float]:
    big_n = F32(n)
    tp, tn, correct, sum_true, sum_pred = F32(tp), F32(tn), F32(correct), F32(sum_true), F32(sum_pred)
    rp, rn = tp / sum_true, tn / (big_n - sum_true)
    pp, pn = tp / sum_pred, tn / (big_n - sum_pred)
    return {
        "BalancedAccuracy": (rp * rn) * F32(0.5),
        "PrecisionPositive": pp,
        "PrecisionNegative": pn,
        "RecallPositive": rp,
        "RecallNegative": rn,
        "Accuracy": (F32(1) / big_n) * correct,
        "F1Score": ((rp + rp) * pp) / (rp + pp),
    }


def _within_eps(values: np.ndarray, target: float, scratch: np.ndarray) -> np.ndarray:
    np.subtract(values, target, out=scratch)
    np.abs(scratch, out=scratch)
    return scratch <= EPS


def np_classification(y_pred, y_true):
    n = len(y_true)
    cnt = np.count_nonzero
    if y_true.dtype.kind == "i":
        # For integers "within epsilon of 1 / of y_pred" is exact equality.
        same = y_true == y_pred
        tp = cnt(same & (y_true == 1))
        tn = cnt(same & (y_true == 0))
        correct = cnt(same)
    else:
        scratch = np.empty(n, dtype=np.float64)
        np.subtract(y_true, y_pred, out=scratch)
        np.abs(scratch, out=scratch)
        close = scratch <= EPS
        tp = cnt(close & _within_eps(y_true, 1.0, scratch))
        tn = cnt(close & _within_eps(y_true, 0.0, scratch))
        correct = cnt(y_true == y_pred)
    with np.errstate(all="ignore"):
        return _classification_metrics(n, tp, tn, correct, y_true.sum(), y_pred.sum())


def np_logistic(y_pred, y_true, threshold=0.5):
    n = len(y_true)
    cnt = np.count_nonzero
    labels = y_pred >= threshold
    if y_true.dtype.kind == "i":
        pos, neg = y_true == 1, y_true == 0
        tp = cnt(pos & labels)
        tn = cnt(neg) - cnt(neg & labels)
        correct = tp + tn  # a label is 0 or 1, so it equals y_true exactly on these rows
    else:
        scratch = np.empty(n, dtype=np.float64)
        pos = _within_eps(y_true, 1.0, scratch)
        neg = _within_eps(y_true, 0.0, scratch)
        tp = cnt(pos & labels)
        tn = cnt(neg) - cnt(neg & labels)
        correct = cnt((y_true == 1.0) & labels) + cnt(y_true == 0.0) - cnt((y_true == 0.0) & labels)
    p = y_pred.astype(np.float32)
    t = y_true.astype(np.float32)
    log_p = np.log10(p)
    np.subtract(F32(1), p, out=p)
    np.log10(p, out=p)  # p now holds log10(1 - p)
    # sum(t*log p + (1-t)*log(1-p)) == t . (log p - log(1-p)) + sum(log(1-p))
    np.subtract(log_p, p, out=log_p)
    with np.errstate(all="ignore"):
        acc = F32(np.dot(t, log_p)) + F32(p.sum())
        loss = acc * -(F32(1) / F32(n))
        result = _classification_metrics(n, tp, tn, correct, y_true.sum(), cnt(labels))
    result["LogLoss"] = loss  # NaN stays NaN, as in the module
    return result


def np_regression(y_pred, y_true):
    n = len(y_true)
    t = y_true.astype(np.float32)
    p = y_pred.astype(np.float32)
    r = F32(1) / F32(n)
    d = t - p
    with np.errstate(all="ignore"):
        sse = F32(np.dot(d, d))
        largest = max(F32(0), d.max())
        np.abs(d, out=d)
        sae = d.sum()
        np.divide(d, t, out=d)
        sape = d.sum()
        mean_true = r * t.sum()
        np.subtract(t, mean_true, out=d)
        sst = F32(np.dot(d, d))
        np.add(t, F32(1), out=t)
        np.log10(t, out=t)
        np.add(p, F32(1), out=p)
        np.log10(p, out=p)
        np.subtract(t, p, out=t)  # per row: the two sums are large and nearly equal
        sld = t.sum()
        mse = r * sse
        return {
            "RootMeanSquaredError": np.sqrt(mse),
            "MeanSquaredError": mse,
            "MeanAbsoluteError": r * sae,
            "RSquared": sse / sst,
            "MaxError": largest,
            "MeanSquaredLogError": (sld * sld) / r,
            "RootMeanSquaredLogError": np.sqrt(sld * sld) / r,
            "MeanAbsolutePercentageError": (r * sape) * F32(100),
        }


# ----------------------------------------------------------- scikit-learn calls

def sk_classification(y_pred, y_true):
    from sklearn import metrics as m

    return [m.recall_score(y_true, y_pred, pos_label=1), m.recall_score(y_true, y_pred, pos_label=0),
            m.precision_score(y_true, y_pred, pos_label=1), m.precision_score(y_true, y_pred, pos_label=0),
            m.balanced_accuracy_score(y_true, y_pred), m.accuracy_score(y_true, y_pred),
            m.f1_score(y_true, y_pred)]


def sk_logistic(y_pred, y_true, threshold=0.5):
    from sklearn import metrics as m

    labels = (y_pred >= threshold).astype(y_true.dtype)
    return sk_classification(labels, y_true) + [m.log_loss(y_true, y_pred)]


def sk_regression(y_pred, y_true):
    from sklearn import metrics as m

    return [m.mean_squared_error(y_true, y_pred), m.mean_absolute_error(y_true, y_pred),
            m.r2_score(y_true, y_pred), m.max_error(y_true, y_pred),
            m.mean_squared_log_error(y_true, y_pred), m.mean_absolute_percentage_error(y_true, y_pred)]


# ------------------------------------------------------------------- scenarios

@dataclass(frozen=True)
class Case:
    name: str          # function name
    inputs: str        # short description of the columns
    arrays: tuple      # column names, in argument order
    labels: tuple      # the non-array arguments that follow the arrays
    module: Callable
    numpy: Callable
    sklearn: Callable | None = None


def _cases() -> list[Case]:
    cases = []
    for facet, facet_label, facet_desc in (("age", 40, "age int64 >=40"), ("sex", "Female", "sex U6 =Female")):
        for kind in ("int", "float"):
            label = 1 if kind == "int" else 1.0
            cases.append(Case("data_bias_analyzer", f"{facet_desc}, gt {kind}64",
                              (facet, f"gt_{kind}"), (facet_label, label),
                              zv.data_bias_analyzer, np_data_bias))
    for facet, facet_label, facet_desc in (("age", 40, "age int64 >=40"), ("sex", "Female", "sex U6 =Female")):
        for kind in ("int", "float"):
            label = 1 if kind == "int" else 1.0
            cases.append(Case("model_bias_analyzer", f"{facet_desc}, gt/pred {kind}64",
                              (facet, f"gt_{kind}", f"pred_{kind}"), (facet_label, label, label),
                              zv.model_bias_analyzer, np_model_bias))
    for kind in ("int", "float"):
        cases.append(Case("model_performance_classification", f"pred/true {kind}64 0/1",
                          (f"pred_{kind}", f"gt_{kind}"), (),
                          zv.model_performance_classification, np_classification, sk_classification))
    for kind in ("int", "float"):
        cases.append(Case("model_performance_logisitic_regression", f"proba f64, true {kind}64",
                          ("proba", f"gt_{kind}"), (),
                          zv.model_performance_logisitic_regression, np_logistic, sk_logistic))
    cases.append(Case("model_performance_regression", "pred/true float64 >0",
                      ("y_pred", "y_true"), (),
                      zv.model_performance_regression, np_regression, sk_regression))
    return cases


# --------------------------------------------------------------------- timing

def timed_call(fn: Callable, args: tuple) -> float:
    """Wall time of one call of fn(*args), after a collection so none falls inside it."""
    gc.collect()
    start = time.perf_counter()
    fn(*args)
    return time.perf_counter() - start


def median_time(fn: Callable, args: tuple, repeat: int, warm_up: bool = True) -> float:
    """Median wall time of fn(*args); an untimed first call brings the allocator to the state
    that repeated calls of the same size keep (the first call would otherwise pay for it)."""
    if warm_up:
        fn(*args)
    return statistics.median(timed_call(fn, args) for _ in range(repeat))


def alternate(timers: list[Callable[[], float]], repeat: int) -> list[float]:
    """Median of each timer (a callable that runs once and returns its seconds), the timers
    taking turns run by run, so that a change of load on the machine falls on all of them
    alike. Each is first run once untimed, as in median_time."""
    for timer in timers:
        timer()
    samples: list[list[float]] = [[] for _ in timers]
    for _ in range(repeat):
        for times, timer in zip(samples, timers):
            times.append(timer())
    return [statistics.median(times) for times in samples]


def results_agree(ours: dict, theirs: dict, rtol: float = 2e-3) -> list[str]:
    """Keys whose values differ beyond rtol (NaNs and infinities must match)."""
    bad = []
    for key, value in ours.items():
        a, b = float(value), float(theirs[key])
        if np.isnan(a) and np.isnan(b):
            continue
        if not np.isclose(a, b, rtol=rtol, atol=1e-6):
            bad.append(key)
    return bad


def float_bits(result: dict) -> dict[str, bytes]:
    """Each metric as the bytes of its double, so NaNs and signed zeros compare exactly."""
    return {key: struct.pack("<d", float(value)) for key, value in result.items()}


def loud_error(lines: list[str]) -> None:
    banner = "!" * 100
    text = "\n".join([banner, *("ERROR: " + line for line in lines), banner])
    print(text, flush=True)
    print(text, file=sys.stderr, flush=True)


# ------------------------------------------------------------- earlier build

def columns_digest(cols: dict[str, np.ndarray]) -> str:
    """Fingerprint of the generated columns: both interpreters must time the same data."""
    digest = hashlib.sha256()
    for name in sorted(cols):
        digest.update(name.encode())
        digest.update(np.ascontiguousarray(cols[name]).view(np.uint8))
    return digest.hexdigest()


def before_child(rows: int) -> None:
    """Runs under the --before interpreter: builds the same columns, then serves one request
    per line on stdin ({"op": "warm" | "time", "case": index}) with one JSON line on stdout."""
    cases = _cases()
    cols = make_columns(list(COLUMN_DEPENDENCIES), rows)
    print(json.dumps({"digest": columns_digest(cols), "module": zv.__file__, "numpy": np.__version__,
                      "python": platform.python_version()}), flush=True)
    for line in sys.stdin:
        request = json.loads(line)
        case = cases[request["case"]]
        arrays = tuple(cols[name] for name in case.arrays)
        if request["op"] == "warm":
            prefix = case.module(*(a[:CHECK_ROWS] for a in arrays), *case.labels)
            reply = {"prefix": {key: float(value) for key, value in prefix.items()}}
        else:
            reply = {"seconds": timed_call(case.module, arrays + case.labels)}
        print(json.dumps(reply), flush=True)


class BeforeBuild:
    """The child process that times calls under the other interpreter."""

    def __init__(self, python: str, rows: int):
        self.python = python
        try:
            self.proc = subprocess.Popen(
                [python, os.path.abspath(__file__), "--before-child", "--rows", str(rows)],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        except OSError as exc:
            sys.exit(f"--before {python}: cannot start it ({exc})")
        self.info: dict | None = None

    def _reply(self) -> dict:
        line = self.proc.stdout.readline()
        if not line:
            self.close()
            sys.exit(f"--before {self.python}: the child process stopped (exit code {self.proc.returncode})")
        return json.loads(line)

    def ready(self) -> dict:
        """Waits until the child has built its columns; returns what it reported."""
        if self.info is None:
            self.info = self._reply()
        return self.info

    def request(self, op: str, case_index: int) -> dict:
        self.proc.stdin.write(json.dumps({"op": op, "case": case_index}) + "\n")
        self.proc.stdin.flush()
        return self._reply()

    def timer(self, case_index: int) -> Callable[[], float]:
        return lambda: self.request("time", case_index)["seconds"]

    def close(self) -> None:
        if self.proc.stdin and not self.proc.stdin.closed:
            self.proc.stdin.close()
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


# --------------------------------------------------------------------- threads

class ThreadPair:
    """Two threads started once, each kept on a core of its own, making one call each per
    round, as a pool of two worker threads on two free cores would. Left to the system,
    threads woken together sometimes both begin on one core and share it for several
    milliseconds until one is moved (their CPU time then stays below their wall time), and
    that would be timed too."""

    def __init__(self) -> None:
        self._go = threading.Barrier(3)
        self._done = threading.Barrier(3)
        self._calls: list = [None, None]
        self._errors: list[BaseException] = []
        self._closed = False
        self._threads = [threading.Thread(target=self._serve, args=(slot,), daemon=True) for slot in (0, 1)]
        for thread in self._threads:
            thread.start()

    def _serve(self, slot: int) -> None:
        if hasattr(os, "sched_setaffinity"):
            cpus = sorted(os.sched_getaffinity(0))
            if len(cpus) >= 2:
                os.sched_setaffinity(0, {cpus[slot]})  # on Linux, this thread only
        while True:
            self._go.wait()
            if self._closed:
                return
            work, args = self._calls[slot]
            try:
                work(*args)
            except BaseException as exc:  # noqa: BLE001 - raised again by run
                self._errors.append(exc)
            self._done.wait()

    def run(self, work: Callable, first: tuple, second: tuple) -> float:
        """Wall time of work(*first) and work(*second) made at once, one on each thread, from
        their release to the later one's end."""
        self._calls = [(work, first), (work, second)]
        self._errors.clear()
        gc.collect()
        start = time.perf_counter()
        self._go.wait()
        self._done.wait()
        elapsed = time.perf_counter() - start
        if self._errors:
            raise self._errors[0]
        return elapsed

    def close(self) -> None:
        self._closed = True
        self._go.wait()
        for thread in self._threads:
            thread.join()


def thread_timers(pair: ThreadPair, fn: Callable, first: tuple, second: tuple, failures: list[str], what: str):
    """Timers of both calls made in turn by this thread, and of the two calls made at once by
    the pair's threads; every threaded result must be bit-identical to the one made in turn."""
    expected = [float_bits(fn(*first)), float_bits(fn(*second))]
    in_turn, _ = plain_thread_timers(pair, fn, first, second)

    def two_threads() -> float:
        results: list = [None, None]
        errors: list = []

        def work(slot: int, *args) -> None:
            try:
                results[slot] = float_bits(fn(*args))
            except BaseException as exc:  # noqa: BLE001 - reported below
                errors.append(repr(exc))

        elapsed = pair.run(work, (0, *first), (1, *second))
        if errors or results != expected:
            failures.append(f"{what}: two threads gave {errors or 'other metrics'} than the calls in turn")
        return elapsed

    return [in_turn, two_threads]


def plain_thread_timers(pair: ThreadPair, work: Callable, first: tuple, second: tuple):
    """thread_timers for work without metrics: both made in turn, and at once on the pair."""
    def in_turn() -> float:
        return timed_call(lambda: (work(*first), work(*second)), ())

    return [in_turn, lambda: pair.run(work, first, second)]


def _arithmetic_in_cache(values: np.ndarray, out: np.ndarray, rounds: int) -> None:
    for _ in range(rounds):
        np.sin(values, out=out)


def _read_columns(*columns: np.ndarray) -> None:
    for column in columns:
        np.bitwise_or.reduce(column)


def machine_references(cols):
    """(name, inputs, work, first, second) of the threads table's NumPy rows."""
    def in_cache():
        values = np.linspace(0.0, 1.0, 16_384)  # 128 KB: stays in each core's own cache
        return values, np.empty_like(values), 1_000
    rows = len(cols["age"])
    first = tuple(cols[name] for name in ("age", "gt_int", "pred_int"))
    yield ("NumPy sin, each thread its own array", "float64, 16,384 rows x 1,000", _arithmetic_in_cache,
           in_cache(), in_cache())
    yield ("NumPy bitwise_or.reduce of 3 columns", f"int64, {rows:,} rows each", _read_columns,
           first, tuple(column.copy() for column in first))


# ------------------------------------------------------------ statistics objects

STATS_BATCHES = 10


def stats_in_batches(cls, labels: tuple, arrays: tuple, batches: int = STATS_BATCHES) -> dict:
    """One statistics object per batch of consecutive rows, merged in turn, then its metrics."""
    merged = None
    for batch in zip(*(np.array_split(a, batches) for a in arrays)):
        part = cls(*labels)
        part.update(*batch)
        merged = part if merged is None else merged.merge(part)
    return merged.metrics()


def stats_on_threads(cls, labels: tuple, arrays: tuple, threads: int = 2) -> dict:
    """One statistics object updated once with all rows on `threads` threads, then its metrics."""
    stats = cls(*labels)
    stats.update(*arrays, threads=threads)
    return stats.metrics()


# --------------------------------------------------------------------- memory

def memory_child(case_index: int, rows: int) -> None:
    """Runs in a fresh interpreter: peak RSS growth of one module call."""
    case = _cases()[case_index]
    cols = make_columns(case.arrays, rows)
    arrays = [cols[name] for name in case.arrays]
    for arr in cols.values():  # touch every page so the inputs are in the baseline
        int(arr.view(np.uint8)[::4096].sum())
    warm = [a[:1000] for a in arrays]
    case.module(*warm, *case.labels)  # one-time initialisation out of the measurement
    gc.collect()
    try:  # hand freed heap pages back, so the call cannot silently reuse them
        import ctypes

        libc = ctypes.CDLL("libc.so.6")
        libc.mallopt(-2, 0)  # M_TOP_PAD: keep no spare resident pages at the top of the heap
        libc.malloc_trim(0)
    except (OSError, AttributeError):
        pass
    try:  # Linux: restart the peak from the present resident size (ru_maxrss follows)
        with open("/proc/self/clear_refs", "w") as fh:
            fh.write("5")
    except OSError:
        pass
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    with open("/proc/self/statm") as fh:  # resident size now: interpreter and inputs
        current = int(fh.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024
    case.module(*arrays, *case.labels)
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"before_kib": before, "current_kib": current, "after_kib": after}))


def measure_memory(case_index: int, rows: int) -> str:
    """Peak extra bytes per row of one call, as text.

    The child restarts its peak from its present size where Linux allows it. When
    the call raises the process's peak (ru_maxrss), its own peak is exactly the
    new peak, and the extra memory is that minus the resident size just before
    the call. Otherwise only an upper bound is known: the earlier peak minus the
    resident size.
    """
    command = shlex.join([sys.executable, os.path.abspath(__file__), "--memory-child", str(case_index),
                          "--rows", str(rows)])
    # A process's ru_maxrss starts at the peak of the process it was started from, and survives
    # exec. Started from a shell that forks it (the command is not the shell's last), the child
    # starts from the shell's small peak instead of this process's.
    proc = subprocess.run(["/bin/sh", "-c", command + "; exit $?"], capture_output=True, text=True, check=False)
    if proc.returncode != 0:
        return "error"
    data = json.loads(proc.stdout.strip().splitlines()[-1])
    if data["after_kib"] > data["before_kib"]:
        return f"{(data['after_kib'] - data['current_kib']) * 1024 / rows:.1f}"
    bound = max(data["before_kib"] - data["current_kib"], 0) * 1024 / rows
    return "0.0" if bound < 0.05 else f"<{bound:.1f}"


# ---------------------------------------------------------------- drift checks

def drift_cases(rows: int):
    """Realistic baseline/latest dicts: analyzer and performance outputs on a reference
    sample and on a later sample where the outcome and the model have drifted."""
    n = min(rows, 400_000)
    cols = make_columns(("sex", "gt_int", "pred_int", "proba", "y_true", "y_pred"), 2 * n)
    ref = {k: v[:n] for k, v in cols.items()}
    new = {k: v[n:].copy() for k, v in cols.items()}
    rng = np.random.default_rng([SEED, 99])
    women = new["sex"] == "Female"
    new["gt_int"][women & (rng.random(n) < 0.15)] = 0      # fewer positive outcomes for women
    flip = rng.random(n) < 0.08                            # a degraded model
    new["pred_int"][flip] = 1 - new["pred_int"][flip]
    new["proba"][flip] = 1.0 - new["proba"][flip]
    new["y_pred"] *= rng.lognormal(0.05, 0.1, n)

    def both(fn, *names_and_labels):
        names, labels = names_and_labels
        return tuple(fn(*(d[c] for c in names), *labels) for d in (ref, new))

    dba = both(zv.data_bias_analyzer, ("sex", "gt_int"), ("Female", 1))
    mba = both(zv.model_bias_analyzer, ("sex", "gt_int", "pred_int"), ("Female", 1, 1))
    cls = both(zv.model_performance_classification, ("pred_int", "gt_int"), ())
    log = both(zv.model_performance_logisitic_regression, ("proba", "gt_int"), ())
    reg = both(zv.model_performance_regression, ("y_pred", "y_true"), ())
    return [
        ("data_bias_runtime_check", "7 metrics", zv.data_bias_runtime_check, (*dba,)),
        ("data_bias_partial_check", "3 of 7", zv.data_bias_partial_check,
         (*dba, ["ClassImbalance", "KlDivergence", "TotalVariationDistance"])),
        ("model_bias_runtime_check", "12 metrics", zv.model_bias_runtime_check, (*mba,)),
        ("model_bias_partial_check", "4 of 12", zv.model_bias_partial_check,
         (*mba, ["DisparateImpact", "RecallDifference", "AccuracyDifference", "GeneralizedEntropy"])),
        ("model_performance_runtime_entry_full", "BinaryClassification",
         zv.model_performance_runtime_entry_full, ("BinaryClassification", *cls)),
        ("model_performance_runtime_entry_full", "LogisticRegression",
         zv.model_performance_runtime_entry_full, ("LogisticRegression", *log)),
        ("model_performance_runtime_entry_full", "LinearRegression",
         zv.model_performance_runtime_entry_full, ("LinearRegression", *reg)),
        ("model_performance_runtime_entry_partial", "LogisticRegression, 3",
         zv.model_performance_runtime_entry_partial,
         ("LogisticRegression", *log, ["Accuracy", "F1Score", "LogLoss"])),
    ]


def per_call_us(fn: Callable, args: tuple, calls: int = 2000, batches: int = 15) -> float:
    for _ in range(200):
        fn(*args)
    times = []
    loop = range(calls)
    for _ in range(batches):
        start = time.perf_counter()
        for _ in loop:
            fn(*args)
        times.append((time.perf_counter() - start) / calls)
    return statistics.median(times) * 1e6


# ---------------------------------------------------------------------- report

def machine_lines() -> list[str]:
    cpu = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as fh:
            for line in fh:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    try:
        sk_version = importlib.metadata.version("scikit-learn")
    except importlib.metadata.PackageNotFoundError:
        sk_version = "not installed"
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    return [f"machine : {cpu}, {cores} cores, {platform.system()} {platform.machine()}",
            f"python  : {platform.python_version()}   numpy: {np.__version__}   scikit-learn: {sk_version}"]


def fmt_ratio(x: float | None) -> str:
    if x is None:
        return "n/a"
    return f"{x:.1f}x" if x < 100 else f"{x:.0f}x"


def array_table(cases, cols, rows, repeat, sk_repeat, iter_rows, memory, before: BeforeBuild | None,
                selected: list[int] | None = None) -> None:
    try:
        import sklearn.metrics  # noqa: F401  (imported once, outside the timings)
        have_sklearn = True
    except ImportError:
        have_sklearn = False

    if before is not None:
        info = before.ready()
        print(f"before  : {before.python} (Python {info['python']}, numpy {info['numpy']}), "
              f"_zentrova from {info['module']}")
        if info["digest"] != columns_digest(cols):
            before.close()
            sys.exit("--before: the other interpreter generated different columns from the same seed "
                     "(another NumPy?); its times would not be comparable")
        print()
    header = (f"{'function':<39} {'columns':<33} {'Mrows/s':>8} {'ms/call':>8} {'iter÷zv':>8} "
              f"{'numpy÷zv':>9} {'np-rule÷zv':>10} {'sklearn÷zv':>10} {'B/row':>6}"
              + (f" {'÷before':>8}" if before is not None else ""))
    print(header)
    print("-" * len(header))
    mismatches, before_differs, speed_ups = [], [], []
    selected = list(range(len(cases))) if selected is None else selected
    for index, mem_text in zip(selected, memory):
        case = cases[index]
        arrays = tuple(cols[name] for name in case.arrays)
        args = arrays + case.labels
        small = tuple(a[:iter_rows] for a in arrays)
        sub = tuple(a.view(Sub) for a in small)
        # The NumPy code must compute the same metrics. A short prefix keeps the module's
        # row-by-row float32 sums accurate enough for a tolerance check.
        prefix = tuple(a[:CHECK_ROWS] for a in arrays)
        on_prefix = case.module(*prefix, *case.labels)
        bad = results_agree(on_prefix, case.numpy(*prefix, *case.labels))
        rules = label_rules(*arrays) if case.numpy is np_data_bias else None
        if rules is not None:
            bad += [f"{key} (rule given)" for key in
                    results_agree(on_prefix, np_data_bias(*prefix, *case.labels, rules))]
        if bad:
            mismatches.append(f"{case.name} [{case.inputs}]: {', '.join(bad)}")
        timers = [lambda: timed_call(case.module, args)]
        if before is not None:
            differs = results_agree(on_prefix, before.request("warm", index)["prefix"])
            if differs:
                before_differs.append(f"{case.name} [{case.inputs}]: {', '.join(differs)}")
            timers.append(before.timer(index))
        t_zv, *t_before = alternate(timers, repeat)
        t_iter = median_time(case.module, sub + case.labels, repeat) * rows / len(small[0])
        t_np = median_time(case.numpy, args, repeat)
        rule_text = "-"
        if rules is not None:
            rule_text = fmt_ratio(median_time(case.numpy, args + (rules,), repeat) / t_zv)
        sk = None
        if case.sklearn is not None and have_sklearn:
            case.sklearn(*(a[:1000] for a in arrays))
            sk = median_time(case.sklearn, arrays, sk_repeat, warm_up=False) / t_zv
        sk_text = fmt_ratio(sk) if case.sklearn is not None else "-"
        before_text = ""
        if t_before:
            speed_ups.append((t_before[0] / t_zv, f"{case.name} [{case.inputs}]"))
            before_text = f" {fmt_ratio(speed_ups[-1][0]):>8}"
        print(f"{case.name:<39} {case.inputs:<33} {rows / t_zv / 1e6:>8.1f} {t_zv * 1e3:>8.1f} "
              f"{fmt_ratio(t_iter / t_zv):>8} {fmt_ratio(t_np / t_zv):>9} {rule_text:>10} {sk_text:>10} "
              f"{mem_text:>6}{before_text}", flush=True)
    print()
    print("Mrows/s    million rows per second of the module call (median)")
    print("ms/call    median wall time of one module call")
    print("iter÷zv    time of the same call with every array passed as an ndarray subclass (element-by-element")
    print(f"           iteration path), measured on 1/{ITERATION_FRACTION} of the rows and scaled per row, over the module time")
    print("numpy÷zv   time of hand-written vectorised NumPy doing the same work, over the module time")
    print("np-rule÷zv the same NumPy code told each column's labelling rule by the caller (equality or >=, the")
    print("           rule the module picks), so it skips the distinct-value decision; data_bias only")
    print("sklearn÷zv time of the equivalent scikit-learn metric calls, over the module time ('-': no equivalent)")
    print("B/row      peak extra resident memory of the call per input row: ru_maxrss after the call minus the")
    print("           resident size just before it, in a fresh process holding the inputs; 0.0: the call did not")
    print("           raise the peak ('<x': it stayed below an earlier peak that could not be reset, x is a bound)")
    if before is not None:
        print("÷before    time of the same call on the same data under --before's interpreter (an earlier build),")
        print("           over the module time; the two take turns call by call in the same run")
    print("A ratio above 1.0x means the module is faster.")
    if mismatches:
        print("NumPy equivalent differs from the module (rtol 2e-3) on:")
        for line in mismatches:
            print("  " + line)
    else:
        print(f"NumPy equivalents agree with the module on the first {min(rows, CHECK_ROWS):,} rows (rtol 2e-3).")
    if speed_ups:
        slowest, where = min(speed_ups)
        print(f"Against the earlier build: slowest row {fmt_ratio(slowest)} ({where}); "
              f"{sum(ratio < 0.8 for ratio, _ in speed_ups)} of {len(speed_ups)} rows below 0.8x.")
        if before_differs:
            print("The earlier build's metrics differ from the current ones (rtol 2e-3) on the first "
                  f"{min(rows, CHECK_ROWS):,} rows on:")
            for line in before_differs:
                print("  " + line)


# (function, columns) of the rows of the array table that the threads table repeats.
THREAD_CASES = (("model_bias_analyzer", "age int64 >=40, gt/pred int64"),
                ("model_performance_logisitic_regression", "proba f64, true int64"))


def threads_table(cases, cols, repeat, failures: list[str]) -> None:
    cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg()) if hasattr(os, "getloadavg") else "unknown"
    print(f"two threads, each on its own arrays of all rows ({cores} cores; load average {load} "
          "before the table)")
    header = f"{'function':<39} {'columns':<33} {'in turn ms':>10} {'2 threads ms':>12} {'turn÷threads':>12}"
    print(header)
    print("-" * len(header))
    by_key = {(case.name, case.inputs): case for case in cases}
    pair = ThreadPair()
    try:
        for key in THREAD_CASES:
            case = by_key[key]
            first = tuple(cols[name] for name in case.arrays) + case.labels
            second = tuple(cols[name].copy() for name in case.arrays) + case.labels
            timers = thread_timers(pair, case.module, first, second, failures, f"{key[0]} [{key[1]}]")
            t_turn, t_threads = alternate(timers, repeat)
            print(f"{case.name:<39} {case.inputs:<33} {t_turn * 1e3:>10.1f} {t_threads * 1e3:>12.1f} "
                  f"{fmt_ratio(t_turn / t_threads):>12}", flush=True)
            del second
        for name, inputs, work, first, second in machine_references(cols):
            t_turn, t_threads = alternate(plain_thread_timers(pair, work, first, second), repeat)
            print(f"{name:<39} {inputs:<33} {t_turn * 1e3:>10.1f} {t_threads * 1e3:>12.1f} "
                  f"{fmt_ratio(t_turn / t_threads):>12}", flush=True)
    finally:
        pair.close()
    print()
    print("in turn ms    median wall time of one thread making both calls, one after the other")
    print("2 threads ms  median wall time of two threads, started once before the table, making one call")
    print("              each at the same time, from their release to the later one's end (the results")
    print("              must equal those made in turn)")
    print("turn÷threads  the first over the second: 2x when the calls run fully in parallel, 1x when they")
    print("              hold the interpreter lock throughout; needs two cores free of other work")
    print("NumPy rows    what the machine gives two threads at the same time, without the module: NumPy")
    print("              work that releases the interpreter lock, one pure arithmetic in cache, one pure")
    print("              reading of three int64 columns as large as the model bias row's")


def stats_table(cases, cols, repeat, failures: list[str]) -> None:
    try:
        import zentrova
    except ImportError as exc:
        print(f"statistics objects: skipped, the zentrova package cannot be imported ({exc})")
        return
    classes = {"data_bias_analyzer": zentrova.DataBiasStats, "model_bias_analyzer": zentrova.ModelBiasStats,
               "model_performance_classification": zentrova.ClassificationStats,
               "model_performance_logisitic_regression": zentrova.LogisticStats,
               "model_performance_regression": zentrova.RegressionStats}
    print(f"statistics objects fed in {STATS_BATCHES} batches of consecutive rows and merged, or updated once with "
          "threads=2, against one call on all rows")
    header = (f"{'statistics':<19} {'columns':<33} {'call ms':>8} {'batches ms':>10} {'batches÷call':>12} "
              f"{'2 threads ms':>12} {'call÷threads':>12}  {'metrics':<9}")
    print(header)
    print("-" * len(header))
    for case in cases:
        cls = classes.get(case.name)
        if cls is None:
            continue
        arrays = tuple(cols[name] for name in case.arrays)
        expected = float_bits(case.module(*arrays, *case.labels))
        same = True
        for way, fn in (("after {STATS_BATCHES} batches and merges", stats_in_batches),
                        ("updated with threads=2", stats_on_threads)):
            if float_bits(fn(cls, case.labels, arrays)) != expected:
                same = False
                failures.append(f"{cls.__name__} [{case.inputs}]: metrics {way.format(STATS_BATCHES=STATS_BATCHES)} "
                                f"are not bit-identical to {case.name} on all rows")
        t_call, t_batches, t_threads = alternate(
            [lambda: timed_call(case.module, arrays + case.labels),
             lambda: timed_call(stats_in_batches, (cls, case.labels, arrays)),
             lambda: timed_call(stats_on_threads, (cls, case.labels, arrays))], repeat)
        print(f"{cls.__name__:<19} {case.inputs:<33} {t_call * 1e3:>8.1f} {t_batches * 1e3:>10.1f} "
              f"{fmt_ratio(t_batches / t_call):>12} {t_threads * 1e3:>12.1f} {fmt_ratio(t_call / t_threads):>12}  "
              f"{'identical' if same else 'DIFFERENT':<9}", flush=True)
    print()
    print("call ms       median wall time of the _zentrova call on all rows")
    print(f"batches ms    median wall time of {STATS_BATCHES} objects, one per batch, each updated once, merged in turn,")
    print("              and metrics() of the result")
    print("batches÷call  the second over the first (above 1.0x the batches cost more)")
    print("2 threads ms  median wall time of one object updated once with all rows and threads=2, and metrics()")
    print("call÷threads  the call over the threaded update: 2x when both halves run fully in parallel; needs")
    print("              two cores free of other work")
    print("metrics       'identical' when every metric, both ways, has the same bits as the call's")


def drift_table(rows: int) -> None:
    baseline_us = per_call_us(operator.is_, ({}, {}))
    header = f"{'drift check':<40} {'selection':<24} {'µs/call':>8} {'÷ bare call':>11}  {'report':<10}"
    print(header)
    print("-" * len(header))
    for name, selection, fn, call_args in drift_cases(rows):
        us = per_call_us(fn, call_args)
        report = json.loads(fn(*call_args))
        verdict = "pass" if report["passed"] else f"fail ({len(report['failReport'])})"
        print(f"{name:<40} {selection:<24} {us:>8.2f} {us / baseline_us:>10.1f}x  {verdict:<10}", flush=True)
    print(f"{'bare call: operator.is_(dict, dict)':<65} {baseline_us:>8.3f} {'1.0x':>11}")
    print()
    print("µs/call      median over 15 batches of 2,000 calls, Python loop overhead included; dicts are")
    print("             analyzer/performance outputs on a reference sample (baseline) and on a drifted one")
    print("÷ bare call  over the same loop calling operator.is_ with the two dicts (a C builtin that only")
    print("             compares two pointers)")
    print("report       the check's verdict (number of failed metrics)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", type=int, default=None, help="rows per column (default 10_000_000)")
    parser.add_argument("--repeat", type=int, default=None, help="timed runs per measurement, median reported (default 5)")
    parser.add_argument("--quick", action="store_true", help="1_000_000 rows, 3 repeats")
    parser.add_argument("--sklearn-repeat", type=int, default=None,
                        help="timed runs of the scikit-learn calls (default: min(repeat, 3); they take seconds each)")
    parser.add_argument("--before", metavar="PYTHON", default=None,
                        help="another interpreter whose _zentrova is an earlier build: adds the column ÷before")
    parser.add_argument("--only", metavar="NAMES", default=None,
                        help="comma-separated function names: only their rows of the array table, no other table")
    parser.add_argument("--memory-child", type=int, default=None, help=argparse.SUPPRESS)
    parser.add_argument("--before-child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    rows = args.rows if args.rows is not None else (1_000_000 if args.quick else 10_000_000)
    repeat = args.repeat if args.repeat is not None else (3 if args.quick else 5)
    if args.memory_child is not None:
        memory_child(args.memory_child, rows)
        return
    if args.before_child:
        before_child(rows)
        return
    sk_repeat = args.sklearn_repeat if args.sklearn_repeat is not None else min(repeat, 3)
    iter_rows = max(rows // ITERATION_FRACTION, 1000)
    started = time.perf_counter()
    cases = _cases()
    only = set(args.only.split(",")) if args.only else None
    if only is not None and not only <= {case.name for case in cases}:
        parser.error(f"--only: unknown function(s) {', '.join(sorted(only - {case.name for case in cases}))}")
    selected = [i for i, case in enumerate(cases) if only is None or case.name in only]

    print("_zentrova benchmark")
    for line in machine_lines():
        print(line)
    print(f"rows    : {rows:,} per column; {repeat} timed runs per measurement (median); "
          f"scikit-learn {sk_repeat} runs; iteration path on {iter_rows:,} rows, scaled per row")
    print(flush=True)

    # Started first: the child builds its columns while the memory is measured.
    before = BeforeBuild(args.before, rows) if args.before else None
    failures: list[str] = []
    try:
        print(f"measuring memory in {len(selected)} fresh processes ...", file=sys.stderr, flush=True)
        memory = [measure_memory(i, rows) for i in selected]
        cols = make_columns(list(COLUMN_DEPENDENCIES), rows)
        array_table(cases, cols, rows, repeat, sk_repeat, iter_rows, memory, before, selected)
    finally:
        if before is not None:
            before.close()  # frees its columns before the tables below
    if only is not None:
        print(f"\ntotal run time {time.perf_counter() - started:.0f} s")
        return
    print()
    threads_table(cases, cols, repeat, failures)
    print()
    stats_table(cases, cols, repeat, failures)
    del cols
    gc.collect()
    print()
    drift_table(rows)
    print(f"\ntotal run time {time.perf_counter() - started:.0f} s")
    if failures:
        loud_error(failures)
        sys.exit(1)


if __name__ == "__main__":
    main()
