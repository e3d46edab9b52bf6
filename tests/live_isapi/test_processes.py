"""Several isapi-fcgi processes on one socket, started by spawn-fcgi -F N,
behind nginx: while wrk keeps requests coming, one process is stopped by
SIGTERM or SIGHUP. It must end cleanly, the others must go on answering, and
no request may fail across the stop."""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import inprocess  # noqa: E402
from inprocess import livelib  # noqa: E402

WRK_SECONDS = 4
STOP_AFTER = 1.5
STOP_SECONDS = 30
PR_SET_CHILD_SUBREAPER = 36


class SharedSocketNginx(inprocess.NginxInProcess):
    """nginx in front of the hosts spawn-fcgi started on the socket."""
    name = "nginx-shared"

    def commands(self):
        _, nginx = super().commands()
        return [nginx]

    def is_ready(self, index):
        return livelib.port_open(self.port)


def spawn_hosts(socket_path, extension, count):
    """Starts count hosts on one socket with spawn-fcgi; their pids."""
    command = ["spawn-fcgi", "-s", str(socket_path), "-F", str(count), "-M", "0660"]
    if livelib.web_user() is not None:
        command += ["-u", "www-data", "-g", "www-data", "-U", "www-data", "-G", "www-data"]
    command += ["--", str(inprocess.host_path()), "-t", "2", str(extension)]
    done = subprocess.run(command, capture_output=True, text=True, timeout=30, stdin=subprocess.DEVNULL)
    pids = [int(pid) for pid in re.findall(r"child spawned successfully: PID: (\d+)", done.stderr + done.stdout)]
    if done.returncode != 0 or len(pids) != count:
        raise RuntimeError(f"spawn-fcgi failed ({done.returncode}): {done.stdout} {done.stderr}")
    return pids


class Hosts:
    """The hosts spawn-fcgi started. Once it has exited they are this
    process's children (it is their reaper), so their exit codes can be read."""

    def __init__(self, pids):
        self.pids = pids
        self.codes = {}

    def wait(self, pid, seconds):
        """The host's exit code, or None while it still runs after seconds."""
        deadline = time.monotonic() + seconds
        while pid not in self.codes:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done == pid:
                self.codes[pid] = os.waitstatus_to_exitcode(status)
            elif time.monotonic() >= deadline:
                return None
            else:
                time.sleep(0.05)
        return self.codes[pid]

    def running(self):
        return [pid for pid in self.pids if self.wait(pid, 0) is None]

    def stop(self):
        """Stops every host still running; all exit codes."""
        for pid in self.running():
            os.kill(pid, signal.SIGTERM)
        return [self.wait(pid, STOP_SECONDS) for pid in self.pids]


class SharedSocketTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        reason = inprocess.missing()
        for tool in ("spawn-fcgi", "wrk"):
            if reason is None and shutil.which(tool) is None:
                reason = f"{tool} is not installed"
        if reason:
            raise unittest.SkipTest(reason)
        # The hosts are spawn-fcgi's children; once it has exited they are
        # this process's, so their exit codes can be read.
        if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
            raise unittest.SkipTest("cannot become the hosts' reaper")
        cls.site = livelib.Site()
        cls.extension = inprocess.install_extension(cls.site)
        livelib.lay_out_music(cls.site, {"Tango": ["Tango 01"], "Rumba": ["Rumba 01"]},
                              "<html><body>\r\n<insert songlist>\r\n</body></html>\r\n")
        cls.server = SharedSocketNginx(cls.site)
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.site.cleanup()

    def test_stopping_one_host_leaves_the_others_serving(self):
        for count in (2, 4):
            for sig in (signal.SIGTERM, signal.SIGHUP):
                with self.subTest(processes=count, signal=sig.name):
                    self.stop_one_under_load(count, sig)

    def stop_one_under_load(self, count, sig):
        hosts = Hosts(spawn_hosts(self.server.socket_path, self.extension, count))
        try:
            url = self.server.url("/audiojs/playlist.cgi?P")
            load = {}
            wrk = threading.Thread(target=lambda: load.setdefault("run", subprocess.run(
                ["wrk", "-t1", "-c4", f"-d{WRK_SECONDS}s", "--timeout", "10s", url],
                capture_output=True, text=True, timeout=WRK_SECONDS + 60)))
            wrk.start()
            time.sleep(STOP_AFTER)
            stopped = hosts.pids[0]
            os.kill(stopped, sig)
            self.assertEqual(hosts.wait(stopped, STOP_SECONDS), 0, "the stopped host drains and ends cleanly")
            wrk.join(WRK_SECONDS + 70)
            run = load["run"]
            print(f"{count} hosts, one stopped by {sig.name}:\n{run.stdout}", file=sys.stderr)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertRegex(run.stdout, r"\d+ requests in")
            self.assertNotIn("Non-2xx", run.stdout)
            self.assertNotIn("Socket errors", run.stdout)
            for n in range(2 * count):
                self.assertEqual(livelib.request(self.server.port, f"/audiojs/playlist.cgi?P{n}").status, 200)
            self.assertEqual(hosts.running(), hosts.pids[1:], "the other hosts keep running")
        finally:
            codes = hosts.stop()
        self.assertEqual(codes, [0] * count)


if __name__ == "__main__":
    unittest.main()
