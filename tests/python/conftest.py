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


# Tests that fork while other threads validate. The C library's allocator is made ready for a
# fork; the sanitizer's is not: a child forked while another thread holds one of its locks hangs
# at its first allocation. These tests are skipped under the sanitizer too.
FORKS_WHILE_THREADS_ALLOCATE = {
    "test_children_forked_while_another_thread_runs_a_batch_validate_batches",
    "test_a_signal_handler_that_forks_during_a_batch_leaves_both_processes_a_whole_result",
}


def pytest_collection_modifyitems(config, items):
    if os.environ.get("TESSARY_SANITIZED") != "1":
        return
    skips = {
        name: pytest.mark.skip(reason=reason)
        for names, reason in ((NEEDS_REAL_ALLOCATION_FAILURE,
                               "allocation failures abort under AddressSanitizer"),
                              (FORKS_WHILE_THREADS_ALLOCATE,
                               "the sanitizer's allocator is not ready for a fork"))
        for name in names
    }
    for item in items:
        if item.originalname in skips:
            item.add_marker(skips[item.originalname])
