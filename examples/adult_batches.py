"""Example monitoring job on the Adult census income data.

Fits a small logistic-regression model on the training file, then measures with `_zentrova`
the data bias, model bias and performance of three batches: the training set (the baseline),
the test set, and the test set with a simulated shift. Each batch is checked for drift against
the baseline, and a summary of metrics and verdicts is printed.

    python examples/monitoring_run.py [--rows N]

Data: "Adult", UCI Machine Learning Repository (Becker and Kohavi, 1996), CC BY 4.0;
see data/adult/README.md.
"""

import argparse
import csv
import gzip
import json
import sys
from pathlib import Path

import numpy as np

import _zentrova as zv

DATA_DIR = Path(__file__).resolve().parent.parent / "data" / "adult"
NUMERIC = ["age", "education-num", "hours-per-week", "capital-gain", "capital-loss"]
LOG_SCALED = {"capital-gain", "capital-loss"}  # heavy-tailed amounts
CATEGORICAL = ["sex", "race", "marital-status", "relationship", "occupation"]
FACET, FACET_LABEL = "sex", "Female"
STEPS, LEARNING_RATE = 300, 1.0
DECISION_THRESHOLD = np.float32(0.5)
BATCHES = ("baseline", "test", "shifted")


def load_csv(path, rows=None):
    """Read one gzip-compressed Adult file into a dict of column name -> NumPy array."""
    with gzip.open(path, "rt", encoding="utf-8", newline="") as handle:
        reader = csv.reader(handle, skipinitialspace=True)
        header = [name.strip() for name in next(reader)]
        records = []
        for record in reader:
            if rows is not None and len(records) >= rows:
                break
            if record:
                records.append([field.strip() for field in record])
    if not records:
        raise ValueError(f"{path}: no data rows")
    columns = {name: np.array([r[i] for r in records]) for i, name in enumerate(header)}
    # The test file ends its labels with a full stop: ">50K." counts as ">50K".
    columns["Y"] = np.array([y.rstrip(".") == ">50K" for y in columns["Y"]], dtype=np.int64)
    for name in NUMERIC:
        columns[name] = columns[name].astype(np.float64)
    return columns


class LogisticModel:
    """Plain NumPy logistic regression: standardised numeric inputs plus one-hot categories."""

    def fit(self, columns):
        numeric = self._numeric(columns)
        self.mean = numeric.mean(axis=0)
        self.std = numeric.std(axis=0)
        self.std[self.std == 0.0] = 1.0  # a constant column in a small slice
        self.categories = {name: np.unique(columns[name]) for name in CATEGORICAL}
        x, y = self._design(columns), columns["Y"].astype(np.float64)
        self.weights = np.zeros(x.shape[1])
        for _ in range(STEPS):  # full-batch gradient descent, no randomness
            self.weights -= LEARNING_RATE * (x.T @ (self._sigmoid(x @ self.weights) - y)) / len(y)
        return self

    def predict_proba(self, columns):
        # Clipped away from 0 and 1 so that the logarithmic loss stays finite.
        proba = np.clip(self._sigmoid(self._design(columns) @ self.weights), 1e-6, 1.0 - 1e-6)
        return proba.astype(np.float32)

    @property
    def n_inputs(self):
        return len(self.weights) - 1

    @staticmethod
    def _numeric(columns):
        return np.column_stack(
            [np.log1p(columns[n]) if n in LOG_SCALED else columns[n] for n in NUMERIC]
        )

    @staticmethod
    def _sigmoid(z):
        return 1.0 / (1.0 + np.exp(-np.clip(z, -35.0, 35.0)))

    def _design(self, columns):
        parts = [np.ones((len(columns["Y"]), 1)), (self._numeric(columns) - self.mean) / self.std]
        for name, cats in self.categories.items():  # unseen categories encode as all zeros
            parts.append((columns[name][:, None] == cats[None, :]).astype(np.float64))
        return np.hstack(parts)


def shift(sex, income, proba):
    """Simulate drift: drop 3 of 4 positive labels of the facet group, invert 3 of 10 scores."""
    income = income.copy()
    facet_positive = np.flatnonzero((sex == FACET_LABEL) & (income == 1))
    income[facet_positive[np.arange(len(facet_positive)) % 4 != 0]] = 0
    proba = proba.copy()
    inverted = np.arange(len(proba)) % 10 < 3
    proba[inverted] = np.float32(1.0) - proba[inverted]
    return sex, income, proba


def measure(sex, income, proba):
    """All four metric families of one batch, as returned by the module."""
    predicted = (proba >= DECISION_THRESHOLD).astype(np.int64)
    truth = income.astype(np.float64)
    return {
        "data bias": zv.data_bias_analyzer(sex, income, FACET_LABEL, 1),
        "model bias": zv.model_bias_analyzer(sex, income, predicted, FACET_LABEL, 1, 1),
        "classification": zv.model_performance_classification(predicted.astype(np.float64), truth),
        "logistic": zv.model_performance_logisitic_regression(proba, truth, 0.5),
    }


CHECKS = [
    ("data_bias_runtime_check", "data bias", zv.data_bias_runtime_check),
    ("data_bias_partial_check", "data bias", lambda b, l: zv.data_bias_partial_check(
        b, l, ["ClassImbalance", "DifferenceInProportionOfLabels", "TotalVariationDistance"])),
    ("model_bias_runtime_check", "model bias", zv.model_bias_runtime_check),
    ("model_bias_partial_check", "model bias", lambda b, l: zv.model_bias_partial_check(
        b, l, ["DisparateImpact", "AccuracyDifference", "RecallDifference"])),
    ("BinaryClassification, full", "classification",
     lambda b, l: zv.model_performance_runtime_entry_full("BinaryClassification", b, l)),
    ("LogisticRegression, full", "logistic",
     lambda b, l: zv.model_performance_runtime_entry_full("LogisticRegression", b, l)),
    ("LogisticRegression, partial", "logistic",
     lambda b, l: zv.model_performance_runtime_entry_partial(
         "LogisticRegression", b, l, ["Accuracy", "BalancedAccuracy", "F1Score"])),
]


def run(rows=None):
    """Fit, measure and check; returns sizes, batches, metrics[batch][family], checks[name][batch]."""
    train = load_csv(DATA_DIR / "adult.data.gz", rows)
    test = load_csv(DATA_DIR / "adult.test.gz", rows)
    model = LogisticModel().fit(train)
    test_batch = (test[FACET], test["Y"], model.predict_proba(test))
    batches = {
        "baseline": (train[FACET], train["Y"], model.predict_proba(train)),
        "test": test_batch,
        "shifted": shift(*test_batch),
    }
    metrics = {name: measure(*batch) for name, batch in batches.items()}
    checks = {
        check: {name: json.loads(call(metrics["baseline"][family], metrics[name][family]))
                for name in BATCHES}
        for check, family, call in CHECKS
    }
    sizes = {"train": len(train["Y"]), "test": len(test["Y"]), "inputs": model.n_inputs}
    return {"sizes": sizes, "batches": batches, "metrics": metrics, "checks": checks}


def report(result):
    sizes, metrics = result["sizes"], result["metrics"]
    print(f"Adult census income: {sizes['train']} training rows (baseline), "
          f"{sizes['test']} test rows")
    print(f"Model: logistic regression, {sizes['inputs']} inputs, {STEPS} gradient steps; "
          f"facet {FACET} = {FACET_LABEL}, label Y = >50K")
    print("Shifted batch: test rows with 3 of 4 positive labels of the facet group set to 0 "
          "and 3 of 10 probabilities inverted")
    for family in metrics["baseline"]:
        print(f"\n{family:<48}" + "".join(f"{b:>12}" for b in BATCHES))
        for key in sorted(metrics["baseline"][family]):
            values = "".join(f"{metrics[b][family][key]:>12.5g}" for b in BATCHES)
            print(f"  {key:<46}{values}")
    print("\nDrift checks against the baseline (threshold 0.10)")
    for check, verdicts in result["checks"].items():
        print(f"  {check}")
        for batch, verdict in verdicts.items():
            failures = verdict.get("failReport") or {}
            count = f"{len(failures)} metric{'s' if len(failures) != 1 else ''}"
            status = "pass" if verdict["passed"] else f"FAIL, {count}"
            print(f"    {batch:<10}{status}")
            for key in sorted(failures):
                print(f"      {key}: {failures[key]}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, metavar="N",
                        help="use only the first N rows of each file")
    args = parser.parse_args(argv)
    if args.rows is not None and args.rows < 1:
        parser.error("--rows must be positive")
    try:
        result = run(args.rows)
    except (OSError, ValueError, TypeError) as exc:
        print(f"monitoring_run: error: {exc}", file=sys.stderr)
        return 1
    report(result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
