"""Type information and documentation of the package, checked as users meet them."""
import importlib.metadata
import importlib.util
import inspect
import subprocess
import sys
from pathlib import Path

import pytest

import zentrova as zv

ROOT = Path(__file__).resolve().parent.parent
pytest.importorskip("mypy")


def _run(args, tmp_path):
    command = [sys.executable, "-m", *args]
    return subprocess.run(command, cwd=ROOT, capture_output=True, text=True, env=None, timeout=600)


@pytest.fixture(scope="module")
def cache(tmp_path_factory):
    return str(tmp_path_factory.mktemp("mypy-cache"))


class TestTypeChecking:
    def test_package_is_strict_clean(self, cache, tmp_path):
        done = _run(["mypy", "--cache-dir", cache, "-p", "zentrova"], tmp_path)
        assert done.returncode == 0, done.stdout + done.stderr

    def test_stubs_match_the_runtime(self, tmp_path):
        args = ["mypy.stubtest", "--mypy-config-file", "pyproject.toml"]
        engine = importlib.util.find_spec("zentrova._engine")
        if engine is None or not str(engine.origin).endswith((".so", ".pyd")):
            # The native statistics objects are not built into this tree: their
            # stub has no runtime to be compared with.
            allowlist = tmp_path / "allowlist.txt"
            allowlist.write_text("zentrova\\._engine(\\..*)?\n")
            args += ["--allowlist", str(allowlist)]
        done = _run([*args, "_zentrova", "zentrova"], tmp_path)
        assert done.returncode == 0, done.stdout + done.stderr

    def test_users_code_is_checked_against_the_stubs(self, cache, tmp_path):
        script = tmp_path / "use.py"
        script.write_text(
            "import numpy as np\n"
            "import _zentrova\n"
            "import zentrova as zv\n"
            "r = zv.data_bias([1, 0], [1, 1], facet_value=1, label_value=1)\n"
            "x: float = r['ClassImbalance']\n"
            "c = zv.check(r, r, family='data_bias')\n"
            "ok: bool = c.passed\n"
            "zv.data_bais([1], [1], facet_value=1, label_value=1)\n"
            "_zentrova.model_performance_logistic_regression(np.zeros(1), np.zeros(1))\n"
            "s: str = _zentrova.data_bias_runtime_check({}, {}, 0.1)\n"
            "bad: str = zv.regression([1.0], [1.0])\n"
        )
        done = _run(["mypy", "--strict", "--cache-dir", cache, str(script)], tmp_path)
        errors = [line for line in done.stdout.splitlines() if ": error:" in line]
        assert [line.split(":")[1] for line in errors] == ["8", "9", "11"], done.stdout


class TestDocumentation:
    def test_version_is_the_distribution_version(self):
        assert zv.__version__ == importlib.metadata.version("zentrova")

    @pytest.mark.parametrize("name", sorted(zv.__all__))
    def test_every_public_name_is_documented(self, name):
        obj = getattr(zv, name)
        if not (inspect.isclass(obj) or inspect.isfunction(obj)):
            return
        doc = inspect.getdoc(obj)
        assert doc and len(doc.splitlines()[0]) > 10, name
        if inspect.isfunction(obj):
            for section in ("Parameters", "Returns", "Raises"):
                assert f"{section}\n----" in doc, (name, section)

    def test_examples_in_docstrings_run(self):
        import doctest

        import zentrova._check
        import zentrova._functions

        for module in (zentrova._functions, zentrova._check):
            outcome = doctest.testmod(module)
            assert outcome.attempted and not outcome.failed, module.__name__

    def test_licence_metadata(self):
        meta = importlib.metadata.metadata("zentrova")
        assert "Apache" in (meta.get("License") or meta.get("License-Expression") or "")
        assert "Programming Language :: Python :: 3.9" in meta.get_all("Classifier")
        assert meta["Requires-Python"] == ">=3.9"
        assert [r for r in meta.get_all("Requires-Dist") if "extra ==" not in r] == ["numpy>=1.23"]
