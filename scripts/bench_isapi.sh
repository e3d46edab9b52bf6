#!/usr/bin/env bash
# Figures only: Valsetto in-process (valsetto.so under isapi-fcgi -t 4)
# against the same program as plain CGI, both under one lighttpd on
# 127.0.0.1 in one run, with bench/fcgi_floor.c (a bare libfcgi responder on
# as many threads) as the in-process floor. Requests: the empty query (the
# options file read, nothing written) and ?P on a demo tree of 100 genres of
# 100 songs (the index and 100 genre pages rebuilt, the genre page written).
# Goals: the empty query in-process within 1.5x of the floor, and at least
# 5x the CGI program's rate.
#
#   BUILD              build folder (build)
#   VALSETTO_BIN       the CGI program (BUILD/valsetto)
#   VALSETTO_SO        the extension (BUILD/valsetto.so)
#   BENCH_SECONDS      seconds per wrk measurement (3)
#   BENCH_CONNECTIONS  wrk connections (8)
#   BENCH_ROUNDS       rounds of the empty-query rows, taken in turn; the
#                      best round of each row counts, so a neighbour's burst
#                      on a shared machine spoils one round, not the ratio (3)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/benchlib.sh
source "$repo/scripts/benchlib.sh"
build=${BUILD:-$repo/build}
program=${VALSETTO_BIN:-$build/valsetto}
extension=${VALSETTO_SO:-$build/valsetto.so}
host=$build/isapi-fcgi
floor=$build/bench/fcgi_floor
seconds=${BENCH_SECONDS:-3}
connections=${BENCH_CONNECTIONS:-8}
rounds=${BENCH_ROUNDS:-3}
threads=4
export PATH=$PATH:/usr/sbin:/sbin

fail() { echo "bench_isapi: $*" >&2; exit 1; }
for tool in lighttpd wrk; do command -v "$tool" >/dev/null || fail "$tool is not installed"; done
for file in "$program" "$extension" "$host" "$floor"; do
  [ -f "$file" ] || fail "$file is not built (run make)"
done

bench_site isapi "$program"
cp "$extension" "$site/audiojs/playlist.so"
sed 's/\r*$/\r/' "$repo/site/demo/index.txt" > "$site/audiojs/index.txt"
/usr/bin/python3 - "$site" <<'PY'
import os, sys
site = sys.argv[1]
for g in range(1, 101):
    genre = f"Genre{g:03d}"
    os.makedirs(os.path.join(site, "audiojs", genre), exist_ok=True)
    os.makedirs(os.path.join(site, genre), exist_ok=True)  # where its genre page lands
    for n in range(1, 101):
        path = os.path.join(site, "audiojs", genre, f"Song {n:04d}.mp3")
        os.close(os.open(path, os.O_CREAT | os.O_WRONLY, 0o644))
PY
if [ "$(id -u)" = 0 ]; then
  chown -R www-data:www-data "$site" "$work/run"
fi

port=$(bench_free_port)
bench_lighttpd_conf "$site" "$port" "$repo/site/lighttpd/valsetto.conf"
cat >> "$work/lighttpd.conf" <<CONF
server.modules += ( "mod_fastcgi" )
fastcgi.server = (
  "/inprocess/playlist.cgi" => ((
    "socket" => "$work/run/isapi.sock",
    "bin-path" => "$host -t $threads $site/audiojs/playlist.so",
    "max-procs" => 1, "check-local" => "disable" )),
  "/floor.fcgi" => ((
    "socket" => "$work/run/floor.sock",
    "bin-path" => "$floor $threads",
    "max-procs" => 1, "check-local" => "disable" ))
)
CONF
trap bench_cleanup EXIT
bench_start_lighttpd "$port" || exit 1

fetch() { bench_fetch "$port" "$1"; }  # path: one request, answer discarded

# Diagnostics off first (the CGI program and the extension share the
# options file), so no request writes a trace line.
fetch "/audiojs/playlist.cgi?d"

declare -A rps p50 p99
measure() {  # key path: keeps the round with the most requests/s
  local bad r a b
  fetch "$2"
  read -r r a b bad < <(bench_wrk "http://127.0.0.1:$port$2" "$seconds" "$connections")
  [ "$bad" = 0 ] || echo "bench_isapi: $2: $bad answers not 2xx" >&2
  if awk -v r="$r" -v best="${rps[$1]:-0}" 'BEGIN { exit !(r > best) }'; then
    rps[$1]=$r p50[$1]=$a p99[$1]=$b
  fi
}
for _ in $(seq "$rounds"); do
  measure floor "/floor.fcgi"
  measure empty_in "/inprocess/playlist.cgi"
  measure empty_cgi "/audiojs/playlist.cgi"
done
measure page_in "/inprocess/playlist.cgi?P"
measure page_cgi "/audiojs/playlist.cgi?P"

echo "bench: in-process (isapi-fcgi -t $threads) against CGI, lighttpd $(lighttpd -v 2>&1 | sed -n 's/^lighttpd\/\([^ ]*\).*/\1/p'), wrk ${seconds}s, $connections connections, best of $rounds rounds for the empty query"
printf '%-44s %12s %10s %10s\n' "request" "requests/s" "p50 ms" "p99 ms"
row() { printf '%-44s %12.0f %10.3f %10.3f\n' "$1" "${rps[$2]}" "${p50[$2]}" "${p99[$2]}"; }
row "floor: bare libfcgi responder, $threads threads" floor
row "empty query, in-process" empty_in
row "empty query, CGI" empty_cgi
row "?P on 100x100, in-process" page_in
row "?P on 100x100, CGI" page_cgi
awk -v f="${rps[floor]}" -v i="${rps[empty_in]}" -v c="${rps[empty_cgi]}" \
    -v pi="${rps[page_in]}" -v pc="${rps[page_cgi]}" 'BEGIN {
  slow = i > 0 ? f / i : 0; fast = c > 0 ? i / c : 0;
  printf "empty query: floor / in-process %.2fx (goal at most 1.5x: %s)\n", slow, (i > 0 && slow <= 1.5 ? "met" : "not met");
  printf "empty query: in-process / CGI %.1fx (goal at least 5x: %s)\n", fast, (fast >= 5 ? "met" : "not met");
  printf "?P on 100x100: in-process / CGI %.1fx\n", (pc > 0 ? pi / pc : 0) }'
