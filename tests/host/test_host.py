"""isapi-fcgi with the echo extension: start-up, the control block built from
FastCGI parameters, server variables, the body in preloaded bytes and
ReadClient pieces, the answer's status line and redirect, concurrent workers
and the stop on a signal, also of one of several hosts sharing a socket. Needs ISAPI_FCGI, ECHO_EXTENSION and
ECHO_WITHOUT_FILTER_PROC (CTest sets them)."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import fcgi_client  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "live"))
import livelib  # noqa: E402

HOST = os.environ.get("ISAPI_FCGI", "")
ECHO = os.environ.get("ECHO_EXTENSION", "")
NO_FILTER_PROC = os.environ.get("ECHO_WITHOUT_FILTER_PROC", "")
PROGRAM_EXTENSION = os.environ.get("VALSETTO_SO", "")
ENTRY_POINTS = {"GetExtensionVersion", "HttpExtensionProc", "TerminateExtension", "GetFilterVersion",
                "HttpFilterProc"}
START_SECONDS = 10

BASE = {"REQUEST_METHOD": "GET", "QUERY_STRING": "", "SCRIPT_NAME": "/echo", "SERVER_PROTOCOL": "HTTP/1.1",
        "REMOTE_ADDR": "127.0.0.1", "GATEWAY_INTERFACE": "CGI/1.1"}


class Host:
    """isapi-fcgi on a Unix socket in a scratch folder, stopped by its pid."""

    def __init__(self, extension=None, threads=2, env=None, args=None, options=()):
        self.work = Path(tempfile.mkdtemp(prefix="isapi-fcgi-test-"))
        self.socket = self.work / "host.sock"
        environment = dict(os.environ, **(env or {}))
        command = [HOST, "-t", str(threads), *options] + (args if args is not None else ["-s", str(self.socket)])
        self.process = subprocess.Popen(command + [extension or ECHO], env=environment,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        if args is None:
            livelib.wait_until(lambda: self.socket.exists() or self.process.poll() is not None, START_SECONDS,
                     "the host's socket")

    def ask(self, query="", params=None, body=b"", **kwargs):
        merged = dict(BASE, QUERY_STRING=query, **(params or {}))
        return fcgi_client.request(self.socket, merged, body, **kwargs)

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            out, err = self.process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
        return self.process.returncode, err.decode(errors="replace")

    def close(self):
        """Stops the host (once); its exit code and what it wrote to stderr."""
        if getattr(self, "result", None) is None:
            self.result = self.stop()
            for entry in self.work.iterdir():
                entry.unlink()
            self.work.rmdir()
        return self.result


def takes_signal(pid, sig):
    """A thread of the process has sig blocked: the host blocks its stop
    signals before it starts its workers, which keep them blocked (the main
    thread's own mask shows them open while it waits for one)."""
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            status = (task / "status").read_text()
        except OSError:
            continue
        blocked = next(int(line.split()[1], 16) for line in status.splitlines() if line.startswith("SigBlk:"))
        if blocked & (1 << (int(sig) - 1)):
            return True
    return False


def fields(answer):
    """The echo's "name=value" lines before its body."""
    text = answer.body.decode("latin-1")
    head, _, _ = text.partition("\nbody=")
    return dict(line.split("=", 1) for line in head.split("\n") if "=" in line and " " not in line.split("=")[0])


@unittest.skipUnless(HOST and ECHO, "ISAPI_FCGI and ECHO_EXTENSION name the programs")
class StartupTests(unittest.TestCase):
    def run_host(self, args, env=None):
        return subprocess.run([HOST, *args], env=dict(os.environ, **(env or {})), capture_output=True,
                              timeout=START_SECONDS, stdin=subprocess.DEVNULL)

    def test_refused_start_ups_say_why(self):
        with tempfile.TemporaryDirectory() as work:
            sock = str(Path(work) / "s.sock")
            cases = [
                ("no extension", ["-s", sock], {}, 2, "exactly one extension"),
                ("threads out of range", ["-t", "0", "-s", sock, ECHO], {}, 2, "-t must be"),
                ("body limit not a number", ["-b", "1M", "-s", sock, ECHO], {}, 2, "-b must be"),
                ("socket and port", ["-s", sock, "-p", "9", ECHO], {}, 2, "not both"),
                ("unknown option", ["-x", "1", ECHO], {}, 2, "unknown option -x"),
                ("missing file", ["-s", sock, str(Path(work) / "none.so")], {}, 1, "cannot load"),
                ("entry point missing", ["-s", sock, NO_FILTER_PROC], {}, 1, "does not export HttpFilterProc"),
                ("extension refuses", ["-s", sock, ECHO], {"ECHO_REFUSE": "1"}, 1, "returned FALSE"),
                ("no socket given or inherited", [ECHO], {}, 1, "no listening socket"),
            ]
            for name, args, env, code, message in cases:
                with self.subTest(name):
                    done = self.run_host(args, env)
                    self.assertEqual(done.returncode, code, done.stderr)
                    self.assertIn(message, done.stderr.decode())

    def test_a_file_in_the_socket_path_is_not_replaced(self):
        with tempfile.TemporaryDirectory() as work:
            path = Path(work) / "precious"
            path.write_text("keep me")
            done = self.run_host(["-s", str(path), ECHO])
            self.assertEqual(done.returncode, 1)
            self.assertEqual(path.read_text(), "keep me")

    def test_port_is_opened_on_the_loopback_address_only(self):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        host = Host(args=["-p", str(port)])
        try:
            livelib.wait_until(lambda: livelib.port_open(port), START_SECONDS, "the host's port")
            answer = fcgi_client.request(port, dict(BASE, QUERY_STRING="a=1"))
            self.assertEqual(fields(answer)["query"], "a=1")
            # /proc/net/tcp: local address in hex, state 0A is LISTEN.
            listening = [line.split()[1] for line in Path("/proc/net/tcp").read_text().splitlines()[1:]
                         if line.split()[3] == "0A" and line.split()[1].endswith(f":{port:04X}")]
            self.assertEqual(listening, [f"0100007F:{port:04X}"])
        finally:
            host.close()

    def test_hosts_sharing_a_socket_serve_on_when_one_stops(self):
        # A stopping host shut the shared socket down, so every sibling's
        # accept failed and all of them ended with it.
        for sig in (signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name), tempfile.TemporaryDirectory() as work:
                path = Path(work) / "shared.sock"
                with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as listener:
                    listener.bind(str(path))
                    listener.listen(8)
                    hosts = [subprocess.Popen([HOST, "-t", "2", ECHO], stdin=listener.fileno(),
                                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                             for _ in range(2)]
                try:
                    fcgi_client.request(path, dict(BASE, QUERY_STRING="both"))
                    # The other host may have answered while this one was
                    # still starting, before it took its stop signals.
                    livelib.wait_until(lambda: takes_signal(hosts[0].pid, sig), START_SECONDS,
                                       "the host's stop signal handling")
                    hosts[0].send_signal(sig)
                    self.assertEqual(hosts[0].wait(timeout=30), 0, hosts[0].stderr.read())
                    for n in range(6):
                        answer = fcgi_client.request(path, dict(BASE, QUERY_STRING=f"after={n}"))
                        self.assertEqual(fields(answer)["query"], f"after={n}")
                    self.assertIsNone(hosts[1].poll(), hosts[1].stderr.read() if hosts[1].poll() else "")
                finally:
                    for host in hosts:
                        if host.poll() is None:
                            host.send_signal(signal.SIGTERM)
                        host.wait(timeout=30)
                        host.stderr.close()
                self.assertEqual(hosts[1].returncode, 0)

    def test_socket_inherited_as_standard_input(self):
        with tempfile.TemporaryDirectory() as work:
            path = Path(work) / "inherited.sock"
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listener.bind(str(path))
            listener.listen(8)
            process = subprocess.Popen([HOST, "-t", "1", ECHO], stdin=listener.fileno(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            listener.close()
            try:
                answer = fcgi_client.request(path, dict(BASE, QUERY_STRING="inherited"))
                self.assertEqual(fields(answer)["query"], "inherited")
            finally:
                process.send_signal(signal.SIGTERM)
                self.assertEqual(process.wait(timeout=30), 0)


@unittest.skipUnless(HOST and ECHO, "ISAPI_FCGI and ECHO_EXTENSION name the programs")
class RequestTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = Host(threads=2)

    @classmethod
    def tearDownClass(cls):
        # A fault the host survived no request saw (a sanitizer's report
        # ends it with another code).
        code, err = cls.host.close()
        if code != 0:
            raise AssertionError(f"the host ended with {code}: {err}")

    def test_control_block_fields_come_from_the_parameters(self):
        cases = [
            ("GET with all fields", {"REQUEST_METHOD": "GET", "PATH_INFO": "/more", "PATH_TRANSLATED": "/srv/more"},
             "x=1&y=2", b"", {"method": "GET", "query": "x=1&y=2", "path_info": "/more",
                              "path_translated": "/srv/more", "total": "0", "available": "0"}),
            ("absent fields are empty texts", {"REQUEST_METHOD": "HEAD"}, "", b"",
             {"method": "HEAD", "query": "", "path_info": "", "path_translated": "", "content_type": ""}),
            ("POST with a small body", {"REQUEST_METHOD": "POST", "CONTENT_TYPE": "application/x-www-form-urlencoded"},
             "", b"a=1&b=2", {"method": "POST", "content_type": "application/x-www-form-urlencoded",
                              "total": "7", "available": "7"}),
        ]
        for name, params, query, body, expected in cases:
            with self.subTest(name):
                answer = self.host.ask(query, params, body)
                got = fields(answer)
                for key, value in expected.items():
                    self.assertEqual(got.get(key), value, key)

    def test_large_body_arrives_preloaded_then_in_pieces(self):
        body = bytes((i * 7 + i // 251) % 256 for i in range(100_000))
        answer = self.host.ask("piece=1000", {"REQUEST_METHOD": "POST"}, body)
        got = fields(answer)
        self.assertEqual(got["total"], "100000")
        self.assertEqual(got["available"], str(48 * 1024))
        pieces = [int(p) for p in got["pieces"].split()]
        self.assertTrue(all(0 < p <= 1000 for p in pieces), pieces[:10])
        self.assertEqual(48 * 1024 + sum(pieces), 100_000)
        self.assertTrue(answer.body.endswith(b"\nbody=100000\n" + body))

    def test_body_cut_short_by_the_server_ends_the_reads(self):
        answer = self.host.ask("piece=100", {"REQUEST_METHOD": "POST", "CONTENT_LENGTH": "1000"}, b"z" * 300,
                               close_after_params=True)
        got = fields(answer)
        self.assertEqual(got["available"], "300")
        self.assertEqual(got["pieces"], " end")
        self.assertTrue(answer.body.endswith(b"\nbody=300\n" + b"z" * 300))

    def test_server_variables(self):
        params = {"HTTP_HOST": "example", "HTTP_USER_AGENT": "abc", "SCRIPT_NAME": "/cgi/echo",
                  "PATH_INFO": "/p", "CONTENT_LENGTH": "0"}
        answer = self.host.ask("vars=HTTP_USER_AGENT,http_host,ALL_HTTP,URL,SERVER_PORT_SECURE,REMOTE_HOST,"
                               "UNMAPPED_REMOTE_USER,NO_SUCH_NAME,X", params)
        lines = answer.body.decode().split("\n")
        expected = [
            "HTTP_USER_AGENT size=4 value=[abc]",
            "http_host size=8 value=[example]",
            "ALL_HTTP size=39 value=[HTTP_HOST:example\nHTTP_USER_AGENT:abc\n]",
            "URL size=12 value=[/cgi/echo/p]",
            "SERVER_PORT_SECURE fits-in-2 size=2 value=[0]",
            "REMOTE_HOST size=10 value=[127.0.0.1]",
            "UNMAPPED_REMOTE_USER absent",
            "NO_SUCH_NAME absent",
            "X absent",
        ]
        text = "\n".join(lines)
        for line in expected:
            with self.subTest(line):
                self.assertIn(line, text)

    def test_secure_port_follows_https(self):
        answer = self.host.ask("vars=SERVER_PORT_SECURE", {"HTTPS": "on"})
        self.assertIn("SERVER_PORT_SECURE fits-in-2 size=2 value=[1]", answer.body.decode())

    def test_status_line_becomes_a_status_header(self):
        cases = [
            ("the echo's own", "", ["Status: 200 OK", "Content-Type: text/plain"]),
            ("HTTP/1.1 with a reason", "raw=HTTP/1.1 404 Not There%0D%0AX-A: 1%0D%0A%0D%0Agone",
             ["Status: 404 Not There", "X-A: 1"]),
            ("bare line feeds", "raw=HTTP/1.0 201 Made%0AX-B: 2%0A%0Adone", None),
            ("no status text", "raw=HTTP/1.%0D%0AX-C: 3%0D%0A%0D%0A", ["X-C: 3"]),
            ("a CGI header block passes", "raw=Content-Type: text/x%0D%0A%0D%0Ab", ["Content-Type: text/x"]),
            ("no empty line is ended", "raw=HTTP/1.0 200 OK%0D%0AX-D: 4", ["Status: 200 OK", "X-D: 4"]),
        ]
        for name, query, head in cases:
            with self.subTest(name):
                answer = self.host.ask(query)
                if head is None:
                    self.assertTrue(answer.stdout.startswith(b"Status: 201 Made\r\nX-B: 2\n\ndone"), answer.stdout)
                else:
                    self.assertEqual(answer.head_lines, head)
                self.assertEqual(answer.app_status, 0)

    def test_redirect_becomes_a_302_with_location(self):
        answer = self.host.ask("redirect=/elsewhere?x=1")
        self.assertEqual(answer.head_lines[:3], ["Status: 302 Object Moved", "Location: /elsewhere?x=1",
                                                 "Content-Type: text/plain"])
        self.assertIn(b"method=GET", answer.body)
        # After the header block has gone out there is nothing left to change.
        late = self.host.ask("late=/too-late&raw=")
        self.assertEqual(late.header("Status"), "200 OK")
        self.assertIn(b"late redirect refused", late.body)
        # A line break would end the Location line and start a header of the client's choosing.
        injected = self.host.ask("redirect=/a%0D%0ASet-Cookie: x=1")
        self.assertEqual(injected.header("Status"), "500 Redirect Refused")
        self.assertIsNone(injected.header("Set-Cookie"))

    def test_failing_extension_without_output_gets_a_500(self):
        answer = self.host.ask("fail")
        self.assertEqual(answer.header("Status"), "500 Internal Server Error")

    def test_refused_requests(self):
        cases = [
            ("parameters too large", {"HTTP_X_BIG": "v" * (300 * 1024)}, "431"),
            ("content length not a number", {"CONTENT_LENGTH": "12abc"}, "400"),
            ("content length beyond 32 bits", {"CONTENT_LENGTH": "4294967296"}, "413"),
            # The host took a body of any length and relied on the server's limit.
            ("body over the default 1 MiB", {"CONTENT_LENGTH": str(1024 * 1024 + 1)}, "413"),
        ]
        for name, params, status in cases:
            with self.subTest(name):
                answer = self.host.ask("", params)
                self.assertTrue(answer.header("Status").startswith(status), answer.head_lines)


    def test_body_limit_given_by_its_option(self):
        host = Host(options=["-b", "1000"])
        self.addCleanup(host.close)
        self.assertEqual(fields(host.ask("", {"REQUEST_METHOD": "POST"}, b"x" * 1000))["total"], "1000")
        answer = host.ask("", {"REQUEST_METHOD": "POST"}, b"x" * 1001)
        self.assertTrue(answer.header("Status").startswith("413"), answer.head_lines)


@unittest.skipUnless(HOST and ECHO, "ISAPI_FCGI and ECHO_EXTENSION name the programs")
class WorkerTests(unittest.TestCase):
    def timed_batch(self, host, count, query):
        results = [None] * count

        def one(i):
            results[i] = host.ask(f"{query}&n={i}")

        started = time.monotonic()
        threads = [threading.Thread(target=one, args=(i,)) for i in range(count)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=30)
        return time.monotonic() - started, results

    def test_workers_serve_at_once_each_its_own_request(self):
        host = Host(threads=4)
        try:
            elapsed, results = self.timed_batch(host, 4, "sleep=600")
            self.assertLess(elapsed, 4 * 0.6, "four workers must overlap")
            for i, answer in enumerate(results):
                self.assertEqual(fields(answer)["query"], f"sleep=600&n={i}")
        finally:
            host.close()
        single = Host(threads=1)
        try:
            elapsed, _ = self.timed_batch(single, 3, "sleep=300")
            self.assertGreaterEqual(elapsed, 0.85, "one worker serves one request at a time")
        finally:
            single.close()

    def test_stop_signal_lets_the_running_request_finish_then_unloads(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                marker = Path(tempfile.mkdtemp()) / "terminated"
                # The host confines itself to the extension's folders; the log
                # folder is one of them.
                host = Host(threads=2, env={"ECHO_TERMINATE_FILE": str(marker), "CGI_LOG_DIR": str(marker.parent)})
                result = {}
                slow = threading.Thread(target=lambda: result.setdefault("a", host.ask("sleep=800")))
                slow.start()
                time.sleep(0.3)
                code, err = host.stop(sig)
                slow.join(timeout=30)
                self.assertEqual(code, 0, err)
                self.assertEqual(fields(result["a"])["query"], "sleep=800")
                self.assertEqual(marker.read_text(), "2\n", "TerminateExtension(HSE_TERM_MUST_UNLOAD)")
                self.assertFalse(host.socket.exists(), "the socket file is removed")
                marker.unlink()
                marker.parent.rmdir()
                host.work.rmdir()


@unittest.skipUnless(HOST and PROGRAM_EXTENSION, "ISAPI_FCGI and VALSETTO_SO name the programs")
class ProgramExtensionTests(unittest.TestCase):
    """The program's own extension in the host: what it exports, and
    concurrent requests on four workers answered each as its own."""

    def test_exports_the_entry_points_only(self):
        listing = subprocess.run(["nm", "-D", "--defined-only", PROGRAM_EXTENSION], capture_output=True,
                                 text=True, check=True).stdout
        exported = {line.split()[-1] for line in listing.splitlines() if line.strip()}
        self.assertEqual(exported, ENTRY_POINTS)

    def copied_extension(self):
        """A folder of the test's own (removed at its end) with a copy of the extension."""
        folder = Path(tempfile.mkdtemp(prefix="valsetto-so-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        shutil.copy2(PROGRAM_EXTENSION, folder / "playlist.so")
        return folder, folder / "playlist.so"

    def test_concurrent_requests_get_their_own_answers(self):
        folder, extension = self.copied_extension()
        host = Host(extension=str(extension), threads=4)
        try:
            self.assertIn(b"OFF", host.ask("d").body)
            results = {}

            def one(n):
                query = f"S{n}" if n % 2 else f"Q{n}"
                results[n] = (query, host.ask(query, {"HTTP_X_TOKEN": str(n)}))

            threads = [threading.Thread(target=one, args=(n,)) for n in range(40)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(timeout=60)
            # The library is no resident server: its end runs no server
            # clean-up over the files named after it.
            alive = folder / "playlist.so_notes"
            alive.write_text("mine")
            self.assertEqual(len(results), 40)
            for n, (query, answer) in sorted(results.items()):
                with self.subTest(query=query):
                    self.assertEqual(answer.head_lines[0], "Status: 200 OK")
                    body = answer.body.decode("latin-1")
                    if query.startswith("S"):
                        self.assertIn(f"\r\nQUERY_STRING={query}<br>\r\n", body)
                        self.assertIn(f"\r\nHTTP_X_TOKEN={n}<br>\r\n", body)
                    else:
                        self.assertEqual(body, "")
            # Files beside the extension, none left under a temporary name.
            self.assertEqual(sorted(p.name for p in folder.iterdir()),
                             ["Tunewright.tst", "playlist.opt", "playlist.so", "playlist.so_notes"])
            code, err = host.close()
            self.assertEqual(code, 0, err)
            self.assertTrue(alive.exists(), "the server clean-up ran at the host's end")
        finally:
            host.close()

    def test_a_request_sees_nothing_an_earlier_one_loaded(self):
        folder, extension = self.copied_extension()
        # One worker: the same thread serves every request.
        host = Host(extension=str(extension), threads=1)
        try:
            record = bytearray(1160)
            for offset, text in [(634, b"Tango42"), (660, b"ops@example.org"), (1037, b"10.0.0.2")]:
                record[offset] = len(text)
                record[offset + 1:offset + 1 + len(text)] = text
            (folder / "playlist.opt").write_bytes(bytes(record))
            first = host.ask("XTango42").body.decode("latin-1")
            self.assertIn('name="errormail" maxlength=120 size=60 type="text" value="ops@example.org"', first)
            (folder / "playlist.opt").unlink()
            second = host.ask("X").body.decode("latin-1")
            for name in ("password", "errormail", "notifyip"):
                with self.subTest(field=name):
                    self.assertRegex(second, f'name="{name}" maxlength=\\d+ size=60 type="text" value=""')
        finally:
            code, err = host.close()
        self.assertEqual(code, 0, err)


if __name__ == "__main__":
    unittest.main()
