"""aclctl and aclsvc-sim as a user and a script see them: help, JSON Lines
output checked with a JSON parser, status names, scenario edge cases,
decode reasons and the TLV error print switch.

Usage: cli_test.py ACLCTL ACLSVC_SIM SOURCE_DIR
"""
import errno
import json
import os
import pty
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ACLCTL, ACLSVC, SRC = sys.argv[1:4]
DEMO = os.path.join(SRC, "examples", "demo.scn")
ACE = "addr1 00:11:22:33:44:55 addr2 66:77:88:99:aa:bb qual 7"


def run(args, stdin=None):
    return subprocess.run(args, input=stdin, capture_output=True, timeout=60)


def aclctl(*args, stdin=None):
    return run([ACLCTL, *args], stdin)


def events(out):
    lines = out.decode().splitlines()
    return [json.loads(line) for line in lines]


def of(evs, kind):
    return [e for e in evs if e["event"] == kind]


def requests(message):
    return message.get("requests", [message.get("request")])


def records_without_notes(message):
    message = json.loads(json.dumps(message))
    for r in requests(message):
        for record in r["records"]:
            record.pop("replaced", None)
    return message


def notes(message, with_intf):
    """(request, slot, qual, by) of every replaced-record note."""
    return {(i, rec["slot"], n["qual"], n["by"])
            for i, r in enumerate(requests(message))
            for rec in r["records"] for n in rec.get("replaced", [])
            if ("intf" in n) == with_intf}


class Daemon:
    """aclsvc-sim on a socket in a temporary directory."""

    def __init__(self, *args):
        self.dir = tempfile.TemporaryDirectory()
        self.socket = os.path.join(self.dir.name, "s.sock")
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            [ACLSVC, "--socket", self.socket, "--ready-fd", str(w), *args],
            stdout=subprocess.PIPE, pass_fds=(w,))
        os.close(w)
        os.read(r, 6)
        os.close(r)

    def stop(self):
        self.proc.terminate()
        out, _ = self.proc.communicate(timeout=20)
        self.dir.cleanup()
        return out


class Help(unittest.TestCase):
    def test_help_goes_to_stdout_with_exit_codes(self):
        for prog in (ACLCTL, ACLSVC):
            r = run([prog, "--help"])
            self.assertEqual(r.returncode, 0)
            self.assertIn(b"exit status", r.stdout)
            self.assertEqual(r.stderr, b"")
        for prog, name in ((ACLCTL, b"aclctl "), (ACLSVC, b"aclsvc-sim ")):
            r = run([prog, "--version", "--quiet"])
            self.assertTrue(r.stdout.startswith(name), r.stderr)
        grammar = aclctl("help", "scenario").stdout
        self.assertIn(b"plcy-update op OP", grammar)
        self.assertIn(b"010 is ten", grammar)

    def test_man_pages_describe_every_option_of_the_help(self):
        for prog, page in ((ACLCTL, "aclctl.1"), (ACLSVC, "aclsvc-sim.1")):
            with open(os.path.join(SRC, "tools", "man", page)) as f:
                man = f.read().replace("\\-", "-")
            self.assertNotRegex(man, r"@[A-Z_]+@", page)
            options = re.findall(r"^ +(?:-h, )?(--[a-z-]+)",
                                 run([prog, "--help"]).stdout.decode(), re.M)
            self.assertGreater(len(options), 8)
            for option in options:
                self.assertIn(option, man, page)

    def test_bad_command_line_points_to_help(self):
        for prog in (ACLCTL, ACLSVC):
            r = run([prog, "--frobnicate"])
            self.assertEqual(r.returncode, 2)
            self.assertIn(b"--help", r.stderr)
            self.assertEqual(r.stdout, b"")


class JsonLines(unittest.TestCase):
    def test_demo_is_one_event_per_line(self):
        r = aclctl("--json", DEMO)
        self.assertEqual(r.returncode, 0, r.stderr)
        evs = events(r.stdout)
        with open(DEMO) as f:
            commands = [l for l in f if l.split("#")[0].strip()]
        self.assertEqual(len(of(evs, "command")), len(commands))
        self.assertEqual(evs[-1], {"event": "end", "failed": False})
        sends = of(evs, "send")
        self.assertEqual(len(sends), len(of(evs, "accepted")))
        self.assertEqual(len(sends), len(of(evs, "reply")))
        kinds = [s["message"]["kind"] for s in sends]
        self.assertEqual(kinds.count("policy_update"), 1)
        self.assertEqual(kinds.count("batch"), len(sends) - 1)
        for s in of(evs, "status"):
            self.assertEqual((s["status"], s["name"]), (0, "ok"))
        first = evs[0]
        self.assertEqual(first["call"], "ostrel_api_program_acl")
        self.assertEqual(first["args"]["ace"]["qual"], 7)
        update = sends[kinds.index("policy_update")]["message"]["request"]
        self.assertEqual([a["qual"] for a in update["records"]], [9, 10])
        table = of(evs, "table")[-1]["entries"]
        ops = {(e["request"]["vlan"], e["request"]["intf"]):
               e["request"]["op_name"] for e in table}
        self.assertEqual(ops[(10, 6)], "remove")
        self.assertEqual({k for k in ops if ops[k] == "remove"},
                         {(e["request"]["vlan"], e["request"]["intf"])
                          for e in table if e["removed"]})
        self.assertEqual(ops[(40, 7)], "install")

    def test_daemon_log_decodes_what_the_client_sent(self):
        d = Daemon("--log-format", "json")
        r = aclctl("--json", "--socket", d.socket, DEMO)
        served = events(d.stop())
        self.assertEqual(r.returncode, 0, r.stderr)
        sent = of(events(r.stdout), "send")
        received = of(served, "receive")
        # The service knows only the bytes: its notes are the closing
        # record's, without the interface.
        for got, want in zip(received, sent):
            self.assertEqual(records_without_notes(got["message"]),
                             records_without_notes(want["message"]))
            self.assertLessEqual(notes(got["message"], False),
                                 notes(want["message"], True))
        self.assertEqual([e["status"] for e in of(served, "reply")],
                         [0] * len(sent))
        self.assertEqual(served[-1]["event"], "stopping")

    def test_refused_message_carries_its_reason(self):
        d = Daemon("--log-format", "json")
        with tempfile.NamedTemporaryFile() as f:
            f.write(b"\x07" * 40)
            f.flush()
            r = aclctl("send", "--socket", d.socket, f.name)
        served = events(d.stop())
        self.assertIn(b"0xe0000001 (malformed message)", r.stdout)
        message = of(served, "receive")[0]["message"]
        self.assertEqual(message["kind"], "malformed")
        self.assertIn("batch word 0 is", message["reason"])
        self.assertEqual(of(served, "reply")[0]["name"], "malformed message")


class Scenario(unittest.TestCase):
    def test_failed_call_names_its_status(self):
        line = f"del vlan 1 intf 1 {ACE}\n".encode()
        text = aclctl("-", stdin=line)
        self.assertEqual(text.returncode, 1)
        self.assertIn(b"status 0x41040002 (no entry)\n", text.stdout)
        status = of(events(aclctl("--json", "-", stdin=line).stdout),
                    "status")
        self.assertEqual(status[0]["name"], "no entry")
        self.assertEqual(status[0]["line"], 1)

    def test_vlan_ids_outside_the_range_warn_and_are_sent(self):
        for vlan in (0, 4095, 65535):
            line = f"add vlan {vlan} intf 5 {ACE}\n".encode()
            r = aclctl("--json", "-", stdin=line)
            self.assertEqual(r.returncode, 0)
            self.assertIn(b"outside 1-4094", r.stderr)
            evs = events(r.stdout)
            self.assertEqual(of(evs, "warning")[0]["line"], 1)
            request = of(evs, "send")[0]["message"]["requests"][0]
            self.assertEqual(request["vlan"], vlan)
        quiet = aclctl("-", stdin=f"add vlan 4094 intf 5 {ACE}\n".encode())
        self.assertEqual(quiet.stderr, b"")

    def test_one_number_syntax(self):
        line = f"add\tvlan 010 intf 0x10 {ACE}\n".encode()
        command = events(aclctl("--json", "-", stdin=line).stdout)[0]
        args = command["args"]
        self.assertEqual((args["vlan"], args["intf"]), (10, 16))
        self.assertTrue(command["text"].startswith("add\tvlan"))

    def test_echoed_input_is_escaped_and_cut(self):
        for junk, shown in ((b"\x01\xff\\", b"'\\x01\\xff\\\\'"),
                            (b"x" * 1000000, b"'" + b"x" * 80 + b"...'")):
            r = aclctl("-", stdin=b"add vlan 1 intf " + junk + b"\n")
            self.assertEqual(r.returncode, 2)
            self.assertIn(b"got " + shown + b" (nothing was run)", r.stderr)
            self.assertLess(len(r.stderr), 200)


class Brief(unittest.TestCase):
    def test_one_line_per_call_and_totals_that_match_the_full_output(self):
        full = events(aclctl("--json", DEMO).stdout)
        sends = of(full, "send")
        brief = aclctl("--brief", DEMO).stdout.decode().splitlines()
        calls = [l for l in brief if re.match(r"line \d+: \w+: status ", l)]
        self.assertEqual(len(calls), len(of(full, "status")))
        self.assertFalse([l for l in brief if "send " in l or "token" in l])
        self.assertEqual(brief[-1], "totals: %d calls, %d messages, %d bytes,"
                         " 0 failures" % (len(calls), len(sends),
                                          sum(s["length"] for s in sends)))
        evs = events(aclctl("--brief", "--json", DEMO).stdout)
        self.assertEqual({e["event"] for e in evs},
                         {"status", "parsed_reply", "table_summary", "totals",
                          "end"})
        self.assertEqual(of(evs, "status"), of(full, "status"))
        self.assertEqual(of(evs, "totals")[0]["bytes"],
                         sum(s["length"] for s in sends))

    def test_show_is_one_summary_line_unless_show_full(self):
        with open(DEMO, "rb") as f:
            scn = f.read() + b"show full\n"
        full = aclctl("--json", "-", stdin=scn).stdout
        entries = of(events(full), "table")[-1]["entries"]
        live = [e["request"] for e in entries if not e["removed"]]
        head = "  programmed table: %d entries" % len(live)
        removed = ", %d interface removed" % (len(entries) - len(live))
        want = head + ", %d interfaces, %d VLANs" % (
            len({r["intf"] for r in live}),
            len({r["vlan"] for r in live})) + removed
        daemon = Daemon("--quiet")
        remote = aclctl("--brief", "--socket", daemon.socket, "-", stdin=scn)
        daemon.stop()
        local = aclctl("--brief", "-", stdin=scn)
        self.assertEqual(remote.stdout, local.stdout)
        lines = local.stdout.decode().splitlines()
        self.assertEqual([l for l in lines if "programmed table" in l],
                         ["  programmed table: 2 entries, 2 interfaces, "
                          "1 VLAN", want, head + removed])
        self.assertIn("    (batch) removed: vlan 10 intf 6", lines)
        self.assertEqual(len([l for l in lines if l.startswith("    (")]),
                         len(entries))

    def test_stats_count_what_the_json_output_shows(self):
        evs = events(aclctl("--json", "--stats", "--fail-sends", "2",
                            "--fast-retry", DEMO).stdout)
        self.assertEqual([e["event"] for e in evs[-2:]], ["stats", "end"])
        stats = evs[-2]
        sent = [s for s, after in zip(evs, evs[1:])
                if s["event"] == "send" and after["event"] == "accepted"]
        self.assertEqual(
            (stats["send_attempts"], stats["messages_sent"],
             stats["bytes_sent"], stats["send_retries"]),
            (len(of(evs, "send")), len(sent), sum(s["length"] for s in sent),
             len(of(evs, "retry"))))
        self.assertEqual(stats["send_retries"], 2)
        text = aclctl("--stats", DEMO).stdout.decode().splitlines()
        self.assertRegex(text[-1], r"^stats: calls=\d+ .* port_channels=\d+$")

    def test_a_port_channel_without_members_warns_that_nothing_was_sent(self):
        for members, warned in (("", True), (" 11", False)):
            r = aclctl("--json", "-", stdin=(
                f"pc 200 members{members}\npc-add vlan 1 pc 200 {ACE}\n"
                .encode()))
            self.assertEqual(r.returncode, 0)
            note = b"line 2: warning: port channel 200 has no members: " \
                   b"nothing was sent"
            self.assertEqual(note in r.stderr, warned)
            self.assertEqual(len(of(events(r.stdout), "warning")), warned)


class Bulk(unittest.TestCase):
    LOAD = [f"add vlan {v} intf {i} addr1 00:00:00:00:{v:02x}:{q:02x} "
            f"addr2 66:77:88:99:aa:bb qual {q}\n"
            for v in (10, 11) for i in (1, 2, 3) for q in (i, i + 10)]

    def table_of(self, args, lines, code=0):
        r = aclctl("--json", *args, "-", stdin="".join(lines).encode())
        self.assertEqual(r.returncode, code, r.stderr)
        evs = events(r.stdout)
        return evs, of(evs, "table")[-1]["entries"]

    def test_a_block_loads_the_daemon_as_the_single_calls_do(self):
        d = Daemon("--quiet")
        evs, bulk = self.table_of(["--socket", d.socket],
                                  ["begin\n", *self.LOAD,
                                   "commit\nresync vlan 11\nshow\n"])
        d.stop()
        _, single = self.table_of([], [*self.LOAD, "show\n"])
        self.assertEqual(bulk, single)
        self.assertEqual(len(bulk), 6)
        commit = of(evs, "status")[0]
        self.assertEqual(commit["call"], "ostrel_api_program_acl_bulk")
        self.assertEqual([c["line"] for c in commit["changes"]],
                         list(range(2, 2 + len(self.LOAD))))
        sends = [[(r["vlan"], r["intf"]) for r in s["message"]["requests"]]
                 for s in of(evs, "send")]
        self.assertEqual(len(sends), 2)
        self.assertEqual(sorted(sends[1]), [(11, 1), (11, 2), (11, 3)])

    def test_the_worker_ends_with_the_table_of_the_single_calls(self):
        absent = self.LOAD[0].replace("add ", "del ").replace("qual 1", "qual 9")
        extra = self.LOAD[0].replace("qual 1", "qual 7")  # not kept: all or none
        evs, table = self.table_of(["--worker"], [*self.LOAD, "begin\n", extra,
                                                  absent, "commit\nshow\n"], 1)
        _, single = self.table_of([], [*self.LOAD, "show\n"])
        self.assertEqual(table, single)
        self.assertEqual([c["name"] for c in of(evs, "completion")],
                         ["ok"] * len(self.LOAD) + ["no entry"])
        self.assertEqual(of(evs, "worker")[0]["submissions"], len(self.LOAD) + 1)

    def test_a_failed_change_names_its_line_and_nothing_is_sent(self):
        absent = self.LOAD[0].replace("add ", "del ").replace("qual 1", "qual 9")
        evs, table = self.table_of([], ["begin\n", *self.LOAD[:3], absent,
                                        "commit\nshow\n"], 1)
        commit = of(evs, "status")[0]
        self.assertEqual((commit["status"], commit["name"]),
                         (0x41040002, "no entry"))
        self.assertEqual({c["line"]: c["name"] for c in commit["changes"]},
                         {2: "not executed", 3: "not executed",
                          4: "not executed", 5: "no entry"})
        self.assertEqual((of(evs, "send"), table), ([], []))

    def test_a_resync_after_a_restart_brings_the_daemon_table_back(self):
        _, before = self.table_of([], [*self.LOAD, "show\n"])
        # The daemon restarts after the last VLAN 10 add: the VLAN 11 adds
        # that follow re-send only VLAN 11's requests.
        for flag, resynced in (["--resync-on-reconnect"], True), ([], False):
            d = Daemon("--quiet", "--restart-after", "6")
            evs, after = self.table_of(["--socket", d.socket, *flag],
                                       [*self.LOAD, "show\n"])
            d.stop()
            self.assertEqual(after == before, resynced)
            self.assertEqual(len(of(evs, "reconnected")), int(resynced))
            self.assertEqual({e["request"]["vlan"] for e in after},
                             {10, 11} if resynced else {11})


class Restarts(unittest.TestCase):
    """A daemon restart wherever it lands, with --resync-on-reconnect: the
    run goes on, exits 0, and `show` prints the table the registry holds."""

    def run_load(self, daemon, *args):
        r = aclctl("--json", "--socket", daemon.socket, "--resync-on-reconnect",
                   *args, "-", stdin="".join([*Bulk.LOAD, "show\n"]).encode())
        daemon.stop()
        return r, events(r.stdout)

    @staticmethod
    def embedded_tables(lines):
        r = aclctl("--json", "-", stdin="".join(lines).encode())
        return of(events(r.stdout), "table")

    def test_a_restart_at_each_landing_point_is_followed_by_a_resync(self):
        table = self.embedded_tables([*Bulk.LOAD, "show\n"])
        # The 7th send is VLAN 11's first: VLAN 10 is not sent again after.
        for where in (("--restart-at", "send:7"),  # waiting for the accept
                      ("--restart-at", "reply:7"),  # draining its reply
                      ("--restart-at", "query:1"),  # asking for the table
                      ("--restart-after", "12")):  # after the last change
            with self.subTest(where=where):
                r, evs = self.run_load(Daemon("--quiet", *where))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(len(of(evs, "reconnected")), 1)
                self.assertEqual(of(evs, "table"), table)

    def test_a_sighup_while_a_reply_is_awaited(self):
        d = Daemon("--log-format", "json", "--drop-replies", "1")
        self.addCleanup(d.proc.kill)
        scenario = os.path.join(d.dir.name, "two.scn")
        lines = [*Bulk.LOAD[:3], "show\n"]
        with open(scenario, "w") as f:
            f.write("".join(lines))
        p = subprocess.Popen(
            [ACLCTL, "--json", "--socket", d.socket, "--resync-on-reconnect",
             "--timeout-ms", "60000", scenario], stdout=subprocess.PIPE,
            stderr=subprocess.PIPE)
        self.addCleanup(p.kill)
        # The first reply never comes: aclctl waits for it before the 2nd add.
        while json.loads(d.proc.stdout.readline())["event"] != "reply_dropped":
            pass
        d.proc.send_signal(signal.SIGHUP)
        out, err = p.communicate(timeout=60)
        d.stop()
        self.assertEqual(p.returncode, 0, err)
        evs = events(out)
        lost = [e for e in of(evs, "status") if e.get("reply_lost")]
        self.assertEqual([e["status"] for e in lost], [errno.ECONNRESET])
        self.assertEqual(of(evs, "table"), self.embedded_tables(lines))


class ServiceStats(unittest.TestCase):
    def test_the_daemon_counts_what_each_connection_sent_and_was_answered(self):
        d = Daemon("--quiet", "--fail-sends", "2")
        evs = events(aclctl("--json", "--socket", d.socket, "--fast-retry",
                            DEMO).stdout)
        r = aclctl("service-stats", "--json", "--socket", d.socket)
        d.stop()
        self.assertEqual(r.returncode, 0, r.stderr)
        asker, demo = events(r.stdout)
        self.assertEqual((asker["asker"], asker["open"], asker["messages"]),
                         (True, True, 0))
        sends = of(evs, "send")
        self.assertEqual(
            [demo[k] for k in ("open", "messages", "bytes", "refusals",
                               "pages")],
            [False, len(sends), sum(s["length"] for s in sends),
             len(of(evs, "refused")), len(of(evs, "table"))])
        self.assertEqual(len(of(evs, "refused")), 2)


class Progress(unittest.TestCase):
    def stderr_on_a_terminal(self, *args):
        master, slave = pty.openpty()
        env = dict(os.environ, ACLCTL_PROGRESS_DELAY_MS="0")
        subprocess.run([ACLCTL, *args, DEMO], stdout=subprocess.DEVNULL,
                       stderr=slave, env=env, timeout=60)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal's other end is closed
                break
            if not chunk:
                break
            seen += chunk
        os.close(master)
        return seen

    def test_one_updating_line_on_a_terminal_and_none_in_json(self):
        shown = self.stderr_on_a_terminal("--brief")
        self.assertRegex(shown, rb"^\r\x1b\[Kaclctl: line 1 of 19, 1 message,"
                                rb" 160 bytes")
        self.assertTrue(shown.endswith(b"\r\x1b[K"), shown[-40:])
        self.assertEqual(self.stderr_on_a_terminal("--json"), b"")


class BadInput(unittest.TestCase):
    def test_each_bad_input_gets_its_message_and_exit_code(self):
        tmp = tempfile.gettempdir()
        long_path = "/tmp/" + "x" * 120
        for args, code, message in (
                ([ACLCTL, tmp], 2, b"is a directory"),
                ([ACLCTL, "decode", tmp], 2, b"is a directory"),
                ([ACLCTL, "/dev/null"], 0, b"no commands (nothing was run)"),
                ([ACLCTL, "--bogus", DEMO], 2, b"unknown option --bogus"),
                ([ACLCTL, "--timeout-ms", "0", DEMO], 2,
                 b"--timeout-ms needs a number from 1 to 600000"),
                # Not sockets: refused at once, however long the wait.
                ([ACLCTL, "--socket", DEMO, "--wait-for-socket", "600000",
                  DEMO], 2, b"demo.scn is a regular file, not a socket"),
                ([ACLCTL, "--socket", tmp, "--wait-for-socket", "600000",
                  DEMO], 2, b" is a directory, not a socket"),
                ([ACLCTL, "--socket", long_path, DEMO], 2,
                 b"socket path too long: 125 bytes, the limit is 107"),
                ([ACLSVC, "--socket", long_path], 2, b"the limit is 107"),
                ([ACLSVC, "--socket", os.path.join(tmp, "g.sock"), "--group",
                  "nosuchgroup"], 2, b"--group nosuchgroup: no such group"),
                ([ACLSVC, "--bogus"], 2, b"unknown option --bogus")):
            r = run(args)
            self.assertEqual(r.returncode, code, args)
            self.assertIn(message, r.stderr, args)
            self.assertEqual(r.stdout, b"", args)


class SlowOrMuteService(unittest.TestCase):
    """A daemon not listening yet, and a service that accepts connections
    but never reads or answers."""

    def run_against_mute_service(self, *args):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "mute.sock")
            with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as s:
                s.bind(path)
                s.listen(8)
                lines = "".join(f"add vlan 1 intf {i} {ACE}\n"
                                for i in range(1, 4))
                return aclctl("--socket", path, "--timeout-ms", "20",
                              "--fast-retry", *args, "-",
                              stdin=lines.encode())

    def test_the_first_unanswered_call_stops_the_run(self):
        r = self.run_against_mute_service()
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"aclctl: line 1: the service does not answer (",
                      r.stderr)
        self.assertEqual(r.stdout.count(b"  send "), 4)
        self.assertNotIn(b"line 2:", r.stdout)
        kept = self.run_against_mute_service("--keep-going")
        self.assertEqual(kept.returncode, 1)
        self.assertEqual(kept.stdout.count(b"  send "), 12)

    def test_a_daemon_started_after_aclctl_is_waited_for(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "late.sock")
            # A socket file nobody listens on yet: connecting is refused
            # until the daemon takes the path over.
            with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as s:
                s.bind(path)
                client = subprocess.Popen(
                    [ACLCTL, "--socket", path, "--wait-for-socket", "30000",
                     DEMO], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                time.sleep(0.2)  # let aclctl meet the refusing socket
                daemon = subprocess.Popen([ACLSVC, "--socket", path,
                                           "--quiet"])
                _, err = client.communicate(timeout=60)
                daemon.terminate()
                daemon.wait(timeout=20)
        self.assertEqual(client.returncode, 0, err)


class Decode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        aclctl("--capture", cls.dir.name, DEMO)
        names = sorted(os.listdir(cls.dir.name))
        blobs = []
        for name in names:
            with open(os.path.join(cls.dir.name, name), "rb") as f:
                blobs.append(f.read())
        cls.update = next(b for b in blobs if b[:1] == b"\0" and b[3] > 1)

    def decode(self, data, *args):
        path = os.path.join(self.dir.name, "input.bin")
        with open(path, "wb") as f:
            f.write(data)
        return aclctl("decode", *args, path)

    def test_truncated_update_is_reported_as_an_update(self):
        r = self.decode(self.update[:100])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"policy update of 100 bytes: the TLV array header "
                      b"claims %d bytes" % (len(self.update) - 4), r.stderr)

    def test_quiet_silences_the_tlv_error_print(self):
        bad = bytearray(self.update)
        bad[10:12] = b"\x00\xff"  # a TLV length past the array
        loud = self.decode(bytes(bad))
        quiet = self.decode(bytes(bad), "--quiet")
        self.assertIn(b"_to_struct: ERR 0x", loud.stderr)
        self.assertNotIn(b"ERR 0x", quiet.stderr)
        self.assertIn(b"(TLV malformed)", quiet.stderr)
        self.assertEqual((loud.returncode, quiet.returncode), (1, 1))


class SlotRule(unittest.TestCase):
    def replaced(self, scenario):
        r = aclctl("--json", "-", stdin=scenario.encode())
        self.assertEqual(r.returncode, 0, r.stderr)
        sends = of(events(r.stdout), "send")
        return [{rec["slot"]: rec.get("replaced") for rec in req["records"]}
                for req in sends[-1]["message"]["requests"]]

    def test_demo_notes_name_the_ace_and_what_took_its_slot(self):
        with open(DEMO) as f:
            lines = f.read().split("\nshow\n")[0]
        last = self.replaced(lines)
        self.assertEqual(len(last), 2)
        for request in last:
            self.assertEqual(request, {
                0: None, 1: [{"qual": 9, "intf": 6, "by": "next record"}],
                2: [{"qual": 7, "intf": 5, "by": "closing record"}], 3: None})
        lone = self.replaced(f"add vlan 3 intf 4 {ACE}\n")
        self.assertEqual(lone[0][0], [{"qual": 7, "intf": 4,
                                        "by": "closing record"}])

    def test_a_skipped_all_zero_ace_keeps_the_record_before_it(self):
        ace = "addr1 {} addr2 00:00:00:00:00:01 qual {}"
        last = self.replaced("".join(
            f"add vlan 5 intf {i} {ace.format(a, q)}\n" for i, a, q in
            ((2, "00:00:00:00:00:0c", 30), (2, "00:00:00:00:00:00", 31),
             (1, "00:00:00:00:00:0b", 20), (1, "00:00:00:00:00:0a", 10))))
        self.assertEqual(last[0], {0: None, 1: None, 2: [
            {"qual": 30, "intf": 2, "by": "closing record"}], 3: None})


class Capture(unittest.TestCase):
    def test_decode_reads_back_every_frame_of_a_pcap(self):
        with tempfile.TemporaryDirectory() as d:
            pcap = os.path.join(d, "demo.pcapng")
            run_ = aclctl("--json", "--fail-sends", "1", "--fast-retry",
                          "--pcap", pcap, DEMO)
            evs = events(run_.stdout)
            decoded = aclctl("decode", pcap)
            with open(pcap, "rb") as f:
                data = f.read()
            cut = os.path.join(d, "cut.pcapng")
            with open(cut, "wb") as f:
                f.write(data[:-10])
            broken = aclctl("decode", cut)
        self.assertEqual(decoded.returncode, 0, decoded.stderr)
        frames = [l for l in decoded.stdout.decode().splitlines()
                  if l.startswith("frame ")]
        sends = of(evs, "send")
        self.assertEqual(len(frames), 2 * len(sends) + len(of(evs, "reply")))
        self.assertIn("client -> service, send token 0, opcode 4810",
                      frames[0])
        self.assertIn("refusal token 0, errno 11", frames[1])
        self.assertIn("reply token 1001, status 0x00000000 (ok)", frames[4])
        self.assertEqual(len([f for f in frames if ", send token" in f]),
                         len(sends))
        self.assertIn(b"install vlan 40 intf 7, 2 records", decoded.stdout)
        self.assertEqual(broken.returncode, 1)
        self.assertIn(b"cut short in the middle of a block", broken.stderr)
        self.assertEqual(broken.stdout, decoded.stdout[:len(broken.stdout)])
        self.assertEqual(broken.stdout.count(b"\nframe "), len(frames) - 2)
        self.assertIn(b"after %d frames" % (len(frames) - 1), broken.stderr)

    def test_a_capture_over_16_mib_is_decoded(self):
        with tempfile.TemporaryDirectory() as d:
            pcap = os.path.join(d, "one.pcapng")
            aclctl("--pcap", pcap, "-", stdin=f"add vlan 1 intf 2 {ACE}\n"
                   .encode())
            with open(pcap, "rb") as f:
                data = f.read()
            # 17 blocks of 1 MiB of a type the reader skips, between the
            # interface block and the frames.
            cut = struct.unpack_from("<I", data, 4)[0]
            cut += struct.unpack_from("<I", data, cut + 4)[0]
            size = 1 << 20
            pad = (struct.pack("<II", 0xBAD, size) + bytes(size - 12) +
                   struct.pack("<I", size))
            big = os.path.join(d, "big.pcapng")
            with open(big, "wb") as f:
                f.write(data[:cut] + pad * 17 + data[cut:])
            small, large = aclctl("decode", pcap), aclctl("decode", big)
        self.assertEqual(large.returncode, 0, large.stderr)
        self.assertIn(b"frame 3 at ", large.stdout)
        self.assertEqual(large.stdout, small.stdout)

    def test_every_cut_of_a_capture_is_refused_cleanly(self):
        with tempfile.TemporaryDirectory() as d:
            pcap = os.path.join(d, "one.pcapng")
            aclctl("--pcap", pcap, "-", stdin=f"add vlan 1 intf 2 {ACE}\n"
                   .encode())
            with open(pcap, "rb") as f:
                data = f.read()
            # Every cut inside the section and interface blocks, then every
            # fifth byte (each process costs time under the sanitizers).
            for n in list(range(32)) + list(range(32, len(data), 5)):
                r = aclctl("decode", "-", stdin=data[:n])
                self.assertIn(r.returncode, (0, 1), n)
                self.assertNotIn(b"Sanitizer", r.stderr, n)
                if n % 4 != 0 or n < 28:
                    self.assertEqual(r.returncode, 1, n)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
