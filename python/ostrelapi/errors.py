"""Status words, their names, and the exceptions that carry them."""

from __future__ import annotations

import ctypes
from typing import Sequence

from . import _native

OK = 0x00000000
NO_ENTRY = 0x41040002
INVALID = 0x41040003
NOT_EXECUTED = 0x41040004
SEND_FAILED = 0x81040000


def send_error(errno_value: int) -> int:
    """The status of a failed send that left errno_value as the transport's
    error number."""
    return SEND_FAILED | (errno_value & 0xFFF)


def status_name(status: int) -> str:
    """The library's name of a status word: "ok", "no entry", "send failed",
    "TLV malformed", ... or "unknown"."""
    core = _native.codec_library()
    return core.ostrel_api_status_name(status & 0xFFFFFFFF).decode()


def status_text(status: int) -> str:
    """The library's description of a status word: its name, and for a
    failed send its error number and the system's text for it."""
    core = _native.codec_library()
    size = core.ostrel_api_status_text(status & 0xFFFFFFFF, None, 0) + 1
    buf = ctypes.create_string_buffer(size)
    core.ostrel_api_status_text(status & 0xFFFFFFFF, buf, size)
    return buf.value.decode()


class StatusError(Exception):
    """A library call returned a nonzero status word."""

    def __init__(self, status: int, call: str = "") -> None:
        self.status = status
        self.name = status_name(status)
        self.call = call
        where = f"{call}: " if call else ""
        super().__init__(f"{where}{status_text(status)} (0x{status:08x})")


class BulkError(StatusError):
    """A bulk block failed. ``statuses`` holds one status per change, in
    the order the changes were made; ``status`` is the call's own."""

    def __init__(self, status: int, statuses: Sequence[int]) -> None:
        super().__init__(status, "bulk")
        self.statuses = list(statuses)
