"""Load on the in-process program: wrk with 8 connections for 10 s against
nginx and isapi-fcgi -t 4, on a mix of the manager page with a stored
password, the report and playlist posts (mix.lua). Every answer must be
complete and belong to its own request: requests served at once on the
host's threads must never see each other's query, options or draws."""

import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import inprocess  # noqa: E402
from inprocess import livelib  # noqa: E402
import test_servers  # noqa: E402

HERE = Path(__file__).resolve().parent
SECONDS = 10
CONNECTIONS = 8


class LoadTests(unittest.TestCase):
    def setUp(self):
        reason = inprocess.missing() or (None if shutil.which("wrk") else "wrk is not installed")
        if reason:
            self.skipTest(reason)
        self.site = livelib.Site()
        self.addCleanup(self.site.cleanup)
        inprocess.install_extension(self.site)
        test_servers.LiveServerCases.install_music(self)
        self.stored = test_servers.options_record(password="Tango42", host="smtp.example.org")
        self.site.write("audiojs/playlist.opt", self.stored)
        self.server = inprocess.NginxInProcess(self.site)
        self.server.threads = 4
        self.server.start()
        self.addCleanup(self.server.stop)

    def test_every_answer_is_complete_and_its_own(self):
        run = subprocess.run(["wrk", "-t2", f"-c{CONNECTIONS}", f"-d{SECONDS}s", "--timeout", "10s",
                              "-s", str(HERE / "mix.lua"), self.server.url("/")],
                             capture_output=True, text=True, timeout=SECONDS + 60)
        self.assertEqual(run.returncode, 0, run.stderr)
        print(run.stdout, file=sys.stderr)
        match = re.search(r"checked=(\d+) wrong=(\d+) first_wrong=(.*)", run.stdout)
        self.assertIsNotNone(match, run.stdout)
        checked, wrong = int(match.group(1)), int(match.group(2))
        self.assertEqual(wrong, 0, f"{wrong} of {checked} answers wrong, first: {match.group(3)}")
        self.assertGreater(checked, 300, run.stdout)
        self.assertNotIn("Socket errors", run.stdout)
        self.assertNotIn("Non-2xx", run.stdout)
        # Nothing the requests wrote is left half-done or changed.
        self.assertEqual(self.site.program_file("playlist.opt").read_bytes(), self.stored)
        # Requests still running when wrk stopped may be writing theirs: each
        # must be gone within a bound, as its request ends.
        def leftovers():
            return [p.name for p in self.site.audiojs.rglob(".*") if p.name.endswith((".tmp", ".part"))]
        try:
            livelib.wait_until(lambda: not leftovers(), 20, "the running requests' files to be completed")
        except TimeoutError:
            self.assertEqual(leftovers(), [])


if __name__ == "__main__":
    unittest.main()
