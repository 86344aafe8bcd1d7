"""Runs pytest for CTest: exit 77 (skipped) without pytest or hypothesis,
and a failure when no test was collected."""
import sys

try:
    import hypothesis  # noqa: F401
    import pytest
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(77)

# No example database: nothing written into the source tree.
hypothesis.settings.register_profile("ctest", database=None)
hypothesis.settings.load_profile("ctest")
code = pytest.main(["-p", "ostrelapi.pytest_plugin", "-p", "no:cacheprovider", "-q",
                    *sys.argv[1:]])
sys.exit(1 if code == pytest.ExitCode.NO_TESTS_COLLECTED else int(code))
