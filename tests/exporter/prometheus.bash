# What the exporter's end-to-end scripts share, sourced after end_to_end.bash: the exporter's
# address from its log, a Prometheus server of their own on a free loopback port, and instant
# queries to it.

# The address the exporter logged that it listens on, once it has.
exporter_address() {
  within 10 grep -q 'msg="listening on"' "$work/exporter.log" || fail "the exporter did not start"
  sed -n 's/.*msg="listening on" address=\([^ ]*\).*/\1/p' "$work/exporter.log"
}

# Starts Prometheus scraping the exporter at $1 every second, as job qvr7130 with the lines of
# standard input added to the job, and sets `server` to its address.
start_prometheus() {
  cat >"$work/prometheus.yml" <<CONFIG
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: qvr7130
$(cat)
    static_configs:
      - targets: ['$1']
CONFIG
  "$promtool" check config "$work/prometheus.yml" >/dev/null
  # A port for the server below the kernel's ephemeral range, where no client's connection can
  # be holding it; should something listen there all the same, start again on another.
  local low _
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range
  for _ in 1 2 3 4 5; do
    server=127.0.0.1:$((10000 + RANDOM % (low - 10000)))
    "$prometheus" --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
      --web.listen-address="$server" --log.level=warn 2>"$work/prometheus.log" &
    pids+=($!)
    within 30 prometheus_ready_or_gone $! || fail "the Prometheus server did not become ready"
    curl -fs --max-time 2 -o /dev/null "http://$server/-/ready" && break
    grep -q 'address already in use' "$work/prometheus.log" ||
      fail "the Prometheus server did not become ready"
  done
  curl -fs --max-time 2 -o /dev/null "http://$server/-/ready" ||
    fail "the Prometheus server found no free port"
  echo "Prometheus on $server"
}

# Whether the Prometheus server with process id $1 answers that it is ready, or has exited.
prometheus_ready_or_gone() {
  curl -fs --max-time 2 -o /dev/null "http://$server/-/ready" || ! kill -0 "$1" 2>/dev/null
}

# The value of an instant query, or nothing while it has none.
value() {
  curl -fsS --max-time 2 "http://$server/api/v1/query" --data-urlencode "query=$1" |
    jq -r '.data.result[0].value[1] // empty'
}
is() { [[ $(value "$1") == "$2" ]]; }
expect() {
  local seconds=$1 query=$2 wanted=$3
  within "$seconds" is "$query" "$wanted" ||
    fail "$query is '$(value "$query")', not $wanted, after ${seconds}s"
  echo "ok: $query = $wanted"
}
