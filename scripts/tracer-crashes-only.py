#!/usr/bin/env python3
"""Exits 0 when every test the last ctest run in BUILD_DIR failed died of LeakSanitizer's own
tracer crashing at exit, and 1 otherwise (any other failure, or no record of the run).

LeakSanitizer stops the world for its check at exit with a tracer thread that ptrace-attaches
to every thread of the process; in processes holding third-party thread pools (OpenImageIO,
OpenEXR, OpenCV) that tracer has now and then died of a segfault of its own after the tests
passed: it reads a bogus range of a thread's dynamic thread-local storage, in some builds
every time. A test that failed that way and nothing else is run again without the leak check;
every other failure stands as it is.

usage: tracer-crashes-only.py BUILD_DIR
"""
import pathlib
import re
import sys

TRACER_CRASH = ("Tracer caught signal", "LeakSanitizer has encountered a fatal error")
# What a real finding prints; a test that shows one of these failed for it, whatever else it shows.
FINDINGS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer: detected", "runtime error:",
            "[  FAILED  ]")


def failed_outputs(log_text):
    """Each failed test's name and output, from ctest's LastTest.log."""
    outputs = {}
    for block in re.split(r"\n-{58}\n\n", log_text):
        name = re.search(r"^\d+/\d+ Testing: (.*)$", block, re.M)
        if name and "\nTest Failed." in block:
            outputs[name.group(1)] = block
    return outputs


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    temporary = pathlib.Path(sys.argv[1]) / "Testing" / "Temporary"
    try:
        failed = [line.split(":", 1)[1]
                  for line in (temporary / "LastTestsFailed.log").read_text().splitlines()
                  if ":" in line]
        outputs = failed_outputs((temporary / "LastTest.log").read_text(errors="replace"))
    except OSError as error:
        print(f"tracer-crashes-only: {error}", file=sys.stderr)
        return 1
    if not failed:
        return 1
    for name in failed:
        output = outputs.get(name, "")
        crashed = all(marker in output for marker in TRACER_CRASH)
        if not crashed or any(finding in output for finding in FINDINGS):
            return 1
        print(f"tracer-crashes-only: {name}: LeakSanitizer's tracer crashed at exit; run again")
    return 0


if __name__ == "__main__":
    sys.exit(main())
