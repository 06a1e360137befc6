#!/usr/bin/env bash
# A real chronyd takes the exporter's samples of a simulated receiver whose reports reach the
# computer a known latency late: it must select the refclock and find the computer's clock
# ahead of it by that latency; it must hear nothing while the device is away and before the
# replugged receiver has its fix again, and select it again afterwards; and qvr7130ctl
# time-offset must recommend that latency as chrony's offset.
#
#   chronyd_end_to_end.sh EXPORTER CTL
#
# chronyd and chronyc are Debian's, unpacked into a cache folder by tools/fetch-package and
# never installed. chronyd runs in the foreground with -x (it never touches the clock), with a
# configuration, pid file and command socket of its own in a temporary folder, no NTP port and
# no UDP command port, and is ended here. Exit status 0 when it all holds, 1 when not, 77 when
# chronyd cannot be had here; with CI set, that is a failure instead: CI's set-up fetches it.
set -euo pipefail

exporter=$1
ctl=$2
here=$(cd "$(dirname "$0")" && pwd)

# The simulated reports' latency and jitter, in milliseconds, and how close chrony's estimate
# and time-offset's recommendation must come to the latency.
latency_ms=20
jitter_ms=2
tolerance=0.001
# time-offset reads on a thread of its own and measures its wake-up too, which is what it is for;
# on a machine busy with the rest of the suite that adds up to a millisecond more.
offset_tolerance=0.002

skip() {
  if [[ -n ${CI:-} ]]; then
    echo "chronyd end-to-end: cannot run: $1 (CI must have it: see tools/setup)" >&2
    exit 1
  fi
  echo "chronyd end-to-end: SKIPPED: $1" >&2
  exit 77
}

chronyd=$("$here/../../tools/fetch-package" chrony usr/sbin/chronyd) ||
  skip "Debian's chrony package could not be fetched"
root=${chronyd%/usr/sbin/chronyd}
export LD_LIBRARY_PATH=$root/usr/lib/x86_64-linux-gnu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}

source "$here/../end_to_end.bash"
describe() {
  local report
  for report in sources sourcestats tracking; do
    chronyc "$report" || true
  done
}

chronyc() { "$root/usr/bin/chronyc" -h "$work/run/chronyd.sock" -n "$@"; }
# One field of chronyc's comma-separated report on the refclock (sources, sourcestats) or on
# the whole daemon (tracking).
field() {
  chronyc -c "$1" 2>/dev/null |
    awk -F, -v n="$2" -v id="${3:-}" 'id == "" || $3 == id || $1 == id { print $n; exit }'
}
close_to() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; exit !(d <= t && -d <= t) }'; }

pattern="$work/chrony.%s.sock"
serial=QVR000001
# The refclock line as a user gets it, polled every 4 s instead of 16 s to keep the test short.
"$ctl" --simulate chrony-config --socket-pattern "$pattern" >"$work/refclocks.conf" ||
  fail "qvr7130ctl chrony-config failed"
grep -q "^refclock SOCK $work/chrony.$serial.sock refid QVR1 " "$work/refclocks.conf" ||
  fail "chrony-config names no socket under the pattern: $(cat "$work/refclocks.conf")"
{
  sed -n 's/^refclock SOCK .*/& poll 2/p' "$work/refclocks.conf"
  echo "port 0"
  echo "cmdport 0"
  echo "bindcmdaddress $work/run/chronyd.sock"
  echo "pidfile $work/chronyd.pid"
  # Every sample as it came, to tell when chronyd heard nothing.
  echo "logdir $work/log"
  echo "log refclocks"
} >"$work/chrony.conf"
mkdir -m 0770 "$work/run"

# As root chronyd would switch to Debian's _chrony user, which is not there: it stays this user.
if [[ $(id -u) -eq 0 ]]; then
  user=(-u root)
else
  user=(-U)
fi
timeout 110 "$chronyd" -x -d -f "$work/chrony.conf" "${user[@]}" >"$work/chronyd.log" 2>&1 &
pids+=($!)
within 10 test -S "$work/chrony.$serial.sock" || fail "chronyd made no refclock socket"

# time-offset measures on a simulated bus of its own meanwhile, long enough for a median of
# some twenty-five samples.
"$ctl" --simulate --simulate-latency "$latency_ms,$jitter_ms" time-offset --duration 30 \
  >"$work/time-offset.out" 2>"$work/time-offset.log" &
offset_pid=$!
pids+=($offset_pid)

timeout 110 "$exporter" --simulate --simulate.latency="$latency_ms,$jitter_ms" \
  --web.listen-address=127.0.0.1:0 --chrony.socket-pattern "$pattern" 2>"$work/exporter.log" &
pids+=($!)
within 10 grep -q 'msg="listening on"' "$work/exporter.log" || fail "the exporter did not start"
# The signals that unplug and plug go to the exporter itself, not to timeout.
exporter_pid=$(pgrep -P "$!")

selected() { [[ $(field sources 2 QVR1) == '*' ]]; }
started=$SECONDS
within 60 selected || fail "chronyd did not select QVR1"
echo "ok: chronyd selected QVR1 after $((SECONDS - started)) s"
grep -qF "msg=\"time samples delivered\" serial=$serial target=\"chronyd's socket $work/chrony.$serial.sock\"" \
  "$work/exporter.log" || fail "the exporter did not say that samples go to chronyd"

# chronyd steers a clock of its own while -x leaves the real one alone: its system time is how
# far the computer's clock is from the receiver's time (negative: ahead, "fast" in chronyc's
# words), which the reports' latency fakes.
correction() { field tracking 5; }
ahead() { close_to "$(correction)" "-0.0$latency_ms" "$tolerance"; }
within 30 ahead || fail "chronyd corrects the clock by $(correction) s, not by -$latency_ms ms"
echo "ok: chronyd finds this computer's clock $(correction | tr -d -) s ahead of QVR1 (latency" \
  "$latency_ms ms, jitter $jitter_ms ms); QVR1's estimated offset $(field sourcestats 7 QVR1) s," \
  "standard deviation $(field sourcestats 8 QVR1) s over $(field sourcestats 2 QVR1) samples"

wait "$offset_pid" || fail "time-offset failed: $(cat "$work/time-offset.log")"
recommended=$(sed -n 's/^chrony  *offset \([-0-9.]*\).*/\1/p' "$work/time-offset.out")
close_to "$recommended" "0.0$latency_ms" "$offset_tolerance" ||
  fail "time-offset recommends offset '$recommended', not 0.0$latency_ms: $(cat "$work/time-offset.out")"
echo "ok: time-offset recommends offset $recommended;" \
  "$(grep -E '^(Median|Interquartile)' "$work/time-offset.out" | tr -s ' \n' ' ')"

# Unplugged, the device gives nothing: the reach register's newest three polls stay empty.
# Plugged back in, its receiver starts without a fix (a warm start: the fix after 1 s): nothing
# until it has one again.
now() { date -u '+%Y-%m-%d %H:%M:%S.%6N'; }
reach() { echo $((8#$(field sources 6 QVR1))); }
unplugged=$(now)
kill -USR1 "$exporter_pid"
silent() { (($(reach) % 8 == 0)); }
within 20 silent || fail "chronyd still hears QVR1 while it is unplugged (reach $(field sources 6 QVR1))"
echo "ok: no sample while unplugged (reach $(field sources 6 QVR1))"

plugged=$(now)
kill -USR2 "$exporter_pid"
replugged=$SECONDS
heard() { (($(reach) % 2 == 1)); }
within 30 heard || fail "chronyd did not hear QVR1 again after it was plugged back in"
within 30 selected || fail "chronyd did not select QVR1 again"
echo "ok: QVR1 heard again $((SECONDS - replugged)) s after it was plugged back in, and selected"

# The samples chronyd logged (date, time, refid, count; a filtered one has '-' for its count),
# each at the receiver's time of its epoch (the read time chronyd has corrected): none after
# the unplugging (a sample goes when the next epoch is read, and the device goes at the next
# scan), none until the receiver's time to fix had passed after the plugging.
samples() { awk '$3 == "QVR1" && $4 != "-" { print $1 " " $2 }' "$work/log/refclocks.log"; }
ms() { echo $(($(date -u -d "$1" +%s%N) / 1000000)); }
last_before=$(samples | awk -v t="$plugged" '$0 < t' | tail -n 1)
first_after=$(samples | awk -v t="$plugged" '$0 > t' | head -n 1)
[[ -n $last_before && -n $first_after ]] || fail "chronyd logged no sample before or after the plugging"
(($(ms "$last_before") <= $(ms "$unplugged"))) ||
  fail "chronyd took a sample at $last_before, after the unplugging at $unplugged"
(($(ms "$first_after") - $(ms "$plugged") >= 1000)) ||
  fail "chronyd took a sample at $first_after, before a receiver plugged at $plugged had a fix"
echo "ok: chronyd's samples stop at $last_before (unplugged $unplugged) and start again at" \
  "$first_after (plugged $plugged)"

