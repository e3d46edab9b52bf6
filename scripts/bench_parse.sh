#!/usr/bin/env bash
# make bench: parse figures of hostile input (nothing is asserted).
# - bench/parse_bench: the form-field parser and the other readers of
#    outside input on 64 KiB and 1 MiB of the slow shapes, with the growth
#    ratio (linear is 16, n log n about 21);
# - the whole CGI program answering a POST of 1 MiB of each shape, against
#    an empty POST: medians of a few runs and their ratio.
#
#   BUILD          build folder (build)
#   VALSETTO_BIN   the program (BUILD/valsetto)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$repo/build}
program=${VALSETTO_BIN:-$build/valsetto}
[ -x "$build/bench/parse_bench" ] || { echo "bench: $build/bench/parse_bench is not built (run make)" >&2; exit 1; }

echo "bench: parse time of hostile input, best of 15 runs"
"$build/bench/parse_bench"

work=$(mktemp -d /tmp/valsetto-parse-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/audiojs"
cp "$program" "$work/audiojs/playlist.cgi"

echo
echo "bench: the CGI program answering a POST, medians of 7 runs"
/usr/bin/python3 - "$work/audiojs/playlist.cgi" <<'PY'
import os, statistics, subprocess, sys, time

program = sys.argv[1]
size = 1024 * 1024

def body(shape):
    if shape == "empty":
        return b""
    out, i = [], 0
    total = 0
    pairs = size // 10
    while total < size:
        n = 1 if shape == "repeated" else i if shape == "ascending" else pairs - i
        pair = b"a=&" if shape == "repeated" else b"%07d=&" % n
        out.append(pair)
        total += len(pair)
        i += 1
    return b"".join(out)

def run(data, query=""):
    env = {"SERVER_SOFTWARE": "bench", "REQUEST_METHOD": "POST" if query == "" else "GET",
           "QUERY_STRING": query, "CONTENT_LENGTH": str(len(data)),
           "CONTENT_TYPE": "application/x-www-form-urlencoded",
           "SCRIPT_NAME": "/audiojs/playlist.cgi", "HTTP_HOST": "127.0.0.1", "PATH": "/usr/bin:/bin"}
    start = time.perf_counter()
    subprocess.run([program], input=data, env=env, stdout=subprocess.DEVNULL, check=False,
                   cwd=os.path.dirname(program), timeout=600)
    return (time.perf_counter() - start) * 1000

run(b"", "d")  # diagnostics off: no trace line per request
print("%-18s %12s %10s" % ("body", "median ms", "ratio"))
base = None
for shape in ("empty", "repeated", "ascending", "descending"):
    data = body(shape)
    ms = statistics.median(run(data) for _ in range(7))
    base = base or ms
    print("%-18s %12.2f %9.1fx" % (shape if shape == "empty" else shape + " 1 MiB", ms, ms / base))
PY
