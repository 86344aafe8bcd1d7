"""The plugin's fixtures, as a test suite of the package's users sees them."""
import pytest

import ostrelapi as oa


@pytest.mark.socket
def test_aclsvc_serves_a_table_and_restarts(aclsvc):
    assert aclsvc.table() == []
    aclsvc.restart()
    assert aclsvc.table() == [] and "restart" in aclsvc.log()


def test_ostrel_sim_starts_each_test_afresh(ostrel_sim):
    assert ostrel_sim.registry() == [] and ostrel_sim.sim.calls() == []
    ostrel_sim.add(vlan=10, intf=5, addr1="00:11:22:33:44:55", addr2="66:77:88:99:aa:bb", qual=7)
    assert len(ostrel_sim.registry()) == 1
