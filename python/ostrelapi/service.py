"""Running an aclsvc-sim daemon and asking it for its table.

The table query is the one ``aclctl show`` makes, outside the message
stream: a Query frame (36-byte head in host byte order: magic "YRL1",
kind, token, node, service, opcode, error, flags, length) over a
connection of its own, answered by Answer frames, page after page.
"""

from __future__ import annotations

import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import time
from pathlib import Path
from typing import Optional, Union

from . import _paths

FRAME_HEAD = struct.Struct("=IIIIIIiII")
MAGIC = 0x59524C31
KIND_QUERY, KIND_ANSWER = 4, 5
FLAG_MORE_PAGES = 0x2
QUERY_TABLE_JSON = 2
MAX_FRAME = FRAME_HEAD.size + 256 * 1024


def find_daemon() -> str:
    """aclsvc-sim: OSTRELAPI_ACLSVC_SIM, else the install prefix's
    program, else the one on PATH. FileNotFoundError when none is there."""
    named = os.environ.get("OSTRELAPI_ACLSVC_SIM")
    if named:
        return named
    if _paths.BINDIR_FROM_PACKAGE:
        beside = (Path(__file__).parent / _paths.BINDIR_FROM_PACKAGE / "aclsvc-sim").resolve()
        if beside.exists():
            return str(beside)
    found = shutil.which("aclsvc-sim")
    if found is None:
        raise FileNotFoundError("aclsvc-sim not found: set OSTRELAPI_ACLSVC_SIM or PATH")
    return found


def query_table(path: str, timeout_s: float = 5.0) -> list[dict]:
    """The daemon's programmed table, as ``aclctl show --json`` lists it:
    one entry per VLAN and interface, its source and last request."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as sock:
        sock.settimeout(timeout_s)
        sock.connect(path)
        sock.send(FRAME_HEAD.pack(MAGIC, KIND_QUERY, 1, 0, 0, QUERY_TABLE_JSON, 0, 0, 0))
        answer = b""
        while True:
            frame = sock.recv(MAX_FRAME)
            if len(frame) < FRAME_HEAD.size:
                raise ConnectionError("the service closed the connection mid-answer")
            magic, kind, _, _, _, _, error, flags, length = FRAME_HEAD.unpack_from(frame)
            if magic != MAGIC or kind != KIND_ANSWER:
                raise ConnectionError(f"unexpected frame kind {kind}")
            if error:
                raise OSError(error, os.strerror(error))
            answer += frame[FRAME_HEAD.size:FRAME_HEAD.size + length]
            if not flags & FLAG_MORE_PAGES:
                break
    return json.loads(answer.decode()) if answer.strip() else []


class AclService:
    """An aclsvc-sim on a socket of its own, its log written to a file.

    Start it with ``start()`` (or as a context manager); ``stop()`` ends it
    with SIGTERM. Extra command-line options go in ``options``."""

    def __init__(self, directory: Union[str, Path], options: Optional[list[str]] = None,
                 program: Optional[str] = None) -> None:
        directory = Path(directory)
        self.path = str(directory / "aclsvc.sock")
        self.log_path = directory / "aclsvc.log"
        self.program = program or find_daemon()
        self.options = list(options or [])
        self.process: Optional[subprocess.Popen] = None
        self._restarts_seen = 0

    def start(self, timeout_s: float = 10.0) -> "AclService":
        read_end, write_end = os.pipe()
        try:
            with open(self.log_path, "ab") as log:
                self.process = subprocess.Popen(
                    [self.program, "--socket", self.path, "--ready-fd", str(write_end),
                     "--log-format", "json", *self.options],
                    stdout=log, stderr=subprocess.STDOUT, pass_fds=(write_end,))
            os.close(write_end)
            write_end = -1
            if not self._wait_readable(read_end, timeout_s) or os.read(read_end, 6) != b"ready\n":
                self.stop()
                raise RuntimeError(f"aclsvc-sim did not start; its log: {self.log_path}")
        finally:
            os.close(read_end)
            if write_end >= 0:
                os.close(write_end)
        return self

    @staticmethod
    def _wait_readable(fd: int, timeout_s: float) -> bool:
        return bool(select.select([fd], [], [], timeout_s)[0])

    def stop(self) -> None:
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def restart(self, timeout_s: float = 10.0) -> None:
        """Restarts the service (SIGHUP): it forgets its table and closes
        every connection; returns once its log shows the restart."""
        assert self.process is not None, "the service is not running"
        self._restarts_seen += 1
        self.process.send_signal(signal.SIGHUP)
        deadline = time.monotonic() + timeout_s
        while self._restarts_logged() < self._restarts_seen:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError(f"aclsvc-sim did not restart; its log: {self.log_path}")
            time.sleep(0.005)  # waiting on another process, not timing anything

    def _restarts_logged(self) -> int:
        count = 0
        for line in self.log_path.read_text(errors="replace").splitlines():
            if line.startswith("{") and '"restart"' in line:
                count += 1
        return count

    def table(self) -> list[dict]:
        """The service's programmed table (``query_table``)."""
        return query_table(self.path)

    def log(self) -> str:
        return self.log_path.read_text(errors="replace")

    def __enter__(self) -> "AclService":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()
