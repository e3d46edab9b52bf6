# Shared pieces of the bench scripts; sourced, not run. A script sets
# `work` (its temporary folder) before calling these, and calls
# bench_stop_all from its EXIT trap.

bench_pids=()

# Makes the temporary folder `work` with a run folder and a site whose
# audiojs folder holds the program as playlist.cgi and the other CGI
# programs given as NAME=PATH (copied as NAME).
bench_site() {  # tag program [name=path...]
  work=$(mktemp -d "/tmp/valsetto-bench-$1-XXXXXX")
  chmod 755 "$work"
  site=$work/site
  mkdir -p "$site/audiojs" "$work/run"
  cp "$2" "$site/audiojs/playlist.cgi"
  chmod 755 "$site/audiojs/playlist.cgi"
  local extra
  for extra in "${@:3}"; do
    cp "${extra#*=}" "$site/audiojs/${extra%%=*}"
    chmod 755 "$site/audiojs/${extra%%=*}"
  done
}

bench_free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Writes $work/lighttpd.conf: document root, 127.0.0.1:port, logs under
# $work/run, running as www-data when root, then the given include files.
# A script appends any lines of its own to the file.
bench_lighttpd_conf() {  # site port include...
  local site=$1 port=$2 include
  shift 2
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
    for include in "$@"; do echo "include \"$include\""; done
  } > "$work/lighttpd.conf"
}

bench_port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Starts lighttpd on $work/lighttpd.conf and waits (10 s at most) until the
# port answers; the pid is remembered for bench_stop_all.
bench_start_lighttpd() {  # port
  local port=$1 pid
  lighttpd -D -f "$work/lighttpd.conf" &
  pid=$!
  bench_pids+=("$pid")
  for _ in $(seq 100); do
    bench_port_open "$port" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "bench: lighttpd is not answering on port $port: $(cat "$work/run/error.log" 2>/dev/null)" >&2
  return 1
}

# The EXIT trap of a bench script: its processes, then its folder.
bench_cleanup() {
  bench_stop_all
  rm -rf "$work"
}

# One GET of path on 127.0.0.1:port (60 s at most); the answer is discarded.
bench_fetch() {  # port path
  timeout 60 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" "$2" >&3
    cat <&3 >/dev/null' _ "$1" "$2"
}

# Ends the processes started here, newest first, by their pids.
bench_stop_all() {
  local i pid
  for ((i = ${#bench_pids[@]} - 1; i >= 0; i--)); do
    pid=${bench_pids[i]}
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid"
      wait "$pid" 2>/dev/null || true
    fi
  done
}

# One wrk run against url; prints "requests/s p50-ms p99-ms non-2xx".
bench_wrk() {  # url seconds connections [wrk options...]
  local url=$1 seconds=$2 connections=$3
  shift 3
  timeout $((seconds + 30)) wrk -t1 -c"$connections" -d"${seconds}s" --latency "$@" "$url" | awk '
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

# hyperfine without a shell, one command per argument (options such as
# --prepare may come first); prints the median in ms of each command.
bench_medians() {  # runs, hyperfine arguments...
  local runs=$1 json=$work/hyperfine.json
  shift
  hyperfine --shell=none --style none --warmup 1 --runs "$runs" --export-json "$json" "$@" \
    >/dev/null 2>"$work/hyperfine.err" || { echo "bench: hyperfine: $(cat "$work/hyperfine.err")" >&2; exit 1; }
  /usr/bin/python3 -c 'import json, sys
print(" ".join("%.2f" % (r["median"] * 1000) for r in json.load(open(sys.argv[1]))["results"]))' "$json"
}
