"""pytest plugin (entry point ``pytest11``: ``ostrelapi``) with two fixtures.

- ``aclsvc``: an aclsvc-sim on a socket in the test's temporary directory,
  started before the test and stopped after it. It offers ``.path``,
  ``.restart()``, ``.table()`` and ``.log()``. When the test fails, its
  log is kept and named in the report.
- ``ostrel_sim``: the process's simulated-platform client, with the
  recording, the scripted faults and the registry cleared before each
  test.

The library's state is process-wide and a process has one client: a test
run that uses ``ostrel_sim`` cannot also make a ``Client.connect`` client;
run such tests in a pytest process of their own.
"""

from __future__ import annotations

from typing import Iterator

import pytest

from .client import Client
from .service import AclService

_sim_client: "Client | None" = None


@pytest.hookimpl(tryfirst=True, hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"ostrel_report_{report.when}", report)


@pytest.fixture
def aclsvc(request, tmp_path) -> Iterator[AclService]:
    """An aclsvc-sim daemon on ``tmp_path/aclsvc.sock``."""
    service = AclService(tmp_path).start()
    try:
        yield service
    finally:
        service.stop()
        report = getattr(request.node, "ostrel_report_call", None)
        if report is not None and report.failed:
            report.sections.append(("aclsvc-sim log", f"kept at {service.log_path}"))
        elif report is not None:
            service.log_path.unlink(missing_ok=True)


@pytest.fixture
def ostrel_sim() -> Client:
    """The simulated-platform client, reset for this test."""
    global _sim_client
    if _sim_client is None:
        _sim_client = Client.simulated()
    client = _sim_client
    client.forget_registry()
    assert client.sim is not None
    client.sim.reset()
    return client
