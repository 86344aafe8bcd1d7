"""The simulated platform's controls and recording, for tests.

Reached as ``client.sim``. With ``Client.connect`` only the interface and
port-channel controls take effect (the transport is the socket's).
The library's retry sleeps are real here: the sleep seams of the C test
binaries need link-time wrapping, which a loaded library cannot get, so a
test that makes sends fail pays 800 ms per retry (see ``fail_next_sends``).
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Iterable, Optional

from . import _native
from .batch import Batch, try_decode_batch

OP_NAMES = ("send", "errno_get", "rr_token_get", "drop", "recv", "payload_get",
            "heartbeat", "if_type_get", "pc_info_get", "sleep", "perror")
FIRST_TOKEN = 1001
NO_REPLY_ERRNO = 42
IF_TYPE_PORT_CHANNEL = 22
PC_MAX_MEMBERS = 6


@dataclass(frozen=True)
class Call:
    """One platform call the simulation recorded."""

    op: str
    handle: int
    opcode: int
    length: int
    token: int
    arg: int
    result: int
    payload: Optional[bytes]
    text: str

    @property
    def batch(self) -> Optional[Batch]:
        """The send's payload decoded as a programming batch, or None."""
        return try_decode_batch(self.payload) if self.payload is not None else None


class SimControls:
    """Controls of the process's simulated platform."""

    def __init__(self, lib: ctypes.CDLL) -> None:
        self._lib = lib

    def reset(self) -> None:
        """Forgets every recorded call and scripted behaviour and the
        interface and port-channel tables; tokens start again at 1001."""
        self._lib.ostrel_sim_reset()

    # ---- the recording ----

    def calls(self) -> list[Call]:
        """Every call recorded since the last reset, in order."""
        out, raw = [], _native.SimCall()
        for index in range(self._lib.ostrel_sim_call_count()):
            if self._lib.ostrel_sim_call_at(index, ctypes.byref(raw)) != 0:
                break
            payload = None
            if raw.payload:
                payload = ctypes.string_at(raw.payload, raw.payload_size)
            text = raw.text.decode(errors="replace") if raw.text else ""
            op = OP_NAMES[raw.op] if 0 <= raw.op < len(OP_NAMES) else "?"
            out.append(Call(op, raw.handle, raw.opcode, raw.length, raw.token, raw.arg,
                            raw.result, payload, text))
        return out

    def sent_payloads(self) -> list[bytes]:
        """The bytes of every successful send, in order."""
        return [c.payload for c in self.calls()
                if c.op == "send" and c.result == 0 and c.payload is not None]

    def batches(self) -> list[Batch]:
        """Every successful send that is a programming batch, decoded."""
        decoded = (try_decode_batch(p) for p in self.sent_payloads())
        return [b for b in decoded if b is not None]

    def count(self, op: str) -> int:
        return sum(1 for c in self.calls() if c.op == op)

    # ---- transport ----

    def fail_next_sends(self, n: int, errno_value: int, after: int = 0) -> None:
        """After ``after`` sends go through, the next n sends fail with
        errno_value as the transport's error number. Each failure the
        library retries costs a real 800 ms sleep in this process."""
        if after:
            self._lib.ostrel_sim_fail_sends_after(after, n, errno_value)
        else:
            self._lib.ostrel_sim_fail_next_sends(n, errno_value)

    def fail_next_recv(self, errno_value: int = NO_REPLY_ERRNO) -> None:
        """The next receive finds no reply: it fails with errno_value."""
        self._lib.ostrel_sim_fail_next_recv(errno_value)

    def next_reply_without_payload(self) -> None:
        """The next reply delivered carries no payload."""
        self._lib.ostrel_sim_next_reply_without_payload()

    def set_reply_word(self, word: int) -> None:
        """First word of the payload of later replies."""
        self._lib.ostrel_sim_set_reply_word(word)

    @property
    def pending_replies(self) -> int:
        return self._lib.ostrel_sim_pending_replies()

    @property
    def outstanding_records(self) -> int:
        """Message records held and not yet released: 0 when the caller
        drained everything."""
        return self._lib.ostrel_sim_outstanding_records()

    def set_copy_payloads(self, copy: bool) -> None:
        """Whether sends keep a copy of their bytes (on after a reset)."""
        self._lib.ostrel_sim_set_copy_payloads(int(copy))

    # ---- interface and port-channel services ----

    def set_if_type(self, if_index: int, if_type: int) -> None:
        self._lib.ostrel_sim_set_if_type(if_index, if_type)

    def set_pc_members(self, pc: int, members: Iterable[int]) -> None:
        """Sets the member interfaces of port channel pc (its interface
        type is set apart, with ``set_if_type(pc, IF_TYPE_PORT_CHANNEL)``)."""
        values = list(members)
        array = (ctypes.c_uint32 * max(len(values), 1))(*values)
        self._lib.ostrel_sim_set_pc_members(pc, array, len(values))

    def fail_pc_queries(self, n: int, result: int) -> None:
        """The next n port-channel member queries return result."""
        self._lib.ostrel_sim_fail_pc_queries(n, result)
