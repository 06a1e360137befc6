#!/usr/bin/env bash
# A real Prometheus server scrapes the exporter over TLS with a password, as a web configuration
# file sets it up: a self-signed certificate made by openssl, a bcrypt hash made by htpasswd.
# Both simulated devices must be up; a wrong password gets a 401, plain HTTP gets no answer, and
# a client that stalls in its TLS handshake holds up no scrape and is dropped.
#
#   prometheus_tls_end_to_end.sh EXPORTER PROMETHEUS PROMTOOL
#
# Exit status 0 when it all holds, 1 when not, 77 when a tool is missing (a failure with CI set:
# CI's set-up installs them).
set -euo pipefail

exporter=$1
prometheus=$2
promtool=$3
for tool in "$prometheus" "$promtool" curl jq openssl htpasswd; do
  if ! command -v "$tool" >/dev/null; then
    echo "exporter TLS end-to-end: cannot run: prometheus, promtool, curl, jq, openssl and" \
      "htpasswd are needed (tools/setup test installs them)" >&2
    [[ -n ${CI:-} ]] && exit 1
    exit 77
  fi
done
source "$(dirname "$0")/../end_to_end.bash"
source "$(dirname "$0")/prometheus.bash"

user=prometheus
password="horse battery: staple"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/server.key" -out "$work/server.crt" 2>"$work/openssl.log"
hash=$(htpasswd -nbBC 10 "$user" "$password" | cut -d: -f2-)
# Paths relative to the file's folder, as the other exporters take them.
cat >"$work/web.yml" <<CONFIG
tls_server_config:
  cert_file: server.crt
  key_file: server.key
  min_version: TLS12
basic_auth_users:
  $user: '$hash'
CONFIG

"$exporter" --simulate=2 --web.listen-address=127.0.0.1:0 --web.config.file="$work/web.yml" \
  --web.telemetry-path=/qvr/metrics 2>"$work/exporter.log" &
pids+=($!)
target=$(exporter_address)
grep -q 'msg="listening on".* tls=true basic_auth=true' "$work/exporter.log" ||
  fail "the exporter did not say it serves TLS with passwords"
echo "exporter on $target"

tls=(--cacert "$work/server.crt" --max-time 5 -sS)
status() { curl "${tls[@]}" -o /dev/null -w '%{http_code}' "$@" || true; }
[[ $(status -u "$user:$password" "https://$target/qvr/metrics") == 200 ]] ||
  fail "the right password was refused"
[[ $(status -u "$user:wrong" "https://$target/qvr/metrics") == 401 ]] ||
  fail "a wrong password was not refused with 401"
[[ $(status "https://$target/") == 401 ]] || fail "no password was not refused with 401"
curl "${tls[@]}" -D - -o /dev/null "https://$target/qvr/metrics" |
  grep -qi '^WWW-Authenticate: Basic' || fail "a 401 without WWW-Authenticate: Basic"
if curl -s --max-time 5 -o /dev/null "http://$target/qvr/metrics"; then
  fail "plain HTTP to the TLS port was answered"
fi
echo "ok: 200 with the password, 401 without or with a wrong one, plain HTTP refused"

# Gzip as Prometheus asks for it, and what comes out passes promtool.
curl "${tls[@]}" --compressed -D "$work/headers.txt" -u "$user:$password" \
  "https://$target/qvr/metrics" >"$work/metrics.txt"
grep -qi '^Content-Encoding: gzip' "$work/headers.txt" || fail "the metrics were not gzipped"
"$promtool" check metrics <"$work/metrics.txt" || fail "promtool finds fault with the metrics"

# A client that sends the first bytes of a handshake and then nothing.
exec 4<>"/dev/tcp/${target%:*}/${target##*:}"
printf '\x16\x03\x01' >&4
started=$SECONDS
[[ $(status -u "$user:$password" "https://$target/qvr/metrics") == 200 ]] ||
  fail "a stalled handshake held up a scrape"
timeout 8 cat <&4 >/dev/null || fail "a stalled handshake was not dropped"
((SECONDS - started <= 5)) || fail "a stalled handshake was dropped only after $((SECONDS - started)) s"
exec 4<&-
echo "ok: a stalled handshake held up nothing and was dropped"

start_prometheus "$target" <<JOB
    scheme: https
    metrics_path: /qvr/metrics
    tls_config:
      ca_file: $work/server.crt
    basic_auth:
      username: $user
      password: '$password'
JOB

expect 30 'up{job="qvr7130"}' 1
expect 30 'count(qvr7130_up == 1)' 2
expect 30 'count(qvr7130_satellites_used > 0)' 2
expect 30 'count(process_start_time_seconds{job="qvr7130"})' 1
