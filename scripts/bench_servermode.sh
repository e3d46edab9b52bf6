#!/usr/bin/env bash
# Figures only: latency of one request answered directly by the CGI process
# against the same request handed to the resident server, both under
# lighttpd on 127.0.0.1, one connection at a time (wrk -c1), one run each.
# The hand-off is bound by polling, not by work: the server looks for
# request files every 50 ms and the client for its response every 50 ms, so
# a handed-over request waits about 25 + 25 ms on average beyond a direct run.
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
#   BENCH_SECONDS  seconds per measurement (3)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
program=${VALSETTO_BIN:-${BUILD:-$repo/build}/valsetto}
seconds=${BENCH_SECONDS:-3}
export PATH=$PATH:/usr/sbin:/sbin

fail() { echo "bench_servermode: $*" >&2; exit 1; }
for tool in lighttpd wrk; do command -v "$tool" >/dev/null || fail "$tool is not installed"; done
[ -x "$program" ] || fail "$program is not built (run make)"

work=$(mktemp -d /tmp/valsetto-bench-sm-XXXXXX)
chmod 755 "$work"
site=$work/site
mkdir -p "$site/audiojs" "$work/run"
cp "$program" "$site/audiojs/playlist.cgi"
chmod 755 "$site/audiojs/playlist.cgi"
as_web=()
if [ "$(id -u)" = 0 ]; then
  chown -R www-data:www-data "$site" "$work/run"
  as_web=(setpriv --reuid=www-data --regid=www-data --clear-groups)
fi

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
{
  echo "server.document-root = \"$site\""
  echo "server.bind = \"127.0.0.1\""
  echo "server.port = $port"
  echo "server.errorlog = \"$work/run/error.log\""
  echo "server.upload-dirs = ( \"$work/run\" )"
  if [ "$(id -u)" = 0 ]; then
    echo 'server.username = "www-data"'
    echo 'server.groupname = "www-data"'
  fi
  echo "include \"$repo/site/lighttpd/valsetto.conf\""
} > "$work/lighttpd.conf"

lighttpd -D -f "$work/lighttpd.conf" &
web_pid=$!
resident_pid=""
cleanup() {
  for pid in $resident_pid $web_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid"
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
for _ in $(seq 100); do port_open && break; sleep 0.1; done
port_open || fail "lighttpd is not answering on port $port"

measure() {  # prints "requests/s p50-ms p99-ms"
  timeout $((seconds + 30)) wrk -t1 -c1 -d"${seconds}s" --latency "http://127.0.0.1:$port/audiojs/playlist.cgi" | awk '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v + 0 }
    $1 == "50%" { p50 = ms($2) } $1 == "99%" { p99 = ms($2) } $1 == "Requests/sec:" { rps = $2 }
    END { printf "%s %.3f %.3f\n", rps, p50, p99 }'
}

read -r direct_rps direct_p50 direct_p99 < <(measure)

# The resident server: started by hand, no arguments, no SERVER_SOFTWARE.
(cd "$site/audiojs" && exec env -i PATH=/usr/bin:/bin "${as_web[@]}" ./playlist.cgi </dev/null >/dev/null 2>&1) &
resident_pid=$!
for _ in $(seq 100); do [ -e "$site/audiojs/temp/window-playlist.cgi_S" ] && break; sleep 0.1; done
[ -e "$site/audiojs/temp/window-playlist.cgi_S" ] || fail "the resident server did not start"
read -r handed_rps handed_p50 handed_p99 < <(measure)

echo "bench: resident server, empty query under lighttpd, wrk -c1 ${seconds}s"
printf '%-24s %12s %10s %10s\n' "answered by" "requests/s" "p50 ms" "p99 ms"
printf '%-24s %12.0f %10.3f %10.3f\n' "the CGI process" "$direct_rps" "$direct_p50" "$direct_p99"
printf '%-24s %12.0f %10.3f %10.3f\n' "the resident server" "$handed_rps" "$handed_p50" "$handed_p99"
awk -v a="$handed_p50" -v b="$direct_p50" 'BEGIN { printf "p50 ratio (resident / direct): %.1fx; the 50 ms polling of both sides bounds it\n", (b > 0 ? a / b : 0) }'
