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
  # A free port for the server: the first of a few random ones that nothing answers on.
  local port
  for _ in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      break
    fi
  done
  server=127.0.0.1:$port
  "$prometheus" --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="$server" --log.level=warn 2>"$work/prometheus.log" &
  pids+=($!)
  within 30 curl -fs --max-time 2 -o /dev/null "http://$server/-/ready" ||
    fail "the Prometheus server did not become ready"
  echo "Prometheus on $server"
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
