#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vantrel-display on a line, as a technician and a script use it: a port
# (a pseudo-terminal standing in) read with --baud auto and recorded, the
# "likely:" line, the recording replayed with --json, a printer's answer
# recorded, and the refusals.
#   display_line_check.sh PATH_TO_vantrel-display PATH_TO_vantrel
set -euo pipefail
program=$1
vantrel=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$1"; shift; cat "$@" 2>/dev/null; exit 1; }

# A till on a pseudo-terminal, speaking CD5220 at 19200, to a display set to
# CD5220: the pseudo-terminal is not the display's own, so the speed is not
# known on it, and the bytes are read at the display's own 9600.
/usr/bin/python3 - "$program" "$work" <<'PY'
import os, pty, subprocess, sys, termios, time
program, work = sys.argv[1], sys.argv[2]
master, slave = pty.openpty()
attrs = termios.tcgetattr(master)
attrs[4] = attrs[5] = termios.B19200
termios.tcsetattr(master, termios.TCSANOW, attrs)
with open(work + "/out", "w") as out, open(work + "/err", "w") as err:
    display = subprocess.Popen([program, "--headless", "--emulation", "CD5220", "--port", os.ttyname(slave), "--baud", "auto",
                                "--record", work + "/till.rec"], stdout=out, stderr=err)
    time.sleep(0.5)
    os.write(master, b"\x0c\x1bQATOTAL 12.50\r\x1bQBTHANK YOU\r")
    time.sleep(0.5)
    display.terminate()
    sys.exit(display.wait())
PY
grep -q '^likely: CD5220.*(100% read)' "$work/out" || fail "no likely line:" "$work/out" "$work/err"
grep -q 'the speed is not known on this line; read at the display.s own 9600 bit/s' "$work/out" ||
    fail "the unknown speed is not said:" "$work/out"
grep -qx 'speed-measured: no' "$work/till.rec" || fail "the recording does not say the speed was not measured:" "$work/till.rec"
grep -qx '|TOTAL 12.50         |' "$work/out" || fail "the till's text is not shown:" "$work/out"
head -n 1 "$work/till.rec" | grep -qx 'vantrel-display recording 1' || fail "no recording header:" "$work/till.rec"
grep -q ' T 9600 0C 1B 51 41' "$work/till.rec" || fail "bytes not recorded:" "$work/till.rec"
# Its time starts with the first bytes (or speed), not with the display's start.
grep -m1 -E '^[0-9.]+ [TS] ' "$work/till.rec" | grep -q '^0\.000 ' || fail "the first chunk is not at 0.000:" "$work/till.rec"

# A socat pair, the till at 19200 on one end and the display on the other:
# the display cannot see the till's end, so it says the speed is not known
# and reads at its own, and the till's text is shown.
if command -v socat >/dev/null; then
    socat pty,raw,echo=0,link="$work/till" pty,raw,echo=0,link="$work/display" 2>"$work/socat" &
    socat=$!
    for _ in $(seq 100); do [ -e "$work/till" ] && [ -e "$work/display" ] && break; sleep 0.05; done
    /usr/bin/python3 - "$program" "$work" <<'PY'
import os, subprocess, sys, termios, time
program, work = sys.argv[1], sys.argv[2]
till = os.open(work + "/till", os.O_RDWR | os.O_NOCTTY)
attrs = termios.tcgetattr(till)
attrs[4] = attrs[5] = termios.B19200
termios.tcsetattr(till, termios.TCSANOW, attrs)
with open(work + "/sout", "w") as out, open(work + "/serr", "w") as err:
    display = subprocess.Popen([program, "--headless", "--emulation", "CD5220", "--port", work + "/display", "--baud", "auto"],
                               stdout=out, stderr=err)
    time.sleep(0.5)
    os.write(till, b"\x0c\x1bQASOCAT 19200\r")
    time.sleep(0.5)
    display.terminate()
    sys.exit(display.wait())
PY
    kill "$socat"
    wait "$socat" 2>/dev/null || true
    grep -q 'which does not show its writer.s speed: the speed is not known on this line' "$work/sout" ||
        fail "a socat pair's speed is named:" "$work/sout" "$work/serr"
    grep -qx '|SOCAT 19200         |' "$work/sout" || fail "the till's text is not shown:" "$work/sout"
    grep -q '|  the speed is not known on this line: read at 9600 bit/s' "$work/sout" || fail "no unknown speed in the status:" "$work/sout"
else
    echo "socat is not installed: a socat pair is not tried"
fi

# The recording at the desk, as fast as it goes, one JSON object a line; it ends by itself.
"$program" --headless --json --replay "$work/till.rec" --replay-speed 0 >"$work/json" 2>"$work/err" || fail "replay failed:" "$work/err"
grep -q '^{"event":"screen","ms":[0-9.]*,"lines":\["TOTAL 12.50         ","THANK YOU           "\]' "$work/json" || fail "no screen event:" "$work/json"
grep -q '^{"event":"reading",.*"kind":"command",.*"meaning":"upper line"}$' "$work/json" || fail "no reading event:" "$work/json"
grep -q '^{"event":"likely","ms":[0-9.]*,"speed":{"baud":9600,"measured":false},"likely":\[{"set":"CD5220","share":100}' "$work/json" || fail "no likely event:" "$work/json"

# As fast as it goes, each chunk's readings come before the screen it left,
# at the recording's own times, and two runs print the same.
printf '%s\n' 'vantrel-display recording 1' 'program: test' 'port: COM1' 'speed: 9600' 'emulation: CD5220' '' \
    '0.000 T 9600 0C 41' '12.500 T 9600 42' '12.500 E 9600 FF' '30.000 T 9600 43' >"$work/steps.rec"
for run in 1 2; do
    "$program" --headless --json --replay "$work/steps.rec" --replay-speed 0 >"$work/steps$run" 2>"$work/err" || fail "replay failed:" "$work/err"
done
cmp -s "$work/steps1" "$work/steps2" || fail "two replays differ:" "$work/steps1" "$work/steps2"
order=$(grep -v '"event":"\(likely\|start\|end\)"' "$work/steps1" | sed -E 's/^\{"event":"([a-z-]+)","ms":([0-9.]+).*/\1 \2/' | tr '\n' ' ')
[ "$order" = "screen 0.000 reading 0.000 reading 0.000 screen 0.000 reading 12.500 screen 12.500 reading 12.500 screen 12.500 reading 30.000 screen 30.000 notice 30.000 screen 30.000 " ] ||
    fail "not a chunk at a time, at the recording's times: $order"
grep -q '"bytes":"FF","meaning":"shown as garbage: they came with framing errors at 9600 bit/s' "$work/steps1" || fail "no framing errors said:" "$work/steps1"

# A printer behind the display on its own pseudo-terminal: its answer to the
# host's status request reaches the host, and is recorded and printed as the
# display's way to the till.
/usr/bin/python3 - "$program" "$work" <<'PY' || fail "the printer's answer did not pass:" "$work/perr"
import os, select, subprocess, sys, time
program, work = sys.argv[1], sys.argv[2]
def read(fd, n):
    got = b""
    while len(got) < n and select.select([fd], [], [], 5)[0]:
        got += os.read(fd, n - len(got))
    return got
with open(work + "/pout", "w") as out, open(work + "/perr", "w") as err:
    display = subprocess.Popen([program, "--headless", "--json", "--emulation", "ESCPOS", "--link", work + "/till",
                                "--printer", work + "/prn", "--record", work + "/printer.rec"], stdout=out, stderr=err)
    for _ in range(100):
        if os.path.islink(work + "/till") and os.path.islink(work + "/prn"):
            break
        time.sleep(0.05)
    host = os.open(work + "/till", os.O_RDWR | os.O_NOCTTY)
    printer = os.open(work + "/prn", os.O_RDWR | os.O_NOCTTY)
    os.write(host, b"\x1b=\x01\x10\x04\x01")
    request = read(printer, 3)
    os.write(printer, b"\x12\x16")
    answer = read(host, 2)
    time.sleep(0.3)
    display.terminate()
    display.wait()
    sys.exit(0 if (request, answer) == (b"\x10\x04\x01", b"\x12\x16") else 1)
PY
grep -q ' P 9600 10 04 01$' "$work/printer.rec" && grep -q ' D 9600 12 16$' "$work/printer.rec" || fail "the answer is not recorded:" "$work/printer.rec"
grep -q '^{"event":"to-till","ms":[0-9.]*,"bytes":"12 16"}$' "$work/pout" || fail "no to-till event:" "$work/pout"
# Its replay gives the printer's bytes again, and a recording of the replay keeps them.
grep -q '^{"event":"printer","ms":[0-9.]*,"bytes":"10 04 01"}$' "$work/pout" || fail "no printer event:" "$work/pout"
"$program" --headless --json --replay "$work/printer.rec" --replay-speed 0 --record "$work/again.rec" >"$work/pjson" 2>"$work/err" ||
    fail "replay failed:" "$work/err"
grep -q '^{"event":"printer","ms":[0-9.]*,"bytes":"10 04 01"}$' "$work/pjson" || fail "no printer event in the replay:" "$work/pjson"
grep -q ' P 9600 10 04 01$' "$work/again.rec" || fail "the recording of the replay lost the printer's bytes:" "$work/again.rec"

# The till's bytes put on a line again, to a display on its pseudo-terminal.
"$program" --headless --link "$work/com1" --emulation CD5220 >"$work/again" 2>&1 &
display=$!
for _ in $(seq 100); do [ -L "$work/com1" ] && break; sleep 0.05; done
"$vantrel" send --port "$work/com1" --replay "$work/till.rec" 2>"$work/err" || { kill "$display"; fail "send --replay failed:" "$work/err"; }
sleep 0.3
kill "$display"; wait "$display" || true
grep -qx '|THANK YOU           |' "$work/again" || fail "the replayed bytes did not arrive:" "$work/again"
printf 'x\n' >"$work/not-a-recording"
if "$vantrel" send --port "$work/com1" --replay "$work/not-a-recording" 2>"$work/err2"; then fail "sent a file that is no recording"; fi
grep -q 'not a vantrel-display recording' "$work/err2" || fail "no reason:" "$work/err2"

# Refusals: an existing recording, a damaged one, one port tapped to itself.
if "$program" --headless --port /dev/null --record "$work/till.rec" 2>"$work/err"; then fail "started on /dev/null"; fi
grep -q 'not a serial device' "$work/err" || fail "no reason for /dev/null:" "$work/err"
cp "$work/till.rec" "$work/good.rec"
sed -i 's/^vantrel-display recording 1$/vantrel-display recording 7/' "$work/till.rec"
if "$program" --headless --replay "$work/till.rec" 2>"$work/err"; then fail "replayed a recording of another version"; fi
grep -q 'a recording of format version 7; this vantrel-display reads version 1; nothing is replayed' "$work/err" || fail "no reason:" "$work/err"
printf 'x' >"$work/exists"
if "$program" --headless --replay "$work/good.rec" --record "$work/exists" 2>"$work/err"; then fail "overwrote a file"; fi
grep -q 'the file exists; it is never overwritten without --force' "$work/err" || fail "no reason:" "$work/err"
[ "$(cat "$work/exists")" = x ] || fail "the existing file changed"
ln "$work/good.rec" "$work/hard.rec"
ln -s good.rec "$work/soft.rec"
for same in "$work/hard.rec" "$work/soft.rec" "$work/../$(basename "$work")/good.rec"; do
    if "$program" --headless --replay "$work/good.rec" --record "$same" --force 2>"$work/err"; then fail "recorded over the replayed file as $same"; fi
    grep -q 'name the same file' "$work/err" || fail "no reason for $same:" "$work/err"
done
cmp -s "$work/good.rec" "$work/hard.rec" && [ -s "$work/good.rec" ] || fail "the replayed file changed"
for other in "--replay $work/good.rec --state" --link; do
    # shellcheck disable=SC2086
    if "$program" --headless --record "$work/one" $other "$work/one" 2>"$work/err"; then fail "--record and $other shared a file"; fi
    grep -q "and --record name the same path" "$work/err" && [ ! -e "$work/one" ] || fail "no refusal for $other:" "$work/err"
done
mkfifo "$work/pipe"
if timeout 5 "$program" --headless --replay "$work/good.rec" --record "$work/pipe" --force 2>"$work/err"; then fail "recorded into a pipe"; fi
grep -q 'not a regular file' "$work/err" || fail "no reason for a pipe:" "$work/err"
for device in /dev/null /dev/tty; do
    for force in "" --force; do
        # shellcheck disable=SC2086
        if "$program" --headless --replay "$work/good.rec" --record "$device" $force 2>"$work/err"; then fail "recorded onto $device $force"; fi
        grep -q 'not a regular file' "$work/err" || fail "no reason for $device $force:" "$work/err"
    done
done
# A port name means one thing to the display and to vantrel send: the same refusal, a wrong command line.
for name in COM05 COM011 COM "COM 1" COM0 COM12; do
    for run in "$program --port" "$program --tap /dev/null" "$vantrel send --dry-run --clear --port"; do
        # shellcheck disable=SC2086
        status=0; $run "$name" >/dev/null 2>"$work/err" || status=$?
        [ "$status" = 2 ] || fail "$run '$name': status $status, not 2:" "$work/err"
        reason=$(head -n 1 "$work/err" | sed 's/^[^:]*: \(--[a-z]*: \)\?//')
        [ -z "${first:-}" ] || [ "$reason" = "$first" ] || fail "$run '$name' says otherwise: $reason, not $first"
        first=$reason
    done
    first=
done
# A folder or a pipe is said as what it is, with --force or without: no file that exists.
for force in "" --force; do
    for target in "$work" "$work/pipe"; do
        # shellcheck disable=SC2086
        if timeout 5 "$program" --headless --replay "$work/good.rec" --record "$target" $force 2>"$work/err"; then fail "recorded into $target"; fi
        want='not a regular file'; [ "$target" = "$work" ] && want='a folder, not a regular file'
        grep -q ": $want\$" "$work/err" || fail "no reason for $target $force:" "$work/err"
    done
done
# Names and a header's words reach the terminal escaped: the recording's name,
# its unknown emulation, the note of its cut-short end, a path named twice.
odd="$work/a$(printf '\033')[2J.rec"
printf '%s\n' 'vantrel-display recording 1' 'program: test' 'port: COM1' 'speed: 9600' 'emulation: NOPE' '' '0.000 T 9600 41' >"$odd"
printf '1.000 T 96' >>"$odd"
"$program" --headless --replay "$odd" --replay-speed 0 >/dev/null 2>"$work/err" || fail "replay failed:" "$work/err"
[ "$(grep -c 'a\\x1B\[2J.rec' "$work/err")" = 2 ] && grep -q "emulation 'NOPE' is none" "$work/err" || fail "names not escaped:" "$work/err"
if "$program" --headless --state "$odd" --record "$odd" 2>"$work/err"; then fail "--state and --record shared a file"; fi
grep -q "name the same path '.*a\\\\x1B\\[2J.rec'$" "$work/err" || fail "the path is not escaped:" "$work/err"
printf '%s\n' 'vantrel-display recording 1' 'program: test' 'port: COM1' 'speed: 9600' "emulation: CD5220$(printf '\302\205')" '' >"$odd"
if "$program" --headless --replay "$odd" 2>"$work/err"; then fail "replayed a header with a C1 control"; fi
grep -q 'line 5: a control character in the header' "$work/err" || fail "no reason for a C1 control:" "$work/err"
! grep -q "$(printf '\033')" "$work/err" || fail "a raw escape reached the terminal:" "$work/err"

for speed in 1e-12 0x10 " 2" -1 +2 nan 2000000 1e3 2.; do
    if "$program" --headless --replay "$work/good.rec" --replay-speed "$speed" >/dev/null 2>"$work/err"; then fail "took --replay-speed '$speed'"; fi
    grep -q 'a factor from 0.001 to 1000000' "$work/err" || fail "no reason for --replay-speed '$speed':" "$work/err"
done
echo "display on a line as expected"
