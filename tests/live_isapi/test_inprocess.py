"""Valsetto in-process under lighttpd and nginx: the genre page, a playlist,
the manager page and the report through isapi-fcgi answer as the CGI program
does for the same request, random draws and the server's port aside. Run one
server's cases with
    /usr/bin/python3 -m unittest test_inprocess.LighttpdInProcessTests
"""

import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import inprocess  # noqa: E402
from inprocess import livelib  # noqa: E402
import test_servers  # noqa: E402  (tests/live: the music, the options record, the page texts)

PROGRAM = "/audiojs/playlist.cgi"
ITEM = test_servers.ITEM


def without_port(text, *ports):
    for port in ports:
        text = text.replace(f"127.0.0.1:{port}", "127.0.0.1:PORT")
    return text


class InProcessCases:
    """Two servers of one kind on one site folder: the CGI program under the
    shipped CGI configuration, and the extension under the in-process one."""

    cgi_class = None
    inprocess_class = None

    @classmethod
    def setUpClass(cls):
        reason = inprocess.missing()
        if reason:
            raise unittest.SkipTest(reason)
        cls.site = livelib.Site()
        inprocess.install_extension(cls.site)
        cls.cgi_server = cls.cgi_class(inprocess.view(cls.site, "cgi"))
        cls.server = cls.inprocess_class(inprocess.view(cls.site, "isapi"))
        try:
            cls.cgi_server.start()
            cls.server.start()
        except Exception:
            cls.cgi_server.stop()
            cls.server.stop()
            cls.site.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.cgi_server.stop()
        cls.site.cleanup()

    def setUp(self):
        livelib.clear_folder(self.site.audiojs, "playlist.cgi", "playlist.so")
        test_servers.LiveServerCases.install_music(self)
        self.ask(self.cgi_server, "GET", "d")  # diagnostics off: no trace to grow

    def ask(self, server, method, query=None, fields=None):
        if method == "POST":
            response = livelib.post_form(server.port, PROGRAM, fields)
        else:
            response = livelib.request(server.port, f"{PROGRAM}?{query}")
        self.assertEqual(response.status, 200, f"{server.name}: {response.raw[:300]!r}\n{server.diagnostics()}")
        return response

    def both(self, method, query=None, fields=None):
        """The in-process answer, then the CGI program's, to the same request."""
        ours = self.ask(self.server, method, query, fields)
        theirs = self.ask(self.cgi_server, method, query, fields)
        self.assertEqual(ours.header("Content-Type"), theirs.header("Content-Type"))
        self.assertEqual(ours.header("Content-Type"), test_servers.HTML_TYPE)
        # nginx may leave the length out and close the connection instead.
        self.assertIn(ours.header("Content-Length"), (str(len(ours.body)), None))
        ports = (self.server.port, self.cgi_server.port)
        return without_port(ours.text(), *ports), without_port(theirs.text(), *ports)

    def test_pages_equal_the_cgi_programs(self):
        self.site.write("audiojs/playlist.opt", test_servers.options_record(password="Tango42", host="smtp.example.org"))
        for query in ["P", "XTango42", "X", "d", "F", "f", "Q", ""]:
            with self.subTest(query=query):
                ours, theirs = self.both("GET", query)
                self.assertEqual(ours, theirs)
        self.assertIn(test_servers.GENRE_TITLE, self.both("GET", "P")[0])

    def test_playlist_equals_the_cgi_programs_but_for_the_draw(self):
        cases = [
            ("two genres", {"Tango": "AddGenre", "Rumba": "AddGenre", "numsongs": "15"}, 15, {"Tango", "Rumba"}),
            ("more songs than the genre has", {"Cha Cha": "AddGenre", "numsongs": "25"}, 2, {"Cha Cha"}),
            ("no genre", {"numsongs": "15"}, 0, set()),
        ]
        for name, fields, count, genres in cases:
            with self.subTest(name):
                fields = dict(fields, command="playlistgen")
                ours, theirs = self.both("POST", fields=fields)
                our_lines, their_lines = ours.split("\r\n"), theirs.split("\r\n")
                self.assertEqual([l for l in our_lines if not ITEM.match(l)],
                                 [l for l in their_lines if not ITEM.match(l)])
                if not genres:
                    self.assertIn(test_servers.NO_GENRE, our_lines)
                items = [ITEM.match(l).group(2) for l in our_lines if ITEM.match(l)]
                self.assertEqual(len(items), count)
                self.assertEqual(len(set(items)), count, "a song is drawn once")
                for item in items:
                    genre, title = re.match(r"^\((.+?)\) (.*)$", item).groups()
                    self.assertIn(genre, genres)
                    self.assertIn(title, test_servers.MUSIC[genre])

    def test_report_equals_the_cgi_program_run_with_the_same_variables(self):
        # A header longer than the first buffer the extension offers.
        long_value = "v" * 3000
        ours = livelib.request(self.server.port, f"{PROGRAM}?S", headers={"X-Long": long_value})
        self.assertEqual(ours.status, 200)
        lines = ours.lines()
        self.assertEqual(lines[:2], [test_servers.REPORT_OPEN, test_servers.REPORT_HEAD])
        entries = [line[:-len("<br>")] for line in lines[2:-1]]
        variables = dict(entry.split("=", 1) for entry in entries)
        self.assertEqual(len(variables), len(entries), "one entry per name")
        for name, value in [("REQUEST_METHOD", "GET"), ("QUERY_STRING", "S"), ("SCRIPT_NAME", PROGRAM),
                            ("SERVER_PORT", str(self.server.port)), ("SERVER_PORT_SECURE", "0")]:
            self.assertEqual(variables.get(name), value, name)
        self.assertEqual(variables.get("HTTP_X_LONG"), long_value)
        self.assertIn("HTTP_HOST", variables)
        self.assertIn(f"HTTP_HOST:{variables['HTTP_HOST']}\n", variables["ALL_HTTP"] + "\n")
        run = subprocess.run([str(self.site.cgi)], env=variables, cwd=self.site.audiojs,
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=livelib.REQUEST_SECONDS)
        _, _, body = run.stdout.partition(b"\r\n\r\n")
        self.assertEqual(ours.body, body)

    def test_the_extension_file_is_refused(self):
        for path in ["/audiojs/playlist.so", "/audiojs/PLAYLIST.SO", "/audiojs/./playlist.so"]:
            with self.subTest(path=path):
                response = livelib.request(self.server.port, path)
                self.assertIn(response.status, (403, 404))
                self.assertNotIn(b"ELF", response.body[:8])

    def test_private_files_are_refused(self):
        for name in livelib.PRIVATE_FILES:
            self.site.write(f"audiojs/{name}", f"SECRET {name}")
        for name in livelib.PRIVATE_FILES:
            with self.subTest(name=name):
                response = livelib.request(self.server.port, f"/audiojs/{name}")
                self.assertIn(response.status, (403, 404))
                self.assertNotIn(b"SECRET", response.body)


class LighttpdInProcessTests(InProcessCases, unittest.TestCase):
    cgi_class = livelib.Lighttpd
    inprocess_class = inprocess.LighttpdInProcess


class NginxInProcessTests(InProcessCases, unittest.TestCase):
    cgi_class = livelib.Nginx
    inprocess_class = inprocess.NginxInProcess


if __name__ == "__main__":
    unittest.main()
