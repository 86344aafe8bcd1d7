"""The client on the simulated platform: what reaches the library, the
statuses it raises, and bulk blocks against single calls."""
import os

import pytest
from hypothesis import given, settings, HealthCheck

import ostrelapi as oa
from changes import STEPS, apply_changes, valid_changes

A1, A2 = "00:11:22:33:44:55", "66:77:88:99:aa:bb"
ACE = dict(addr1=A1, addr2=A2, qual=7)


def test_single_calls_program_and_raise_the_library_statuses(ostrel_sim):
    c = ostrel_sim
    c.add(vlan=10, intf=5, addr1=A1, addr2=bytes.fromhex("66778899aabb"), qual=7)
    assert c.reply_pending and c.sim.pending_replies == 1
    assert c.registry() == [oa.RegistryEntry(10, 5, A1, A2, 7, False)]
    (req,) = c.sim.batches()[0].requests
    assert (req.op_name, req.vlan, req.intf, req.records[0].qual) == ("install", 10, 5, 7)
    c.delete(vlan=10, intf=5, **ACE)  # drains the add's reply first
    assert c.registry() == [] and c.sim.batches()[-1].requests[0].op_name == "remove"
    assert c.sim.pending_replies == 1 and c.sim.outstanding_records == 1
    with pytest.raises(oa.StatusError) as err:
        c.delete(vlan=10, intf=5, **ACE)
    assert (err.value.status, err.value.name) == (oa.NO_ENTRY, "no entry")
    assert oa.status_name(0x41040002) == "no entry"


@pytest.mark.parametrize("bad", [
    dict(vlan=0), dict(vlan=4095), dict(qual=65536), dict(qual=-1), dict(intf=1 << 32),
    dict(addr1="00:11:22:33:44"), dict(addr1="00:11:22:33:44:zz"), dict(addr2=b"12345"),
])
def test_bad_arguments_are_refused_before_the_library(ostrel_sim, bad):
    args = dict(vlan=10, intf=5, **ACE) | bad
    with pytest.raises(ValueError):
        ostrel_sim.add(**args)
    with pytest.raises(ValueError), ostrel_sim.bulk() as b:
        b.add(**args)
    assert ostrel_sim.sim.calls() == [] and ostrel_sim.registry() == []


def test_drain_takes_the_reply_or_raises_its_failure(ostrel_sim):
    c = ostrel_sim
    c.drain()
    assert c.sim.calls() == []  # nothing pending: no call made
    c.add(vlan=10, intf=5, **ACE)
    c.drain()
    assert not c.reply_pending and c.sim.outstanding_records == 0
    c.sim.fail_next_recv()
    c.add(vlan=10, intf=6, **ACE)
    with pytest.raises(oa.StatusError) as err:
        c.drain()
    assert err.value.status == 42  # the receive's error number itself
    c.sim.next_reply_without_payload()
    c.add(vlan=10, intf=7, **ACE)
    with pytest.raises(oa.StatusError) as err:
        c.drain()
    assert err.value.status == oa.NO_ENTRY


def test_port_channels_and_their_faults(ostrel_sim):
    c = ostrel_sim
    c.sim.set_pc_members(100, [1, 2])
    c.pc_add(vlan=10, pc=100, **ACE)
    assert {(e.intf, e.on_port_channel) for e in c.registry()} == {(1, False), (2, False),
                                                                   (100, True)}
    assert [b.requests[-1].intf for b in c.sim.batches()] == [1, 2]  # one send per member
    c.sim.fail_pc_queries(1, 5)
    with pytest.raises(oa.StatusError) as err:
        c.pc_delete(vlan=10, pc=100, **ACE)
    # A failed query is no failed member: the port channel's entry goes.
    assert err.value.status == 5
    assert [(e.intf, e.on_port_channel) for e in c.registry()] == [(2, False), (1, False)]


def test_failed_send_carries_the_error_number(ostrel_sim):
    # A policy update is sent once, without retries (no retry sleep).
    ostrel_sim.sim.fail_next_sends(1, 111)
    with pytest.raises(oa.StatusError) as err:
        ostrel_sim.send_policy_update(oa.PolicyUpdateRequest(oa.Plcy(1, 0)))
    assert err.value.status == oa.send_error(111) == 0x8104006F
    assert "errno 111" in str(err.value)


def test_bulk_failure_keeps_nothing_and_resync_resends(ostrel_sim):
    c = ostrel_sim
    c.add(vlan=10, intf=5, **ACE)
    c.add(vlan=20, intf=6, **ACE)
    sent = len(c.sim.batches())
    with pytest.raises(oa.BulkError) as err, c.bulk() as b:
        b.add(vlan=10, intf=6, **ACE)
        b.delete(vlan=10, intf=9, **ACE)
    assert err.value.statuses == [oa.NOT_EXECUTED, oa.NO_ENTRY]
    assert len(c.registry()) == 2 and len(c.sim.batches()) == sent
    c.resync(vlan=20)
    assert [r.vlan for r in c.sim.batches()[-1].requests] == [20]
    with pytest.raises(oa.StatusError):
        c.resync(vlan=30)


def test_one_client_per_process(ostrel_sim):
    assert ostrel_sim.speedups == bool(os.environ.get("OSTRELAPI_EXPECT_SPEEDUPS"))
    with pytest.raises(RuntimeError, match="one client"):
        oa.Client.simulated()
    with pytest.raises(RuntimeError):
        oa.Client.connect("/nonexistent")


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(STEPS)
def test_bulk_gives_the_registry_and_table_of_single_calls(ostrel_sim, steps):
    c, changes = ostrel_sim, valid_changes(steps)
    results = []
    for one_by_one in (True, False):
        c.forget_registry()
        c.sim.reset()
        apply_changes(c, changes, one_by_one)
        results.append((c.registry(), oa.table_of(c.sim.batches())))
    assert results[0] == results[1]


def test_worker_applies_submissions_and_owns_the_calls_meanwhile(ostrel_sim):
    c = ostrel_sim
    with c.worker() as w:
        with pytest.raises(RuntimeError, match="worker"):
            c.add(vlan=10, intf=5, **ACE)
        with w.submit(cookie=7) as s:
            s.add(vlan=10, intf=5, **ACE)
            s.add(vlan=10, intf=6, **ACE)
        with w.submit(cookie=8) as s:
            s.delete(vlan=10, intf=9, **ACE)
        w.flush(5000)
        done = list(w.completions())
        assert [(d.cookie, d.status, d.statuses) for d in done] == [
            (7, 0, (0, 0)), (8, oa.NO_ENTRY, (oa.NO_ENTRY,))]
        assert w.stats()["submissions"] == 2
    assert [e.intf for e in c.registry()] == [6, 5]
    c.delete(vlan=10, intf=6, **ACE)  # the client has its calls back
