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
# shellcheck source=scripts/benchlib.sh
source "$repo/scripts/benchlib.sh"
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

port=$(bench_free_port)
bench_lighttpd_conf "$site" "$port" "$repo/site/lighttpd/valsetto.conf"
trap bench_cleanup EXIT
bench_start_lighttpd "$port" || exit 1

measure() {  # prints "requests/s p50-ms p99-ms non-2xx"
  bench_wrk "http://127.0.0.1:$port/audiojs/playlist.cgi" "$seconds" 1
}

read -r direct_rps direct_p50 direct_p99 _ < <(measure)

# The resident server: started by hand, no arguments, no SERVER_SOFTWARE.
(cd "$site/audiojs" && exec env -i PATH=/usr/bin:/bin "${as_web[@]}" ./playlist.cgi </dev/null >/dev/null 2>&1) &
bench_pids+=("$!")
for _ in $(seq 100); do [ -e "$site/audiojs/temp/window-playlist.cgi_S" ] && break; sleep 0.1; done
[ -e "$site/audiojs/temp/window-playlist.cgi_S" ] || fail "the resident server did not start"
read -r handed_rps handed_p50 handed_p99 _ < <(measure)

echo "bench: resident server, empty query under lighttpd, wrk -c1 ${seconds}s"
printf '%-24s %12s %10s %10s\n' "answered by" "requests/s" "p50 ms" "p99 ms"
printf '%-24s %12.0f %10.3f %10.3f\n' "the CGI process" "$direct_rps" "$direct_p50" "$direct_p99"
printf '%-24s %12.0f %10.3f %10.3f\n' "the resident server" "$handed_rps" "$handed_p50" "$handed_p99"
awk -v a="$handed_p50" -v b="$direct_p50" 'BEGIN { printf "p50 ratio (resident / direct): %.1fx; the 50 ms polling of both sides bounds it\n", (b > 0 ? a / b : 0) }'
