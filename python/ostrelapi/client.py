"""The client: ACL programming through the library's entry points.

Every method makes exactly the entry-point call a C program would, with
the same bytes, statuses and sleeps; ctypes releases the GIL for the
length of each call. A call that sends leaves the ACL service's reply
pending, as in C: ``drain()`` takes it, and the next call that sends
drains it first.
"""

from __future__ import annotations

import ctypes
import threading
from dataclasses import dataclass
from types import TracebackType
from typing import Iterator, Optional, Union

from . import _native
from .errors import BulkError, StatusError
from .sim import SimControls

Address = Union[str, bytes, bytearray]

VLAN_MIN, VLAN_MAX = 1, 4094
QUAL_LIMIT = 1 << 16
IF_INDEX_LIMIT = 1 << 32
HANDLE = 1

_client_lock = threading.Lock()
_client_made: Optional[str] = None


def parse_address(value: Address) -> bytes:
    """Six bytes from "00:11:22:33:44:55" (or "-" separators) or from six
    bytes; ValueError for anything else."""
    if isinstance(value, (bytes, bytearray)):
        if len(value) != 6:
            raise ValueError(f"an address is 6 bytes, not {len(value)}")
        return bytes(value)
    if not isinstance(value, str):
        raise ValueError(f"an address is a string or 6 bytes, not {type(value).__name__}")
    parts = value.replace("-", ":").split(":")
    if len(parts) != 6 or not all(len(p) == 2 for p in parts):
        raise ValueError(f"malformed address {value!r}: six two-digit hex groups expected")
    try:
        return bytes(int(p, 16) for p in parts)
    except ValueError:
        raise ValueError(f"malformed address {value!r}: not hexadecimal") from None


def _check_range(what: str, value: int, low: int, limit: int) -> int:
    if not isinstance(value, int) or isinstance(value, bool):
        raise ValueError(f"{what} must be an integer, not {type(value).__name__}")
    if not low <= value < limit:
        raise ValueError(f"{what} {value} is outside {low}-{limit - 1}")
    return value


@dataclass(frozen=True)
class Change:
    """One add or delete, checked: what a single call or a bulk block takes."""

    vlan: int
    intf: int
    addr1: bytes
    addr2: bytes
    qual: int
    add: bool
    on_port_channel: bool

    @classmethod
    def make(cls, add: bool, on_port_channel: bool, *, vlan: int, intf: int,
             addr1: Address, addr2: Address, qual: int) -> "Change":
        return cls(
            _check_range("vlan", vlan, VLAN_MIN, VLAN_MAX + 1),
            _check_range("interface" if not on_port_channel else "port channel",
                         intf, 0, IF_INDEX_LIMIT),
            parse_address(addr1),
            parse_address(addr2),
            _check_range("qual", qual, 0, QUAL_LIMIT),
            add,
            on_port_channel,
        )


@dataclass(frozen=True)
class RegistryEntry:
    """One ACE the library holds: on an interface of a VLAN, or on a port
    channel (``intf`` is then the port channel's index)."""

    vlan: int
    intf: int
    addr1: str
    addr2: str
    qual: int
    on_port_channel: bool


def _mac(addr) -> str:
    return ":".join(f"{b:02x}" for b in bytes(addr))


def _key_of(ace) -> _native.AceKey:
    # A copy: the delete frees the node the key lies in.
    return _native.AceKey.from_buffer_copy(ace.contents.key)


def _chain(first):
    node = first
    while node:
        yield node.contents
        node = node.contents.next


class Client:
    """The one client of this process. Make it with ``Client.simulated()``
    or ``Client.connect(path)``."""

    def __init__(self, platform: str, _token: object = None) -> None:
        if _token is not _CREATE:
            raise TypeError("use Client.simulated() or Client.connect(path)")
        self.platform = platform
        self._core = _native.load_platform(platform)
        self._msg = _native.YarlMsg()
        self._pending = ctypes.c_uint32.in_dll(self._core, "did_yarl_send")
        # With the socket transport only the interface and port-channel
        # controls of the simulated platform take effect.
        self.sim = SimControls(_native.sim_library())

    @classmethod
    def _create(cls, platform: str) -> "Client":
        global _client_made
        with _client_lock:
            if _client_made is not None:
                raise RuntimeError(
                    f"this process already has its client ({_client_made}): the library's "
                    "state is process-wide, so a process has one client"
                )
            client = cls(platform, _CREATE)
            _client_made = platform
        return client

    @classmethod
    def simulated(cls) -> "Client":
        """A client on the embedded simulated platform (libostrel_sim)."""
        return cls._create("sim")

    @classmethod
    def connect(cls, path: str, timeout_ms: int = 5000) -> "Client":
        """A client on the socket transport, connected to the aclsvc-sim
        daemon listening at path. OSError when it cannot connect."""
        client = cls._create("socket")
        lib = _native._socket
        assert lib is not None
        lib.ostrel_socket_transport_set_timeout_ms(timeout_ms)
        err = lib.ostrel_socket_transport_connect(path.encode())
        if err != 0:
            raise OSError(err, f"cannot connect to {path}")
        return client

    @property
    def generation(self) -> int:
        """How many connections the socket transport made (0 with the
        simulated platform): a rise tells that the service may have
        restarted and forgotten what it was sent."""
        if _native._socket is None:
            return 0
        return _native._socket.ostrel_socket_generation(HANDLE)

    # ---- single calls ----

    def _check(self, status: int, call: str) -> None:
        if status != 0:
            raise StatusError(status, call)

    def _before_send(self) -> None:
        if self._pending.value:
            self.drain()

    def _single(self, change: Change) -> None:
        self._before_send()
        a1 = (ctypes.c_uint8 * 6).from_buffer_copy(change.addr1)
        a2 = (ctypes.c_uint8 * 6).from_buffer_copy(change.addr2)
        msg = ctypes.byref(self._msg)
        c = self._core
        if change.on_port_channel:
            name = "ostrel_api_pc_program_acl"
            status = c.ostrel_api_pc_program_acl(HANDLE, a1, a2, change.vlan, change.intf,
                                                 change.qual, msg, int(change.add))
        elif change.add:
            name = "ostrel_api_program_acl"
            status = c.ostrel_api_program_acl(HANDLE, a1, a2, change.vlan, change.intf,
                                              change.qual, msg, 1)
        else:
            name = "ostrel_api_del_acl"
            status = c.ostrel_api_del_acl(HANDLE, a1, a2, change.vlan, change.intf,
                                          change.qual, msg)
        self._check(status, name)

    def add(self, *, vlan: int, intf: int, addr1: Address, addr2: Address, qual: int) -> None:
        """Adds an ACE on interface intf of vlan (ostrel_api_program_acl)."""
        self._single(Change.make(True, False, vlan=vlan, intf=intf, addr1=addr1,
                                 addr2=addr2, qual=qual))

    def delete(self, *, vlan: int, intf: int, addr1: Address, addr2: Address,
               qual: int) -> None:
        """Deletes the newest equal ACE from interface intf of vlan
        (ostrel_api_del_acl)."""
        self._single(Change.make(False, False, vlan=vlan, intf=intf, addr1=addr1,
                                 addr2=addr2, qual=qual))

    def pc_add(self, *, vlan: int, pc: int, addr1: Address, addr2: Address, qual: int) -> None:
        """Adds an ACE on port channel pc of vlan, programmed on every
        member (ostrel_api_pc_program_acl)."""
        self._single(Change.make(True, True, vlan=vlan, intf=pc, addr1=addr1,
                                 addr2=addr2, qual=qual))

    def pc_delete(self, *, vlan: int, pc: int, addr1: Address, addr2: Address,
                  qual: int) -> None:
        """Deletes an ACE from port channel pc of vlan."""
        self._single(Change.make(False, True, vlan=vlan, intf=pc, addr1=addr1,
                                 addr2=addr2, qual=qual))

    # ---- bulk, resync, drain ----

    def bulk(self) -> "Bulk":
        """A block of changes sent as one bulk call when the ``with`` block
        ends without an exception (an exception inside the block sends
        nothing)."""
        return Bulk(self)

    def apply_bulk(self, changes: list[Change]) -> None:
        """One ostrel_api_program_acl_bulk call over the changes. BulkError
        when it fails: a failing change leaves the registry as it was; a
        failed send keeps the changes in the registry as the intended state
        (``resync()`` sends them again)."""
        self._before_send()
        n = len(changes)
        array = (_native.AclChange * max(n, 1))()
        for slot, ch in zip(array, changes):
            ctypes.memmove(slot.addr1, ch.addr1, 6)
            ctypes.memmove(slot.addr2, ch.addr2, 6)
            slot.vlan_id, slot.if_index, slot.qualifier = ch.vlan, ch.intf, ch.qual
            slot.add, slot.on_port_channel = int(ch.add), int(ch.on_port_channel)
        statuses = (ctypes.c_uint32 * max(n, 1))()
        status = self._core.ostrel_api_program_acl_bulk(HANDLE, array, n, statuses,
                                                        ctypes.byref(self._msg))
        if status != 0:
            raise BulkError(status, statuses[:n])

    def resync(self, vlan: Optional[int] = None) -> None:
        """Sends again the request of every registered interface, or of one
        VLAN's (ostrel_api_resync)."""
        self._before_send()
        vlan_arg = None
        if vlan is not None:
            vlan_arg = ctypes.byref(ctypes.c_uint32(_check_range("vlan", vlan, VLAN_MIN,
                                                                 VLAN_MAX + 1)))
        self._check(self._core.ostrel_api_resync(HANDLE, vlan_arg, ctypes.byref(self._msg)),
                    "ostrel_api_resync")

    def drain(self) -> None:
        """Takes the reply of the last call that sent (brisel_api_yarl_gobble);
        returns at once when none is pending. StatusError with the drain's
        status: a receive's error number, or "no entry" for a reply
        without payload."""
        if not self._pending.value:
            return
        status = self._core.brisel_api_yarl_gobble(HANDLE, ctypes.byref(self._msg))
        self._check(status, "brisel_api_yarl_gobble")

    @property
    def reply_pending(self) -> bool:
        return bool(self._pending.value)

    def send_policy_update(self, request) -> None:
        """Encodes a PolicyUpdateRequest and sends it once
        (ostrel_api_send_plcy_update); the reply is left pending."""
        self._before_send()
        record = request.to_struct_bytes()
        buf = ctypes.create_string_buffer(record, len(record))
        status = self._core.ostrel_api_send_plcy_update(HANDLE, 0, buf, ctypes.byref(self._msg))
        self._check(status, "ostrel_api_send_plcy_update")

    # ---- the registry ----

    def registry(self) -> list[RegistryEntry]:
        """Every ACE the library holds, in registry order (newest first):
        the VLAN registry's, then the port-channel registry's."""
        return list(self._walk_vlans()) + list(self._walk_port_channels())

    def _walk_vlans(self) -> Iterator[RegistryEntry]:
        head = _native.VlanNode.in_dll(self._core, "brisel_handle")
        for vlan in _chain(head.next):
            for intf in _chain(vlan.first):
                for ace in _chain(intf.first):
                    k = ace.key
                    yield RegistryEntry(vlan.key, intf.key, _mac(k.addr1), _mac(k.addr2),
                                        k.qualifier, False)

    def _walk_port_channels(self) -> Iterator[RegistryEntry]:
        head = _native.PcNode.in_dll(self._core, "brisel_pchandle")
        for pc in _chain(head.next):
            for povlan in _chain(pc.first):
                for ace in _chain(povlan.first):
                    k = ace.key
                    yield RegistryEntry(povlan.key, pc.key, _mac(k.addr1), _mac(k.addr2),
                                        k.qualifier, True)

    def forget_registry(self) -> None:
        """Frees every registry entry through the library's registry calls,
        sending nothing: a fresh start for the next test."""
        self.drain_quietly()
        c = self._core
        head = _native.VlanNode.in_dll(c, "brisel_handle")
        while head.next:
            vlan = head.next
            while vlan.contents.first:
                intf = vlan.contents.first
                while intf.contents.first:
                    c.brisel_ace_del(intf, ctypes.byref(_key_of(intf.contents.first)))
                c.brisel_intf_del(vlan, intf)
            c.brisel_vlan_del(vlan)
        pchead = _native.PcNode.in_dll(c, "brisel_pchandle")
        while pchead.next:
            pc = pchead.next
            while pc.contents.first:
                povlan = pc.contents.first
                while povlan.contents.first:
                    c.brisel_poace_del(povlan, ctypes.byref(_key_of(povlan.contents.first)))
                c.brisel_povlan_del(pc, povlan)
            c.brisel_pc_del(pc)

    def drain_quietly(self) -> None:
        """Drains a pending reply, ignoring its status."""
        try:
            self.drain()
        except StatusError:
            pass


_CREATE = object()


class Bulk:
    """Collects changes; the ``with`` block's end makes them one bulk call."""

    def __init__(self, client: Client) -> None:
        self._client = client
        self.changes: list[Change] = []

    def __enter__(self) -> "Bulk":
        return self

    def __exit__(self, kind: Optional[type], value: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        if kind is None:
            self._client.apply_bulk(self.changes)

    def add(self, *, vlan: int, intf: int, addr1: Address, addr2: Address, qual: int) -> None:
        self.changes.append(Change.make(True, False, vlan=vlan, intf=intf, addr1=addr1,
                                        addr2=addr2, qual=qual))

    def delete(self, *, vlan: int, intf: int, addr1: Address, addr2: Address,
               qual: int) -> None:
        self.changes.append(Change.make(False, False, vlan=vlan, intf=intf, addr1=addr1,
                                        addr2=addr2, qual=qual))

    def pc_add(self, *, vlan: int, pc: int, addr1: Address, addr2: Address, qual: int) -> None:
        self.changes.append(Change.make(True, True, vlan=vlan, intf=pc, addr1=addr1,
                                        addr2=addr2, qual=qual))

    def pc_delete(self, *, vlan: int, pc: int, addr1: Address, addr2: Address,
                  qual: int) -> None:
        self.changes.append(Change.make(False, True, vlan=vlan, intf=pc, addr1=addr1,
                                        addr2=addr2, qual=qual))
