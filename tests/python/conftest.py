"""Makes the built extension module importable for the tests.

The test script puts the build's `src/bindings` folder on PYTHONPATH; when the tests are run
without it, the module is looked for in the build folder named by TESSARY_BUILD_DIR (default
`build`) of the project root.
"""
import importlib.util
import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

if importlib.util.find_spec("_tessary") is None:
    build_dir = Path(os.environ.get("TESSARY_BUILD_DIR", "build"))
    if not build_dir.is_absolute():
        build_dir = ROOT / build_dir
    sys.path.insert(0, str(build_dir / "src" / "bindings"))


# Tests that need an allocation to fail the ordinary way (std::bad_alloc, a capped address
# space). Under AddressSanitizer (scripts/test-sanitize.sh sets TESSARY_SANITIZED=1) a failed
# allocation stops the process instead, and the sanitizer's shadow memory does not fit a
# capped address space; these tests are skipped there.
NEEDS_REAL_ALLOCATION_FAILURE = {
    "test_out_of_memory_in_a_batch_is_memory_error_with_the_lock_retaken",
    "test_allocation_failures_anywhere_in_a_call_are_memory_errors",
}


def pytest_collection_modifyitems(config, items):
    if os.environ.get("TESSARY_SANITIZED") != "1":
        return
    skip = pytest.mark.skip(reason="allocation failures abort under AddressSanitizer")
    for item in items:
        if item.originalname in NEEDS_REAL_ALLOCATION_FAILURE:
            item.add_marker(skip)
