"""Python interface to libostrelapi: ACL programming through the library's
C entry points, on the embedded simulated platform or over the socket
transport to aclsvc-sim; the simulated platform's controls; the policy
record codecs; pcapng captures read as decoded batches.

    import ostrelapi as oa
    c = oa.Client.simulated()
    c.add(vlan=10, intf=5, addr1="00:11:22:33:44:55",
          addr2="66:77:88:99:aa:bb", qual=7)
    c.drain()
"""

from .batch import Batch, MalformedBatch, Record, Request, decode_batch, table_of
from .client import Bulk, Client, RegistryEntry, parse_address
from .codec import Ace, Dst, Plcy, PolicyUpdateRequest, PolicyUpdateResponse
from .errors import (INVALID, NO_ENTRY, NOT_EXECUTED, OK, SEND_FAILED, BulkError,
                     StatusError, send_error, status_name, status_text)
from .pcapng import Frame, read_batches, read_frames
from .service import AclService, query_table
from .worker import Completion, Worker

__version__ = "1.0.0"

__all__ = [
    "Ace", "AclService", "Completion", "Worker", "Batch", "Bulk", "BulkError", "Client", "Dst", "Frame",
    "INVALID", "MalformedBatch", "NOT_EXECUTED", "NO_ENTRY", "OK", "Plcy",
    "PolicyUpdateRequest", "PolicyUpdateResponse", "Record", "RegistryEntry", "Request",
    "SEND_FAILED", "StatusError", "decode_batch", "parse_address", "query_table",
    "read_batches", "read_frames", "send_error", "status_name", "status_text", "table_of",
]
