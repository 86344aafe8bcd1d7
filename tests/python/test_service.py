"""The socket transport against aclsvc-sim, the aclsvc fixture and the
pcapng captures (one pytest process: it holds a socket client)."""
import pytest

import ostrelapi as oa

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


def test_bulk_and_single_calls_leave_the_same_service_table(service, client):
    tables = []
    for bulk in (False, True):
        client.forget_registry()
        service.restart()
        changes = [("add", 20, 5, 1), ("add", 20, 6, 2), ("add", 30, 5, 3),
                   ("delete", 20, 5, 1), ("add", 20, 6, 4)]
        with client.bulk() if bulk else _nothing() as b:
            for kind, vlan, intf, qual in changes:
                getattr(b or client, kind)(vlan=vlan, intf=intf, addr1=A1, addr2=A2, qual=qual)
        client.drain()
        tables.append(service.table())
    assert tables[0] == tables[1] and keys(tables[0]) == [(20, 5, "remove"), (20, 6, "install"),
                                                          (30, 5, "install")]


class _nothing:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        return False


def test_the_capture_reads_back_as_the_batches_sent(service, client):
    client.forget_registry()
    service.restart()
    client.add(vlan=40, intf=9, addr1=A1, addr2=A2, qual=5)
    client.drain()
    service.stop()
    frames = oa.read_frames(service.pcap)
    assert {f.kind for f in frames} == {"send", "accept", "reply"}
    assert all(f.status == 0 for f in frames if f.kind == "reply")
    last = oa.read_batches(service.pcap)[-1].requests[0]
    assert (last.vlan, last.intf, last.records[0].qual) == (40, 9, 5)
    with pytest.raises(ValueError):
        oa.read_frames(b"not a capture")
