"""The client: ACL programming through the library's entry points.

Every method makes exactly the entry-point call a C program would, with
the same bytes, statuses and sleeps; ctypes releases the GIL for the
length of each call. A call that sends leaves the ACL service's reply
pending, as in C: ``drain()`` takes it, and the next call that sends
drains it first.
"""

from __future__ import annotations

import ctypes
import os
import struct
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

# The optional C module for the programming calls (docs/python.md); the
# same calls go through ctypes without it, or with OSTRELAPI_NO_SPEEDUPS set.
_speedups = None
if not os.environ.get("OSTRELAPI_NO_SPEEDUPS"):
    try:
        import _ostrelapi_speedups as _speedups  # type: ignore
    except ImportError:
        pass

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


# Parsed text addresses: a table load names the same few addresses again
# and again, and parsing is most of a call's cost in Python.
_parsed: dict = {}
_PARSED_LIMIT = 65536


def _address(value: Address) -> bytes:
    if type(value) is bytes and len(value) == 6:
        return value
    parsed = _parsed.get(value) if type(value) is str else None
    if parsed is None:
        parsed = parse_address(value)
        if type(value) is str:
            if len(_parsed) >= _PARSED_LIMIT:
                _parsed.clear()
            _parsed[value] = parsed
    return parsed


def _check_range(what: str, value: int, low: int, limit: int) -> int:
    if type(value) is not int and (not isinstance(value, int) or isinstance(value, bool)):
        raise ValueError(f"{what} must be an integer, not {type(value).__name__}")
    if not low <= value < limit:
        raise ValueError(f"{what} {value} is outside {low}-{limit - 1}")
    return value


def _checked(vlan: int, intf: int, qual: int, intf_name: str = "interface") -> None:
    # The common case in two comparisons each; the exact complaint after.
    if not (type(vlan) is int and VLAN_MIN <= vlan <= VLAN_MAX and type(intf) is int
            and 0 <= intf < IF_INDEX_LIMIT and type(qual) is int and 0 <= qual < QUAL_LIMIT):
        _check_range("vlan", vlan, VLAN_MIN, VLAN_MAX + 1)
        _check_range(intf_name, intf, 0, IF_INDEX_LIMIT)
        _check_range("qual", qual, 0, QUAL_LIMIT)


# One change of a bulk call as the library reads it (ostrel_api_acl_change_t).
_CHANGE = struct.Struct("=6s6sIIIII")
assert _CHANGE.size == ctypes.sizeof(_native.AclChange)


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
        self._msg_ref = ctypes.byref(self._msg)
        self._fast = _native.FastCalls(self._core)
        self._pending = ctypes.c_uint32.in_dll(self._core, "did_yarl_send")
        if _speedups is not None:
            self._use_speedups()
        # With the socket transport only the interface and port-channel
        # controls of the simulated platform take effect.
        self.sim = SimControls(_native.sim_library())

    def _use_speedups(self) -> None:
        def address(f) -> int:
            return ctypes.cast(f, ctypes.c_void_p).value or 0

        f = self._fast
        _speedups.configure(address(f.program), address(f.delete), address(f.pc_program),
                            address(f.drain), address(f.bulk), ctypes.addressof(self._pending),
                            ctypes.addressof(self._msg), HANDLE, StatusError)
        # The same calls, checks and drains, made by the C module.
        self.add, self.delete = _speedups.add, _speedups.delete
        self.pc_add, self.pc_delete = _speedups.pc_add, _speedups.pc_delete

    _WORKER_OWNED = ("add", "delete", "pc_add", "pc_delete", "bulk", "resync", "drain",
                     "registry", "forget_registry", "send_policy_update")

    def worker(self, queue_limit: int = 0, resync_delay_ms: int = 0):
        """Starts the process's worker (libostrelapi-worker): submissions
        applied on its thread, completions reported through a descriptor.
        Until it is closed, the client's own programming calls raise
        RuntimeError. With the socket transport the worker resyncs the
        service after a restart (it watches the connection generation)."""
        from .worker import Worker

        self.drain()
        generation = None
        if _native._socket is not None:
            generation = ctypes.cast(_native._socket.ostrel_socket_generation,
                                     ctypes.c_void_p).value
        worker = Worker(self, HANDLE, queue_limit, resync_delay_ms, generation)

        def owned(*args, **kwargs):
            raise RuntimeError("the worker owns the programming calls until it is closed")

        for name in self._WORKER_OWNED:
            setattr(self, name, owned)
        return worker

    def _worker_closed(self) -> None:
        for name in self._WORKER_OWNED:
            self.__dict__.pop(name, None)
        if _speedups is not None:
            self._use_speedups()

    @property
    def speedups(self) -> bool:
        """Whether the programming calls go through the C module."""
        return _speedups is not None

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

    def add(self, *, vlan: int, intf: int, addr1: Address, addr2: Address, qual: int) -> None:
        """Adds an ACE on interface intf of vlan (ostrel_api_program_acl)."""
        _checked(vlan, intf, qual)
        a1, a2 = _address(addr1), _address(addr2)
        if self._pending.value:
            self.drain()
        status = self._fast.program(HANDLE, a1, a2, vlan, intf, qual, self._msg_ref, 1)
        if status:
            raise StatusError(status, "ostrel_api_program_acl")

    def delete(self, *, vlan: int, intf: int, addr1: Address, addr2: Address,
               qual: int) -> None:
        """Deletes the newest equal ACE from interface intf of vlan
        (ostrel_api_del_acl)."""
        _checked(vlan, intf, qual)
        a1, a2 = _address(addr1), _address(addr2)
        if self._pending.value:
            self.drain()
        status = self._fast.delete(HANDLE, a1, a2, vlan, intf, qual, self._msg_ref)
        if status:
            raise StatusError(status, "ostrel_api_del_acl")

    def _pc_call(self, add: int, vlan: int, pc: int, addr1: Address, addr2: Address,
                 qual: int) -> None:
        _checked(vlan, pc, qual, "port channel")
        a1, a2 = _address(addr1), _address(addr2)
        self._before_send()
        self._check(self._fast.pc_program(HANDLE, a1, a2, vlan, pc, qual, self._msg_ref, add),
                    "ostrel_api_pc_program_acl")

    def pc_add(self, *, vlan: int, pc: int, addr1: Address, addr2: Address, qual: int) -> None:
        """Adds an ACE on port channel pc of vlan, programmed on every
        member (ostrel_api_pc_program_acl)."""
        self._pc_call(1, vlan, pc, addr1, addr2, qual)

    def pc_delete(self, *, vlan: int, pc: int, addr1: Address, addr2: Address,
                  qual: int) -> None:
        """Deletes an ACE from port channel pc of vlan."""
        self._pc_call(0, vlan, pc, addr1, addr2, qual)

    # ---- bulk, resync, drain ----

    def bulk(self) -> "Bulk":
        """A block of changes sent as one bulk call when the ``with`` block
        ends without an exception (an exception inside the block sends
        nothing)."""
        return Bulk(self)

    def _apply_bulk(self, packed: bytearray, count: int) -> None:
        """One ostrel_api_program_acl_bulk call over count changes packed as
        the library reads them. BulkError when it fails: a failing change
        leaves the registry as it was; a failed send keeps the changes in
        the registry as the intended state (``resync()`` sends them
        again)."""
        self._before_send()
        changes = (_native.AclChange * max(count, 1)).from_buffer(packed) if count else None
        statuses = (ctypes.c_uint32 * max(count, 1))()
        status = self._fast.bulk(HANDLE, changes, count, statuses, self._msg_ref)
        if status != 0:
            raise BulkError(status, statuses[:count])

    def resync(self, vlan: Optional[int] = None) -> None:
        """Sends again the request of every registered interface, or of one
        VLAN's (ostrel_api_resync)."""
        self._before_send()
        vlan_arg = None
        if vlan is not None:
            vlan_arg = ctypes.byref(ctypes.c_uint32(_check_range("vlan", vlan, VLAN_MIN,
                                                                 VLAN_MAX + 1)))
        self._check(self._core.ostrel_api_resync(HANDLE, vlan_arg, self._msg_ref),
                    "ostrel_api_resync")

    def drain(self) -> None:
        """Takes the reply of the last call that sent (brisel_api_yarl_gobble);
        returns at once when none is pending. StatusError with the drain's
        status: a receive's error number, or "no entry" for a reply
        without payload."""
        if not self._pending.value:
            return
        status = self._fast.drain(HANDLE, self._msg_ref)
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
        status = self._core.ostrel_api_send_plcy_update(HANDLE, 0, buf, self._msg_ref)
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
    """Collects changes, checked as they come; the ``with`` block's end
    makes them one bulk call."""

    def __init__(self, client: Client, sink=None, packed_only: bool = False) -> None:
        self._client = client
        self._sink = sink or client._apply_bulk
        self._packed = bytearray()
        self.count = 0
        self._changes = None
        if _speedups is not None and not packed_only:
            self._changes = _speedups.Changes()
            c = self._changes
            self.add, self.delete, self.pc_add, self.pc_delete = (
                c.add, c.delete, c.pc_add, c.pc_delete)

    def __len__(self) -> int:
        return len(self._changes) if self._changes is not None else self.count

    def __enter__(self) -> "Bulk":
        return self

    def __exit__(self, kind: Optional[type], value: Optional[BaseException],
                 tb: Optional[TracebackType]) -> None:
        if kind is not None:
            return
        if self._changes is None:
            self._sink(self._packed, self.count)
            return
        status, statuses = self._changes.apply()
        if status != 0:
            raise BulkError(status, statuses)

    def _append(self, vlan: int, intf: int, addr1: Address, addr2: Address, qual: int,
                add: int, on_port_channel: int) -> None:
        _checked(vlan, intf, qual, "port channel" if on_port_channel else "interface")
        self._packed += _CHANGE.pack(_address(addr1), _address(addr2), vlan, intf, qual, add,
                                     on_port_channel)
        self.count += 1

    def add(self, *, vlan: int, intf: int, addr1: Address, addr2: Address, qual: int) -> None:
        self._append(vlan, intf, addr1, addr2, qual, 1, 0)

    def delete(self, *, vlan: int, intf: int, addr1: Address, addr2: Address,
               qual: int) -> None:
        self._append(vlan, intf, addr1, addr2, qual, 0, 0)

    def pc_add(self, *, vlan: int, pc: int, addr1: Address, addr2: Address, qual: int) -> None:
        self._append(vlan, pc, addr1, addr2, qual, 1, 1)

    def pc_delete(self, *, vlan: int, pc: int, addr1: Address, addr2: Address,
                  qual: int) -> None:
        self._append(vlan, pc, addr1, addr2, qual, 0, 1)
