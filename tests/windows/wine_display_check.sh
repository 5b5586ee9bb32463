#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vantrel-display.exe under Wine, on COM ports mapped to pseudo-terminals:
# vantrel.exe send on COM13 reaches the display on COM14 (socat joins the
# two), named COM4 through VANTREL_COM4 as the panel names it, recorded; the
# display on \\.\COM15 reads what this script writes to a pseudo-terminal
# itself, with --baud auto and --json; the recording made here replays the
# same on Linux and is put on a line again by send --replay; a line that goes
# away is said and waited for without a busy loop; a tap between COM16 and
# COM17 passes a flood both ways byte for byte. Ports above COM12 leave the
# numbers that Wine gives the machine's own serial ports as they were.
# Started as a scheduler starts it (SCHEDULER_START: no console window, standard
# handles redirected), a failed start ends at once with its status.
#   wine_display_check.sh DISPLAY_EXE VANTREL_EXE HOST_DISPLAY WINE_RUN SCHEDULER_START
set -euo pipefail
display=$1 exe=$2 host=$3 wine_run=$4 scheduler=$5
work=$(mktemp -d)
pids=()
ports='HKLM\Software\Wine\Ports'
unmap() { for n in 13 14 15 16 17; do "$wine_run" reg delete "$ports" /v COM$n /f >/dev/null 2>&1 || true; done; }
trap 'kill "${pids[@]}" 2>/dev/null || true; unmap; rm -rf "$work"' EXIT
fail() {
    echo "$1"
    shift
    for f in "$@"; do echo "--- ${f##*/}:"; tail -n 30 "$f" | tr -d '\r'; done
    exit 1
}
wait_for() {  # wait_for PATTERN FILE: up to 10 s
    for _ in $(seq 200); do grep -qE "$1" "$2" 2>/dev/null && return 0; sleep 0.05; done
    return 1
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# COM13 and COM14 name the links, so that a pair made again is the same two ports.
join_pair() {
    socat pty,raw,echo=0,link="$work/till" pty,raw,echo=0,link="$work/com4" &
    socat=$!
    pids+=("$socat")
}
join_pair
# COM15: a pseudo-terminal that this script writes a CD5220 till's bytes to,
# twice over, once the file "go" is there.
/usr/bin/python3 -c '
import os, sys, time, tty
master, slave = os.openpty()
tty.setraw(slave)  # a wire: Wine leaves the line discipline as it finds it
os.symlink(os.ttyname(slave), sys.argv[1] + "/com5")
while not os.path.exists(sys.argv[1] + "/go"):
    time.sleep(0.05)
for _ in range(2):
    os.write(master, b"\x0c\x1bQATOTAL 12.50\r\x1bQBTHANK YOU\r")
    time.sleep(0.2)
time.sleep(60)
' "$work" &
pids+=($!)
# The tap's: the till writes at till-end and the tap reads COM16; the tap
# writes COM17 and the display reads display-end.
socat pty,raw,echo=0,link="$work/till-end" pty,raw,echo=0,link="$work/com16" &
pids+=($!)
socat pty,raw,echo=0,link="$work/com17" pty,raw,echo=0,link="$work/display-end" &
displayside=$!
pids+=("$displayside")
for _ in $(seq 100); do
    [ -L "$work/till" ] && [ -L "$work/com4" ] && [ -L "$work/com5" ] && [ -L "$work/com16" ] && [ -L "$work/display-end" ] && break
    sleep 0.05
done
[ -L "$work/com5" ] && [ -L "$work/com4" ] && [ -L "$work/com16" ] && [ -L "$work/display-end" ] || fail "no pseudo-terminals"

"$wine_run" reg add "$ports" /v COM13 /d "$work/till" /f >/dev/null
"$wine_run" reg add "$ports" /v COM14 /d "$work/com4" /f >/dev/null
"$wine_run" reg add "$ports" /v COM15 /d "$(readlink "$work/com5")" /f >/dev/null
"$wine_run" reg add "$ports" /v COM16 /d "$(readlink "$work/com16")" /f >/dev/null
"$wine_run" reg add "$ports" /v COM17 /d "$(readlink "$work/com17")" /f >/dev/null
"$wine_run" reg delete "$ports" /v COM8 /f >/dev/null 2>&1 || true
wineserver -w  # the next start reads the ports from the registry

# Without a port there is nothing to listen on; a port that is not there is said.
set +e
"$wine_run" "$display" --headless >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" = 2 ] && tr -d '\r' <"$work/err" | grep -q '^vantrel-display: a port is needed: --port COMn' ||
    fail "no port: status $status" "$work/err"
set +e
"$wine_run" "$display" --headless --port COM8 >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" = 1 ] && grep -q -- "--port 'COM8': " "$work/err" || fail "a missing COM8: status $status" "$work/err"
set +e
"$wine_run" "$display" --headless --port 'C:\windows' >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" = 1 ] && grep -q 'not a serial device' "$work/err" || fail "a folder as the port: status $status" "$work/err"
echo "no port, a missing port and a folder refused"

set -f  # "/?" and "\\?\" below are no patterns
# A failed start, as a scheduler starts the program: it never waits for a key.
printf 'not a recording\n' >"$work/bad.rec"
while read -r expected args; do
    set +e
    # shellcheck disable=SC2086
    "$wine_run" "$scheduler" 20000 "Z:$display" $args >"$work/out" 2>"$work/err"
    status=$?
    set -e
    [ "$status" = "$expected" ] || fail "started as a scheduler does, $args: status $status, not $expected" "$work/err"
done <<EOF2
1 --headless --json --replay Z:$work/bad.rec
1 --headless --port COM8
2 --headless --bogus
1 --port COM8
2 --bogus
EOF2
echo "failed starts under a scheduler end at once with their status"

# Port names by vantrel send's rule: one port however it is spelled, a device
# alias never taken for a port, a wrong name a wrong command line in both.
while read -r expected words args; do
    set +e
    # shellcheck disable=SC2086
    "$wine_run" $args >"$work/out" 2>"$work/err"
    status=$?
    set -e
    [ "$status" = "$expected" ] && cat "$work/out" "$work/err" | tr -d '\r' | grep -q "$words" || fail "$args: status $status, not $expected" "$work/err"
done <<EOF2
1 the.same.port $display --headless --tap COM16 //./COM16
1 the.same.port $display --headless --tap COM16 \\\\?\COM16
1 the.same.port $display --headless --tap com16 \\\\.\COM16
2 alias.COM1 $display --headless --tap COM16 COM1.txt
2 alias.COM5 $display --headless --port COM5.txt
2 alias.COM5 $exe send --port COM5.txt --clear
2 write.COM11 $display --headless --port COM011
2 write.COM11 $exe send --port COM011 --clear
2 COM.needs $exe send --port COM --dry-run --clear
0 Usage: $display /?
0 Usage: $exe /?
EOF2
set +f
"$wine_run" "$exe" send --help >"$work/out"
! grep -qiE 'network|rfc2217' "$work/out" || fail "send --help speaks of network ports, which this build lacks" "$work/out"
echo "port names: one port however spelled, aliases and wrong names refused alike"

# vantrel.exe send on COM13, the display on COM14 as COM4, recording.
VANTREL_COM4=COM14 "$wine_run" "$display" --headless --port COM4 --record "Z:$work/rec.txt" >"$work/com4.out" 2>"$work/com4.err" &
pid=$!
pids+=("$pid")
wait_for '^-- listening on COM4 \(COM14\)' "$work/com4.out" || fail "the display did not start on COM14" "$work/com4.out" "$work/com4.err"
"$wine_run" "$exe" send --port COM13 "HELLO FROM WINE" "TO THE DISPLAY" 2>"$work/send.err" || fail "send failed" "$work/send.err"
wait_for '^\|TO THE DISPLAY      \|' "$work/com4.out" || fail "the lines did not reach the display" "$work/com4.out"
grep -q '^|HELLO FROM WINE     |' "$work/com4.out" || fail "no first line" "$work/com4.out"
wait_for '^likely: ' "$work/com4.out" || fail "no likely line" "$work/com4.out"
echo "vantrel.exe send on COM13 reached vantrel-display.exe on COM14: $(grep '^likely: ' "$work/com4.out" | tail -n 1 | tr -d '\r')"

# An idle port costs no time: ReadFile waits.
before=$(cpu_ticks "$pid")
sleep 2
idle=$(( $(cpu_ticks "$pid") - before ))
[ "$idle" -le 40 ] || fail "the display used $idle ticks in 2 s on an idle port"

# The recording's till bytes on the line again: every reading comes a second time.
cp "$work/rec.txt" "$work/made-on-windows.rec"
readings=$(grep -c '^> ' "$work/com4.out")
"$wine_run" "$exe" send --port COM13 --replay "Z:$work/made-on-windows.rec" 2>"$work/send.err" || fail "send --replay failed" "$work/send.err"
for _ in $(seq 100); do [ "$(grep -c '^> ' "$work/com4.out")" -ge $((2 * readings)) ] && break; sleep 0.05; done
[ "$(grep -c '^> ' "$work/com4.out")" -ge $((2 * readings)) ] || fail "send --replay: not every reading came again" "$work/com4.out"
echo "vantrel.exe send --replay put the recording's $readings readings on COM13 again"

# A device is never recorded onto, --force or not, and a recording that is
# being written is held: a second --record --force is refused as busy and
# leaves it whole. Notepad's byte-order mark and CR LF are read past.
for device in COM5 COM5.rec COM1.txt AUX NUL CON; do
    for force in "" --force; do
        set +e
        # shellcheck disable=SC2086
        "$wine_run" "$display" --headless --replay "Z:$work/made-on-windows.rec" --record "$device" $force >"$work/out" 2>"$work/err"
        status=$?
        set -e
        [ "$status" = 1 ] && grep -q "^vantrel-display: --record '$device': not a regular file" "$work/err" ||
            fail "--record $device $force: status $status" "$work/err"
    done
done
set +e
"$wine_run" "$exe" send --port COM13 --replay CON >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" = 2 ] || [ "$status" = 3 ] && grep -q "'CON': not a regular file" "$work/err" || fail "send --replay CON: status $status" "$work/err"
# A replay that lasts ten minutes, recorded: the recording stays open as long.
printf '%s\n' 'vantrel-display recording 1' 'program: test' 'port: COM1' 'speed: 9600' 'emulation: CD5220' '' \
    '0.000 T 9600 41' '600000.000 T 9600 42' >"$work/long.rec"
"$wine_run" "$display" --headless --replay "Z:$work/long.rec" --record "Z:$work/held.rec" >"$work/held.out" 2>&1 &
holder=$!
pids+=("$holder")
wait_for '^program: ' "$work/held.rec" || fail "no recording made" "$work/held.out"
set +e
"$wine_run" "$display" --headless --replay "Z:$work/made-on-windows.rec" --record "Z:$work/held.rec" --force >"$work/out" 2>"$work/err"
status=$?
set -e
[ "$status" = 1 ] && grep -q "held.rec': busy: another program is writing it" "$work/err" || fail "a second --record --force: status $status" "$work/err"
head -n 1 "$work/held.rec" | grep -qx 'vantrel-display recording 1' || fail "the held recording lost its header" "$work/held.rec"
kill "$holder"
{ printf '\357\273\277'; sed 's/$/\r/' "$work/made-on-windows.rec"; } >"$work/notepad.rec"
"$wine_run" "$display" --headless --replay "Z:$work/notepad.rec" --replay-speed 0 >"$work/out" 2>"$work/err" ||
    fail "a recording with a byte-order mark is refused" "$work/err"
echo "devices never recorded onto, a recording held while it is written, a byte-order mark read past"

# The other end goes away (a pulled adapter): said, and waited for without a busy loop.
kill "$socat"
wait_for '^-- COM4 \(COM14\) is gone' "$work/com4.out" || fail "the display did not say COM14 is gone" "$work/com4.out"
before=$(cpu_ticks "$pid")
sleep 2
gone=$(( $(cpu_ticks "$pid") - before ))
kill -0 "$pid" || fail "the display ended when COM14 went away" "$work/com4.err"
[ "$gone" -le 40 ] || fail "the display used $gone ticks in 2 s waiting for COM14"
join_pair
wait_for '^-- COM4 \(COM14\) is back: listening again' "$work/com4.out" || fail "COM14 is back but not opened again" "$work/com4.out"
"$wine_run" "$exe" send --port COM13 "BACK AGAIN" "" 2>"$work/send.err" || fail "send failed after COM14 came back" "$work/send.err"
wait_for '^\|BACK AGAIN          \|' "$work/com4.out" || fail "the display does not read COM14 again" "$work/com4.out"
kill "$pid"
echo "COM14 gone: said and waited for ($idle and $gone ticks in 2 s idle and waiting); back: read again"

# The display on COM15 finds the speed and the command set of what is written there.
"$wine_run" "$display" --headless --json --emulation CD5220 --port '\\.\COM15' --baud auto >"$work/com5.out" 2>"$work/com5.err" &
pid=$!
pids+=("$pid")
wait_for '"--baud auto: listening on .*COM15' "$work/com5.out" || fail "the display did not start on COM15" "$work/com5.out" "$work/com5.err"
touch "$work/go"
wait_for '^\{"event":"likely","ms":[0-9.]*,"speed":\{"baud":9600,"measured":true\},"likely":\[\{"set":"CD5220","share":100\}' \
    "$work/com5.out" || fail "no likely event for CD5220 at 9600" "$work/com5.out"
head -n 1 "$work/com5.out" | grep -q '^{"event":"start","ms":0.000,"version":1,.*"line":{"kind":"port","path":"\\\\\\\\.\\\\COM15"}' ||
    fail "the first line is not the start event" "$work/com5.out"
grep -q '"lines":\["TOTAL 12.50         ","THANK YOU           "\]' "$work/com5.out" || fail "no screen event" "$work/com5.out"
grep -q '"text":"--baud auto: 9600 bit/s' "$work/com5.out" || fail "the speed found is not said" "$work/com5.out"
kill "$pid"
echo "the bytes written to COM15 read as CD5220 at 9600, found by --baud auto"

# A tap between COM16 (the till) and COM17 (the display): a flood both ways
# at once arrives byte for byte; a pulled display side is said, and the
# till's bytes are still shown.
"$wine_run" "$display" --headless --emulation CD5220 --tap COM16 COM17 --baud 9600 >"$work/tap.out" 2>"$work/tap.err" &
pid=$!
pids+=("$pid")
wait_for '^-- tapping COM16' "$work/tap.out" || fail "the tap did not start" "$work/tap.out" "$work/tap.err"
/usr/bin/python3 - "$work/till-end" "$work/display-end" <<'PY' || fail "the tap changed the flood" "$work/tap.out"
import os, random, select, sys, threading, tty
till, shown = (os.open(p, os.O_RDWR | os.O_NOCTTY) for p in sys.argv[1:3])
for fd in (till, shown):
    tty.setraw(fd)
forward = b"".join(b"\x0c\x1bQATOTAL %05d\r" % i for i in range(6000))
back = random.Random(7).randbytes(len(forward))  # a display's answers: any byte
got = {}
def way(src, dst, data):
    writer = threading.Thread(target=lambda: [os.write(src, data[i:i + 997]) for i in range(0, len(data), 997)])
    writer.start()
    buf = bytearray()
    while len(buf) < len(data) and select.select([dst], [], [], 20)[0]:
        buf += os.read(dst, 65536)
    writer.join()
    got[src] = bytes(buf)
ways = [threading.Thread(target=way, args=(till, shown, forward)), threading.Thread(target=way, args=(shown, till, back))]
for w in ways: w.start()
for w in ways: w.join()
print(f"tap: {len(got[till])} of {len(forward)} bytes to the display, {len(got[shown])} of {len(back)} back")
sys.exit(got[till] != forward or got[shown] != back)
PY
kill "$displayside"
wait_for "^-- the display's side, COM17, is gone" "$work/tap.out" || fail "the pulled display side is not said" "$work/tap.out"
# The screen takes what it can of a flood and never holds the line back: the
# till's next bytes once it has caught up.
for _ in $(seq 60); do
    size=$(stat -c %s "$work/tap.out")
    sleep 0.5
    [ "$(stat -c %s "$work/tap.out")" = "$size" ] && break
done
printf '\x0c\x1bQASTILL SHOWN\r' >"$work/till-end"
wait_for '^\|STILL SHOWN         \|' "$work/tap.out" || fail "the till's bytes are not shown without the display" "$work/tap.out"
kill "$pid"
echo "the tap passed a flood both ways byte for byte; a pulled display side is said and the till still shown"

# The recording made on Windows, replayed on Linux and on Windows: the same
# readings, last screen and ranking (when the end's notice is printed
# depends on the reader's pace, on either system).
outcome() { tr -d '\r' | awk '/^> /; /^\|/ { screen[++n] = $0 } /^likely: / { likely = $0 }
                              END { print screen[n - 1]; print screen[n]; print likely }'; }
"$host" --headless --replay "$work/made-on-windows.rec" --replay-speed 0 2>&1 | outcome >"$work/linux.out"
"$wine_run" "$display" --headless --replay "Z:$work/made-on-windows.rec" --replay-speed 0 2>&1 | outcome >"$work/windows.out"
grep -q '^|TO THE DISPLAY      |' "$work/linux.out" && grep -q '^likely: ' "$work/linux.out" ||
    fail "the recording does not replay on Linux" "$work/linux.out"
diff "$work/linux.out" "$work/windows.out" >"$work/diff" || fail "Linux and Windows replay the recording differently" "$work/diff"
echo "the recording made on Windows replays the same on Linux ($(wc -l <"$work/linux.out") lines)"
echo "vantrel-display.exe on Wine's COM ports as expected"
