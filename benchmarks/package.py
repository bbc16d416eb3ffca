"""Cost of the zentrova package over the engine call, and the speed of pandas text columns.

Usage: python3 benchmarks/package.py [--rows N] [--repeat K]

For each measuring function the engine (`_zentrova`) and the package (`zentrova`) are timed
alternately on the same plain ndarrays; the table gives the fastest runs and the package's extra
time in per cent. A second table times a pandas text facet column: the package given the Series,
and the engine given `Series.to_numpy()` (an object array), which is what existing callers do.
Needs pandas for the second table. Not part of the test run.
"""
import argparse
import os
import time

for _name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_name, "1")

import numpy as np  # noqa: E402

import _zentrova as raw  # noqa: E402
import zentrova as zv  # noqa: E402


def alternate(first, second, repeat):
    """Fastest seconds of two calls timed turn by turn, after one untimed call each.

    The fastest run is the one least disturbed by other work on the machine.
    """
    first(), second()
    times = ([], [])
    for _ in range(repeat):
        for index, call in enumerate((first, second)):
            start = time.perf_counter()
            call()
            times[index].append(time.perf_counter() - start)
    return min(times[0]), min(times[1])


def columns(rows):
    rng = np.random.default_rng(7)
    prob = rng.beta(2, 5, rows)
    truth = (rng.random(rows) < prob).astype(np.int64)
    price = rng.lognormal(12, 0.5, rows)
    return {
        "age": rng.integers(18, 91, rows),
        "sex": np.where(rng.random(rows) < 0.33, "Female", "Male"),
        "truth": truth,
        "truth_f": truth.astype(np.float64),
        "prob": prob,
        "pred": (prob >= 0.5).astype(np.int64),
        "price": price,
        "price_pred": price * rng.uniform(0.85, 1.15, rows),
    }


def plain_cases(c):
    return [
        ("data_bias, int64 facet and outcome",
         lambda: raw.data_bias_analyzer(c["age"], c["truth"], 40, 1),
         lambda: zv.data_bias(c["age"], c["truth"], facet_value=40, label_value=1)),
        ("data_bias, float64 outcome",
         lambda: raw.data_bias_analyzer(c["age"], c["truth_f"], 40, 1),
         lambda: zv.data_bias(c["age"], c["truth_f"], facet_value=40, label_value=1)),
        ("data_bias, <U6 facet",
         lambda: raw.data_bias_analyzer(c["sex"], c["truth"], "Female", 1),
         lambda: zv.data_bias(c["sex"], c["truth"], facet_value="Female", label_value=1)),
        ("model_bias, int64",
         lambda: raw.model_bias_analyzer(c["age"], c["truth"], c["pred"], 40, 1, 1),
         lambda: zv.model_bias(c["age"], c["truth"], c["pred"], facet_value=40, label_value=1)),
        ("classification, int64",
         lambda: raw.model_performance_classification(c["pred"], c["truth"]),
         lambda: zv.classification(c["truth"], c["pred"])),
        ("logistic, int64 / float64",
         lambda: raw.model_performance_logisitic_regression(c["prob"], c["truth"]),
         lambda: zv.logistic(c["truth"], c["prob"])),
        ("regression, float64",
         lambda: raw.model_performance_regression(c["price_pred"], c["price"]),
         lambda: zv.regression(c["price"], c["price_pred"])),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=21)
    args = parser.parse_args()
    c = columns(args.rows)
    print(f"{args.rows:,} rows, fastest of {args.repeat} alternating runs\n")
    print(f"| {'call on plain ndarrays':36s} | engine ms | package ms | extra |")
    print(f"|{'-' * 38}|----------:|-----------:|------:|")
    for name, engine, package in plain_cases(c):
        e, p = alternate(engine, package, args.repeat)
        print(f"| {name:36s} | {e * 1e3:9.2f} | {p * 1e3:10.2f} | {100 * (p - e) / e:+4.1f} % |")

    try:
        import pandas as pd
    except ImportError:
        return
    print(f"\n| {'pandas text facet (pandas ' + pd.__version__ + ')':36s} | engine on .to_numpy() ms | package ms | speed-up |")
    print(f"|{'-' * 38}|------------------------:|-----------:|---------:|")
    for dtype in ("str", "string[python]", "object", "category"):
        series = pd.Series(c["sex"], dtype=dtype)
        e, p = alternate(
            lambda: raw.data_bias_analyzer(series.to_numpy(), c["truth"], "Female", 1),
            lambda: zv.data_bias(series, c["truth"], facet_value="Female", label_value=1),
            max(3, args.repeat // 4),
        )
        print(f"| {'dtype ' + dtype:36s} | {e * 1e3:23.1f} | {p * 1e3:10.2f} | {e / p:7.1f}x |")


if __name__ == "__main__":
    main()
