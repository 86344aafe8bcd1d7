#!/usr/bin/env python3
"""Runs the ```sh blocks of Markdown documents as written, so that a recipe
that no longer works fails the suite.

Usage: run_doc_blocks.py SOURCE_DIR DOCUMENT...

Every block runs in its own `bash` with `set -euo pipefail`, from SOURCE_DIR,
with the build tree in place: the documents name build/default, the tree
of the `default` preset, so the test is registered in that tree only (in
another one, a block's `cmake --preset default` would reconfigure the
tree under test). A block that starts a program in the background is
cleaned up with its process group when it ends; one that takes more than
TIMEOUT seconds fails.

Conventions for document authors:
- A block that cannot run here is marked by an HTML comment on the last
  non-blank line before its fence, with the reason:
      <!-- not run: needs root -->
  It is listed as skipped.
- `cmake --workflow --preset test` is the suite that is running this very
  test: it is not run again (that would rebuild and rerun everything,
  this test included). The block gets a `cmake` that builds the default
  preset's tree instead, which is up to date and so costs nothing, and
  passes every other command line to the real cmake. Any other
  `cmake --workflow` in a block fails the test: mark such a block
  not run, or point it at something cheap.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile

TIMEOUT = 120
NOT_RUN = re.compile(r"^<!--\s*not run:\s*(.+?)\s*-->$")

# Shadows cmake inside a block (see the module comment).
PRELUDE = r"""
cmake() {
  if [[ $# -ge 3 && $1 == --workflow ]]; then
    if [[ $2 == --preset && $3 == test ]]; then
      command cmake --build --preset default
      return
    fi
    echo "doc block: 'cmake $*' would rebuild a whole tree; mark the block" \
         "<!-- not run: REASON -->" >&2
    return 1
  fi
  command cmake "$@"
}
set -euo pipefail
"""


def sh_blocks(path):
    """Yields (line number, skip reason or None, text) of each ```sh block."""
    with open(path, encoding="utf-8") as document:
        lines = document.read().splitlines()
    index = 0
    while index < len(lines):
        if lines[index].strip() != "```sh":
            index += 1
            continue
        start = index
        previous = next((l.strip() for l in reversed(lines[:start]) if l.strip()), "")
        marker = NOT_RUN.match(previous)
        end = start + 1
        while end < len(lines) and lines[end].strip() != "```":
            end += 1
        if end == len(lines):
            raise SystemExit(f"{path}:{start + 1}: ```sh block is never closed")
        yield start + 1, marker.group(1) if marker else None, "\n".join(lines[start + 1:end])
        index = end + 1


def run_block(directory, text):
    """Runs one block; returns (exit status, combined output). The output
    goes to a file, not a pipe, so that a program the block left in the
    background cannot hold the block open."""
    with tempfile.TemporaryFile() as output:
        process = subprocess.Popen(["bash", "-c", PRELUDE + text + "\n"], cwd=directory,
                                   stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            status = process.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            status = -1
        try:
            os.killpg(process.pid, signal.SIGKILL)  # what the block left running
        except ProcessLookupError:
            pass
        process.wait()
        output.seek(0)
        text = output.read().decode(errors="replace")
    if status == -1:
        text += f"timed out after {TIMEOUT} s\n"
    return status, text


def main():
    source_dir, documents = sys.argv[1], sys.argv[2:]
    counts = run_documents(source_dir, documents)
    if counts["passed"] + counts["failed"] == 0:
        print("no runnable ```sh block found")
        return 1
    print("doc_blocks: {passed} passed, {failed} failed, {skipped} skipped".format(**counts))
    return 1 if counts["failed"] else 0


def run_documents(source_dir, documents):
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    for document in documents:
        name = os.path.relpath(document, source_dir)
        for line, skip, text in sh_blocks(document):
            where = f"{name}:{line}"
            if skip is not None:
                print(f"SKIP {where}: {skip}")
                counts["skipped"] += 1
                continue
            status, output = run_block(source_dir, text)
            if status == 0:
                print(f"PASS {where}")
                counts["passed"] += 1
            else:
                print(f"FAIL {where} (exit {status}):\n{text}\n--- output ---\n{output}")
                counts["failed"] += 1
    return counts


if __name__ == "__main__":
    sys.exit(main())
