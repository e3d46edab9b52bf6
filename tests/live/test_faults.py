"""Faults under lighttpd on 127.0.0.1: the program folder turning read-only
while requests run, a full disk, a client that stops halfway through its
body, the resident server killed while it serves a request, and genre
folders vanishing while playlists are drawn. Whatever happens, every answer
is either the whole page its request asks for or the engine's error page,
and no file the program keeps is ever left half-written.
"""

import concurrent.futures
import errno
import os
import re
import shutil
import signal
import socket
import subprocess
import threading
import time
import unittest

import livelib
from test_servers import RECORD_SIZE, options_record, parse_record

CGI = "/audiojs/playlist.cgi"
PASSWORD = "Tango42"
NUMSONGS = 15
MUSIC = {genre: [f"{genre} {n:02d}" for n in range(1, 21)] for genre in ("Tango", "Rumba", "Waltz")}
PAGE_END = b"<!-- end of playlist page -->\r\n"
TEMPLATE = livelib.page_template(tail=["<!-- end of playlist page -->"])
FOOTER_END = b"</font></center></body></html>\r\n"
ERROR_PAGE = re.compile(rb"^<html><body>Unhandled Exception: [^\r\n]+</body></html>\r\n$")
ITEM = re.compile(rb'^<li><a href="#" data-src="[^"]*">\(([^)]*)\) ([^<]*)</a></li>\r$', re.M)
HIT_LINE = re.compile(rb"^\d{1,2}/\d{1,2}/\d{4}( \d{1,2}:\d{2}:\d{2} (AM|PM))?$")

# What each request of the mixes below sends: (kind, query or form fields).
TOGGLES = [("toggle", "D"), ("toggle", "d")]
MANAGER = [("manager_refused", "X"), ("manager_open", f"X{PASSWORD}")]
GENRE_PAGE = [("genre", "P")]


def post_environment(length):
    """What a web server sets for the program when a form of length bytes is posted."""
    return {"PATH": "/usr/bin:/bin", "GATEWAY_INTERFACE": "CGI/1.1", "SERVER_SOFTWARE": "test",
            "REQUEST_METHOD": "POST", "CONTENT_LENGTH": str(length), "QUERY_STRING": "",
            "CONTENT_TYPE": "application/x-www-form-urlencoded", "SCRIPT_NAME": CGI}


def playlist(*genres):
    fields = {"command": "playlistgen", "numsongs": str(NUMSONGS)}
    fields.update({g: "AddGenre" for g in genres})
    return ("playlist", fields)


def ask(port, job):
    """Sends one request of a mix; a job ("action", callable) instead does
    something to the site between the requests in flight."""
    kind, what = job
    if kind == "action":
        return what()
    if kind == "playlist":
        return livelib.post_form(port, CGI, what)
    return livelib.request(port, f"{CGI}?{what}")


def fault(job, response, genres_now=None):
    """Why an answer is neither the whole page of its request nor the error
    page; None when it is one of them. genres_now: the genre names a genre
    page may list (all of them unless folders come and go)."""
    kind, what = job
    body = response.body
    if response.status != 200:
        return f"status {response.status}"
    if ERROR_PAGE.match(body):
        # A page that only reads never fails.
        return "error page" if kind.startswith("manager") else None
    if kind == "toggle":
        expected = b"Diagnostics are:\r\n" + (b"ON" if what == "D" else b"OFF") + b"\r\n"
        return None if body == expected else "toggle answer"
    if kind == "manager_refused":
        return None if body.startswith(b"Password Error\r\n") and body.endswith(FOOTER_END) \
            and body.count(b"\r\n") == 2 else "refusal"
    if kind == "manager_open":
        return None if b" - Kestrine2 Logger Manager - " in body and body.endswith(FOOTER_END) else "manager page"
    if kind == "genre":
        if not body.endswith(FOOTER_END) or b"<title>Valsetto Playlist Generator</title>" not in body:
            return "genre page cut"
        rows = re.findall(rb'name="([^"]*)" value="AddGenre"', body)
        # The gateway log's and the resident server's folders beside the
        # program are folders like any other.
        allowed = {g.encode() for g in (genres_now or MUSIC)} | {b"log", b"temp"}
        return None if set(rows) <= allowed else f"genre rows {rows}"
    if kind == "playlist":
        if not body.endswith(PAGE_END):
            return "playlist page cut"
        items = ITEM.findall(body)
        chosen = {g.encode() for g in what if what[g] == "AddGenre"}
        if any(g not in chosen for g, _ in items) or len(set(items)) != len(items):
            return f"playlist items {items[:3]}"
        return None if len(items) <= NUMSONGS else "too many items"
    return "unknown kind"


def record_ok(data):
    return len(data) == RECORD_SIZE and parse_record(data)["password"] == PASSWORD


def snapshot(folder):
    """Every file below folder by relative path, with its bytes."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


class FaultCase(unittest.TestCase):
    server_lines = ()

    def setUp(self):
        self.site = livelib.Site()
        self.addCleanup(self.site.cleanup)
        self.prepare_site()
        livelib.lay_out_music(self.site, MUSIC, TEMPLATE)
        self.site.write("audiojs/playlist.opt", options_record(password=PASSWORD, host="smtp.example.org"))
        web_class = type("Web", (livelib.Lighttpd,), {"extra_lines": self.server_lines})
        self.web = web_class(self.site).start()
        self.addCleanup(self.web.stop)
        self.addCleanup(livelib.wait_for_no_program, self.site.cgi, 30)

    def prepare_site(self):
        pass

    def run_jobs(self, jobs, workers=4):
        """Runs the requests four at a time; returns (job, response) pairs."""
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            futures = [(job, pool.submit(ask, self.web.port, job)) for job in jobs]
            done = [(job, f.result(timeout=livelib.REQUEST_SECONDS * 4)) for job, f in futures]
        return [(job, r) for job, r in done if job[0] != "action"]

    def assertAnswersSound(self, answered, genres_now=None):
        genres_now = genres_now or getattr(self, "music", MUSIC)
        faults = [(job, why, r.body[-200:]) for job, r in answered
                  if (why := fault(job, r, genres_now)) is not None]
        self.assertEqual(faults, [], self.web.diagnostics())

    def options_file(self):
        return self.site.program_file("playlist.opt")

    def hit_lines(self):
        data = b"".join(p.read_bytes() for p in self.site.audiojs.glob("playlist*.log"))
        self.assertTrue(data == b"" or data.endswith(b"\r\n"), data[-60:])
        return data[:-2].split(b"\r\n") if data else []

    def assertHitLogWhole(self, posts):
        lines = self.hit_lines()
        self.assertEqual([line for line in lines if not HIT_LINE.match(line)], [])
        self.assertEqual(len(lines), posts)

    def assertNoTemporaryFiles(self):
        hidden = [str(p) for p in self.site.root.rglob(".*")]
        self.assertEqual(hidden, [])

    def assertTemporaryFilesHidden(self):
        """Temporary files that could not be removed (their folder went
        read-only before the request could delete them, or the process was
        killed) keep their hidden names, and the server refuses those beside
        the program. A genre page's, in the site's public genre folder, is
        part of a public page."""
        for path in self.site.root.rglob(".*"):
            with self.subTest(leftover=path.name):
                self.assertRegex(path.name, r"^\..+\.\d+-\d+\.(tmp|part)$")
                if self.site.audiojs in path.parents:
                    url = "/" + str(path.relative_to(self.site.root))
                    self.assertIn(livelib.request(self.web.port, url).status, (403, 404))
                else:
                    self.assertRegex(path.name, r"^\.index\.html\.")

    def assertIndexWhole(self):
        """The index files and genre pages are each some whole version."""
        music = getattr(self, "music", MUSIC)
        songs = sum(len(t) for t in music.values())
        listed = self.site.program_file("MP3filelist.txt").read_bytes()
        self.assertEqual(listed.count(b"\r\n"), songs)
        self.assertEqual(self.site.program_file("MusicIndex.txt").read_bytes().count(b"\r\n"), songs)
        folders = self.site.program_file("folders.txt").read_bytes().count(b"\r\n")
        present = [p for p in self.site.audiojs.iterdir() if p.is_dir()]  # the log folder may be one
        self.assertIn(folders, (len(music), len(present)))
        for genre, titles in music.items():
            page = (self.site.root / genre / "index.html").read_bytes()
            self.assertTrue(page.endswith(PAGE_END), genre)
            self.assertEqual(page.count(b'<li><a href="#" data-src="'), len(titles), genre)


class ReadOnlyProgramFolder(FaultCase):
    """The program folder loses its write permission while requests run:
    requests that must write answer with the error page, the others go on,
    and nothing the program keeps is lost or cut."""

    def test_requests_while_the_folder_turns_read_only(self):
        mix = TOGGLES + MANAGER + GENRE_PAGE + [playlist("Tango"), playlist("Rumba", "Waltz")]
        self.assertAnswersSound(self.run_jobs(mix))
        posts = 2
        self.assertIndexWhole()
        self.addCleanup(os.chmod, self.site.audiojs, 0o755)
        turn = ("action", lambda: os.chmod(self.site.audiojs, 0o555))
        answered = self.run_jobs(mix * 5 + [turn] + mix * 10)
        posts += 30
        self.assertAnswersSound(answered)
        failed = [job[0] for job, r in answered if ERROR_PAGE.match(r.body)]
        self.assertIn("toggle", failed, "no toggle met the read-only folder")
        self.assertLess(len(failed), len(answered), "no request came before the change")
        for job, r in answered[-len(mix):]:
            with self.subTest(job=job[0]):
                if job[0] in ("toggle", "playlist"):
                    self.assertRegex(r.body, ERROR_PAGE)
        self.assertTrue(record_ok(self.options_file().read_bytes()))
        self.assertEqual(parse_record(self.options_file().read_bytes())["host"], "smtp.example.org")
        self.assertHitLogWhole(posts)  # the log exists, so appending still works
        self.assertIndexWhole()
        self.assertTemporaryFilesHidden()

        os.chmod(self.site.audiojs, 0o755)
        self.assertAnswersSound(self.run_jobs(mix))
        self.assertEqual(ask(self.web.port, TOGGLES[0]).body, b"Diagnostics are:\r\nON\r\n")
        self.assertEqual(parse_record(self.options_file().read_bytes())["diagnostics"], 1)


    def test_read_only_options_file_keeps_its_content(self):
        # An operator who takes the write permission from the options file
        # freezes it: the toggles fail with the error page and change nothing.
        self.assertEqual(ask(self.web.port, TOGGLES[1]).body, b"Diagnostics are:\r\nOFF\r\n")
        frozen = self.options_file().read_bytes()
        os.chmod(self.options_file(), 0o444)
        for job in TOGGLES + [("toggle_log", "F")]:
            with self.subTest(query=job[1]):
                self.assertRegex(ask(self.web.port, job).body, ERROR_PAGE)
                self.assertEqual(self.options_file().read_bytes(), frozen)
        self.assertEqual(os.stat(self.options_file()).st_mode & 0o777, 0o444)
        self.assertNoTemporaryFiles()
        self.assertIn(b"Kestrine2", ask(self.web.port, MANAGER[1]).body, "reading it still works")


class DiskFull(FaultCase):
    """The program folder is a small tmpfs that fills up: requests that must
    write answer with the error page, no file is left cut, a hit-log line is
    written whole or not at all, and all works again once there is room."""

    PAGE = 4096

    def prepare_site(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs needs root")
        program = livelib.program_path()
        size = program.stat().st_size + 1024 * 1024
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs",
                                  str(self.site.audiojs)], capture_output=True, text=True, timeout=20)
        if mounted.returncode != 0:  # a container without the right to mount
            self.skipTest(f"cannot mount a tmpfs: {mounted.stderr.strip()}")
        self.addCleanup(self.unmount)
        shutil.copy2(program, self.site.cgi)
        os.chmod(self.site.cgi, 0o755)
        self.filler = self.site.audiojs / "filler.bin"

    def unmount(self):
        livelib.wait_for_no_program(self.site.cgi, 30)
        if subprocess.run(["umount", str(self.site.audiojs)], timeout=20).returncode != 0:
            subprocess.run(["umount", "-l", str(self.site.audiojs)], timeout=20)

    def fill(self, leave):
        """Fills the folder until writes fail, then frees leave bytes again."""
        fd = os.open(self.filler, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        try:
            for size in (65536, 4096, 1):
                try:
                    while os.write(fd, b"\0" * size) > 0:
                        pass
                except OSError as e:
                    self.assertEqual(e.errno, errno.ENOSPC)
        finally:
            os.close(fd)
        if leave:
            os.truncate(self.filler, max(0, self.filler.stat().st_size - leave))

    def pad_hit_log(self):
        """Lengthens this month's hit log with whole lines until the next line
        cannot fit in its last page: that append needs one more page."""
        log = next(self.site.audiojs.glob("playlist*.log"))
        lines = [b"1/1/2026\r\n", b"1/1/2026 1:00:00 AM\r\n", b"12/12/2026 12:00:00 AM\r\n"]
        added = 0
        with open(log, "ab") as f:
            for _ in range(1000):
                room = self.PAGE - f.tell() % self.PAGE
                if 1 <= room <= 12:
                    break
                fitting = [line for line in lines if 1 <= room - len(line) <= 12]
                f.write(fitting[0] if fitting else lines[-1])
                added += 1
        return added

    def log_failures(self, answered):
        """Playlist posts whose hit-log line could not be written."""
        return sum(1 for job, r in answered
                   if job[0] == "playlist" and ERROR_PAGE.match(r.body) and b".log" in r.body)

    def test_requests_on_a_full_disk(self):
        mix = TOGGLES + MANAGER + GENRE_PAGE + [playlist("Tango"), playlist("Rumba", "Waltz")]
        self.assertAnswersSound(self.run_jobs(mix))
        self.assertEqual(ask(self.web.port, TOGGLES[1]).body, b"Diagnostics are:\r\nOFF\r\n")
        posts = 2
        self.assertIndexWhole()
        # A little room, then none; the hit log's next line is made to need
        # a page of its own just before the disk is full.
        for leave in (8 * 1024, 0):
            with self.subTest(free=leave):
                if leave == 0:
                    posts += self.pad_hit_log()
                self.fill(leave)
                answered = self.run_jobs(mix * 4)
                posts += 8 - self.log_failures(answered)
                self.assertAnswersSound(answered)
                self.assertTrue(record_ok(self.options_file().read_bytes()))
                self.assertHitLogWhole(posts)
                self.assertIndexWhole()
                self.assertNoTemporaryFiles()
        self.assertGreater(self.log_failures(answered), 0, "the hit log never met the full disk")

        self.filler.unlink()
        self.assertAnswersSound(self.run_jobs(mix))
        posts += 2
        self.assertEqual(ask(self.web.port, TOGGLES[0]).body, b"Diagnostics are:\r\nON\r\n")
        self.assertEqual(parse_record(self.options_file().read_bytes())["diagnostics"], 1)
        self.assertHitLogWhole(posts)
        self.assertIndexWhole()


class HalfBody(FaultCase):
    """A client sends half the body it announced and then nothing: the
    watchdog ends the program 30 s after the last byte, without an answer
    and without writing anything. Run once, straight on a pipe and through
    lighttpd (told to pass the body on as it comes) at the same time."""

    server_lines = ("server.stream-request-body = 2",)
    WATCHDOG = 30
    BOUND = 45
    HALF = b"command=playlistgen&Tango=AddGenre&numsongs=15&zz="  # 50 of the 100 bytes announced

    def direct_run(self, result):
        process = subprocess.Popen([str(self.site.cgi)], env=post_environment(100), cwd=self.site.audiojs,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   **livelib.as_account(livelib.web_user()))
        result["direct_pid"] = process.pid
        try:
            process.stdin.write(self.HALF)
            process.stdin.flush()
            sent = time.monotonic()
            try:
                result["direct_code"] = process.wait(timeout=self.BOUND)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=10)
                result["direct_code"] = "still running"
            result["direct_seconds"] = time.monotonic() - sent
            result["direct_output"] = process.stdout.read()
        finally:
            process.stdin.close()
            process.stdout.close()

    def served_run(self, result):
        head = (f"POST {CGI} HTTP/1.0\r\nHost: 127.0.0.1:{self.web.port}\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100\r\n\r\n").encode()
        # The direct run's process is told apart by its pid, so that pid must
        # be known before any process counts as lighttpd's.
        livelib.wait_until(lambda: "direct_pid" in result, 10, "the direct run to start")
        with socket.create_connection(("127.0.0.1", self.web.port), timeout=self.BOUND + 10) as s:
            s.sendall(head + self.HALF)
            sent = time.monotonic()
            others = lambda: [p for p in livelib.program_processes(self.site.cgi) if p != result["direct_pid"]]
            try:
                livelib.wait_until(lambda: others(), 10, "lighttpd to start the program")
            except TimeoutError:
                result["served_seconds"] = "never started"
                return
            deadline = sent + self.BOUND
            while others() and time.monotonic() < deadline:
                time.sleep(0.1)
            result["served_seconds"] = time.monotonic() - sent
            result["served_left"] = others()
            received = b""
            s.settimeout(10)
            try:
                while chunk := s.recv(65536):
                    received += chunk
            except OSError:
                pass
            result["served_answer"] = received

    def test_stalled_body_ends_the_program_after_thirty_seconds(self):
        before = snapshot(self.site.audiojs)
        result = {}
        runs = [threading.Thread(target=self.direct_run, args=(result,)),
                threading.Thread(target=self.served_run, args=(result,))]
        for run in runs:
            run.start()
        for run in runs:
            run.join(timeout=self.BOUND + 30)
        print(f"\nwatchdog: direct run ended after {result.get('direct_seconds')} s, "
              f"under lighttpd after {result.get('served_seconds')} s, which then answered "
              f"{result.get('served_answer', b'')[:40]!r}")
        with self.subTest("on a pipe"):
            self.assertEqual(result["direct_code"], 0)
            self.assertGreaterEqual(result["direct_seconds"], self.WATCHDOG - 1)
            self.assertLess(result["direct_seconds"], self.WATCHDOG + 6)
            self.assertEqual(result["direct_output"], b"", "no answer to a request never received")
        with self.subTest("under lighttpd"):
            self.assertIsInstance(result["served_seconds"], float, result["served_seconds"])
            self.assertGreaterEqual(result["served_seconds"], self.WATCHDOG - 1)
            self.assertLess(result["served_seconds"], self.WATCHDOG + 6)
            self.assertEqual(result["served_left"], [])
            self.assertNotIn(b"<html>", result["served_answer"])
        self.assertEqual(livelib.program_processes(self.site.cgi), [])
        self.assertEqual(snapshot(self.site.audiojs), before, "a stalled request wrote nothing")


class ResidentServerKilled(FaultCase):
    """The resident server is killed after it has claimed a request and
    before it has published the answer (the case of a server killed before
    the claim is the resident server's own live test): the waiting client
    takes its request back and serves it itself within a bound, without a
    cut page, the files the request was rewriting stay whole, and the next
    request is served directly."""

    ROUNDS = 5
    BIG = [f"Polka {n:04d}" for n in range(5000)]  # makes the index build take a while

    def prepare_site(self):
        self.music = dict(MUSIC, Polka=self.BIG)
        folder = self.site.audiojs / "Polka"
        folder.mkdir()
        for title in self.BIG:
            (folder / f"{title}.mp3").write_bytes(b"ID3")
        (self.site.root / "Polka").mkdir()
        self.temp = self.site.audiojs / "temp"
        self.resident = None

    def start_resident(self):
        self.resident = livelib.spawn_resident_server(self.site)
        self.addCleanup(self.end_resident, self.resident)
        title = self.temp / "window-playlist.cgi_S"  # holds the server's pid and start time
        livelib.wait_until(lambda: title.exists() and title.read_text().split()[0] == str(self.resident.pid), 10,
                           "the resident server")

    def end_resident(self, process):
        if process.poll() is None:
            os.kill(process.pid, signal.SIGKILL)
            process.wait(timeout=10)

    def server_files(self):
        return sorted(p.name for p in self.temp.iterdir()) if self.temp.exists() else []

    def kill_mid_request(self, job):
        """Holds the server, sends the request, lets the server go and kills it
        as soon as it has claimed the request. Returns (answer or error,
        seconds the client took, whether the kill came before the answer was
        published)."""
        os.kill(self.resident.pid, signal.SIGSTOP)
        result = {}

        def client():
            started = time.monotonic()
            try:
                result["answer"] = ask(self.web.port, job)
            except (ValueError, OSError) as e:  # an empty CGI answer may come as no HTTP at all
                result["answer"] = e
            result["seconds"] = time.monotonic() - started

        thread = threading.Thread(target=client)
        thread.start()
        livelib.wait_until(lambda: any(n.endswith("_REQ") for n in self.server_files()), 10, "a request file")
        os.kill(self.resident.pid, signal.SIGCONT)
        deadline = time.monotonic() + 10
        claimed = False
        while time.monotonic() < deadline and not claimed:
            names = self.server_files()
            claimed = any(n.endswith(("_cnf", "_ind")) for n in names)
        os.kill(self.resident.pid, signal.SIGKILL)
        published = any(n.endswith("_rsp") for n in self.server_files())
        self.resident.wait(timeout=10)
        thread.join(timeout=30)
        self.assertFalse(thread.is_alive(), "the client still waits")
        return result["answer"], result["seconds"], claimed and not published

    def test_server_killed_while_idle_holds_no_one_up(self):
        self.start_resident()
        job = GENRE_PAGE[0]
        self.assertIsNone(fault(job, ask(self.web.port, job), self.music))
        os.kill(self.resident.pid, signal.SIGKILL)
        self.resident.wait(timeout=10)
        self.assertIn("playlist.cgi_s", self.server_files(), "the alive file stays, still fresh")
        started = time.monotonic()
        answer = ask(self.web.port, job)
        self.assertLess(time.monotonic() - started, 5, "no wait for a dead server")
        self.assertIsNone(fault(job, answer, self.music))
        self.assertFalse(ERROR_PAGE.match(answer.body))
        self.assertFalse(any(n.endswith("_REQ") for n in self.server_files()), "no request handed over")

    def test_server_killed_while_it_serves(self):
        jobs = GENRE_PAGE + [playlist("Polka", "Tango")]
        direct = {job[0]: ask(self.web.port, job) for job in jobs}
        self.assertAnswersSound(list(zip(jobs, direct.values())))
        self.assertIndexWhole()
        killed_mid_request = 0
        outcomes = []
        for round in range(self.ROUNDS):
            for job in jobs:
                with self.subTest(round=round, job=job[0]):
                    self.start_resident()
                    answer, seconds, mid = self.kill_mid_request(job)
                    killed_mid_request += mid
                    outcomes.append((seconds, answer.status if isinstance(answer, livelib.Response)
                                     else type(answer).__name__))
                    self.assertLess(seconds, 15, "the client is bounded")
                    if isinstance(answer, livelib.Response) and answer.status == 200:
                        self.assertIsNone(fault(job, answer, self.music), "a cut page")
                    if mid:  # the waiting client served its request itself
                        self.assertIsInstance(answer, livelib.Response)
                        self.assertEqual(answer.status, 200)
                        self.assertFalse(any(n.endswith(("_REQ", "_cnf", "_ind", "_wrt", "_rsp"))
                                             for n in self.server_files()), "the client's files left")
                    # Else the kill came after the answer: the idle server's files
                    # stay until the next server starts, and must not hold anyone up.
                    self.assertEqual(livelib.wait_for_no_program(self.site.cgi, 10), [])
                    self.assertTrue(record_ok(self.options_file().read_bytes()))
                    self.assertIndexWhole()
                    self.assertTemporaryFilesHidden()
                    started = time.monotonic()
                    again = ask(self.web.port, job)  # served directly
                    self.assertLess(time.monotonic() - started, 5)
                    self.assertIsNone(fault(job, again, self.music))
                    self.assertFalse(ERROR_PAGE.match(again.body))
        print(f"\nresident server killed mid-request {killed_mid_request} of {self.ROUNDS * len(jobs)} times; "
              f"the clients ended after at most {max(t for t, _ in outcomes):.2f} s with "
              f"{sorted(set(str(a) for _, a in outcomes))}")
        self.assertGreaterEqual(killed_mid_request, self.ROUNDS, "the kills came too late to test anything")


class GenreFoldersVanish(FaultCase):
    """Genre folders are renamed away and back, or removed and made anew,
    while playlists are drawn and the index is rebuilt: every answer is a
    whole page (never the error page, never a crash), holding only songs of
    the genres asked for, each once."""

    MUTATIONS = 3000  # bound on folder changes; the requests usually end first

    def mutate(self, stop, counts):
        away = self.site.work / "away"
        away.mkdir()
        pristine = self.site.work / "pristine-Rumba"
        shutil.copytree(self.site.audiojs / "Rumba", pristine)
        waltz, rumba = self.site.audiojs / "Waltz", self.site.audiojs / "Rumba"
        for n in range(self.MUTATIONS):
            if stop.is_set():
                break
            if n % 2 == 0:
                waltz.rename(away / "Waltz")
                time.sleep(0.002)
                (away / "Waltz").rename(waltz)
            else:
                shutil.rmtree(rumba)
                time.sleep(0.002)
                shutil.copytree(pristine, rumba)
            counts["changes"] = n + 1

    def test_playlists_while_genre_folders_come_and_go(self):
        jobs = [playlist("Tango", "Waltz"), playlist("Rumba"), playlist("Waltz"),
                playlist("Rumba", "Tango", "Waltz"), GENRE_PAGE[0]] * 60
        stop, counts = threading.Event(), {"changes": 0}
        mutator = threading.Thread(target=self.mutate, args=(stop, counts))
        mutator.start()
        try:
            answered = self.run_jobs(jobs)
        finally:
            stop.set()
            mutator.join(timeout=30)
        self.assertFalse(mutator.is_alive())
        self.assertGreater(counts["changes"], 10, "the folders hardly changed")
        self.assertAnswersSound(answered)
        errors = [job[0] for job, r in answered if ERROR_PAGE.match(r.body)]
        self.assertEqual(errors, [], "a vanished folder is no error")
        for job, r in answered:
            if job[0] == "playlist" and "Tango" in job[1]:  # Tango stays: always a full list
                self.assertEqual(len(ITEM.findall(r.body)), NUMSONGS, (job, r.body[:700]))
        short = sum(1 for job, r in answered if job[0] == "playlist" and len(ITEM.findall(r.body)) < NUMSONGS)
        print(f"\ngenre folders changed {counts['changes']} times during {len(answered)} requests; "
              f"{short} playlists came out short")
        self.assertEqual(livelib.wait_for_no_program(self.site.cgi, 10), [])
        self.assertAnswersSound(self.run_jobs(GENRE_PAGE))
        self.assertIndexWhole()


if __name__ == "__main__":
    unittest.main()


class ClosedOutput(unittest.TestCase):
    """The client went away before the answer: the program's standard output
    is a pipe whose reader has closed. A playlist POST ended by SIGPIPE
    (signal 13) in the middle of the request; now the answer is dropped
    quietly, the request's files are written and the program exits with 0,
    straight and through the resident server."""

    BODY = b"command=playlistgen&numsongs=15&Tango=AddGenre&Rumba=AddGenre"

    def setUp(self):
        self.site = livelib.Site()
        self.addCleanup(self.site.cleanup)
        livelib.lay_out_music(self.site, MUSIC, TEMPLATE)

    def post_to_closed_output(self):
        reader, writer = os.pipe()
        os.close(reader)
        try:
            return subprocess.run([str(self.site.cgi)], env=post_environment(len(self.BODY)), cwd=self.site.audiojs,
                                  input=self.BODY, stdout=writer, stderr=subprocess.DEVNULL,
                                  timeout=livelib.REQUEST_SECONDS, **livelib.as_account(livelib.web_user())).returncode
        finally:
            os.close(writer)

    def assertRequestDone(self, code):
        self.assertEqual(code, 0, "signal 13 is SIGPIPE" if code == -signal.SIGPIPE else "")
        songs = (self.site.audiojs / "Songlist.txt").read_bytes()
        self.assertTrue(songs.startswith(b"Tango") or songs.startswith(b"Rumba"), songs[:80])
        hit_logs = [p for p in self.site.audiojs.glob("playlist*.log")]
        self.assertEqual(len(hit_logs), 1)
        self.assertEqual(len(hit_logs[0].read_bytes().splitlines()), 1)

    def test_closed_output_ended_the_program_by_sigpipe(self):
        self.assertRequestDone(self.post_to_closed_output())

    def test_closed_output_of_a_handed_over_request(self):
        resident = livelib.spawn_resident_server(self.site)

        def end():
            if resident.poll() is None:
                os.kill(resident.pid, signal.SIGTERM)
                resident.wait(timeout=30)
        self.addCleanup(end)
        title = self.site.audiojs / "temp" / "window-playlist.cgi_S"
        livelib.wait_until(lambda: title.exists() and title.read_text().split()[0] == str(resident.pid), 10,
                           "the resident server")
        self.assertRequestDone(self.post_to_closed_output())
        self.assertIsNone(resident.poll(), "the resident server lives on")
