"""The README's package example runs and agrees with the engine."""
import json
import re
from pathlib import Path

import numpy as np
import pytest

import _zentrova as raw
from _reference import assert_metrics_equal

ROOT = Path(__file__).resolve().parent.parent


def test_adult_example(monkeypatch, capsys):
    pytest.importorskip("pandas")
    readme = (ROOT / "README.md").read_text()
    section = readme[readme.index("## The `zentrova` package"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    monkeypatch.chdir(ROOT)
    scope = {}
    exec(compile(code, "README.md", "exec"), scope)

    train = scope["train"]
    sex, income = train["sex"].to_numpy(dtype=str), train["Y"].to_numpy(dtype=str)
    assert_metrics_equal(scope["baseline"].engine_dict(), raw.data_bias_analyzer(sex, income, "Female", ">50K"))
    quoted = re.search(r'baseline\["DifferenceInProportionOfLabels"\]\s+# (\S+)', code).group(1)
    assert scope["baseline"]["DifferenceInProportionOfLabels"] == float(quoted)
    y_true = scope["y_true"].to_numpy().astype(np.int16)
    y_pred = scope["y_pred"].to_numpy().astype(np.int16)
    accuracy = raw.model_performance_classification(y_pred, y_true)["Accuracy"]
    assert f"{accuracy!r}" in code
    engine = raw.data_bias_runtime_check(scope["baseline"].engine_dict(), scope["latest"].engine_dict(), 0.1)
    assert scope["report"].passed == json.loads(engine)["passed"]
    assert "data_bias check" in capsys.readouterr().out
