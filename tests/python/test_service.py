"""The socket transport against aclsvc-sim, the aclsvc fixture and the
pcapng captures (one pytest process: it holds a socket client)."""
import pytest
from hypothesis import given, settings

import ostrelapi as oa
from changes import STEPS, apply_changes, valid_changes

pytestmark = pytest.mark.socket
A1, A2 = "00:11:22:33:44:55", "66:77:88:99:aa:bb"


@pytest.fixture(scope="module")
def service(tmp_path_factory):
    pcap = tmp_path_factory.mktemp("capture") / "frames.pcapng"
    with oa.AclService(tmp_path_factory.mktemp("svc"), ["--pcap", str(pcap)]) as svc:
        svc.pcap = pcap
        yield svc


@pytest.fixture(scope="module")
def client(service):
    return oa.Client.connect(service.path, timeout_ms=5000)


def keys(table):
    return sorted((e["request"]["vlan"], e["request"]["intf"], e["request"]["op_name"])
                  for e in table)


def test_table_restart_and_resync(service, client):
    client.add(vlan=10, intf=5, addr1=A1, addr2=A2, qual=7)
    client.add(vlan=10, intf=6, addr1=A1, addr2=A2, qual=8)
    client.drain()
    assert keys(service.table()) == [(10, 5, "install"), (10, 6, "install")]
    generation = client.generation
    service.restart()
    assert service.table() == []
    client.resync()
    client.drain()
    assert client.generation == generation + 1
    assert keys(service.table()) == [(10, 5, "install"), (10, 6, "install")]


@settings(max_examples=15, deadline=None)
@given(STEPS)
def test_bulk_and_single_calls_leave_the_same_service_table(service, client, steps):
    changes, results = valid_changes(steps), []
    for one_by_one in (True, False):
        client.forget_registry()
        service.restart()
        apply_changes(client, changes, one_by_one)
        results.append((client.registry(), service.table()))
    assert results[0] == results[1]


def test_the_capture_reads_back_as_the_batches_sent(service, client):
    client.forget_registry()
    service.restart()
    client.add(vlan=40, intf=9, addr1=A1, addr2=A2, qual=5)
    client.drain()
    service.stop()
    frames = oa.read_frames(service.pcap)
    assert {f.kind for f in frames} == {"send", "accept", "reply"}
    sends = [f for f in frames if f.kind == "send"]
    assert {f.opcode for f in sends} == {4810} and sends[0].token == 1001
    assert all(f.status == 0 for f in frames if f.kind == "reply")
    last = oa.read_batches(service.pcap)[-1].requests[0]
    assert (last.vlan, last.intf, last.records[0].qual) == (40, 9, 5)
    with pytest.raises(ValueError):
        oa.read_frames(b"not a capture")
