// What `aclsvc-sim --help` prints.
#pragma once

namespace ostrel::aclsvc {

inline constexpr const char *kUsage =
    "usage: aclsvc-sim --socket PATH [OPTIONS]\n"
    "The simulated ACL service: listens on the Unix-domain socket PATH,\n"
    "validates and applies every message, replies with a 4-byte status\n"
    "(0 applied, 0xe0000001 malformed, 0xe0000002 another opcode),\n"
    "answers table queries of any size in pages, stops on SIGTERM or\n"
    "SIGINT and restarts on SIGHUP (see --restart-after).\n"
    "\n"
    "options:\n"
    "  --fail-sends N       refuse the first N sends\n"
    "  --fail-errno E       with error number E (default 11)\n"
    "  --drop-replies N     accept the next N sends but never reply\n"
    "  --delay-ms MS        delay every reply by MS milliseconds\n"
    "  --restart-after N    restart once, after answering the Nth accepted\n"
    "                       send: forget the table, close every\n"
    "                       connection and keep listening (clients of the\n"
    "                       socket transport connect again)\n"
    "  --ready-fd FD        write \"ready\\n\" to FD once listening\n"
    "  --log-format FORMAT  text (default) or json: one JSON object per\n"
    "                       event and line on stdout\n"
    "  --pcap FILE          write every frame, both directions, as pcapng\n"
    "  --quiet              no log on stdout (refused and dropped clients\n"
    "                       are still logged)\n"
    "  --mode OCTAL         socket file mode (default 0600, 0660 with\n"
    "                       --group), whatever the umask\n"
    "  --group NAME         group of the socket file\n"
    "  --allow-uid UID,...  peers served by uid (SO_PEERCRED)\n"
    "  --allow-gid GID,...  peers served by gid; with neither option, the\n"
    "                       daemon's own uid and root\n"
    "  -h, --help           this text\n"
    "  --version            the version; the daemon is not started\n"
    "Numbers are decimal, or hexadecimal after 0x.\n"
    "\n"
    "exit status: 0 stopped by a signal, 1 the socket could not be set up\n"
    "(another service listens at PATH, or PATH is not a socket), 2 bad\n"
    "command line (unknown option, no such --group, a socket path over\n"
    "107 bytes).\n"
    "The words of the log (ACE, qualifier, closing record, word0, the TLV\n"
    "fields): docs/glossary.md, installed as\n"
    "share/doc/ostrelapi/glossary.md.\n";

} // namespace ostrel::aclsvc
