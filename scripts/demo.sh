#!/usr/bin/env bash
# make demo: lays out a demo site with Valsetto as audiojs/playlist.cgi, genre
# folders of short MP3 songs made here with sox and lame, the page template
# and the player, and serves it with lighttpd on 127.0.0.1:${PORT:-8080}
# until Ctrl-C.
#
#   PORT             port to listen on (8080)
#   DEMO_DIR         the site folder (build/demo-site)
#   DEMO_SERVER_DIR  lighttpd's configuration and logs (build/demo-server)
#   VALSETTO_BIN     the program to install (build/valsetto)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
port=${PORT:-8080}
site=${DEMO_DIR:-$repo/build/demo-site}
server_dir=${DEMO_SERVER_DIR:-$repo/build/demo-server}
program=${VALSETTO_BIN:-$repo/build/valsetto}
demo=$repo/site/demo

fail() { echo "demo: $*" >&2; exit 1; }

export PATH=$PATH:/usr/sbin:/sbin
[ -x "$program" ] || fail "$program is not built (run make)"
for tool in lighttpd sox lame; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (make demo installs it when run as root)"
done

# A song: six notes of a genre's waveform, the melody shifted per song.
make_song() {  # waveform, song number, output file, title, genre
  local effects
  effects=$(awk -v wave="$1" -v n="$2" 'BEGIN {
    split("0 4 7 12 7 4 0 5 9 12 9 5 2 7 11 14 11 7", steps, " ");
    base = 196 * 2 ^ ((n * 5 % 12) / 12);
    for (i = 1; i <= 6; i++) {
      f = base * 2 ^ (steps[(n % 3) * 6 + i] / 12);
      printf "%ssynth %s %s %.2f", (i > 1 ? " : " : ""), (i < 6 ? 0.35 : 1.0), wave, f;
    }
    printf " fade 0 1.0 0.6";
  }')
  # shellcheck disable=SC2086 # the effect chain is a list of words
  sox -n -r 22050 -c 1 -b 16 -t wav - $effects 2>/dev/null \
    | lame --quiet -b 48 --tt "$4" --ta "Valsetto demo" --tg "$5" - "$3.part"
  mv -f "$3.part" "$3"
}

lay_out_site() {
  mkdir -p "$site/audiojs" "$server_dir/run"
  cp -f "$program" "$site/audiojs/playlist.cgi.part"
  chmod 755 "$site/audiojs/playlist.cgi.part"
  mv -f "$site/audiojs/playlist.cgi.part" "$site/audiojs/playlist.cgi"
  # The program reads its template as CR LF text, as a site owner's editor on
  # the original host would write it.
  sed 's/\r*$/\r/' "$demo/index.txt" > "$site/audiojs/index.txt"
  cp -f "$demo/player.js" "$demo/player.css" "$site/audiojs/"
  cp -f "$demo/index.html" "$site/index.html"

  local genre wave title made=0 previous="" n=0
  while IFS='|' read -r genre wave title; do
    [ -z "$genre" ] || [ "${genre:0:1}" = "#" ] && continue
    [ "$genre" = "$previous" ] && n=$((n + 1)) || n=0
    previous=$genre
    # Genre pages land in the site folder's folder named after the genre.
    mkdir -p "$site/audiojs/$genre" "$site/$genre"
    if [ ! -s "$site/audiojs/$genre/$title.mp3" ]; then
      make_song "$wave" "$n" "$site/audiojs/$genre/$title.mp3" "$title" "$genre"
      made=$((made + 1))
    fi
  done < "$demo/songs.txt"
  echo "demo: site in $site ($made songs made)"

  if [ "$(id -u)" = 0 ]; then
    chown -R www-data:www-data "$site" "$server_dir/run"
  fi
}

write_config() {
  {
    echo "server.document-root = \"$site\""
    echo "server.bind = \"127.0.0.1\""
    echo "server.port = $port"
    echo "server.errorlog = \"$server_dir/run/error.log\""
    echo "server.upload-dirs = ( \"$server_dir/run\" )"
    echo 'index-file.names = ( "index.html" )'
    echo 'mimetype.assign = ( ".html" => "text/html", ".js" => "text/javascript",'
    echo '  ".css" => "text/css", ".mp3" => "audio/mpeg" )'
    if [ "$(id -u)" = 0 ]; then
      echo 'server.username = "www-data"'
      echo 'server.groupname = "www-data"'
    fi
    echo "include \"$repo/site/lighttpd/valsetto.conf\""
  } > "$server_dir/lighttpd.conf"
}

port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}

lay_out_site
write_config
port_open && fail "port $port is in use (choose another with PORT=...)"

lighttpd -D -f "$server_dir/lighttpd.conf" &
server_pid=$!
stop() {
  trap - INT TERM EXIT
  if kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  echo "demo: stopped"
}
trap 'stop; exit 0' INT TERM
trap stop EXIT

for _ in $(seq 100); do
  port_open && break
  kill -0 "$server_pid" 2>/dev/null || fail "lighttpd did not start; see $server_dir/run/error.log"
  sleep 0.1
done
port_open || fail "lighttpd is not answering on port $port"

# Build the index once, so the genre pages exist before the first visit.
timeout 20 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"
  printf "GET /audiojs/playlist.cgi?I HTTP/1.0\r\nHost: 127.0.0.1:%s\r\n\r\n" "$1" >&3
  cat <&3 >/dev/null' _ "$port" || echo "demo: the first index build did not answer" >&2

echo "Valsetto demo: http://127.0.0.1:$port/audiojs/playlist.cgi?P"
echo "Press Ctrl-C to stop."
wait "$server_pid"
