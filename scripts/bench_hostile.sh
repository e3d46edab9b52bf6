#!/usr/bin/env bash
# make bench: the usual requests' latency beside hostile ones (figures only).
# The live load mix (tests/live/wrk/mix.lua: genre pages, playlists, toggles,
# manager pages) under lighttpd on 127.0.0.1 for BENCH_SECONDS, once alone
# and once beside two clients that keep posting 1 MiB bodies of the shapes
# that once made the field parse slow; prints both p50/p99 and their ratio.
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
#   BENCH_SECONDS  seconds per wrk run (3; at least 10 gives steadier figures)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$repo/build}
export VALSETTO_BIN=${VALSETTO_BIN:-$build/valsetto}
export BENCH_SECONDS=${BENCH_SECONDS:-3}
export PATH=$PATH:/usr/sbin:/sbin
for tool in lighttpd wrk; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is not installed" >&2; exit 1; }
done

cd "$repo/tests/live"
PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - <<'PY'
import os, subprocess, threading, time

import livelib
from test_load import CONNECTIONS, MUSIC, NUMSONGS, PASSWORD, TEMPLATE, WRK_SCRIPT, parse_load_lines
from test_servers import options_record

seconds = int(os.environ["BENCH_SECONDS"])
site = livelib.Site()
web = None
try:
    livelib.lay_out_music(site, MUSIC, TEMPLATE)
    site.write("audiojs/playlist.opt", options_record(password=PASSWORD, host="smtp.example.org"))
    web = livelib.Lighttpd(site).start()
    livelib.request(web.port, "/audiojs/playlist.cgi?d")

    def wrk():
        command = ["wrk", "-t", "4", "-c", "4", "-d", f"{seconds}s", "--timeout", "20s", "-s", str(WRK_SCRIPT),
                   web.url("/audiojs/playlist.cgi"), "--", PASSWORD, ",".join(MUSIC), str(NUMSONGS)]
        out = subprocess.run(command, capture_output=True, text=True, timeout=seconds + 60).stdout
        return parse_load_lines(out)[1]

    def hostile(stop, done):
        bodies = [livelib.slow_shape_body(s) for s in ("repeated", "descending")]
        while not stop.is_set() and done[0] < 1000:
            livelib.request(web.port, "/audiojs/playlist.cgi", "POST", bodies[done[0] % 2],
                            {"Content-Type": "application/x-www-form-urlencoded"})
            done[0] += 1

    alone = wrk()
    stop, done = threading.Event(), [0]
    threads = [threading.Thread(target=hostile, args=(stop, done)) for _ in range(2)]
    for t in threads:
        t.start()
    beside = wrk()
    stop.set()
    for t in threads:
        t.join(timeout=60)
    print(f"bench: the live load mix under lighttpd, wrk {seconds}s, 4 connections; "
          f"hostile: 2 clients posting 1 MiB bodies ({done[0]} posts)")
    print("%-34s %10s %10s %10s" % ("run", "requests/s", "p50 ms", "p99 ms"))
    for label, s in (("usual requests alone", alone), ("usual requests beside hostile", beside)):
        print("%-34s %10.1f %10.2f %10.2f" % (label, s["rps"], s["p50_us"] / 1000, s["p99_us"] / 1000))
    print("%-34s %10s %10s %9.2fx" % ("p99 beside / alone", "", "", beside["p99_us"] / max(alone["p99_us"], 1)))
finally:
    if web is not None:
        web.stop()
    site.cleanup()
PY
