"""Debian's tshark with tools/wireshark/ostrel.lua over captures written by
aclctl --pcap and aclsvc-sim --pcap: the dissector's fields agree with
aclctl's own JSON decoding of the same run, and malformed messages are
flagged as expert info with their reason.

Usage: tshark_test.py ACLCTL ACLSVC_SIM SOURCE_DIR TSHARK
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

ACLCTL, ACLSVC, SRC, TSHARK = sys.argv[1:5]
DEMO = os.path.join(SRC, "examples", "demo.scn")
LUA = os.path.join(SRC, "tools", "wireshark", "ostrel.lua")
FIELDS = ["frame.number", "ostrel.direction", "ostrel.kind", "ostrel.token",
          "ostrel.opcode", "ostrel.status", "ostrel.req.vlan",
          "ostrel.req.intf", "ostrel.rec.role", "ostrel.rec.qual",
          "ostrel.tlv.type", "_ws.expert.message"]


def tshark(capture):
    args = [TSHARK, "-X", "lua_script:" + LUA, "-r", capture, "-T", "fields",
            "-E", "separator=|", "-E", "occurrence=a", "-E", "aggregator=~"]
    for name in FIELDS:
        args += ["-e", name]
    r = subprocess.run(args, capture_output=True, timeout=120, check=True)
    rows = []
    for line in r.stdout.decode().splitlines():
        values = [v.split("~") if v else [] for v in line.split("|")]
        rows.append(dict(zip(FIELDS, values)))
    return rows


class Demo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.pcap = os.path.join(cls.dir.name, "demo.pcapng")
        r = subprocess.run([ACLCTL, "--json", "--pcap", cls.pcap, DEMO],
                           capture_output=True, timeout=60, check=True)
        cls.sends = [e for e in map(json.loads, r.stdout.splitlines())
                     if e["event"] == "send"]
        cls.rows = tshark(cls.pcap)

    def test_every_exchange_is_a_send_an_accept_and_a_reply(self):
        self.assertEqual(len(self.rows), 3 * len(self.sends))
        for i in range(0, len(self.rows), 3):
            send, accept, reply = self.rows[i:i + 3]
            self.assertEqual([r["ostrel.kind"] for r in (send, accept, reply)],
                             [["1"], ["2"], ["3"]])
            self.assertEqual(send["ostrel.direction"], ["0"])
            self.assertEqual(reply["ostrel.direction"], ["1"])
            self.assertEqual(send["ostrel.opcode"], ["4810"])
            self.assertEqual(send["ostrel.token"], reply["ostrel.token"])
            self.assertEqual(reply["ostrel.status"], ["0x00000000"])

    def test_batches_match_the_tools_decoding(self):
        for row, sent in zip(self.rows[::3], self.sends):
            message = sent["message"]
            if message["kind"] != "batch":
                continue
            requests = message["requests"]
            self.assertEqual(row["ostrel.req.vlan"],
                             [str(r["vlan"]) for r in requests])
            self.assertEqual(row["ostrel.req.intf"],
                             [str(r["intf"]) for r in requests])
            records = [x for r in requests for x in r["records"]]
            self.assertEqual(row["ostrel.rec.role"],
                             [x["role"] for x in records])
            self.assertEqual([q for q, x in zip(row["ostrel.rec.qual"], records)
                              if x["role"] in ("ace", "close")],
                             [str(x["qual"]) for x in records
                              if x["role"] in ("ace", "close")])

    def test_policy_update_tlvs(self):
        kinds = [s["message"]["kind"] for s in self.sends]
        row = self.rows[3 * kinds.index("policy_update")]
        top = [t for t in row["ostrel.tlv.type"] if t in ("12", "13", "16",
                                                          "17")]
        self.assertEqual(top, ["12", "13", "16", "17", "17"])
        self.assertEqual(row["ostrel.rec.role"], [])

    def test_a_lone_ace_replaced_by_the_closing_record_is_noted(self):
        self.assertIn("slot 0: qual 7, replaced by the closing record",
                      self.rows[0]["_ws.expert.message"])
        self.assertEqual(self.rows[0]["ostrel.rec.role"], ["close", "end"])


class Malformed(unittest.TestCase):
    def test_daemon_capture_flags_damaged_messages(self):
        with tempfile.TemporaryDirectory() as d:
            sock, pcap = os.path.join(d, "s.sock"), os.path.join(d, "d.pcapng")
            r, w = os.pipe()
            daemon = subprocess.Popen(
                [ACLSVC, "--socket", sock, "--quiet", "--pcap", pcap,
                 "--ready-fd", str(w)], pass_fds=(w,))
            os.close(w)
            os.read(r, 6)
            os.close(r)
            junk = {"word0.bin": b"\x02" + b"\x00" * 7,
                    "update.bin": b"\x00\x00\x00\xf0" + b"\x00" * 96}
            for name, data in junk.items():
                path = os.path.join(d, name)
                with open(path, "wb") as f:
                    f.write(data)
                subprocess.run([ACLCTL, "send", "--socket", sock, path],
                               capture_output=True, timeout=60)
            daemon.terminate()
            daemon.wait(timeout=20)
            rows = tshark(pcap)
        experts = [m for row in rows for m in row["_ws.expert.message"]]
        self.assertIn("batch word 0 is 2, not 0 or 1", experts)
        self.assertTrue(any(m.startswith("policy update of 100 bytes: TLV "
                                         "array header claims 240 bytes")
                            for m in experts), experts)
        self.assertEqual([r["ostrel.status"] for r in rows
                          if r["ostrel.kind"] == ["3"]],
                         [["0xe0000001"], ["0xe0000001"]])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
