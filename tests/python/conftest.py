"""Makes the built extension module importable for the tests.

The test script puts the build's `src/bindings` folder on PYTHONPATH; when the tests are run
without it, the module is looked for in the build folder named by TESSARY_BUILD_DIR (default
`build`) of the project root.
"""
import importlib.util
import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

if importlib.util.find_spec("_tessary") is None:
    build_dir = Path(os.environ.get("TESSARY_BUILD_DIR", "build"))
    if not build_dir.is_absolute():
        build_dir = ROOT / build_dir
    sys.path.insert(0, str(build_dir / "src" / "bindings"))
