"""Reading the pcapng captures of aclctl and aclsvc-sim (``--pcap``).

A capture is one section with one interface of link type 147 and one
Enhanced Packet Block per frame. Each packet is a 20-byte frame head,
every field big-endian (version, direction, kind, flags, token, opcode,
error, payload length), then the payload in the sender's byte order
(flag bit 0 set: big-endian). A capture cut short at the end (a writer
killed mid-block) yields the frames before the cut.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path
from typing import Iterator, Optional, Union

from .batch import Batch, try_decode_batch

SECTION_HEADER = 0x0A0D0D0A
ENHANCED_PACKET = 6
BYTE_ORDER_MAGIC = 0x1A2B3C4D
LINKTYPE_USER0 = 147
FRAME_HEAD = struct.Struct(">BBBBIIiI")
KINDS = {1: "send", 2: "accept", 3: "reply"}
DIRECTIONS = {0: "to service", 1: "to client"}
FLAG_BIG_ENDIAN, FLAG_HAS_PAYLOAD = 0x1, 0x2


class MalformedCapture(ValueError):
    """The file is not a capture of these tools."""


@dataclass(frozen=True)
class Frame:
    """One captured frame."""

    time_us: int
    direction: str
    kind: str
    big_endian: bool
    has_payload: bool
    token: int
    opcode: int
    error: int
    payload: bytes

    @property
    def batch(self) -> Optional[Batch]:
        """A send's payload decoded as a programming batch, or None."""
        if self.kind != "send":
            return None
        return try_decode_batch(self.payload, self.big_endian)

    @property
    def status(self) -> Optional[int]:
        """A reply's status word, or None."""
        if self.kind != "reply" or len(self.payload) < 4:
            return None
        return struct.unpack_from(">I" if self.big_endian else "<I", self.payload)[0]


def _blocks(data: bytes) -> Iterator[tuple[int, bytes, str]]:
    order, offset = "<", 0
    while len(data) - offset >= 12:
        btype = struct.unpack_from(order + "I", data, offset)[0]
        if btype == SECTION_HEADER:
            magic = struct.unpack_from("<I", data, offset + 8)[0]
            order = "<" if magic == BYTE_ORDER_MAGIC else ">"
        length = struct.unpack_from(order + "I", data, offset + 4)[0]
        if length < 12 or length % 4 or length > len(data) - offset:
            return  # cut short
        yield btype, data[offset + 8:offset + length - 4], order
        offset += length


def _frame(body: bytes, order: str) -> Frame:
    _, ts_high, ts_low, captured, _ = struct.unpack_from(order + "IIIII", body)
    packet = body[20:20 + captured]
    if len(packet) < FRAME_HEAD.size:
        raise MalformedCapture(f"packet of {len(packet)} bytes has no frame head")
    _, direction, kind, flags, token, opcode, error, length = FRAME_HEAD.unpack_from(packet)
    return Frame((ts_high << 32) | ts_low, DIRECTIONS.get(direction, str(direction)),
                 KINDS.get(kind, str(kind)), bool(flags & FLAG_BIG_ENDIAN),
                 bool(flags & FLAG_HAS_PAYLOAD), token, opcode, error,
                 packet[FRAME_HEAD.size:FRAME_HEAD.size + length])


def read_frames(source: Union[str, Path, bytes]) -> list[Frame]:
    """Every frame of a capture file (or of its bytes), in order."""
    data = source if isinstance(source, bytes) else Path(source).read_bytes()
    if len(data) < 12 or struct.unpack_from("<I", data)[0] != SECTION_HEADER:
        raise MalformedCapture("no pcapng section header")
    return [_frame(body, order) for btype, body, order in _blocks(data)
            if btype == ENHANCED_PACKET]


def read_batches(source: Union[str, Path, bytes]) -> list[Batch]:
    """The programming batches sent in a capture, decoded, in order."""
    batches = (f.batch for f in read_frames(source))
    return [b for b in batches if b is not None]
