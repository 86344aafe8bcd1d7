"""Loading the libraries and declaring the C calls the package makes.

The core library declares the platform calls (``yarl_*``, the interface and
port-channel services, the TLV utility library) and leaves them to whatever
platform the process loads. ctypes loads the TLV library, then one
platform stand-in with ``RTLD_GLOBAL``, then the core, whose undefined
symbols bind to that stand-in (the socket transport carries the messages
alone: the interface and port-channel services still come from the
simulated platform, loaded after it). Once bound they stay bound: the platform is
chosen once per process, which is why a process has one client.

Where the libraries are looked for, in order: the directories of the
``OSTRELAPI_LIBRARY_PATH`` environment variable (a ``:``-separated list;
the build tree's test run sets it), the library directory of the install
prefix the package lies in, then the system loader's own search by soname.
"""

from __future__ import annotations

import ctypes
import os
from pathlib import Path
from typing import Optional

from . import _paths

SONAME_VERSION = "1"
PLATFORMS = {"sim": "ostrel_sim", "socket": "ostrel_socket"}

_loaded_platform: Optional[str] = None
_core: Optional[ctypes.CDLL] = None
_sim: Optional[ctypes.CDLL] = None
_socket: Optional[ctypes.CDLL] = None


def _search_dirs() -> list[Path]:
    dirs = [Path(d) for d in os.environ.get("OSTRELAPI_LIBRARY_PATH", "").split(":") if d]
    if _paths.LIBDIR_FROM_PACKAGE:
        dirs.append((Path(__file__).parent / _paths.LIBDIR_FROM_PACKAGE).resolve())
    return dirs


def library_file(stem: str) -> str:
    """The path of lib<stem>.so.1 in the first search directory holding it,
    else its soname alone (the system loader then searches)."""
    name = f"lib{stem}.so.{SONAME_VERSION}"
    for directory in _search_dirs():
        candidate = directory / name
        if candidate.exists():
            return str(candidate)
    return name


def _load(stem: str) -> ctypes.CDLL:
    return ctypes.CDLL(library_file(stem), mode=ctypes.RTLD_GLOBAL)


def load_platform(platform: str) -> ctypes.CDLL:
    """Loads the TLV library, the chosen platform stand-in and the core,
    once per process; returns the core. Asking for another platform once
    one is loaded raises RuntimeError."""
    global _loaded_platform, _core, _sim, _socket
    if _loaded_platform is not None:
        if _loaded_platform != platform:
            raise RuntimeError(
                f"this process already uses the {_loaded_platform} platform (a client, or a "
                "status name or codec call made before any client, chose it); "
                f"the {platform} platform needs a process of its own"
            )
        assert _core is not None
        return _core
    tlvu = _load("ostrel_tlvu")
    _fn(tlvu, "tlvu_set_error_print_enabled", None, ctypes.c_int)
    # Codec failures are raised as StatusError; the TLV library's own
    # print of them to stderr would only repeat it.
    tlvu.tlvu_set_error_print_enabled(0)
    if platform == "socket":
        # The transport (yarl_*, the heartbeat) from the socket library,
        # loaded first so that its symbols come first; the interface and
        # port-channel services from the simulated platform.
        _socket = _load(PLATFORMS["socket"])
        _declare_socket(_socket)
    _sim = _load(PLATFORMS["sim"])
    _declare_sim(_sim)
    core = _load("ostrelapi")
    _declare_core(core)
    _core, _loaded_platform = core, platform
    return core


def codec_library() -> ctypes.CDLL:
    """The core for status names and codec calls. They need only the TLV
    library, but the core cannot be loaded without a platform (ctypes binds
    every symbol when it loads a library): unless a client chose one
    already, they bind the simulated platform, and a socket client needs a
    process of its own after that. Make the client first."""
    if _core is not None:
        return _core
    return load_platform("sim")


def worker_library() -> ctypes.CDLL:
    """libostrelapi-worker, loaded on the core the client loaded."""
    if _core is None:
        raise RuntimeError("make the client first: the worker runs on its core")
    return _load("ostrelapi-worker")


def sim_library() -> ctypes.CDLL:
    if _sim is None:
        raise RuntimeError("the simulated platform is not loaded: create Client.simulated() first")
    return _sim


def loaded_platform() -> Optional[str]:
    return _loaded_platform


# ---- C types ----------------------------------------------------------

u8, u16, u32, i32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32
P = ctypes.POINTER


class YarlMsg(ctypes.Structure):
    _fields_ = [("opaque", ctypes.c_uint64 * 8)]


class AceKey(ctypes.Structure):
    _fields_ = [("addr1", u8 * 6), ("addr2", u8 * 6), ("qualifier", u16)]


class AceNode(ctypes.Structure):
    pass


AceNode._fields_ = [("key", AceKey), ("next", P(AceNode))]


def _registry_node(name: str, child: type) -> type:
    node = type(name, (ctypes.Structure,), {})
    node._fields_ = [("key", u32), ("count", u32), ("first", P(child)), ("next", P(node))]
    return node


IntfNode = _registry_node("IntfNode", AceNode)
VlanNode = _registry_node("VlanNode", IntfNode)
PoVlanNode = _registry_node("PoVlanNode", AceNode)
PcNode = _registry_node("PcNode", PoVlanNode)


class AclChange(ctypes.Structure):
    _fields_ = [
        ("addr1", u8 * 6),
        ("addr2", u8 * 6),
        ("vlan_id", u32),
        ("if_index", u32),
        ("qualifier", u32),
        ("add", u32),
        ("on_port_channel", u32),
    ]


class SimCall(ctypes.Structure):
    _fields_ = [
        ("op", ctypes.c_int),
        ("handle", u32),
        ("opcode", u32),
        ("length", u32),
        ("token", u32),
        ("arg", u32),
        ("result", ctypes.c_int),
        ("payload", P(u8)),
        ("payload_size", ctypes.c_size_t),
        ("text", ctypes.c_char_p),
    ]


def _fn(lib: ctypes.CDLL, name: str, restype, *argtypes) -> None:
    f = getattr(lib, name)
    f.restype = restype
    f.argtypes = list(argtypes)


CODEC_TYPES = ("plcy", "dst", "ace", "plcy_update_req", "plcy_update_resp")


def _declare_core(lib: ctypes.CDLL) -> None:
    vp, bp = ctypes.c_void_p, P(u8)
    addr = ctypes.c_char_p  # bytes objects, passed without a copy
    msg = P(YarlMsg)
    _fn(lib, "ostrel_api_status_name", ctypes.c_char_p, u32)
    _fn(lib, "ostrel_api_status_text", ctypes.c_size_t, u32, ctypes.c_char_p, ctypes.c_size_t)
    for name in ("ostrel_api_program_acl", "ostrel_api_pc_program_acl"):
        _fn(lib, name, u32, u32, addr, addr, u32, u32, u32, msg, u32)
    _fn(lib, "ostrel_api_del_acl", u32, u32, addr, addr, u32, u32, u32, msg)
    _fn(lib, "ostrel_api_program_acl_bulk", u32, u32, P(AclChange), u32, P(u32), msg)
    _fn(lib, "ostrel_api_resync", u32, u32, P(u32), msg)
    _fn(lib, "brisel_api_yarl_gobble", u32, u32, msg)
    _fn(lib, "ostrel_api_send_plcy_update", u32, u32, u32, vp, msg)
    _fn(lib, "brisel_start", None)
    _fn(lib, "brisel_ace_del", u32, P(IntfNode), P(AceKey))
    _fn(lib, "brisel_intf_del", u32, P(VlanNode), P(IntfNode))
    _fn(lib, "brisel_vlan_del", u32, P(VlanNode))
    _fn(lib, "brisel_poace_del", u32, P(PoVlanNode), P(AceKey))
    _fn(lib, "brisel_povlan_del", u32, P(PcNode), P(PoVlanNode))
    _fn(lib, "brisel_pc_del", u32, P(PcNode))
    _fn(lib, "ostrel_version", ctypes.c_char_p)
    for t in CODEC_TYPES:
        _fn(lib, f"ostrel_api_{t}_to_struct", u32, vp, u32, vp, u32)
        _fn(lib, f"ostrel_api_{t}_to_tlv", u32, vp, P(bp), P(u32), u32, P(u32), u32)
        _fn(lib, f"ostrel_api_{t}_get_struct_sz", i32, vp)


class FastCalls:
    """The programming calls as prototypes without argument types.

    ctypes converts each argument through its declared type, which costs
    about as much as the call itself; without declared types it passes
    ints, bytes objects and byref() pointers as they are. The callers check
    every argument before (ints within 32 bits, addresses as 6-byte bytes),
    which is what the declared types would have made sure of. The return
    type stays declared."""

    def __init__(self, lib: ctypes.CDLL) -> None:
        proto = ctypes.CFUNCTYPE(u32)
        self.program = proto(("ostrel_api_program_acl", lib))
        self.delete = proto(("ostrel_api_del_acl", lib))
        self.pc_program = proto(("ostrel_api_pc_program_acl", lib))
        self.drain = proto(("brisel_api_yarl_gobble", lib))
        self.bulk = proto(("ostrel_api_program_acl_bulk", lib))


def _declare_sim(lib: ctypes.CDLL) -> None:
    _fn(lib, "ostrel_sim_reset", None)
    _fn(lib, "ostrel_sim_call_count", ctypes.c_size_t)
    _fn(lib, "ostrel_sim_call_at", ctypes.c_int, ctypes.c_size_t, P(SimCall))
    _fn(lib, "ostrel_sim_op_name", ctypes.c_char_p, ctypes.c_int)
    _fn(lib, "ostrel_sim_fail_next_sends", None, ctypes.c_int, ctypes.c_int)
    _fn(lib, "ostrel_sim_fail_sends_after", None, ctypes.c_int, ctypes.c_int, ctypes.c_int)
    _fn(lib, "ostrel_sim_fail_next_recv", None, ctypes.c_int)
    _fn(lib, "ostrel_sim_next_reply_without_payload", None)
    _fn(lib, "ostrel_sim_set_reply_word", None, u32)
    _fn(lib, "ostrel_sim_pending_replies", ctypes.c_size_t)
    _fn(lib, "ostrel_sim_outstanding_records", ctypes.c_size_t)
    _fn(lib, "ostrel_sim_set_copy_payloads", None, ctypes.c_int)
    _fn(lib, "ostrel_sim_set_if_type", None, u32, u8)
    _fn(lib, "ostrel_sim_set_pc_members", None, u32, P(u32), ctypes.c_size_t)
    _fn(lib, "ostrel_sim_fail_pc_queries", None, ctypes.c_int, ctypes.c_int)


def _declare_socket(lib: ctypes.CDLL) -> None:
    _fn(lib, "ostrel_socket_transport_connect", ctypes.c_int, ctypes.c_char_p)
    _fn(lib, "ostrel_socket_transport_disconnect", None)
    _fn(lib, "ostrel_socket_transport_set_timeout_ms", None, ctypes.c_int)
    _fn(lib, "ostrel_socket_generation", u32, u32)
