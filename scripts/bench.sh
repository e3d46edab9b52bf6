#!/usr/bin/env bash
# make bench, figures only (nothing is asserted):
# - requests per second and p50/p99 latency of Valsetto under lighttpd on
#    127.0.0.1, measured with wrk (2 connections, a few seconds each), side
#    by side with the floor: a static C CGI program that prints a fixed 2 KB
#    page;
# - on music trees made here (genres x songs), the time of ?I and ?P, run as
#    CGI requests with hyperfine, against bench/scan_floor.c doing the same
#    file-system work, and of a playlist POST of 999 songs from 10 genres
#    against the scan of those genres alone.
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
#   BENCH_SECONDS  seconds per wrk measurement (3)
#   BENCH_TREES    music trees as GENRESxSONGS ("100x100 100x1000")
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/benchlib.sh
source "$repo/scripts/benchlib.sh"
build=${BUILD:-$repo/build}
program=${VALSETTO_BIN:-$build/valsetto}
floor=$build/bench/bench_floor
scan_floor=$build/bench/scan_floor
trees=${BENCH_TREES:-100x100 100x1000}
seconds=${BENCH_SECONDS:-3}
connections=2
export PATH=$PATH:/usr/sbin:/sbin

fail() { echo "bench: $*" >&2; exit 1; }
for tool in lighttpd wrk hyperfine; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (make bench installs it when run as root)"
done
[ -x "$floor" ] || fail "$floor is not built (run make)"
[ -x "$scan_floor" ] || fail "$scan_floor is not built (run make)"
[ -x "$program" ] || fail "$program is not built (run make)"

bench_site cgi "$program" "floor.cgi=$floor"
if [ "$(id -u)" = 0 ]; then
  chown -R www-data:www-data "$site" "$work/run"
fi

port=$(bench_free_port)
bench_lighttpd_conf "$site" "$port" "$repo/site/lighttpd/valsetto.conf"
trap bench_cleanup EXIT
bench_start_lighttpd "$port" || exit 1

fetch() { bench_fetch "$port" "$1"; }  # path: one request, answer discarded

# One wrk run; prints "requests/s p50-ms p99-ms non-2xx".
measure() {  # path
  fetch "$1"
  bench_wrk "http://127.0.0.1:$port$1" "$seconds" "$connections"
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

# -- music trees ----------------------------------------------------------

make_tree() {  # folder, genres, songs per genre
  /usr/bin/python3 - "$@" <<'PY'
import os, sys
folder, genres, songs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for g in range(1, genres + 1):
    genre = os.path.join(folder, f"Genre{g:03d}")
    os.makedirs(genre, exist_ok=True)
    for n in range(1, songs + 1):
        os.close(os.open(os.path.join(genre, f"Song {n:04d}.mp3"), os.O_CREAT | os.O_WRONLY, 0o644))
PY
}

medians() { bench_medians "$@"; }

echo
echo "bench: music trees, hyperfine medians (the genre pages are not built: no site folders)"
printf '%-12s %-34s %10s %10s %8s\n' "tree" "request" "Valsetto" "floor" "ratio"
for tree in $trees; do
  genres=${tree%x*} songs=${tree#*x}
  folder=$work/tree-$tree/audiojs
  mkdir -p "$folder"
  make_tree "$folder" "$genres" "$songs"
  cp "$program" "$folder/playlist.cgi"
  printf '<html><body><ul>\r\n<insert songlist>\r\n</ul></body></html>\r\n' > "$folder/index.txt"
  runs=$(( songs >= 1000 ? 5 : 10 ))
  export SERVER_SOFTWARE=bench REQUEST_METHOD=GET QUERY_STRING=d SCRIPT_NAME=/audiojs/playlist.cgi HTTP_HOST=127.0.0.1
  "$folder/playlist.cgi" >/dev/null  # diagnostics off: no trace line per song
  read -r index_ms floor_ms < <(QUERY_STRING=I medians "$runs" "$folder/playlist.cgi" "$scan_floor $folder")
  read -r page_ms < <(QUERY_STRING=P medians "$runs" "$folder/playlist.cgi")
  chosen=() body="command=playlistgen&numsongs=999"
  for g in $(seq 1 10); do
    chosen+=("$(printf 'Genre%03d' "$g")")
    body+="&$(printf 'Genre%03d' "$g")=AddGenre"
  done
  # Without a shell there is no body to pipe in; the fields of a POST's query
  # string count as well as those of its body.
  read -r post_ms scan_ms < <(REQUEST_METHOD=POST CONTENT_LENGTH=0 QUERY_STRING=$body \
      medians "$runs" "$folder/playlist.cgi" "$scan_floor $folder ${chosen[*]}")
  unset SERVER_SOFTWARE REQUEST_METHOD QUERY_STRING SCRIPT_NAME HTTP_HOST
  awk -v t="$genres x $songs" -v i="$index_ms" -v p="$page_ms" -v f="$floor_ms" -v q="$post_ms" -v s="$scan_ms" 'BEGIN {
    printf "%-12s %-34s %8.2fms %8.2fms %7.2fx\n", t, "?I (index)", i, f, i / f;
    printf "%-12s %-34s %8.2fms %8.2fms %7.2fx\n", t, "?P (index + genre page)", p, f, p / f;
    printf "%-12s %-34s %8.2fms %8.2fms %7.2fx\n", t, "POST 999 songs of 10 genres", q, s, q / s }'
  rm -rf "$work/tree-$tree"
done

# Further figures, each from a script of its own (scripts/bench_*.sh).
for extra in "$repo"/scripts/bench_*.sh; do
  [ -f "$extra" ] || continue
  echo
  BUILD=$build VALSETTO_BIN=$program BENCH_SECONDS=$seconds bash "$extra"
done
