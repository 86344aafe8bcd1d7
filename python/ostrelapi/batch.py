"""Reading the programming batches the library sends to the ACL service.

A batch is a u32 word 0 (1 when the call that sent it opened it), a u32
count of requests, then the requests back to back: each a 24-byte head
(policy operation and word, destination words, VLAN and interface, the
number of records) and that many 64-byte records, in the sender's byte
order. Every length is checked against the bytes given before it is used.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from typing import Optional

BATCH_SIZE = 130056
HEAD_SIZE = 8
REQUEST_HEAD_SIZE = 24
RECORD_SIZE = 64
OP_INSTALL = 1
OP_REMOVE = 2
FLTR_FLAG_PRESENT = 0x1

_REQUEST_HEAD = "IIIHHII"
_RECORD = "I4xQH6s6s6s6s6xQII"


def format_mac(addr: bytes) -> str:
    return ":".join(f"{b:02x}" for b in addr)


@dataclass(frozen=True)
class Record:
    """One 64-byte record of a request: an ACE's filter and action words."""

    fltr_tlv8: int
    fltr_flags: int
    qual: int
    addr1: bytes
    addr2: bytes
    addr3: bytes
    addr4: bytes
    actn_flags: int
    actn_tlv10: int
    actn_tlv11: int

    @classmethod
    def unpack(cls, data: bytes, offset: int = 0, order: str = "=") -> "Record":
        return cls(*struct.unpack_from(order + _RECORD, data, offset))

    def pack(self) -> bytes:
        return struct.pack("=" + _RECORD,
            self.fltr_tlv8, self.fltr_flags, self.qual, self.addr1, self.addr2,
            self.addr3, self.addr4, self.actn_flags, self.actn_tlv10, self.actn_tlv11,
        )


@dataclass(frozen=True)
class Request:
    """The request of one interface: its head fields and records."""

    op: int
    plcy_tlv2: int
    dst_tlv4: int
    dst_tlv5: int
    vlan: int
    intf: int
    records: tuple[Record, ...] = ()

    @property
    def op_name(self) -> str:
        return {OP_INSTALL: "install", OP_REMOVE: "remove"}.get(self.op, f"op {self.op}")


@dataclass(frozen=True)
class Batch:
    word0: int
    requests: tuple[Request, ...] = field(default_factory=tuple)


class MalformedBatch(ValueError):
    """The bytes are not a well-formed programming batch."""


def _read_request(data: bytes, offset: int, order: str) -> tuple[Request, int]:
    if len(data) - offset < REQUEST_HEAD_SIZE:
        raise MalformedBatch(f"request head at byte {offset} cut short")
    op, tlv2, tlv4, tlv5, vlan, intf, count = struct.unpack_from(order + _REQUEST_HEAD, data, offset)
    offset += REQUEST_HEAD_SIZE
    if count > (len(data) - offset) // RECORD_SIZE:
        raise MalformedBatch(f"request of {count} records longer than the message")
    records = tuple(Record.unpack(data, offset + i * RECORD_SIZE, order) for i in range(count))
    return Request(op, tlv2, tlv4, tlv5, vlan, intf, records), offset + count * RECORD_SIZE


def decode_batch(data: bytes, big_endian: Optional[bool] = None) -> Batch:
    """Decodes the bytes of one batch, in this host's byte order or the
    one big_endian names; MalformedBatch when they are not a batch."""
    order = "=" if big_endian is None else ">" if big_endian else "<"
    if len(data) < HEAD_SIZE or len(data) > BATCH_SIZE:
        raise MalformedBatch(f"{len(data)} bytes is no batch size")
    word0, count = struct.unpack_from(order + "II", data)
    if word0 > 1:
        raise MalformedBatch(f"word 0 is {word0}")
    offset, requests = HEAD_SIZE, []
    for _ in range(count):
        request, offset = _read_request(data, offset, order)
        requests.append(request)
    if offset != len(data):
        raise MalformedBatch(f"{len(data) - offset} bytes after the last request")
    return Batch(word0, tuple(requests))


def try_decode_batch(data: bytes, big_endian: Optional[bool] = None) -> Optional[Batch]:
    try:
        return decode_batch(data, big_endian)
    except MalformedBatch:
        return None


def table_of(batches: list[Batch]) -> dict[tuple[int, int], Request]:
    """What a service that keeps the last request per VLAN and interface
    holds after receiving the batches in order."""
    table: dict[tuple[int, int], Request] = {}
    for batch in batches:
        for request in batch.requests:
            table[(request.vlan, request.intf)] = request
    return table
