"""The native tests of the vectorised log10f and its path dispatch, built and run with g++."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SOURCES = ["cpu_features.cpp", "log10f.cpp", "log10f_sse2.cpp", "log10f_avx2.cpp", "log10f_avx512.cpp"]


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
def test_log10f_native_suite(tmp_path):
    binary = tmp_path / "test_log10f"
    build = ["g++", "-std=c++20", "-O2", "-ffp-contract=off", "-pthread", f"-I{ROOT / 'src'}",
             str(ROOT / "tests" / "native" / "test_log10f.cpp"),
             *(str(ROOT / "src" / "numeric" / name) for name in SOURCES), "-o", str(binary)]
    compiled = subprocess.run(build, capture_output=True, text=True)
    assert compiled.returncode == 0, compiled.stderr
    env = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
    ran = subprocess.run([str(binary)], capture_output=True, text=True, env=env, timeout=300)
    assert ran.returncode == 0, ran.stdout + ran.stderr
