#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vantrel-display treated unkindly: a writer that floods the line, paths given
# as --link that are not ours to replace, paths given as --state that are no
# state file, signals and a reader of standard output that goes away, no
# display server.   display_faults_check.sh PROGRAM
set -uo pipefail
program=$1
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_link() { for _ in $(seq 100); do [ -L "$1" ] && return 0; sleep 0.05; done; return 1; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }

# A flood: resident memory stays flat, SIGTERM is answered within a second.
"$program" --headless --link "$work/flood" >/dev/null 2>&1 &
display=$!
pids+=("$display")
wait_link "$work/flood" || fail "flood: no link"
yes >"$work/flood" 2>/dev/null &
writer=$!
pids+=("$writer")
sleep 0.5
low=$(rss_kb "$display")
high=$low
for _ in $(seq 8); do
  sleep 0.5
  now=$(rss_kb "$display")
  [ "$now" -gt "$high" ] && high=$now
done
[ $((high - low)) -le 4096 ] || fail "flood: resident memory grew from $low to $high kB"
start=$(date +%s%N)
kill -TERM "$display"
wait "$display"
took=$((($(date +%s%N) - start) / 1000000))
kill "$writer" 2>/dev/null
[ "$took" -le 1000 ] || fail "flood: SIGTERM answered after $took ms"
[ ! -e "$work/flood" ] || fail "flood: link left behind"
echo "flood: resident $low..$high kB, SIGTERM answered in $took ms"

# --link: only a dangling link or a link to a pseudo-terminal is replaced.
touch "$work/regular"
mkdir "$work/folder"
ln -s "$work/regular" "$work/to-file"
ln -s "$work/nowhere" "$work/dangling"
for case in regular folder to-file; do
  for extra in "" "--emulation NOPE"; do
    # shellcheck disable=SC2086
    timeout 5 "$program" --headless --link "$work/$case" $extra >/dev/null 2>"$work/err"
    [ "$(wc -l <"$work/err")" -ge 1 ] && grep -q "vantrel-display: " "$work/err" || fail "$case $extra: no message"
    [ -e "$work/$case" ] || fail "$case $extra: deleted"
  done
done
[ -f "$work/regular" ] && [ -d "$work/folder" ] && [ -L "$work/to-file" ] || fail "a refused path changed"
"$program" --headless --link "$work/dangling" >/dev/null 2>&1 &
first=$!
pids+=("$first")
sleep 0.5
[ -c "$work/dangling" ] || fail "dangling link not replaced"
"$program" --headless --link "$work/dangling" >"$work/second-out" 2>&1 &
second=$!
pids+=("$second")
sleep 0.5
kill -TERM "$first"
wait "$first"
[ "$(readlink "$work/dangling")" = "$(head -n 1 "$work/second-out")" ] || fail "the first display's exit removed the second's link"
kill -HUP "$second"
wait "$second"
[ ! -e "$work/dangling" ] && [ ! -L "$work/dangling" ] || fail "SIGHUP left the link behind"

# --state: a display on $work/line; frames to it, waiting until its output shows a text.
start_with_state() {
  "$program" --headless --state "$1" --link "$work/line" >"$work/out" 2>"$work/err" &
  display=$!
  pids+=("$display")
  wait_link "$work/line" || fail "--state $1: no link"
}
send_until() {
  printf %b "$1" >"$work/line"
  for _ in $(seq 100); do grep -q "$2" "$work/out" && return 0; sleep 0.05; done
  fail "--state: the display never showed $2"
}
germany='\x02\x05S2\x03'

# A path refused as a state file is never written, whatever the set-up does:
# every kind is byte for byte, node and time as it was.
state=$work/state
mkdir "$state" "$state/folder"
seq 3000 >"$state/large"  # 13 KB of text
for code in 19 7F; do
  printf 'emulation=AEDEX\nspeed=9600\ninternational=USA\ncodepage=PC437\nuserchars=%s=7F4141417F\n' "$code" >"$state/userchars-$code"
done
printf 'emulation=NOPE\nspeed=9600\ninternational=USA\ncodepage=PC437\n' >"$state/damaged"
mkfifo "$state/fifo"
ln -s /dev/null "$state/to-device"
ln -s large "$state/to-large"
ln -s nowhere "$state/dangling"
kinds="large userchars-19 userchars-7F damaged fifo to-device to-large dangling folder"
# A copy of /dev/null's node, where we may make one.
if mknod "$state/device" c 1 3 2>/dev/null; then kinds="$kinds device"; else echo "--state: no device node made (not root)"; fi
snapshot() { ls -lAi --time-style=full-iso "$state"; find "$state" -type f -exec sha256sum {} +; }
before=$(snapshot)
for kind in $kinds; do
  start_with_state "$state/$kind"
  send_until "$germany" Germany
  kill -TERM "$display"
  wait "$display"
  grep -q "power-on settings, kept in memory only: the file is not written" "$work/err" || fail "--state $kind: $(cat "$work/err")"
done
after=$(snapshot)
[ "$before" = "$after" ] || fail "--state: a refused path changed: $(diff <(echo "$before") <(echo "$after"))"

# The latest set-up is on disk after the end, on each of the signals; a link
# to a state file stays a link and the file it names is saved.
kept=$work/kept
mkdir "$kept"
printf 'emulation=AEDEX\nspeed=9600\ninternational=USA\ncodepage=PC437\n' >"$kept/target"
ln -s target "$kept/link"
frames=$(for i in $(seq 300); do printf '\\x02\\x05S%d\\x03' $((i % 2)); done)
while read -r signal given saved emulation; do
  start_with_state "$kept/$given"
  send_until "$frames$germany" Germany
  kill -"$signal" "$display"
  wait "$display"
  [ "$(cat "$kept/$saved")" = "$(printf 'emulation=%s\nspeed=9600\ninternational=Germany\ncodepage=PC437' "$emulation")" ] ||
    fail "SIG$signal: $kept/$saved holds $(cat "$kept/$saved")"
  [ ! -s "$work/err" ] || fail "SIG$signal: $(cat "$work/err")"
done <<END
TERM new-1 new-1 DSP800
INT new-2 new-2 DSP800
HUP link target AEDEX
END
[ -L "$kept/link" ] || fail "--state: the link to a state file was replaced"
[ "$(ls "$kept")" = "$(printf 'link\nnew-1\nnew-2\ntarget')" ] || fail "--state: files left behind: $(ls "$kept")"

# Standard output that goes away ends the display cleanly.
("$program" --headless --link "$work/piped" | head -n 3 >/dev/null) &
pids+=($!)
wait_link "$work/piped" || fail "piped: no link"
printf 'HELLO' >"$work/piped"
for _ in $(seq 40); do [ -L "$work/piped" ] || break; sleep 0.05; done
[ ! -L "$work/piped" ] || fail "a closed standard output left the link behind"

# A window with no display server: a message, no link, no abort.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --link "$work/window" >/dev/null 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "no display server: exit $status"
grep -q "no display server" "$work/err" || fail "no display server: no message"
[ ! -L "$work/window" ] || fail "no display server: link left behind"

[ "$failures" -eq 0 ] && echo "display faults handled" && exit 0
exit 1
