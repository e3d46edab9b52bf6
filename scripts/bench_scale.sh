#!/usr/bin/env bash
# The music index at scale (run by make bench after scripts/bench.sh; figures
# only, nothing is asserted). For collections of 1k, 10k and 100k songs, each
# genre with its page folder beside audiojs, the hyperfine medians of CGI
# requests, side by side with the empty query measured in the same run:
#   ?P on an unchanged collection, ?P after one song was added (a new song
#   before every run), ?I (every folder listed again), and a 75-song
#   playlist POST from three genres.
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
#   BENCH_SONGS    the largest collection (100000; 1000000 adds 1M songs)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/benchlib.sh
source "$repo/scripts/benchlib.sh"
build=${BUILD:-$repo/build}
program=${VALSETTO_BIN:-$build/valsetto}
largest=${BENCH_SONGS:-100000}

fail() { echo "bench_scale: $*" >&2; exit 1; }
command -v hyperfine >/dev/null || fail "hyperfine is not installed (make bench installs it when run as root)"
[ -x "$program" ] || fail "$program is not built (run make)"

work=$(mktemp -d /tmp/valsetto-scale-XXXXXX)
trap 'rm -rf "$work"' EXIT

make_tree() {  # site folder, genres, songs per genre
  /usr/bin/python3 - "$@" <<'PY'
import os, sys
site, genres, songs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for g in range(1, genres + 1):
    name = f"Genre{g:03d}"
    os.makedirs(os.path.join(site, name), exist_ok=True)
    folder = os.path.join(site, "audiojs", name)
    os.makedirs(folder, exist_ok=True)
    for n in range(1, songs + 1):
        os.close(os.open(os.path.join(folder, f"Song {n:05d}.mp3"), os.O_CREAT | os.O_WRONLY, 0o644))
PY
}

medians() { bench_medians "$@"; }

echo "bench: the music index at scale, hyperfine medians, CGI requests with genre pages"
printf '%-9s %-34s %10s %12s %8s\n' "songs" "request" "Valsetto" "empty query" "ratio"
for songs in 1000 10000 100000 1000000; do
  [ "$songs" -le "$largest" ] || break
  genres=$(( songs >= 10000 ? 100 : 10 ))
  site=$work/site-$songs
  folder=$site/audiojs
  make_tree "$site" "$genres" $(( songs / genres ))
  cp "$program" "$folder/playlist.cgi"
  printf '<html><body>\r\nBREAKGENRE\r\n<ul>\r\nBREAKMUSIC\r\n<insert songlist>\r\n</ul></body></html>\r\n' > "$folder/index.txt"
  # A new song in the first genre each time it runs.
  printf 'n=$(( $(cat %s/added 2>/dev/null || echo 0) + 1 ))\necho $n > %s/added\n: > "%s/Genre001/Added $n.mp3"\n' \
    "$work" "$work" "$folder" > "$work/add_song.sh"
  runs=$(( songs >= 100000 ? 5 : 10 ))
  quick_runs=$(( runs * 3 ))  # the cheap requests, where the machine's noise weighs most
  export SERVER_SOFTWARE=bench REQUEST_METHOD=GET QUERY_STRING=d SCRIPT_NAME=/audiojs/playlist.cgi HTTP_HOST=127.0.0.1
  "$folder/playlist.cgi" >/dev/null  # diagnostics off: no trace line per song
  # A listing is trusted once its folder's last change lies 2 s back.
  sleep 2.1
  QUERY_STRING=P "$folder/playlist.cgi" >/dev/null
  read -r empty_ms page_ms < <(medians "$quick_runs" "env QUERY_STRING= $folder/playlist.cgi" \
                                        "env QUERY_STRING=P $folder/playlist.cgi")
  read -r added_ms < <(QUERY_STRING=P medians "$runs" --prepare "bash $work/add_song.sh" "$folder/playlist.cgi")
  read -r index_ms < <(QUERY_STRING=I medians "$runs" "$folder/playlist.cgi")
  body="command=playlistgen&numsongs=75&Genre001=AddGenre&Genre002=AddGenre&Genre003=AddGenre"
  read -r post_ms < <(REQUEST_METHOD=POST CONTENT_LENGTH=0 QUERY_STRING=$body medians "$runs" "$folder/playlist.cgi")
  unset SERVER_SOFTWARE REQUEST_METHOD QUERY_STRING SCRIPT_NAME HTTP_HOST
  awk -v s="$songs" -v e="$empty_ms" -v p="$page_ms" -v a="$added_ms" -v i="$index_ms" -v q="$post_ms" 'BEGIN {
    printf "%-9s %-34s %8.2fms %10.2fms %7.2fx\n", s, "empty query", e, e, 1;
    printf "%-9s %-34s %8.2fms %10.2fms %7.2fx\n", s, "?P, collection unchanged", p, e, p / e;
    printf "%-9s %-34s %8.2fms %10.2fms %7.2fx\n", s, "?P, one song added", a, e, a / e;
    printf "%-9s %-34s %8.2fms %10.2fms %7.2fx\n", s, "?I, every folder listed", i, e, i / e;
    printf "%-9s %-34s %8.2fms %10.2fms %7.2fx\n", s, "POST 75 songs of 3 genres", q, e, q / e }'
  rm -rf "$site" "$work/added"
done
