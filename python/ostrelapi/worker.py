"""The worker (libostrelapi-worker): ACL programming on a thread of the
library's own, so that submitting never waits for the ACL service.

Made by ``client.worker()``. While it exists the worker's thread is the
only caller of the programming calls: the client's own programming calls
and ``registry()`` raise RuntimeError until the worker is closed.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from types import TracebackType
from typing import Iterator, Optional

from . import _native


class WorkerConfig(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_uint32), ("handle", ctypes.c_uint32),
                ("queue_limit", ctypes.c_uint32), ("resync_delay_ms", ctypes.c_uint32),
                ("generation", ctypes.c_void_p)]


class _Completion(ctypes.Structure):
    _fields_ = [("cookie", ctypes.c_uint64), ("status", ctypes.c_uint32),
                ("count", ctypes.c_uint32), ("statuses", ctypes.POINTER(ctypes.c_uint32)),
                ("queued_ns", ctypes.c_uint64), ("done_ns", ctypes.c_uint64)]


_STATS_FIELDS = ("submissions", "completions", "bulk_calls", "coalesced", "replayed",
                 "send_failures", "drain_failures", "resyncs", "restarts_seen")


class _Stats(ctypes.Structure):
    _fields_ = ([("struct_size", ctypes.c_uint32), ("reserved", ctypes.c_uint32)]
                + [(name, ctypes.c_uint64) for name in _STATS_FIELDS])


@dataclass(frozen=True)
class Completion:
    """What became of one submission: its status (0; a change's failure,
    nothing of the submission kept; or a send failure, the changes kept and
    a resync scheduled) and one status per change."""

    cookie: int
    status: int
    statuses: tuple[int, ...]
    queued_ns: int
    done_ns: int


def _declare(lib: ctypes.CDLL) -> None:
    vp, i = ctypes.c_void_p, ctypes.c_int
    lib.ostrel_worker_create.argtypes = [ctypes.POINTER(WorkerConfig), ctypes.POINTER(vp)]
    lib.ostrel_worker_submit.argtypes = [vp, vp, ctypes.c_uint32, ctypes.c_uint64]
    lib.ostrel_worker_fd.argtypes = [vp]
    lib.ostrel_worker_next.argtypes = [vp, ctypes.POINTER(_Completion)]
    lib.ostrel_worker_flush.argtypes = [vp, i]
    lib.ostrel_worker_stats.argtypes = [vp, ctypes.POINTER(_Stats)]
    lib.ostrel_worker_destroy.argtypes = [vp]
    for name in ("create", "submit", "fd", "next", "flush", "stats"):
        getattr(lib, f"ostrel_worker_{name}").restype = i
    lib.ostrel_worker_destroy.restype = None


class Worker:
    """The process's worker. Use it as a context manager, or ``close()`` it."""

    def __init__(self, client, handle: int, queue_limit: int, resync_delay_ms: int,
                 generation: Optional[int]) -> None:
        self._lib = _native.worker_library()
        _declare(self._lib)
        config = WorkerConfig(ctypes.sizeof(WorkerConfig), handle, queue_limit,
                              resync_delay_ms, generation)
        self._w = ctypes.c_void_p()
        err = self._lib.ostrel_worker_create(ctypes.byref(config), ctypes.byref(self._w))
        if err != 0:
            raise OSError(err, "cannot start the worker")
        self._client = client

    def _handle(self) -> ctypes.c_void_p:
        if not self._w:
            raise RuntimeError("the worker is closed")
        return self._w

    def submit(self, cookie: int = 0):
        """A block of changes (add, delete, pc_add, pc_delete, checked as a
        bulk block checks them) queued as one submission when the ``with``
        block ends. OSError with EAGAIN when the queue is full."""
        from .client import Bulk

        return Bulk(self._client, lambda packed, count: self._submit(packed, count, cookie),
                    packed_only=True)

    def _submit(self, packed: bytearray, count: int, cookie: int) -> None:
        changes = (ctypes.c_char * max(len(packed), 1)).from_buffer(packed) if count else None
        err = self._lib.ostrel_worker_submit(self._handle(), changes, count, cookie)
        if err != 0:
            raise OSError(err, "the worker refused the submission")

    def fileno(self) -> int:
        """A descriptor readable while a completion waits (for select, poll,
        asyncio's add_reader); owned by the worker."""
        return self._lib.ostrel_worker_fd(self._handle())

    def next(self) -> Optional[Completion]:
        """The oldest waiting completion, or None."""
        raw = _Completion()
        if self._lib.ostrel_worker_next(self._handle(), ctypes.byref(raw)) != 1:
            return None
        return Completion(raw.cookie, raw.status, tuple(raw.statuses[:raw.count]),
                          raw.queued_ns, raw.done_ns)

    def completions(self) -> Iterator[Completion]:
        """Every completion waiting now, in submission order."""
        while (done := self.next()) is not None:
            yield done

    def flush(self, timeout_ms: int = -1) -> None:
        """Waits until every earlier submission completed and no resync is
        due; TimeoutError after timeout_ms (negative: no limit)."""
        err = self._lib.ostrel_worker_flush(self._handle(), timeout_ms)
        if err != 0:
            raise TimeoutError(err, "the worker did not finish in time")

    def stats(self) -> dict[str, int]:
        raw = _Stats(ctypes.sizeof(_Stats))
        self._lib.ostrel_worker_stats(self._handle(), ctypes.byref(raw))
        return {name: getattr(raw, name) for name in _STATS_FIELDS}

    def close(self) -> None:
        """Shuts the worker down (waiting submissions complete as cancelled,
        and are dropped with the worker) and gives the client back its
        programming calls."""
        if self._w:
            self._lib.ostrel_worker_destroy(self._w)
            self._w = ctypes.c_void_p()
            self._client._worker_closed()

    def __enter__(self) -> "Worker":
        return self

    def __exit__(self, kind: Optional[type], value: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        self.close()
