"""The resident server under lighttpd on 127.0.0.1: started by hand beside the
site's program, it answers the CGI processes that lighttpd starts byte for
byte as they would answer themselves; it stops cleanly on SIGTERM, and a
server killed while a client waits has that client serve its request itself,
as the next request is served directly.
"""

import os
import signal
import threading
import time
import unittest

import livelib

PATHS = ["/audiojs/playlist.cgi", "/audiojs/playlist.cgi?X", "/audiojs/playlist.cgi?zzz"]


class ResidentServerUnderLighttpd(unittest.TestCase):
    def setUp(self):
        self.site = livelib.Site()
        self.addCleanup(self.site.cleanup)
        self.web = livelib.Lighttpd(self.site).start()
        self.addCleanup(self.web.stop)
        self.temp = self.site.audiojs / "temp"
        self.resident = None

    def start_resident(self):
        """Started by hand: no arguments, no SERVER_SOFTWARE, as the workers' user."""
        self.resident = livelib.spawn_resident_server(self.site)
        self.addCleanup(self.end_resident)
        livelib.wait_until(lambda: (self.temp / "window-playlist.cgi_S").exists(), 10, "the resident server")

    def end_resident(self):
        if self.resident and self.resident.poll() is None:
            os.kill(self.resident.pid, signal.SIGKILL)
            self.resident.wait(timeout=10)

    def answers(self):
        return {path: livelib.request(self.web.port, path) for path in PATHS}

    def assertSameAnswers(self, direct, handed):
        for path in PATHS:
            with self.subTest(path=path):
                self.assertEqual(handed[path].status, direct[path].status)
                self.assertEqual(handed[path].header("content-type"), direct[path].header("content-type"))
                self.assertEqual(handed[path].body, direct[path].body)

    def server_files(self):
        """The server's files; the lock that keeps a second server from
        starting stays, empty, beside them."""
        names = sorted(p.name for p in self.temp.iterdir()) if self.temp.exists() else []
        return [n for n in names if n != "window-playlist.cgi_S.lock"]

    def test_hand_off_answers_as_direct_runs_and_sigterm_stops_cleanly(self):
        direct = self.answers()
        self.start_resident()
        second = livelib.spawn_resident_server(self.site)
        self.assertEqual(second.wait(timeout=10), 1)  # one server per install
        # Held still, the server leaves a waiting request file: the answers
        # below really come through it.
        os.kill(self.resident.pid, signal.SIGSTOP)
        waiting = {}
        thread = threading.Thread(target=lambda: waiting.update(r=livelib.request(self.web.port, PATHS[1])))
        thread.start()
        livelib.wait_until(lambda: any(n.endswith("_REQ") for n in self.server_files()), 10, "a request file")
        self.assertTrue(thread.is_alive())
        os.kill(self.resident.pid, signal.SIGCONT)
        thread.join(timeout=20)
        self.assertEqual(waiting["r"].body, direct[PATHS[1]].body)

        self.assertSameAnswers(direct, self.answers())
        os.kill(self.resident.pid, signal.SIGTERM)
        self.assertEqual(self.resident.wait(timeout=10), 0)
        self.assertEqual(self.server_files(), [])

    def test_killed_server_bounds_the_waiting_client(self):
        direct = self.answers()
        self.start_resident()
        os.kill(self.resident.pid, signal.SIGSTOP)
        result = {}
        started = time.monotonic()

        thread = threading.Thread(target=lambda: result.update(r=livelib.request(self.web.port, PATHS[1])))
        thread.start()
        livelib.wait_until(lambda: any(n.endswith("_REQ") for n in self.server_files()), 10, "a request file")
        os.kill(self.resident.pid, signal.SIGKILL)
        self.resident.wait(timeout=10)
        thread.join(timeout=20)
        self.assertFalse(thread.is_alive())
        self.assertLess(time.monotonic() - started, 15)
        self.assertEqual(result["r"].body, direct[PATHS[1]].body)  # served by the client itself
        # The client took back its own request; the dead server's alive file
        # and window stay until the next server starts.
        self.assertFalse(any(n.endswith(("_REQ", "_cnf", "_wrt")) for n in self.server_files()))
        self.assertSameAnswers(direct, self.answers())  # served directly again


if __name__ == "__main__":
    unittest.main()
