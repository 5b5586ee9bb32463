#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vantrel-display treated unkindly: a writer that floods the line, a printer
# side that nobody reads, paths given as --link or --printer that are not ours
# to replace, paths given as --state that are no state file, signals and a
# reader of standard output that goes away, no display server, a wrong
# command line; the panel PANEL without a display server too.
#   display_faults_check.sh PROGRAM [PANEL]
set -uo pipefail
program=$1
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
wait_link() { for _ in $(seq 100); do [ -L "$1" ] && return 0; sleep 0.05; done; return 1; }
rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$1/status"; }
# Resident memory of process $1, every half second for at most $2 rounds,
# into low and high; after eight rounds the command $3, when given, may end
# the sampling early.
sample_rss() {
  local i now
  sleep 0.5
  low=$(rss_kb "$1")
  high=$low
  for i in $(seq "$2"); do
    sleep 0.5
    now=$(rss_kb "$1")
    [ "$now" -gt "$high" ] && high=$now
    [ -n "${3:-}" ] && [ "$i" -ge 8 ] && eval "$3" && break
  done
}

# A flood: resident memory stays flat, SIGTERM is answered within a second.
"$program" --headless --link "$work/flood" >/dev/null 2>&1 &
display=$!
pids+=("$display")
wait_link "$work/flood" || fail "flood: no link"
yes >"$work/flood" 2>/dev/null &
writer=$!
pids+=("$writer")
sample_rss "$display" 8
[ $((high - low)) -le 4096 ] || fail "flood: resident memory grew from $low to $high kB"
start=$(date +%s%N)
kill -TERM "$display"
wait "$display"
took=$((($(date +%s%N) - start) / 1000000))
kill "$writer" 2>/dev/null
[ "$took" -le 1000 ] || fail "flood: SIGTERM answered after $took ms"
[ ! -e "$work/flood" ] || fail "flood: link left behind"
echo "flood: resident $low..$high kB, SIGTERM answered in $took ms"

# A printer side that nobody reads: a till floods it, the display reads on
# (at least 1 MB passes, then text for the display shows), memory stays flat,
# the drop is counted. (The hex of every chunk passed is left out of the file.)
"$program" --headless --link "$work/till" --printer "$work/printer" --emulation ESCPOS \
  > >(grep --line-buffered -v '^printer ' >"$work/till-out") 2>&1 &
display=$!
pids+=("$display")
wait_link "$work/till" && wait_link "$work/printer" || fail "printer: no links"
{ printf '\x1b=\x01'; exec yes 'RECEIPT LINE'; } >"$work/till" &
writer=$!
pids+=("$writer")
# Four seconds at least, and until 1 MB has passed (slow under the sanitizers).
passed_mb() {
  local bytes
  bytes=$(tail -c 4096 "$work/till-out" | grep -Eo '[0-9]+ bytes for the printer' | tail -n 1 | awk '{print $1}')
  [ "${bytes:-0}" -ge 1048576 ]
}
sample_rss "$display" 60 passed_mb
kill "$writer"
wait "$writer" 2>/dev/null
printf '\x1b=\x02AFTER' >"$work/till"
# What the line still holds is read first: slow under the sanitizers.
for _ in $(seq 100); do grep -q '^|AFTER' "$work/till-out" && break; sleep 0.1; done
[ $((high - low)) -le 4096 ] || fail "printer: resident memory grew from $low to $high kB"
grep -q '^|AFTER' "$work/till-out" || fail "printer: the display stopped reading"
passed=$(grep -Eo '[0-9]+ bytes for the printer, [1-9][0-9]* dropped;' "$work/till-out" | tail -n 1 | tr -d ';')
[ -n "$passed" ] || fail "printer: the drop is not counted"
[ "$(echo "$passed" | awk '{print $1}')" -ge 1048576 ] 2>/dev/null || fail "printer: less than 1 MB passed: $passed"
kill -TERM "$display"
wait "$display"
[ ! -e "$work/printer" ] && [ ! -L "$work/printer" ] || fail "printer: link left behind"
echo "printer nobody reads: resident $low..$high kB, $passed"

# --link and --printer: only a dangling link or a link to a pseudo-terminal is replaced.
touch "$work/regular"
mkdir "$work/folder"
ln -s "$work/regular" "$work/to-file"
for option in --link --printer; do
  for case in regular folder to-file; do
    for extra in "" "--emulation NOPE"; do
      # shellcheck disable=SC2086
      timeout 5 "$program" --headless "$option" "$work/$case" $extra >/dev/null 2>"$work/err"
      [ "$(wc -l <"$work/err")" -ge 1 ] && grep -q "vantrel-display: " "$work/err" || fail "$option $case $extra: no message"
      [ -e "$work/$case" ] || fail "$option $case $extra: deleted"
    done
  done
  [ -f "$work/regular" ] && [ -d "$work/folder" ] && [ -L "$work/to-file" ] || fail "$option: a refused path changed"
  ln -sfn "$work/nowhere" "$work/dangling"
  "$program" --headless "$option" "$work/dangling" >/dev/null 2>&1 &
  first=$!
  pids+=("$first")
  sleep 0.5
  [ -c "$work/dangling" ] || fail "$option: dangling link not replaced"
  first_target=$(readlink "$work/dangling")
  "$program" --headless "$option" "$work/dangling" >/dev/null 2>&1 &
  second=$!
  pids+=("$second")
  sleep 0.5
  second_target=$(readlink "$work/dangling")
  kill -TERM "$first"
  wait "$first"
  [ "$second_target" != "$first_target" ] && [ "$(readlink "$work/dangling")" = "$second_target" ] ||
    fail "$option: the first display's exit removed the second's link"
  kill -HUP "$second"
  wait "$second"
  [ ! -e "$work/dangling" ] && [ ! -L "$work/dangling" ] || fail "$option: SIGHUP left the link behind"
done

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
printf 'emulation=AEDEX\nspeed=9600\ninternational=USA\ncodepage=PC437\nbogus=1\n' >"$state/unknown-key"
printf 'emulation=AEDEX\nspeed=9600\ninternational=USA\ncodepage=PC437\n' >"$state/read-only"
chmod 444 "$state/read-only"
ln "$state/damaged" "$state/hard-link"
mkfifo "$state/fifo"
ln -s /dev/null "$state/to-device"
ln -s large "$state/to-large"
ln -s nowhere "$state/dangling"
kinds="large userchars-19 userchars-7F damaged unknown-key read-only hard-link missing/state fifo to-device to-large dangling folder"
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
# to a state file stays a link and the file it names is saved; the longest
# name the folder takes is saved too.
kept=$work/kept
long=$(printf 's%.0s' $(seq 255))
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
TERM $long $long DSP800
END
# A file of another user's, saved by root: its mode and owner stay.
printf 'emulation=AEDEX\nspeed=9600\ninternational=USA\ncodepage=PC437\n' >"$work/owned"
if chown 65534:65534 "$work/owned" 2>/dev/null && chmod 640 "$work/owned"; then
  start_with_state "$work/owned"
  send_until "$germany" Germany
  kill -TERM "$display"
  wait "$display"
  grep -q Germany "$work/owned" || fail "--state owned: not saved"
  [ "$(stat -c '%a %u %g' "$work/owned")" = "640 65534 65534" ] || fail "--state owned: $(stat -c '%a %u %g' "$work/owned")"
fi

# Paths that cannot all be had, or no path: the start is refused with one
# line, then where to look.
ln -sfn "$work/nowhere" "$work/taken"
while read -r options; do
  # shellcheck disable=SC2086
  eval timeout 5 "$program" --headless $options >/dev/null 2>"$work/err"
  status=$?
  [ "$status" -eq 2 ] && [ "$(wc -l <"$work/err")" -eq 2 ] && grep -q "^Try 'vantrel-display --help'" "$work/err" ||
    fail "$options: exit $status, $(cat "$work/err")"
  [ -L "$work/taken" ] && [ "$(readlink "$work/taken")" = "$work/nowhere" ] || fail "$options: a path was changed"
done <<END
--link "$work/taken" --printer "$work/taken"
--printer "$work/taken" --link "$work/taken"
--state "$work/taken" --link "$work/taken"
--state "$work/taken" --printer "$work/taken"
--state ""
--link ""
--printer ""
END

# Names too long for the folder are not "the same path": each is its own failure.
too_long_a=$work/$(printf 'a%.0s' $(seq 256))
too_long_b=$work/$(printf 'b%.0s' $(seq 256))
while read -r options; do
  # shellcheck disable=SC2086
  eval timeout 5 "$program" --headless $options >/dev/null 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] && grep -q "File name too long" "$work/err" && ! grep -q "same path" "$work/err" ||
    fail "${options//$work\//}: exit $status, $(cut -c 1-120 "$work/err")"
done <<END
--link "$too_long_a" --printer "$too_long_b"
--link "$too_long_a" --state "$too_long_b"
END

[ -L "$kept/link" ] || fail "--state: the link to a state file was replaced"
[ "$(ls -A "$kept")" = "$(printf 'link\nnew-1\nnew-2\n%s\ntarget' "$long")" ] || fail "--state: files left behind: $(ls "$kept")"

# Standard output that goes away ends the display cleanly.
("$program" --headless --link "$work/piped" | head -n 3 >/dev/null) &
pids+=($!)
wait_link "$work/piped" || fail "piped: no link"
printf 'HELLO' >"$work/piped"
for _ in $(seq 40); do [ -L "$work/piped" ] || break; sleep 0.05; done
[ ! -L "$work/piped" ] || fail "a closed standard output left the link behind"

# A window with no display server, or one named that does not run: a
# message, no link, no abort; the panel ($2) the same.
[ ! -e /tmp/.X11-unix/X7391 ] || fail "a display server runs at :7391"
for server in "" ":7391"; do
  for run in "$program --link $work/window" "${2:-}"; do
    [ -n "$run" ] || continue
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ${server:+DISPLAY=$server} $run >/dev/null 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "$run, display server '$server': exit $status"
    [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "^vantrel\(-display\)\?: no display server" "$work/err" ||
      fail "$run, display server '$server': $(cat "$work/err")"
  done
  [ ! -L "$work/window" ] || fail "display server '$server': link left behind"
done

# The command line by GNU's conventions: the help begins with the usage, says
# what the program is and fits 79 columns; a wrong command line is one line,
# then where to look, and exit status 2.
"$program" --help >"$work/out" 2>&1 && head -n 1 "$work/out" | grep -q '^Usage: vantrel-display ' &&
  grep -q '^A virtual two-line, twenty-position customer display' "$work/out" || fail "--help: $(head -n 4 "$work/out")"
[ -z "$(awk 'length > 79' "$work/out")" ] || fail "--help: lines wider than 79 columns: $(awk 'length > 79' "$work/out")"
while read -r arguments; do
  # shellcheck disable=SC2086
  "$program" $arguments >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 2 ] && [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" -eq 2 ] &&
    [ "$(tail -n 1 "$work/err")" = "Try 'vantrel-display --help' for more information." ] ||
    fail "$arguments: exit $status, $(cat "$work/err")"
done <<'END'
--bogus
--headless --link
--headless operand
--headless --emulation NOPE
--headless --emulation CD5220 --emulation CD5220
--headless --json --port COM1 --port COM2
--headless --port COM1 --baud 9600 --baud 9600
--json --replay x.rec
END

# The same for the command line's other programs; an argument of 100 KB is
# quoted by its beginning and its length, on a line of its own.
long=$(printf 'A%.0s' $(seq 100000))
while IFS='|' read -r name arguments; do
  # shellcheck disable=SC2086
  "${2:-}" $arguments >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 2 ] && [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" -eq 2 ] &&
    [ "$(head -n 1 "$work/err" | wc -c)" -lt 200 ] &&
    [ "$(tail -n 1 "$work/err")" = "Try '$name --help' for more information." ] ||
    fail "$name $arguments: exit $status, $(head -c 300 "$work/err")"
done <<END
vantrel|--bogus
vantrel|--probe
vantrel|--$long
vantrel send|send --bogus
vantrel send|send --port COM1 --port COM2 X
vantrel send|send --replay /tmp/$long X
END
"$program" "--$long" >/dev/null 2>"$work/err"
[ "$(head -n 1 "$work/err" | wc -c)" -lt 200 ] || fail "--$long: $(head -c 300 "$work/err")"

# The help into a pipe its reader has closed: a write error, never a death by SIGPIPE.
"$program" --help 2>"$work/err" | (exec 0<&-; sleep 0.3)
status=${PIPESTATUS[0]}
[ "$status" -eq 1 ] && [ "$(cat "$work/err")" = "vantrel-display: write error: Broken pipe" ] ||
  fail "--help into a closed pipe: exit $status, $(cat "$work/err")"

[ "$failures" -eq 0 ] && echo "display faults handled" && exit 0
exit 1
