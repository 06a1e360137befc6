#!/usr/bin/env bash
# A real Prometheus server scrapes the exporter, both on loopback ports of their own and both
# started and ended here: four simulated devices must be up with satellites and drift, one
# unplugged must be seen down, and back up once plugged in again.
#
#   prometheus_end_to_end.sh EXPORTER PROMETHEUS PROMTOOL
#
# Exit status 0 when it all holds, 1 when not, 77 when the server, promtool, curl or jq is
# missing. With CI set, that is a failure instead: CI's set-up installs them.
set -euo pipefail

exporter=$1
prometheus=$2
promtool=$3
for tool in "$prometheus" "$promtool" "$(command -v curl || true)" "$(command -v jq || true)"; do
  if [[ ! -x $tool ]]; then
    echo "exporter end-to-end: cannot run: prometheus, promtool, curl and jq are needed" \
      "(tools/setup test installs them)" >&2
    [[ -n ${CI:-} ]] && exit 1
    exit 77
  fi
done
source "$(dirname "$0")/../end_to_end.bash"
source "$(dirname "$0")/prometheus.bash"

"$exporter" --simulate=4 --web.listen-address=127.0.0.1:0 2>"$work/exporter.log" &
pids+=($!)
exporter_pid=$!
target=$(exporter_address)
echo "exporter on $target"

# The server's metrics must pass Prometheus' own linter, the process's own among them.
curl -fsS --max-time 5 "http://$target/metrics" >"$work/metrics.txt"
"$promtool" check metrics <"$work/metrics.txt" || fail "promtool finds fault with /metrics"
for family in process_cpu_seconds_total process_resident_memory_bytes \
  process_virtual_memory_bytes process_open_fds process_max_fds process_start_time_seconds; do
  grep -q "^# TYPE $family " "$work/metrics.txt" || fail "/metrics has no $family"
done

start_prometheus "$target" </dev/null

expect 30 'count(qvr7130_up == 1)' 4
expect 30 'count(qvr7130_satellites_used > 0)' 4
expect 30 'count(qvr7130_clock_drift_seconds_per_second)' 4
expect 30 'count(qvr7130_locked == 1)' 4

# Every panel of the Grafana dashboard has data from this server.
here=$(dirname "$0")
python3 "$here/../grafana/check_dashboard.py" "$here/../../packaging/grafana/qvr7130-dashboard.json" \
  "http://$server" || fail "the dashboard's panels do not all find data"

# Requests that are malformed, too large or not HTTP at all get an error or a closed
# connection, and disturb neither the polling nor the next scrape.
messages() {
  curl -fsS --max-time 2 "http://$target/metrics" |
    sed -n 's/^qvr7130_nav_messages_total{serial="QVR000002"} //p'
}
before=$(messages)
long_path=$(head -c 20000 /dev/zero | tr '\0' a)
for request in 'GARBAGE\r\n\r\n' 'GET /metrics HTTP/9.9\r\n\r\n' '\x16\x03\x01\x00\xa5\x01' \
  "GET /$long_path HTTP/1.1\r\n\r\n" 'POST /metrics HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n'; do
  (
    exec 3<>"/dev/tcp/${target%:*}/${target##*:}"
    printf "$request" >&3
    timeout 5 cat <&3 >/dev/null
  ) 2>/dev/null || true
done
sleep 2
after=$(messages)
[[ -n $before && -n $after && $after -gt $before ]] ||
  fail "polling stopped around the bad requests: $before, then $after NAV messages"
echo "ok: bad requests left polling going ($before, then $after NAV messages)"

kill -USR1 "$exporter_pid"
expect 15 'qvr7130_up{serial="QVR000001"}' 0
expect 15 'count(qvr7130_up == 1)' 3
grep -q 'level=warn msg="device unplugged" serial=QVR000001$' "$work/exporter.log" ||
  fail "the exporter did not log the unplugging"

kill -USR2 "$exporter_pid"
expect 15 'count(qvr7130_up == 1)' 4
expect 15 'qvr7130_reconnects_total{serial="QVR000001"}' 1
[[ $(grep -c 'level=info msg="device configured" serial=QVR000001$' "$work/exporter.log") == 2 ]] ||
  fail "the exporter did not log the device configured once at start and once back"
expect 15 'count(up{job="qvr7130"} == 1)' 1
