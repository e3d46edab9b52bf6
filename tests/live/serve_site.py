"""Serves a site folder that is already laid out (the demo's) with one of the
live tests' servers, for the browser tests:

    python3 serve_site.py apache|nginx|lighttpd|lighttpd-inprocess SITE_FOLDER

prints "serving: http://127.0.0.1:PORT/" once the server answers, and stops
the server when its standard input closes or it receives SIGTERM. The
in-process server puts the extension into SITE_FOLDER/audiojs first; when
the extension or its host is not built it prints "cannot serve: " and why."""

import signal
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "live_isapi"))
import inprocess  # noqa: E402
import livelib  # noqa: E402

SERVERS = {"apache": livelib.Apache, "nginx": livelib.Nginx, "lighttpd": livelib.Lighttpd,
           "lighttpd-inprocess": inprocess.LighttpdInProcess}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in SERVERS:
        sys.exit(f"usage: serve_site.py {'|'.join(SERVERS)} SITE_FOLDER")
    site = livelib.Site.existing(sys.argv[2])
    if sys.argv[1].endswith("-inprocess"):
        reason = inprocess.missing()
        if reason:
            print(f"cannot serve: {reason}", flush=True)
            sys.exit(1)
        inprocess.install_extension(site)
    server = SERVERS[sys.argv[1]](site)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    try:
        server.start()
        print(f"serving: {server.url('/')}", flush=True)
        while not done.wait(0.5):
            pass
    finally:
        server.stop()
        site.cleanup()


if __name__ == "__main__":
    main()
