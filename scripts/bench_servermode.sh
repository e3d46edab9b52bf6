#!/usr/bin/env bash
# Figures only: latency of a request answered directly by the CGI process
# against the same request handed to the resident server, under lighttpd on
# 127.0.0.1, with 1 and 8 connections (wrk -c1, -c8), one run each. Two
# programs: the site's program (the resident server runs ServerMode 1), and
# bench/servermode_bench, the gateway with a one-line page, whose resident
# server runs ServerMode 1 (one request at a time) or 2 (a thread each).
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
#   BENCH_SECONDS  seconds per measurement (3)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/benchlib.sh
source "$repo/scripts/benchlib.sh"
build=${BUILD:-$repo/build}
program=${VALSETTO_BIN:-$build/valsetto}
gateway_program=$build/bench/servermode_bench
seconds=${BENCH_SECONDS:-3}
export PATH=$PATH:/usr/sbin:/sbin

fail() { echo "bench_servermode: $*" >&2; exit 1; }
for tool in lighttpd wrk; do command -v "$tool" >/dev/null || fail "$tool is not installed"; done
[ -x "$program" ] || fail "$program is not built (run make)"
[ -x "$gateway_program" ] || fail "$gateway_program is not built (run make)"

bench_site sm "$program" "gateway.cgi=$gateway_program"
as_web=()
if [ "$(id -u)" = 0 ]; then
  chown -R www-data:www-data "$site" "$work/run"
  as_web=(setpriv --reuid=www-data --regid=www-data --clear-groups)
fi

port=$(bench_free_port)
bench_lighttpd_conf "$site" "$port" "$repo/site/lighttpd/valsetto.conf"
trap bench_cleanup EXIT
bench_start_lighttpd "$port" || exit 1

measure() {  # name connections: prints "requests/s p50-ms p99-ms non-2xx"
  bench_wrk "http://127.0.0.1:$port/audiojs/$1.cgi" "$seconds" "$2"
}

# The resident server of name.cgi: started by hand, no arguments, no
# SERVER_SOFTWARE, as the web server's user; its pid goes to $resident.
resident=
start_resident() {  # name server-mode
  (cd "$site/audiojs" && exec env -i PATH=/usr/bin:/bin BENCH_SERVER_MODE="$2" "${as_web[@]}" "./$1.cgi" \
    </dev/null >/dev/null 2>&1) &
  resident=$!
  bench_pids+=("$resident")
  for _ in $(seq 100); do [ -e "$site/audiojs/temp/window-$1.cgi_S" ] && break; sleep 0.1; done
  [ -e "$site/audiojs/temp/window-$1.cgi_S" ] || fail "the resident server of $1.cgi did not start"
}

stop_resident() {
  kill -TERM "$resident"
  wait "$resident" 2>/dev/null || true
  for _ in $(seq 100); do [ -e "$site/audiojs/temp/window-$1.cgi_S" ] || break; sleep 0.1; done
}

rows=()
row() {  # label name server-mode
  local c rps p50 p99 d_p50 d_p99
  for c in 1 8; do
    read -r rps p50 p99 _ < <(measure "$2" "$c")
    if [ "$3" = - ]; then
      eval "direct_${2}_${c}=\"$p50 $p99\""
      rows+=("$(printf '%-34s %3s %10.0f %9.3f %9.3f' "$1" "$c" "$rps" "$p50" "$p99")")
    else
      read -r d_p50 d_p99 < <(eval "echo \$direct_${2}_${c}")
      rows+=("$(awk -v l="$1" -v c="$c" -v r="$rps" -v a="$p50" -v b="$p99" -v da="$d_p50" -v db="$d_p99" \
        'BEGIN { printf "%-34s %3s %10.0f %9.3f %9.3f %7.2fx %7.2fx", l, c, r, a, b, (da > 0 ? a / da : 0), (db > 0 ? b / db : 0) }')")
    fi
  done
}

row "playlist.cgi, direct" playlist -
start_resident playlist 1
row "playlist.cgi, resident ServerMode 1" playlist 1
stop_resident playlist
row "gateway.cgi, direct" gateway -
for mode in 1 2; do
  start_resident gateway "$mode"
  row "gateway.cgi, resident ServerMode $mode" gateway "$mode"
  stop_resident gateway
done

echo "bench: resident server against direct CGI, empty query under lighttpd, wrk ${seconds}s per row"
printf '%-34s %3s %10s %9s %9s %8s %8s\n' "answered by" "-c" "requests/s" "p50 ms" "p99 ms" "p50 x" "p99 x"
printf '%s\n' "${rows[@]}"
echo "(p50 x, p99 x: the resident server's latency over the direct run's at the same -c)"
