#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vantrel.exe under Wine writes to the Linux virtual display: Wine's COM1 is
# mapped in the registry onto the display's pseudo-terminal (Wine rewrites its
# dosdevices links at every start, so only the registry holds).
#   wine_e2e_check.sh VANTREL_EXE HOST_VANTREL_DISPLAY WINE_RUN [PANEL_TEST_EXE]
set -euo pipefail
exe=$1 display=$2 wine_run=$3 panel_test=${4:-}
work=$(mktemp -d)
trap 'kill -CONT "$pid" 2>/dev/null || true; kill "$pid" "${reader:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$display" --headless --link "$work/com1" >"$work/out" 2>"$work/err" &
pid=$!
# COM2 and COM12: a pseudo-terminal that no one but this script reads; every
# byte that reaches it lands in com2.bytes.
/usr/bin/python3 -c '
import os, sys
master, slave = os.openpty()
os.symlink(os.ttyname(slave), sys.argv[1])
with open(sys.argv[2], "ab", buffering=0) as out:
    while True:
        out.write(os.read(master, 4096))
' "$work/com2" "$work/com2.bytes" &
reader=$!
for _ in $(seq 100); do [ -L "$work/com1" ] && [ -L "$work/com2" ] && break; sleep 0.05; done
[ -L "$work/com1" ] || { echo "the display made no line"; cat "$work/err"; exit 1; }
[ -L "$work/com2" ] || { echo "no second line"; exit 1; }
slave=$(readlink "$work/com1")

ports='HKLM\Software\Wine\Ports'
"$wine_run" reg add "$ports" /v COM1 /d "$slave" /f >/dev/null
"$wine_run" reg add "$ports" /v COM2 /d "$(readlink "$work/com2")" /f >/dev/null
"$wine_run" reg add "$ports" /v COM12 /d "$(readlink "$work/com2")" /f >/dev/null
"$wine_run" reg delete "$ports" /v COM7 /f >/dev/null 2>&1 || true
"$wine_run" cmd /c 'del %APPDATA%\Vantrel\ports.conf 2>NUL' || true  # one that a failed run left
wineserver -w  # the next start reads the ports from the registry

fail() { echo "$1"; echo "--- display:"; tail -n 20 "$work/out"; exit 1; }
# send ARGS...: runs vantrel.exe send, keeping its status, output and time.
send() {
    local start=$(date +%s%N)
    set +e
    "$wine_run" "$exe" send "$@" >"$work/send.out" 2>"$work/send.err"
    status=$?
    set -e
    took_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    sleep 0.3  # the display prints what it got
}
screen() { grep -qxF "$1" "$work/out" || fail "not on the screen: '$1'"; }

# The help names Windows' own places, none of Linux's.
help=$("$wine_run" "$exe" --help | tr -d '\r')
grep -qF '%APPDATA%\Vantrel\ports.conf' <<<"$help" && grep -qF "Windows' own COMn" <<<"$help" &&
    ! grep -qE 'XDG|/dev/ttyS|dialout' <<<"$help" || fail "the help is not Windows': $help"

send --port COM1 "HELLO FROM WINE" "SECOND LINE"
[ "$status" = 0 ] || fail "send exited $status: $(cat "$work/send.err")"
screen '|HELLO FROM WINE     |'
screen '|SECOND LINE         |'
echo "two lines shown; vantrel.exe send took $took_ms ms"

send --port COM1 --sample 1
[ "$status" = 0 ] || fail "--sample exited $status"
send --port COM1 --page A0
[ "$status" = 0 ] || fail "--page exited $status"
screen '|áíóúñÑªº¿⌐¬½¼¡«»    |'
echo "a sample and a test page sent"

# The panel opens COM1 and a click on Send puts both lines on the display.
if [ -n "$panel_test" ]; then
    set +e
    "$wine_run" "$panel_test" --gtest_filter='*PanelOnDisplay*' >"$work/panel.out" 2>&1
    status=$?
    set -e
    [ "$status" = 0 ] || fail "the panel's test exited $status: $(tail -n 8 "$work/panel.out")"
    sleep 0.3
    screen '|PANEL ON WINDOWS    |'
    screen '|CLICKED SEND        |'
    echo "the panel's Send shows both lines"
fi

# The speed set through SetCommState reaches the line: the display, told to
# expect 19200 bit/s, reports that the next write came at the old 9600; and
# one at 4800 is reported as such. (Last of the display's checks: it keeps
# expecting 19200.)
send --port COM1 --set 19200
[ "$status" = 0 ] || fail "--set 19200 exited $status"
send --port COM1 --baud 9600 "AT THE OLD SPEED"
grep -q 'line at 9600 bit/s, display expects 19200' "$work/out" || fail "no speed mismatch reported"
send --port COM1 --baud 4800 --clear --clear --clear
[ "$status" = 0 ] || fail "--baud 4800 exited $status"
# On a busy machine the bytes right after the change can reach the display
# in one read with the change's notice, and count at the old speed; a second
# run's come after it.
send --port COM1 --baud 4800 --clear
[ "$status" = 0 ] || fail "a second --baud 4800 exited $status"
grep -q 'line at 4800 bit/s, display expects 19200' "$work/out" || fail "the line's 4800 bit/s not seen"
echo "the speeds set reach the line"

send --port COM7 "NOBODY"
[ "$status" = 3 ] || fail "an unmapped COM7 exited $status"
grep -q 'no such device' "$work/send.err" || fail "no reason for COM7: $(cat "$work/send.err")"
grep -qE 'serial ports on this computer: COM1, COM2(, COM[3-9])*, COM12([^0-9]|$)' "$work/send.err" ||
    fail "a missing COM7 names no ports, or not in order: $(cat "$work/send.err")"
list=$("$wine_run" "$exe" --list-ports | tr -d '\r')
grep -qE '^-  +COM12 +discovered +present' <<<"$list" && grep -qE 'add the line COM[3-9]=COM12 to' <<<"$list" ||
    fail "COM12 is not listed with its mapping line: $list"
echo "COM12 is listed, and named with the others when a port is missing"

# A COM name in any case or with one colon is the panel's, mapped as the
# panel maps it: with VANTREL_COM1=COM2 it reaches COM2, never Windows' own
# COM1 (the display); so does COM3=COM2 in the mapping file. A device alias,
# a name Windows would cut short, a folder and a mapping of such a name write
# nowhere and say why.
"$wine_run" cmd /c 'mkdir %APPDATA%\Vantrel 2>NUL & echo COM3=com2:> %APPDATA%\Vantrel\ports.conf' || true  # (mkdir's status)
reached() { grep -qF "$1" "$work/com2.bytes" 2>/dev/null; }
for port in com1 COM1: cOm1; do
    VANTREL_COM1=COM2 send --port "$port" "MAPPED $port"
    [ "$status" = 0 ] && reached "MAPPED $port" || fail "--port $port with VANTREL_COM1=COM2: status $status, $(cat "$work/send.err")"
done
send --port com3 "FROM THE FILE"
[ "$status" = 0 ] && reached "FROM THE FILE" || fail "--port com3 with COM3=com2: in the file: status $status, $(cat "$work/send.err")"
refused() {  # refused STATUS WORDS ARGS...: exits STATUS, says WORDS, writes nothing
    local want=$1 words=$2
    shift 2
    send "$@" "REFUSED"
    [ "$status" = "$want" ] && grep -qF "$words" "$work/send.err" ||
        fail "$* exited $status (not $want) or did not say '$words': $(cat "$work/send.err")"
}
refused 2 'the Windows device alias AUX' --port AUX
refused 2 "is not a port name: write COM1" --port 'COM1 '
refused 2 'the Windows device alias NUL' --port 'nul.txt'
VANTREL_COM1='COM2 ' refused 3 "VANTREL_COM1: 'COM2 ' is not a port name" --port COM1
refused 3 'not a serial device' --port 'C:\windows'
for port in 'COM1:x' 'COM1:COM2' "COM1"$'\n' "COM1"$'\x7f' 'AUX:x' '\\.\COM1 ' '\\.\COM12.'; do
    VANTREL_COM1=COM2 send --port "$port" "REFUSED"
    [ "$status" = 2 ] && grep -qE "is not a port name|device alias AUX|Windows drops blanks" "$work/send.err" ||
        fail "--port $port exited $status, not the usage error: $(cat "$work/send.err")"
done
VANTREL_COM1='COM1:x' refused 3 "VANTREL_COM1: 'COM1:x' is not a port name" --port COM1
grep -q REFUSED "$work/out" "$work/com2.bytes" && fail "a refused name wrote to a port"
grep -q MAPPED "$work/out" && fail "a mapped COM1 reached Windows' own COM1"
"$wine_run" cmd /c 'del %APPDATA%\Vantrel\ports.conf' || true
echo "COM names in any case or with a colon are mapped; aliases, blanks and folders refused"

# A write that the line does not take purges the output queue: it names the
# writes before it that the purge may have taken, in Linux's words; when it
# names none, every one of them arrives.
kill -STOP "$reader"
before=$(stat -c %s "$work/com2.bytes")
args=()
for _ in $(seq 1000); do args+=(--full-light); done
send --port COM2 --explain "${args[@]}"
kill -CONT "$reader"
sleep 1
[ "$status" = 1 ] || fail "a stuck COM2 exited $status: $(cat "$work/send.err")"
ok=$(( $(grep -c '^Full Light:' "$work/send.out") - 1 ))
arrived=$(( $(stat -c %s "$work/com2.bytes") - before ))
grep -qE "; (the $ok writes before it|bytes queued by earlier writes \(the $ok before it in this run, or of earlier runs\)) may have been discarded with it" "$work/send.err" || [ "$arrived" -ge $((40 * ok)) ] ||
    fail "$ok writes went out before the stuck one, $arrived bytes arrived, and no word of it: $(cat "$work/send.err")"
echo "a stuck write after $ok others: $(grep -oE '(the [0-9]* writes before it|bytes queued by earlier writes [^)]*\)) may have been discarded' "$work/send.err" || echo "nothing discarded")"
send --port rfc2217://till:2217 "NET"
[ "$status" = 3 ] && grep -q 'network ports are not available in this build' "$work/send.err" ||
    fail "a network port: status $status, $(cat "$work/send.err")"

# A far end that reads nothing: the line fills, and then a write gives up
# within its bound. Windows caps a command line at 32767 characters, so the
# line is filled in a few runs of nine frames of 1000 bytes.
kill -STOP "$pid"
frame=$(head -c 1000 /dev/zero | tr '\0' 'A' | sed 's/A/41 /g')
args=()
for _ in $(seq 9); do args+=(--bytes "$frame"); done
for _ in $(seq 8); do
    send --port COM1 "${args[@]}"
    [ "$status" = 0 ] || break
done
kill -CONT "$pid"
[ "$status" = 1 ] || fail "a stalled line exited $status: $(cat "$work/send.err")"
grep -q 'within the write' "$work/send.err" || fail "no reason for the stalled line: $(cat "$work/send.err")"
# What the earlier runs queued may go with the stuck write's purge: it says so.
grep -qF 'or of earlier runs) may have been discarded with it from the output queue' "$work/send.err" ||
    grep -qF 'bytes queued by earlier writes (of earlier runs) may have been discarded' "$work/send.err" ||
    fail "no word of the earlier runs' bytes: $(cat "$work/send.err")"
echo "a line that takes nothing: the run failed in $took_ms ms: $(grep -m1 'within' "$work/send.err")"
echo "vantrel.exe on Wine's COM1 as expected"
