"""The program under lighttpd for 30 seconds of 16 busy connections: genre
pages, playlist posts, diagnostics toggles and the manager page with and
without the password. Every answer must be the whole page its own request
asks for, the manager page must never open without the stored password (so
no request ever reads the options file half-written), and the hit log must
hold one whole line for every playlist post. Prints requests per second,
latency percentiles and the counts. Then the same mix beside a hostile
client that keeps posting 1 MiB bodies of the shapes that once made the
field parse slow: the mix is answered as before and so is every such post.
"""

import re
import shutil
import subprocess
import threading
import unittest
from pathlib import Path

import livelib
from test_servers import RECORD_SIZE, options_record, parse_record

HERE = Path(__file__).resolve().parent
WRK_SCRIPT = HERE / "wrk" / "mix.lua"
SECONDS = 30
CONNECTIONS = 16
PASSWORD = "Tango42"
SONGS_PER_GENRE = 20
NUMSONGS = 15
MUSIC = {genre: [f"{genre} {n:02d}" for n in range(1, SONGS_PER_GENRE + 1)]
         for genre in ("Tango", "Rumba", "Waltz", "Foxtrot")}

# The playlist page is the whole template; its first and last lines tell a
# complete page from a cut one.
TEMPLATE = livelib.page_template(head=["<!-- playlist page -->"], tail=["<!-- end of playlist page -->"])

# Every line the trace can get from this mix: the queries, the playlist
# fields and summary, the index build's folder, path, song and page lines.
GENRES = "|".join(MUSIC)
TRACE_LINE = re.compile(
    rf"^(P|D|d|X|X{PASSWORD}|command=playlistgen|numsongs={NUMSONGS}|({GENRES})=AddGenre"
    rf"|Playlistcount \d+  songlistcount \d+ ii \d+|({GENRES})|New Genre ({GENRES})"
    rf"|\\.*\\audiojs\\({GENRES})|\\audiojs\\({GENRES})\\({GENRES}) \d\d\.mp3"
    rf"|Build page \\.*\\({GENRES})\\index\.html)$".encode())

# lighttpd passes no REMOTE_HOST, so a hit line is the date and time alone.
HIT_LINE = re.compile(rb"^\d{1,2}/\d{1,2}/\d{4}( \d{1,2}:\d{2}:\d{2} (AM|PM))?$")


def parse_load_lines(output):
    """The "LOAD" lines the wrk script prints: per kind and the summary."""
    kinds, summary, first_failure = {}, {}, None
    for line in output.splitlines():
        if line.startswith("LOAD first_failure "):
            first_failure = line[len("LOAD first_failure "):]
            continue
        if not line.startswith("LOAD "):
            continue
        words = line.split()[1:]
        pairs = dict(w.split("=", 1) for w in words if "=" in w)
        if words[0] == "summary":
            summary = {k: float(v) for k, v in pairs.items()}
        else:
            kind = pairs.pop("kind")
            kinds[kind] = {k: int(v) for k, v in pairs.items()}
    return kinds, summary, first_failure


class FileWatcher(threading.Thread):
    """Reads files the requests keep replacing, over and over while the load
    runs, as the web server and other processes read them: every read must
    find a whole version (check gives what is wrong with one, or None)."""

    def __init__(self, checks):
        super().__init__(daemon=True)
        self.checks = checks  # (path, check)
        self.stop = threading.Event()
        self.reads = 0
        self.bad = []

    def run(self):
        while not self.stop.wait(0.005):
            for path, check in self.checks:
                try:
                    data = path.read_bytes()
                except FileNotFoundError:
                    self.bad.append(f"{path.name} missing")
                    continue
                self.reads += 1
                why = check(data)
                if why:
                    self.bad.append(f"{path.name}: {why}")


def options_fault(data):
    if len(data) != RECORD_SIZE or parse_record(data)["password"] != PASSWORD:
        return f"{len(data)} bytes"
    return None


def genre_page_fault(data):
    if not data.endswith(b"<!-- end of playlist page -->\r\n"):
        return "cut"
    if data.count(b'<li><a href="#" data-src="') != SONGS_PER_GENRE:
        return "songs missing"
    return None


@unittest.skipUnless(shutil.which("wrk"), "wrk is not installed")
class LoadUnderLighttpd(unittest.TestCase):
    def setUp(self):
        self.site = livelib.Site()
        self.addCleanup(self.site.cleanup)
        livelib.lay_out_music(self.site, MUSIC, TEMPLATE)
        self.site.write("audiojs/playlist.opt", options_record(password=PASSWORD, host="smtp.example.org"))
        self.web = livelib.Lighttpd(self.site).start()
        self.addCleanup(self.web.stop)

    def get(self, query):
        return livelib.request(self.web.port, f"/audiojs/playlist.cgi?{query}")

    def check_one_of_each(self):
        """The pages the mix expects, asked for once each before the load."""
        self.assertIn(b"<title>Valsetto Playlist Generator</title>", self.get("P").body)
        self.assertTrue(self.get("X").body.startswith(b"Password Error\r\n"))
        self.assertIn(b"Kestrine2", self.get(f"X{PASSWORD}").body)
        self.assertEqual(self.get("d").body, b"Diagnostics are:\r\nOFF\r\n")
        page = livelib.post_form(self.web.port, "/audiojs/playlist.cgi",
                                 {"command": "playlistgen", "Tango": "AddGenre", "numsongs": str(NUMSONGS)})
        self.assertTrue(page.body.endswith(b"<!-- end of playlist page -->\r\n"), page.body[-200:])
        return 1  # playlist posts so far

    def run_wrk(self):
        command = ["wrk", "-t", str(CONNECTIONS), "-c", str(CONNECTIONS), "-d", f"{SECONDS}s",
                   "--timeout", "20s", "-s", str(WRK_SCRIPT), self.web.url("/audiojs/playlist.cgi"),
                   "--", PASSWORD, ",".join(MUSIC), str(NUMSONGS)]
        result = subprocess.run(command, capture_output=True, text=True, timeout=SECONDS + 60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def hit_log_lines(self):
        logs = list(self.site.audiojs.glob("playlist*.log"))
        data = b"".join(p.read_bytes() for p in logs)
        self.assertTrue(data.endswith(b"\r\n"), data[-80:])
        return data[:-2].split(b"\r\n")

    def run_hostile_posts(self, stop, answers):
        """1 MiB posts of the slow shapes, one after another until stop is set
        (at most 500): the status and seconds of each."""
        import time
        bodies = [livelib.slow_shape_body(shape) for shape in ("repeated", "descending")]
        while not stop.is_set() and len(answers) < 500:
            body = bodies[len(answers) % len(bodies)]
            start = time.monotonic()
            answer = livelib.request(self.web.port, "/audiojs/playlist.cgi", "POST", body,
                                     {"Content-Type": "application/x-www-form-urlencoded"})
            answers.append((answer.status, time.monotonic() - start))

    def test_hostile_posts_beside_the_mixed_load(self):
        self.check_one_of_each()
        stop, answers = threading.Event(), []
        hostile = [threading.Thread(target=self.run_hostile_posts, args=(stop, answers)) for _ in range(2)]
        for thread in hostile:
            thread.start()
        try:
            output = self.run_wrk()
        finally:
            stop.set()
            for thread in hostile:
                thread.join(timeout=livelib.REQUEST_SECONDS + 10)
        self.assertEqual(livelib.wait_for_no_program(self.site.cgi, 30), [])
        kinds, summary, first_failure = parse_load_lines(output)
        for name in ("connect", "read", "write", "timeout", "status"):
            self.assertEqual(summary[name], 0, f"{name}: {output}")
        for kind, counts in kinds.items():
            self.assertEqual(counts["failed"], 0, f"{kind}: {first_failure}")
            self.assertGreater(counts["answered"], 0, kind)
        self.assertGreater(len(answers), 2)
        self.assertEqual([status for status, _ in answers if status != 200], [])
        slowest = max(seconds for _, seconds in answers)
        print(f"\nhostile load: {summary['requests']:.0f} usual requests, {summary['rps']:.1f}/s, "
              f"p50 {summary['p50_us'] / 1000:.1f} ms, p99 {summary['p99_us'] / 1000:.1f} ms, "
              f"beside {len(answers)} posts of 1 MiB (slowest {slowest:.2f} s)")

    def test_mixed_load_answers_every_request_whole(self):
        posts_before = self.check_one_of_each()
        watcher = FileWatcher([(self.site.program_file("playlist.opt"), options_fault),
                               (self.site.root / "Tango" / "index.html", genre_page_fault)])
        watcher.start()
        try:
            output = self.run_wrk()
        finally:
            watcher.stop.set()
            watcher.join(timeout=10)
        print(output)
        # Requests in flight when wrk stopped still run to their end.
        self.assertEqual(livelib.wait_for_no_program(self.site.cgi, 30), [])
        kinds, summary, first_failure = parse_load_lines(output)

        with self.subTest("figures"):
            self.assertEqual(set(kinds), {"genre", "playlist", "diag_on", "diag_off",
                                          "manager_refused", "manager_open"}, output)
            self.assertGreater(summary["requests"], 100, output)
        with self.subTest("no socket errors and no timeouts"):
            for name in ("connect", "read", "write", "timeout", "status"):
                self.assertEqual(summary[name], 0, f"{name}: {output}\n{self.web.diagnostics()}")
        with self.subTest("every answer whole and the one its request asked for"):
            for kind, counts in kinds.items():
                self.assertEqual(counts["failed"], 0, f"{kind}: {first_failure}")
                self.assertGreater(counts["answered"], 0, kind)
                self.assertLessEqual(counts["sent"] - counts["answered"], CONNECTIONS, kind)
            self.assertIsNone(first_failure)
        with self.subTest("the manager page stays shut without the password"):
            self.assertEqual(summary["passed_gate"], 0)
            data = self.site.program_file("playlist.opt").read_bytes()
            self.assertEqual(len(data), RECORD_SIZE)
            self.assertEqual(parse_record(data)["password"], PASSWORD)
            self.assertEqual(parse_record(data)["host"], "smtp.example.org")
        with self.subTest("the options file and a genre page, read from outside, always whole"):
            self.assertEqual(watcher.bad[:5], [])
            self.assertGreater(watcher.reads, 200)
        with self.subTest("one whole hit line per playlist post"):
            lines = self.hit_log_lines()
            malformed = [line for line in lines if not HIT_LINE.match(line)]
            self.assertEqual(malformed, [])
            posts = kinds["playlist"]
            self.assertGreaterEqual(len(lines), posts_before + posts["answered"])
            self.assertLessEqual(len(lines), posts_before + posts["sent"])
        with self.subTest("the trace holds whole lines only"):
            trace = self.site.program_file("Tunewright.tst").read_bytes()
            self.assertTrue(trace.endswith(b"\r\n"))
            torn = [line for line in trace[:-2].split(b"\r\n") if not TRACE_LINE.match(line)]
            self.assertEqual(torn[:5], [])
        with self.subTest("the server saw nothing wrong"):
            log = (self.site.run / "lighttpd-error.log").read_text(errors="replace")
            self.assertEqual([line for line in log.splitlines() if "server started" not in line], [])
        with self.subTest("the files the requests replaced are whole"):
            for genre, titles in MUSIC.items():
                page = (self.site.root / genre / "index.html").read_bytes()
                self.assertTrue(page.endswith(b"<!-- end of playlist page -->\r\n"), genre)
                self.assertEqual(page.count(b'<li><a href="#" data-src="'), len(titles), genre)
            listed = self.site.program_file("MP3filelist.txt").read_bytes().split(b"\r\n")
            self.assertEqual(len(listed) - 1, sum(len(t) for t in MUSIC.values()))
        print(f"\nload: {summary['requests']:.0f} requests in {summary['duration_us'] / 1e6:.1f} s, "
              f"{summary['rps']:.1f}/s, p50 {summary['p50_us'] / 1000:.1f} ms, "
              f"p99 {summary['p99_us'] / 1000:.1f} ms, max {summary['max_us'] / 1000:.1f} ms; "
              f"{kinds['playlist']['sent']} playlist posts, {len(self.hit_log_lines())} hit lines; "
              f"options file and a genre page read {watcher.reads} times from outside")


if __name__ == "__main__":
    unittest.main()
