#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A point-of-sale test reading vantrel-display's JSON (docs/json.md).

A fake till writes a sale (with a cursor position out of range and a command
the display does not know) to the display's own pseudo-terminal, then a byte
at a speed the display does not expect; the test reads the events and checks
what a till's test suite would check. Only Python's standard library is used.

    python3 docs/json_example.py PATH_TO_vantrel-display
"""
import json
import os
import signal
import subprocess
import sys
import termios
import time

KINDS = {"text", "command", "unread", "garbage", "out-of-range", "malformed"}


def till(path):
    """Writes an ESC/POS sale at 9600 bit/s, then one byte at 19200."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    sent = 0
    for speed, data in ((termios.B9600, b"\x0cTOTAL 3.50\x1f$\x63\x09\x1bz\x01"), (termios.B19200, b"X")):
        attrs = termios.tcgetattr(fd)
        attrs[4] = attrs[5] = speed
        termios.tcsetattr(fd, termios.TCSADRAIN, attrs)
        time.sleep(0.2)
        sent += os.write(fd, data)
        time.sleep(0.3)
    os.close(fd)
    return sent


def main(program):
    display = subprocess.Popen([program, "--headless", "--json", "--emulation", "ESCPOS"],
                               stdout=subprocess.PIPE, text=True)
    # The first line is the start event: it names the line to write to.
    start = json.loads(display.stdout.readline())
    assert start["event"] == "start" and start["version"] == 1, start
    assert start["line"]["kind"] == "pty" and start["emulation"] == "ESCPOS", start
    sent = till(start["line"]["path"])
    display.send_signal(signal.SIGTERM)
    events = [start] + [json.loads(line) for line in display.stdout]
    assert display.wait() == 0

    # Every event has a time, and no time is before the one before it.
    times = [event["ms"] for event in events]
    assert times == sorted(times), times
    readings = [event for event in events if event["event"] == "reading"]
    assert all(reading["kind"] in KINDS for reading in readings), readings
    kinds = [reading["kind"] for reading in readings]
    assert kinds == ["command", "text", "out-of-range", "unread", "garbage"], kinds
    screens = [event for event in events if event["event"] == "screen"]
    assert screens[-1]["lines"][0].startswith("TOTAL 3.50"), screens[-1]
    assert screens[-1]["speed"] == {"baud": 19200, "measured": True}, screens[-1]

    # The last event counts what came.
    end = events[-1]
    assert end["event"] == "end" and end["reason"] == "stopped", end
    assert end["bytes"]["till-to-display"] == sent and end["bytes"]["garbage"] == 1, end
    assert end["readings"] == len(readings), end
    # Readers skip the events they do not know: nothing else is assumed.
    print("%d events, %d readings, %d bytes: as expected" % (len(events), len(readings), sent))


if __name__ == "__main__":
    main(sys.argv[1])
