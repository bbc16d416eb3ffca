"""Batches for the example monitoring job on the Adult census income data.

Fits a small logistic-regression model on the training file and writes three Parquet batches
with the model's outputs beside the data: the training set (the baseline), the test set, and
the test set with a simulated shift. `examples/adult_job.toml` tells `zentrova` what to measure:

    python examples/adult_batches.py OUT [--rows N]
    zentrova profile OUT/train.parquet -c examples/adult_job.toml -o OUT/baseline.json
    zentrova run OUT/test.parquet -c examples/adult_job.toml --baseline OUT/baseline.json
    zentrova run OUT/shifted.parquet -c examples/adult_job.toml --baseline OUT/baseline.json

Data: "Adult", UCI Machine Learning Repository (Becker and Kohavi, 1996), CC BY 4.0;
see data/adult/README.md.
"""

import argparse
import csv
import gzip
import sys
from pathlib import Path

import numpy as np

DATA_DIR = Path(__file__).resolve().parent.parent / "data" / "adult"
NUMERIC = ["age", "education-num", "hours-per-week", "capital-gain", "capital-loss"]
LOG_SCALED = {"capital-gain", "capital-loss"}  # heavy-tailed amounts
CATEGORICAL = ["sex", "race", "marital-status", "relationship", "occupation"]
FACET, FACET_LABEL = "sex", "Female"
STEPS, LEARNING_RATE = 300, 1.0
KEPT = ["age", "sex", "race", "hours-per-week", "income"]


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
    columns["income"] = np.array([y.rstrip(".") for y in columns.pop("Y")])
    columns["Y"] = (columns["income"] == ">50K").astype(np.int64)
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


def shift(columns, proba):
    """Simulate drift: drop 3 of 4 positive labels of the facet group, invert 3 of 10 scores."""
    columns = dict(columns, income=columns["income"].copy())
    facet_positive = np.flatnonzero((columns[FACET] == FACET_LABEL) &
                                    (columns["income"] == ">50K"))
    columns["income"][facet_positive[np.arange(len(facet_positive)) % 4 != 0]] = "<=50K"
    proba = proba.copy()
    inverted = np.arange(len(proba)) % 10 < 3
    proba[inverted] = np.float32(1.0) - proba[inverted]
    return columns, proba


def batch_table(columns, proba):
    """The kept data columns plus the model's score and its thresholded prediction."""
    import pyarrow as pa

    table = {name: columns[name] for name in KEPT}
    table["score"] = proba
    table["predicted"] = np.where(proba >= np.float32(0.5), ">50K", "<=50K")
    return pa.table(table)


def write_batches(out, rows=None):
    """Fit on the training file; write train, test and shifted batches as Parquet files."""
    import pyarrow.parquet as pq

    train = load_csv(DATA_DIR / "adult.data.gz", rows)
    test = load_csv(DATA_DIR / "adult.test.gz", rows)
    model = LogisticModel().fit(train)
    test_proba = model.predict_proba(test)
    batches = {
        "train": (train, model.predict_proba(train)),
        "test": (test, test_proba),
        "shifted": shift(test, test_proba),
    }
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    paths = {}
    for name, (columns, proba) in batches.items():
        paths[name] = out / f"{name}.parquet"
        pq.write_table(batch_table(columns, proba), paths[name])
    return paths


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", help="directory for train.parquet, test.parquet, shifted.parquet")
    parser.add_argument("--rows", type=int, metavar="N",
                        help="use only the first N rows of each file")
    args = parser.parse_args(argv)
    if args.rows is not None and args.rows < 1:
        parser.error("--rows must be positive")
    try:
        paths = write_batches(args.out, args.rows)
    except ImportError:
        print("adult_batches: error: writing Parquet needs PyArrow: pip install "
              "'zentrova[arrow]'", file=sys.stderr)
        return 2
    except (OSError, ValueError) as exc:
        print(f"adult_batches: error: {exc}", file=sys.stderr)
        return 2
    for path in paths.values():
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
