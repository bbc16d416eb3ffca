"""The native checks of the vectorised log10f, its path dispatch, the exact sums and a batch split over
threads, built and run with g++."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SOURCES = ["numeric/" + name for name in
           ("cpu_features.cpp", "log10f.cpp", "log10f_sse2.cpp", "log10f_avx2.cpp", "log10f_avx512.cpp")]


def build_and_run(tmp_path, main_source, sources, *arguments, flags=("-O2",)):
    binary = tmp_path / "check"
    build = ["g++", "-std=c++20", *flags, "-ffp-contract=off", "-pthread", f"-I{ROOT / 'src'}", str(main_source),
             *(str(ROOT / "src" / name) for name in sources), "-o", str(binary)]
    compiled = subprocess.run(build, capture_output=True, text=True)
    assert compiled.returncode == 0, compiled.stderr
    env = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
    ran = subprocess.run([str(binary), *arguments], capture_output=True, text=True, env=env, timeout=300)
    assert ran.returncode == 0, ran.stdout + ran.stderr
    return ran.stdout


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
def test_log10f_native_suite(tmp_path):
    build_and_run(tmp_path, ROOT / "tests" / "native" / "test_log10f.cpp", SOURCES)


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
def test_exact_sums_against_a_big_integer_reference(tmp_path):
    # Every bulk path (slots, double windows, squares) on every vector path this CPU runs.
    out = build_and_run(tmp_path, ROOT / "tools" / "exact_sum_check.cpp", ["numeric/exact_sum.cpp", "numeric/cpu_features.cpp"],
                        "--no-speed")
    assert out.rstrip().endswith(" 0 failures") and "checks" in out


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
def test_a_batch_split_over_threads_under_the_thread_sanitizer(tmp_path):
    out = build_and_run(tmp_path, ROOT / "tests" / "native" / "test_parts.cpp", ["columns/interrupt.cpp"],
                        flags=("-O1", "-fsanitize=thread"))
    assert out.rstrip() == "OK (0 failed checks)"
