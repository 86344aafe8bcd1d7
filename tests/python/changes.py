"""Random change lists for the differential tests of bulk blocks."""
from hypothesis import strategies as st

A1, A2 = "00:11:22:33:44:55", "66:77:88:99:aa:bb"
KEYS = st.tuples(st.sampled_from([A1, "00:00:00:00:00:01"]), st.sampled_from([A2]),
                 st.sampled_from([7, 9]))
STEPS = st.lists(st.tuples(st.sampled_from(["add", "delete", "pc_add", "pc_delete"]),
                           st.sampled_from([10, 20]), st.sampled_from([5, 6]), KEYS),
                 max_size=12)


def valid_changes(steps):
    """The steps as changes, deletes kept only for ACEs present then."""
    present, out = [], []
    for kind, vlan, intf, key in steps:
        where = (vlan, 100 if kind.startswith("pc") else intf, kind.startswith("pc"), key)
        if kind.endswith("add"):
            present.append(where)
        elif where in present:
            present.remove(where)
        else:
            continue
        out.append((kind, dict(vlan=vlan, addr1=key[0], addr2=key[1], qual=key[2],
                               **({"pc": 100} if kind.startswith("pc") else {"intf": intf}))))
    return out


def apply_changes(client, changes, one_by_one):
    """The changes as single calls or as one bulk block, on port channel
    100 of members 1 and 2; the last reply is drained."""
    client.sim.set_pc_members(100, [1, 2])
    if one_by_one:
        for kind, args in changes:
            getattr(client, kind)(**args)
    else:
        with client.bulk() as b:
            for kind, args in changes:
                getattr(b, kind)(**args)
    client.drain()
