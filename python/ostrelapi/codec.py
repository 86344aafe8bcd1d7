"""The five policy record types as Python objects, encoded to and decoded
from their TLV form by the library's codec family (``ostrel_api_*_to_tlv``
and ``ostrel_api_*_to_struct``).

Each object packs to the record's memory layout (host byte order, as in
``ostrelapi.h``), the library encodes that; decoding runs the other way.
A status other than 0 raises StatusError with the codec's own status word
(the TLV library's, "TLV malformed" and the like).
"""

from __future__ import annotations

import ctypes
import struct
from dataclasses import dataclass, field, fields
from typing import ClassVar, Type, TypeVar

from . import _native
from .batch import FLTR_FLAG_PRESENT, Record
from .errors import StatusError

ACTN_FLAG_TLV10 = 0x1
ACTN_FLAG_TLV11 = 0x2

T = TypeVar("T", bound="_Codec")


def _aligned_buffer(data: bytes) -> ctypes.Array:
    # Records hold 8-byte aligned fields: hand the library 8-byte words.
    words = (ctypes.c_uint64 * max((len(data) + 7) // 8, 1))()
    ctypes.memmove(words, data, len(data))
    return words


def _encode(short: str, record: bytes) -> bytes:
    core = _native.codec_library()
    out = ctypes.POINTER(ctypes.c_uint8)()
    length, err_type = ctypes.c_uint32(), ctypes.c_uint32()
    status = getattr(core, f"ostrel_api_{short}_to_tlv")(
        _aligned_buffer(record), ctypes.byref(out), ctypes.byref(length), 0,
        ctypes.byref(err_type), 0)
    if status != 0:
        raise StatusError(status, f"ostrel_api_{short}_to_tlv (TLV {err_type.value})")
    try:
        return ctypes.string_at(out, length.value)
    finally:
        ctypes.CDLL(None).free(out)


def _decode(short: str, tlv: bytes, record_size: int) -> bytes:
    core = _native.codec_library()
    src = _aligned_buffer(tlv)
    if record_size < 0:
        record_size = getattr(core, f"ostrel_api_{short}_get_struct_sz")(src)
        if record_size < 0:
            raise ValueError(f"the library refuses this encoding as a {short} record")
    dst = _aligned_buffer(bytes(record_size))
    status = getattr(core, f"ostrel_api_{short}_to_struct")(src, len(tlv), dst, record_size)
    if status != 0:
        raise StatusError(status, f"ostrel_api_{short}_to_struct")
    return ctypes.string_at(dst, record_size)


class _Codec:
    _short: ClassVar[str]
    _layout: ClassVar[struct.Struct]

    def to_struct_bytes(self) -> bytes:
        """The record as it lies in memory."""
        return self._layout.pack(*self._values())

    @classmethod
    def from_struct_bytes(cls: Type[T], data: bytes) -> T:
        return cls._from_values(cls._layout.unpack_from(data))

    def encode(self) -> bytes:
        """The record's TLV encoding, made by the library."""
        return _encode(self._short, self.to_struct_bytes())

    @classmethod
    def decode(cls: Type[T], tlv: bytes) -> T:
        """The record the library decodes from a TLV encoding."""
        return cls.from_struct_bytes(_decode(cls._short, tlv, cls._layout.size))

    def _values(self) -> tuple:
        return tuple(getattr(self, f.name) for f in fields(self))  # type: ignore

    @classmethod
    def _from_values(cls: Type[T], values: tuple) -> T:
        return cls(*values)  # type: ignore


@dataclass(frozen=True)
class Plcy(_Codec):
    """Policy: operation (TLV 1) and TLV 2."""

    op: int = 0
    tlv2: int = 0
    _short: ClassVar[str] = "plcy"
    _layout: ClassVar[struct.Struct] = struct.Struct("=II")


@dataclass(frozen=True)
class Dst(_Codec):
    """Destination: TLVs 4 and 5, VLAN (6) and interface (7)."""

    tlv4: int = 0
    tlv5: int = 0
    vlan: int = 0
    if_index: int = 0
    _short: ClassVar[str] = "dst"
    _layout: ClassVar[struct.Struct] = struct.Struct("=IHHI")


@dataclass(frozen=True)
class Ace(_Codec):
    """An ACE: the filter (TLV 8; qualifier and four addresses when
    ``present``) and the action (TLVs 10 and 11 when set)."""

    fltr_tlv8: int = 0
    present: bool = False
    qual: int = 0
    addr1: bytes = bytes(6)
    addr2: bytes = bytes(6)
    addr3: bytes = bytes(6)
    addr4: bytes = bytes(6)
    actn_tlv10: "int | None" = None
    actn_tlv11: "int | None" = None
    _short: ClassVar[str] = "ace"
    _layout: ClassVar[struct.Struct] = struct.Struct("=64s")

    def record(self) -> Record:
        actn_flags = ((ACTN_FLAG_TLV10 if self.actn_tlv10 is not None else 0)
                      | (ACTN_FLAG_TLV11 if self.actn_tlv11 is not None else 0))
        return Record(self.fltr_tlv8, FLTR_FLAG_PRESENT if self.present else 0, self.qual,
                      self.addr1, self.addr2, self.addr3, self.addr4, actn_flags,
                      self.actn_tlv10 or 0, self.actn_tlv11 or 0)

    @classmethod
    def from_record(cls, r: Record) -> "Ace":
        return cls(r.fltr_tlv8, bool(r.fltr_flags & FLTR_FLAG_PRESENT), r.qual, r.addr1,
                   r.addr2, r.addr3, r.addr4,
                   r.actn_tlv10 if r.actn_flags & ACTN_FLAG_TLV10 else None,
                   r.actn_tlv11 if r.actn_flags & ACTN_FLAG_TLV11 else None)

    def _values(self) -> tuple:
        return (self.record().pack(),)

    @classmethod
    def _from_values(cls, values: tuple) -> "Ace":
        return cls.from_record(Record.unpack(values[0]))


@dataclass(frozen=True)
class PolicyUpdateResponse(_Codec):
    """Policy update response: TLV 18."""

    tlv18: int = 0
    _short: ClassVar[str] = "plcy_update_resp"
    _layout: ClassVar[struct.Struct] = struct.Struct("=I")


_REQ_FIXED = struct.Struct("=8s12sI")


@dataclass(frozen=True)
class PolicyUpdateRequest(_Codec):
    """Policy update request: policy (TLV 12), destination (TLV 13), the
    number of ACEs (TLV 16) and one TLV 17 per ACE."""

    plcy: Plcy = field(default_factory=Plcy)
    dst: Dst = field(default_factory=Dst)
    aces: tuple[Ace, ...] = ()
    _short: ClassVar[str] = "plcy_update_req"

    def to_struct_bytes(self) -> bytes:
        fixed = _REQ_FIXED.pack(self.plcy.to_struct_bytes(), self.dst.to_struct_bytes(),
                                len(self.aces))
        return fixed + b"".join(a.to_struct_bytes() for a in self.aces)

    @classmethod
    def from_struct_bytes(cls, data: bytes) -> "PolicyUpdateRequest":
        plcy, dst, count = _REQ_FIXED.unpack_from(data)
        aces = tuple(Ace.from_struct_bytes(data[_REQ_FIXED.size + 64 * i:])
                     for i in range(count))
        return cls(Plcy.from_struct_bytes(plcy), Dst.from_struct_bytes(dst), aces)

    @classmethod
    def decode(cls, tlv: bytes) -> "PolicyUpdateRequest":
        return cls.from_struct_bytes(_decode(cls._short, tlv, -1))


RECORD_TYPES = (Plcy, Dst, Ace, PolicyUpdateRequest, PolicyUpdateResponse)
