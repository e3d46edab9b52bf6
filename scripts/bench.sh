#!/usr/bin/env bash
# make bench: requests per second and p50/p99 latency of Valsetto under
# lighttpd on 127.0.0.1, measured with wrk (2 connections, a few seconds
# each), side by side with the floor: a static C CGI program that prints a
# fixed 2 KB page. Figures only; nothing is asserted.
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
#   BENCH_SECONDS  seconds per measurement (3)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$repo/build}
program=${VALSETTO_BIN:-$build/valsetto}
floor=$build/bench/bench_floor
seconds=${BENCH_SECONDS:-3}
connections=2
export PATH=$PATH:/usr/sbin:/sbin

fail() { echo "bench: $*" >&2; exit 1; }
for tool in lighttpd wrk; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (make bench installs it when run as root)"
done
[ -x "$floor" ] || fail "$floor is not built (run make)"
[ -x "$program" ] || fail "$program is not built (run make)"

work=$(mktemp -d /tmp/valsetto-bench-XXXXXX)
chmod 755 "$work"
site=$work/site
mkdir -p "$site/audiojs" "$work/run"
cp "$program" "$site/audiojs/playlist.cgi"
cp "$floor" "$site/audiojs/floor.cgi"
chmod 755 "$site/audiojs/playlist.cgi" "$site/audiojs/floor.cgi"
if [ "$(id -u)" = 0 ]; then
  chown -R www-data:www-data "$site" "$work/run"
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
server_pid=$!
cleanup() {
  if kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid"
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
for _ in $(seq 100); do
  port_open && break
  kill -0 "$server_pid" 2>/dev/null || fail "lighttpd did not start: $(cat "$work/run/error.log" 2>/dev/null)"
  sleep 0.1
done
port_open || fail "lighttpd is not answering on port $port"

fetch() {  # path: one request, answer discarded
  timeout 20 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" "$2" >&3
    cat <&3 >/dev/null' _ "$port" "$1"
}

# One wrk run; prints "requests/s p50-ms p99-ms".
measure() {  # path
  local url="http://127.0.0.1:$port$1" out
  fetch "$1"
  out=$(timeout $((seconds + 30)) wrk -t1 -c"$connections" -d"${seconds}s" --latency "$url")
  echo "$out" | awk '
    function ms(v) {
      if (v ~ /us$/) return v / 1000;
      if (v ~ /ms$/) return v + 0;
      if (v ~ /s$/) return v * 1000;
      return v + 0;
    }
    $1 == "50%" { p50 = ms($2) }
    $1 == "99%" { p99 = ms($2) }
    $1 == "Requests/sec:" { rps = $2 }
    / Non-2xx or 3xx responses:/ { bad = $NF }
    END { printf "%s %.3f %.3f %s\n", rps, p50, p99, (bad == "" ? 0 : bad) }'
}

# The options file with diagnostics off first, so the empty query writes no
# trace line: it reads the options file and answers with nothing.
fetch "/audiojs/playlist.cgi?d"

echo "bench: lighttpd $(lighttpd -v 2>&1 | sed -n 's/^lighttpd\/\([^ ]*\).*/\1/p'), wrk ${seconds}s, $connections connections, 127.0.0.1:$port"
printf '%-28s %12s %10s %10s %12s %12s\n' "request" "requests/s" "p50 ms" "p99 ms" "p50 / floor" "rps / floor"
floor_rps="" floor_p50=""
for entry in "floor (static C, 2 KB)|/audiojs/floor.cgi" \
             "Valsetto empty query|/audiojs/playlist.cgi" \
             "Valsetto ?D (saves options)|/audiojs/playlist.cgi?D"; do
  label=${entry%%|*}
  path=${entry#*|}
  read -r rps p50 p99 bad < <(measure "$path")
  if [ -z "$floor_rps" ]; then floor_rps=$rps floor_p50=$p50; fi
  awk -v l="$label" -v r="$rps" -v a="$p50" -v b="$p99" -v fr="$floor_rps" -v fa="$floor_p50" -v bad="$bad" 'BEGIN {
    printf "%-28s %12.0f %10.3f %10.3f %11.2fx %11.2fx%s\n", l, r, a, b,
      (fa > 0 ? a / fa : 0), (fr > 0 ? r / fr : 0), (bad > 0 ? "  (" bad " not 2xx)" : "") }'
done
