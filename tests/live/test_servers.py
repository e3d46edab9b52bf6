"""Valsetto installed as audiojs/playlist.cgi under Apache httpd, lighttpd and
nginx with fcgiwrap, each started on 127.0.0.1 from the configuration shipped
in site/. Run one server's cases with
    /usr/bin/python3 -m unittest test_servers.ApacheTests
"""

import concurrent.futures
import datetime
import re
import shutil
import socket
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import livelib  # noqa: E402

# Options record: (name, offset, slot size) of the length-prefixed strings.
STRING_FIELDS = [("host", 0, 256), ("userid", 256, 121), ("fromaddress", 377, 256),
                 ("password", 634, 26), ("errormail", 660, 256), ("ignoreip", 916, 121),
                 ("notifyip", 1037, 121)]
DIAGNOSTICS, LOGGING, RESERVED, RECORD_SIZE = 633, 1158, 1159, 1160

FOOTER = re.compile(r"^<br><br><br><p><center><font size=-2>Valsetto - .*</font></center></body></html>$")
REPORT_OPEN = '<html><body bgcolor="#FFFFFF" text="#0000AA">'
REPORT_HEAD = "<font size=4> - REPORT -</font><p>"
MANAGER_HEAD = "<center><font size=4> - Kestrine2 Logger Manager - Rev 1.0</font><p>"
GENRE_TITLE = "<title>Valsetto Playlist Generator</title>"
NO_GENRE = "<center><h1>You Must Select at least one Genre</h1></center>"
HIT_LINE = re.compile(r"^(\d{1,2})/(\d{1,2})/(\d{4})(?: (\d{1,2}):(\d{2}):(\d{2}) (AM|PM))?(.*)$")
HTML_TYPE = "text/html; charset=utf-8"
ITEM = re.compile(r'^<li><a href="#" data-src="(\.\.[^"]*)">(.*)</a></li>$')

TEMPLATE = livelib.page_template()

# Genre folder -> song titles; Rock.n.Roll is cut to Rock.n by the index scan.
MUSIC = {
    "Tango": [f"Tango {n:02d}" for n in range(1, 11)],
    "Rumba": [f"Rumba {n:02d}" for n in range(1, 11)],
    "Cha Cha": ["Blue Moon", "Mambo No. 5"],
    "Rock.n.Roll": ["Jailhouse"],
}


def options_record(password="", host="", diagnostics=0, logging=0, reserved=0, **strings):
    record = bytearray(RECORD_SIZE)
    values = dict(strings, password=password, host=host)
    for name, offset, _ in STRING_FIELDS:
        text = values.get(name, "").encode("latin-1")
        record[offset] = len(text)
        record[offset + 1:offset + 1 + len(text)] = text
    record[DIAGNOSTICS], record[LOGGING], record[RESERVED] = diagnostics, logging, reserved
    return bytes(record)


def parse_record(data):
    """The meaning of an options file: its strings, flags and reserved byte."""
    fields = {name: data[offset + 1:offset + 1 + data[offset]].decode("latin-1")
              for name, offset, _ in STRING_FIELDS}
    fields.update(diagnostics=data[DIAGNOSTICS], logging=data[LOGGING], reserved=data[RESERVED])
    return fields


class LiveServerCases:
    """The cases every server must pass; subclasses name the server."""

    server_class = None
    remote_host = "127.0.0.1"  # what the shipped configuration passes as REMOTE_HOST
    status_line = "HTTP/1.0 200 OK"  # the program's first line under this server

    @classmethod
    def setUpClass(cls):
        cls.site = livelib.Site()
        cls.server = cls.server_class(cls.site)
        try:
            cls.server.start()
        except Exception:
            cls.site.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.site.cleanup()

    def setUp(self):
        self.site.reset()

    # -- helpers -----------------------------------------------------------

    def get(self, query, path="/audiojs/playlist.cgi"):
        response = livelib.request(self.server.port, f"{path}?{query}" if query is not None else path)
        return response

    def cgi(self, query):
        response = self.get(query)
        self.assertEqual(response.status, 200, f"?{query}: {response.raw[:300]!r}\n{self.server.diagnostics()}")
        return response

    def options_bytes(self):
        return self.site.program_file("playlist.opt").read_bytes()

    def install_music(self):
        for genre, titles in MUSIC.items():
            for title in titles:
                self.site.write(f"audiojs/{genre}/{title}.mp3", f"ID3 fake mp3 {genre}/{title}")
            # Genre pages land in the site folder's folder of the same name.
            (self.site.root / genre).mkdir(exist_ok=True)
        self.site.write("audiojs/index.txt", TEMPLATE)
        self.site.hand_over(self.site.root)

    def assert_resolves(self, page_path, data_src, content):
        url = livelib.browser_url(page_path, data_src)
        response = livelib.request(self.server.port, url)
        self.assertEqual(response.status, 200, f"{data_src} -> {url}")
        self.assertEqual(response.header("Content-Type"), "audio/mpeg", url)
        self.assertEqual(response.body, content, url)

    # -- the header block --------------------------------------------------

    def test_header_block_as_the_server_delivers_it(self):
        body = b"Diagnostics are:\r\nOFF\r\n"
        response = self.cgi("d")
        self.assertEqual(response.body, body)
        self.assertEqual(response.header("Content-Type"), HTML_TYPE)
        # Apache may drop the program's length and close the connection instead.
        self.assertIn(response.header("Content-Length"), (str(len(body)), None))
        self.assertIsNone(response.header("Status"))
        # What the program itself wrote, with the server software this server names.
        report = self.cgi("S").lines()
        software = [line[len("SERVER_SOFTWARE="):-len("<br>")] for line in report
                    if line.startswith("SERVER_SOFTWARE=")]
        self.assertEqual(len(software), 1, report)
        raw = livelib.run_cgi(self.site.cgi, {"SERVER_SOFTWARE": software[0],
                                              "REQUEST_METHOD": "GET", "QUERY_STRING": "d"})
        self.assertEqual(raw, (f"{self.status_line}\r\ncontent-type: {HTML_TYPE}\r\n"
                               f"content-length: {len(body)}\r\nConnection: Keep-Alive\r\n\r\n").encode()
                         + body)

    def test_every_page_says_it_is_utf8(self):
        self.install_music()
        pages = [("genre page", "GET", "P"), ("manager page", "GET", "X"), ("report", "GET", "S"),
                 ("index report", "GET", "I"), ("playlist", "POST", {"Tango": "AddGenre", "command": "playlistgen"}),
                 ("no genre", "POST", {"command": "playlistgen"})]
        for name, method, what in pages:
            with self.subTest(name):
                if method == "GET":
                    response = self.cgi(what)
                else:
                    response = livelib.post_form(self.server.port, "/audiojs/playlist.cgi", what)
                self.assertEqual(response.status, 200)
                self.assertGreater(len(response.body), 0)
                self.assertEqual(response.header("Content-Type"), HTML_TYPE)

    # -- toggles and the options file ---------------------------------------

    def test_toggles_answer_and_store_their_flag(self):
        # From a fresh install: no options file means diagnostics on, logging off.
        steps = [("F", "Log Recording is:", "ON", 1, 1), ("d", "Diagnostics are:", "OFF", 0, 1),
                 ("D", "Diagnostics are:", "ON", 1, 1), ("f", "Log Recording is:", "OFF", 1, 0),
                 ("d+anything", "Diagnostics are:", "OFF", 0, 0), ("Fxyz", "Log Recording is:", "ON", 0, 1)]
        for query, label, word, diagnostics, logging in steps:
            with self.subTest(query=query):
                self.assertEqual(self.cgi(query).lines(), [label, word])
                data = self.options_bytes()
                self.assertEqual(len(data), RECORD_SIZE)
                self.assertEqual(parse_record(data), parse_record(options_record(
                    diagnostics=diagnostics, logging=logging)))

    def test_toggles_keep_the_rest_of_an_existing_record(self):
        stored = options_record(password="Tango42", host="smtp.example.org", userid="dj",
                                fromaddress="dj@example.org", errormail="ops@example.org",
                                ignoreip="10.0.0.1", notifyip="10.0.0.2", diagnostics=0,
                                logging=1, reserved=7)
        self.site.write("audiojs/playlist.opt", stored)
        for query, offset, value in [("D", DIAGNOSTICS, 1), ("f", LOGGING, 0)]:
            with self.subTest(query=query):
                self.cgi(query)
                expected = bytearray(stored)
                expected[offset] = value
                stored = bytes(expected)
                self.assertEqual(parse_record(self.options_bytes()), parse_record(stored))

    # -- manager page ------------------------------------------------------

    def test_manager_page_opens_without_a_stored_password(self):
        self.cgi("d")  # an options file with diagnostics off and no password
        lines = self.cgi("X").lines()
        target = f"http://127.0.0.1:{self.server.port}/audiojs/playlist.cgi"
        self.assertEqual(lines[:5], [REPORT_OPEN, MANAGER_HEAD, f'<form action="{target}" method="post">',
                                     '<input name="command" type="hidden" value="manage">',
                                     "<table border=1><tr>"])
        self.assertEqual(lines[5], '<td> Password </td><td><input name="password" maxlength=25 size=60 '
                                   'type="text" value=""></td></tr>')
        self.assertIn(f'<a href="{target}?E"> Email Test  </a><br>', lines)
        self.assertRegex(lines[-1], FOOTER)

    def test_manager_page_gate_with_a_stored_password(self):
        self.site.write("audiojs/playlist.opt", options_record(password="Tango42", host="smtp.example.org"))
        cases = [("X", False), ("XTango42", True), ("Xsome-Tango42-text", True), ("Xtango42", False),
                 ("X&password=Tango4", False), ("X+Tango42", True)]
        for query, passes in cases:
            with self.subTest(query=query):
                lines = self.cgi(query).lines()
                if passes:
                    self.assertEqual(lines[1], MANAGER_HEAD)
                    self.assertIn('type="text" value="Tango42"></td></tr>', lines[5])
                    self.assertIn('type="text" value="smtp.example.org"></td></tr>', lines[6])
                else:
                    self.assertEqual(len(lines), 2, lines)
                    self.assertEqual(lines[0], "Password Error")
                    self.assertRegex(lines[1], FOOTER)

    def test_manager_form_post_changes_nothing(self):
        stored = options_record(password="Tango42", diagnostics=0)
        self.site.write("audiojs/playlist.opt", stored)
        response = livelib.post_form(self.server.port, "/audiojs/playlist.cgi",
                                     {"command": "manage", "password": "new", "host": "evil"})
        self.assertEqual(response.body, b"")
        self.assertEqual(self.options_bytes(), stored)
        self.assertEqual(self.cgi("ETango42").body, b"")

    # -- report page -------------------------------------------------------

    def test_report_lists_variables_and_traces_them_with_diagnostics_off(self):
        self.cgi("d")
        before = self.options_bytes()
        lines = self.cgi("S").lines()
        self.assertEqual(lines[:2], [REPORT_OPEN, REPORT_HEAD])
        self.assertRegex(lines[-1], FOOTER)
        entries = lines[2:-1]
        for entry in entries:
            self.assertTrue(entry.endswith("<br>"), entry)
        entries = [e[:-len("<br>")] for e in entries]
        for expected in ["REQUEST_METHOD=GET", "QUERY_STRING=S", "SCRIPT_NAME=/audiojs/playlist.cgi"]:
            self.assertIn(expected, entries)
        self.assertEqual(entries, sorted(entries, key=str.lower))
        trace = self.site.program_file("Tunewright.tst").read_bytes().decode("latin-1")
        # The "d" request traced its own query before it turned diagnostics off.
        self.assertEqual(trace, "d\r\n" + "".join(e + "\r\n" for e in entries))
        self.assertEqual(self.options_bytes(), before)
        self.cgi("Q")  # diagnostics are off again: this query leaves no trace line
        self.assertEqual(self.site.program_file("Tunewright.tst").read_bytes().decode("latin-1"), trace)

    # -- hit log -----------------------------------------------------------

    def test_playlist_post_writes_one_hit_log_line(self):
        self.cgi("d")
        for count in (1, 2):
            now = datetime.datetime.now()
            response = livelib.post_form(self.server.port, "/audiojs/playlist.cgi",
                                         {"command": "playlistgen", "numsongs": "15"})
            self.assertEqual(response.status, 200)
            self.assertIn(NO_GENRE, response.lines())
            log = self.site.program_file(f"playlist{now:%m%y}.log")
            lines = log.read_bytes().decode("latin-1").split("\r\n")
            self.assertEqual(len(lines), count + 1, lines)
            self.assertEqual(lines[-1], "")
            match = HIT_LINE.match(lines[-2])
            self.assertIsNotNone(match, lines[-2])
            self.assertEqual((int(match.group(1)), int(match.group(2)), int(match.group(3))),
                             (now.month, now.day, now.year))
            self.assertEqual(match.group(8), self.remote_host)
        response = livelib.post_form(self.server.port, "/audiojs/playlist.cgi", {"command": "manage"})
        self.assertEqual(len(log.read_bytes().split(b"\r\n")), 3, "a manage post is no hit")

    # -- private files -----------------------------------------------------

    def test_private_files_are_refused(self):
        for name in livelib.PRIVATE_FILES:
            self.site.write(f"audiojs/{name}", f"SECRET {name}")
        self.site.write("audiojs/player.js", "// public")
        spellings = ["/audiojs/{}", "/audiojs//{}", "/audiojs/./{}", "/audiojs/Tango/../{}", "/%61udiojs/{}"]
        for name in livelib.PRIVATE_FILES:
            encoded = "%{:02X}{}".format(ord(name[0]), name[1:])
            for path in [s.format(name) for s in spellings] + [f"/audiojs/{encoded}"]:
                with self.subTest(path=path):
                    response = livelib.request(self.server.port, path)
                    self.assertIn(response.status, (403, 404), response.raw[:200])
                    self.assertNotIn(b"SECRET", response.body)
        for folder in ["log", "temp", "Temp"]:
            with self.subTest(folder=folder):
                self.assertIn(livelib.request(self.server.port, f"/audiojs/{folder}/").status, (403, 404))
        self.assertEqual(livelib.request(self.server.port, "/audiojs/player.js").status, 200)

    def test_oversized_post_is_refused_before_the_program_runs(self):
        body = b"command=playlistgen&numsongs=15&Tango=AddGenre&pad=" + b"x" * (2 * 1024 * 1024)
        head = (f"POST /audiojs/playlist.cgi HTTP/1.0\r\nHost: 127.0.0.1:{self.server.port}\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n"
                f"Content-Length: {len(body)}\r\n\r\n").encode()
        answer = b""
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=30) as s:
            try:
                s.sendall(head + body)
            except (BrokenPipeError, ConnectionResetError):
                pass  # the server may answer and close before the body is sent
            try:
                while chunk := s.recv(65536):
                    answer += chunk
            except ConnectionResetError:
                pass
        if answer:
            self.assertRegex(answer.split(b"\r\n", 1)[0], rb"^HTTP/1\.[01] 413")
        self.assertEqual(list(self.site.audiojs.glob("*.log")), [], "the program ran: it logged a hit")

    def test_genre_page_being_written_is_refused(self):
        # Genre pages live in the site's genre folders, outside audiojs.
        self.site.write("Tango/.index.html.4242-5.part", "SECRET half page")
        self.site.write("Tango/.index.html.4242-6.TMP", "SECRET half page")
        self.site.write("Tango/notes.html", "<html>public</html>")
        self.addCleanup(shutil.rmtree, self.site.root / "Tango", True)
        for path in ["/Tango/.index.html.4242-5.part", "/Tango/%2Eindex.html.4242-5.part",
                     "/Tango/./.index.html.4242-5.part", "/Tango/.index.html.4242-6.TMP"]:
            with self.subTest(path=path):
                response = livelib.request(self.server.port, path)
                self.assertIn(response.status, (403, 404), response.raw[:200])
                self.assertNotIn(b"SECRET", response.body)
        self.assertEqual(livelib.request(self.server.port, "/Tango/notes.html").status, 200)

    def test_files_the_program_writes_are_refused(self):
        self.install_music()
        self.cgi("D")
        self.cgi("F")
        self.cgi("I")
        livelib.post_form(self.server.port, "/audiojs/playlist.cgi",
                          {"command": "playlistgen", "Tango": "AddGenre", "numsongs": "15"})
        written = [p for p in self.site.audiojs.iterdir()
                   if p.name != "playlist.cgi" and p.name not in MUSIC]
        self.assertTrue(any(p.suffix == ".opt" for p in written), written)
        for path in written:
            with self.subTest(file=path.name):
                suffix = "/" if path.is_dir() else ""
                response = livelib.request(self.server.port, f"/audiojs/{path.name}{suffix}")
                self.assertIn(response.status, (403, 404), response.raw[:200])

    # -- queries without "=" (Apache passes them as command-line arguments) --

    def test_queries_without_equals_get_the_answer_of_their_first_letter(self):
        # A trace that reads like a Windows CGI data file telling the program
        # where to write its answer.
        planted = self.site.audiojs / "planted.html"
        for line in ["[CGI]", "Request_Method=GET", "Query_String=S", "[System]",
                     f"Output_File={planted}"]:
            self.get(line)
        self.assertTrue(self.site.program_file("Tunewright.tst").exists())
        cases = [("X", MANAGER_HEAD), ("P", GENRE_TITLE), ("D+more", "Diagnostics are:"),
                 ("index.txt", None), ("Tunewright.tst", None), ("$$START_SERVER+X", None),
                 ("/etc/passwd", None)]
        for query, marker in cases:
            with self.subTest(query=query):
                started = time.monotonic()
                response = self.cgi(query)
                if marker is None:
                    self.assertEqual(response.body, b"")
                else:
                    self.assertIn(marker, response.lines())
                self.assertLess(time.monotonic() - started, 10, "an answer without delay")
        self.assertFalse(planted.exists())
        self.assertFalse((self.site.audiojs / "temp").exists(), "no resident server was started")
        self.assertEqual(self.own_processes(), [])

    def own_processes(self):
        """Processes still running the installed program (a resident server)."""
        found = []
        for cmdline in Path("/proc").glob("[0-9]*/cmdline"):
            try:
                if str(self.site.cgi).encode() in cmdline.read_bytes():
                    found.append(cmdline.parent.name)
            except OSError:
                pass
        return found

    # -- music: index, genre pages, playlists and their links ----------------

    def test_index_builds_genre_pages_whose_links_resolve(self):
        self.install_music()
        self.cgi("d")
        lines = self.cgi("I").lines()
        self.assertEqual(lines[:2], [REPORT_OPEN, REPORT_HEAD])
        self.assertTrue(lines[2].startswith("Index Built "), lines[2])
        for genre in ["Tango", "Cha Cha"]:
            with self.subTest(genre=genre):
                page = livelib.request(self.server.port, f"/{genre.replace(' ', '%20')}/index.html")
                self.assertEqual(page.status, 200)
                items = [ITEM.match(line) for line in page.lines()]
                items = [m for m in items if m]
                self.assertEqual(sorted(m.group(2) for m in items), sorted(MUSIC[genre]))
                self.assertIn(f"<h1>{genre}<em> Marbeck Ballroom</em></h1>", page.lines())
                for m in items:
                    self.assertEqual(m.group(1), f"..\\audiojs\\{genre}\\{m.group(2)}.mp3")
                    self.assert_resolves(f"/{genre.replace(' ', '%20')}/index.html", m.group(1),
                                         f"ID3 fake mp3 {genre}/{m.group(2)}".encode())
        # The link as written, with its backslashes sent literally, names no file.
        self.assertEqual(livelib.request(self.server.port, "/audiojs%5CTango%5CTango%2001.mp3").status, 404)

    def test_genre_page_and_playlist_through_the_server(self):
        self.install_music()
        self.cgi("d")
        lines = self.cgi("P").lines()
        self.assertEqual(lines[0], REPORT_OPEN)
        self.assertIn(GENRE_TITLE, lines)
        target = f"http://127.0.0.1:{self.server.port}/audiojs/playlist.cgi"
        self.assertIn(f'<form action="{target}" method="post">', lines)
        for genre in MUSIC:
            self.assertIn(f'<tr><td>{genre}</td><td><input type="radio" name="{genre}" '
                          f'value="AddGenre"></td></tr>', lines)
        response = livelib.post_form(self.server.port, "/audiojs/playlist.cgi",
                                     {"Tango": "AddGenre", "Rumba": "AddGenre", "numsongs": "15",
                                      "command": "playlistgen"})
        self.assertEqual(response.status, 200)
        items = [ITEM.match(line) for line in response.lines()]
        items = [m for m in items if m]
        self.assertEqual(len(items), 15, response.text())
        for m in items:
            genre, title = re.match(r"^\((\w+)\) (.*)$", m.group(2)).groups()
            self.assertIn(genre, ("Tango", "Rumba"))
            self.assertIn(title, MUSIC[genre])
            self.assert_resolves("/audiojs/playlist.cgi", m.group(1), f"ID3 fake mp3 {genre}/{title}".encode())
        self.assertEqual(len({m.group(1) for m in items}), 15, "a song is drawn once")

    # -- concurrent visitors -------------------------------------------------

    def run_together(self, jobs, workers=4):
        """Runs the callables at the same time; returns their results in order."""
        with concurrent.futures.ThreadPoolExecutor(workers) as pool:
            futures = [pool.submit(job) for job in jobs]
            return [f.result(timeout=livelib.REQUEST_SECONDS * 3) for f in futures]

    def test_concurrent_visitors_see_their_own_pages(self):
        self.install_music()
        self.cgi("d")

        def playlist(genre):
            def job():
                response = livelib.post_form(self.server.port, "/audiojs/playlist.cgi",
                                             {"command": "playlistgen", genre: "AddGenre", "numsongs": "15"})
                return genre, [m.group(2) for m in map(ITEM.match, response.lines()) if m]
            return job

        def genre_page():
            rows = [line for line in self.cgi("P").lines() if 'value="AddGenre"' in line]
            return "P", rows

        jobs = [playlist("Tango"), playlist("Rumba"), genre_page] * 12
        for kind, answer in self.run_together(jobs):
            with self.subTest(kind=kind):
                if kind == "P":
                    self.assertEqual(len(answer), len(MUSIC), "a genre page with genres missing")
                else:
                    self.assertEqual(sorted(answer), sorted(f"({kind}) {t}" for t in MUSIC[kind]))

    def test_manager_page_stays_shut_while_the_options_file_is_rewritten(self):
        self.site.write("audiojs/playlist.opt", options_record(password="Tango42"))
        toggles = [lambda q=q: self.cgi(q).lines() for q in ("D", "d", "F", "f")]
        manager = [lambda: self.cgi("X").lines()] * 4
        for lines in self.run_together((toggles + manager) * 12):
            if lines and lines[0] not in ("Diagnostics are:", "Log Recording is:"):
                self.assertEqual(lines[0], "Password Error")
        self.assertEqual(parse_record(self.options_bytes())["password"], "Tango42")


class ApacheTests(LiveServerCases, unittest.TestCase):
    server_class = livelib.Apache
    status_line = "Status: 200 OK"


class ApacheCgidTests(LiveServerCases, unittest.TestCase):
    server_class = livelib.ApacheCgid
    status_line = "Status: 200 OK"


class LighttpdTests(LiveServerCases, unittest.TestCase):
    server_class = livelib.Lighttpd
    remote_host = ""  # lighttpd passes no REMOTE_HOST and cannot be told to


class NginxTests(LiveServerCases, unittest.TestCase):
    server_class = livelib.Nginx


if __name__ == "__main__":
    unittest.main()
