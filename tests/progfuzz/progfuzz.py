#!/usr/bin/python3
"""Whole-program request fuzzer: runs the real CGI program with generated
environments, command lines and bodies against a site folder and checks
after every run that

  * the program ended by itself within the bound, with exit code 0;
  * a standard CGI answer (or a Windows CGI output file) is a complete header
    block: header lines, an empty line, then the body, whose size matches a
    content-length line;
  * no file outside the site folder changed (a sentinel tree, the folder
    above the site and the start-up folder), and in the site folder outside
    the program's folder only genre pages of real genres appeared;
  * the options file is absent or exactly 1160 bytes;
  * no copy of the program is left running (resident servers are started
    and stopped by the harness only).

Besides single requests there are bursts of concurrent requests, resident
server sessions ("$$START_SERVER", requests handed over, SIGTERM or SIGKILL,
then a request that must still be answered) and odd shapes of the site
owner's files. Runs are drawn from one seed (default: today's date as
YYYYMMDD, printed), so a failure reproduces with --seed. Bounds: --runs (or PROGFUZZ_RUNS) and
--seconds (or PROGFUZZ_SECONDS), whichever comes first.
"""

import argparse
import datetime
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "live"))
import livelib  # noqa: E402
import test_servers  # noqa: E402

OPTIONS_SIZE = test_servers.RECORD_SIZE
RUN_SECONDS = 10        # one request; the program's own watchdog is 30 s
SERVER_STOP_SECONDS = 10
PASSWORD = "sesame"

GENRES = {"Rumba": ["Blue Moon", "Sway"], "Tango": ["La Cumparsita"], "Cha Cha": ["Tea for Two", "Oye"]}
TEMPLATE = ("<html><head><title>Music</title></head><body>\r\n"
            "BREAKGENRE\r\n<ul>\r\nBREAKMUSIC\r\n</ul>\r\n<ol>\r\n<insert songlist>\r\n</ol>\r\n"
            "</body></html>\r\n")
# Names a genre field could try to reach outside the genre folders with.
HOSTILE_GENRES = ["..", "../..", "..\\..", "../../sentinel", "..\\..\\sentinel", "/", "\\", ".",
                  "Rumba/../..", "%2e%2e", "%2e%2e%2f%2e%2e", "C:\\", "", "Rumba\x00x", "*", "?umba",
                  "Rumba/..", "...", " Rumba", "Rumba ", "rumba", "Tango\\..\\..\\..\\sentinel"]
LETTERS = "DdFfIPSX" + "pxisZ ?%&=\x00\xff"
# A SERVER_SOFTWARE holding "ZB" counts as absent, which makes a process
# without arguments the resident server: only server sessions use it.
SOFTWARE = ["Apache/2.4.57 (Debian)", "lighttpd/1.4.69", "nginx/1.22.1", "Microsoft-IIS/5.0",
            "x", "WebSite/1.1 (Win)"]
# One environment string may hold at most 128 KiB on Linux.
MAX_VARIABLE = 120000
METHODS = ["GET", "POST", "get", "post", "HEAD", "PUT", "DELETE", "OPTIONS", "", "G", "GETX",
           "POST ", "\xffPOST", "P" * 300]
CONTENT_TYPES = ["application/x-www-form-urlencoded", "multipart/form-data; boundary=xyz",
                 "Multipart/Form-Data", "text/plain", "", "application/x-www-form-urlencoded; charset=UTF-8",
                 "x" * 5000, "multipart/mixed"]


def digest(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(65536), b""):
            h.update(block)
    return h.hexdigest()


def snapshot(root, skip):
    """Every entry below root (but not below the skipped folders): type,
    size, mode and content digest."""
    state = {}
    for folder, dirs, files in os.walk(root):
        here = Path(folder)
        dirs[:] = [d for d in dirs if here / d not in skip]
        for name in dirs:
            p = here / name
            state[str(p.relative_to(root)) + "/"] = ("dir", os.lstat(p).st_mode)
        for name in files:
            p = here / name
            st = os.lstat(p)
            content = digest(p) if p.is_file() and not p.is_symlink() else os.readlink(p) if p.is_symlink() else ""
            state[str(p.relative_to(root))] = (st.st_size, st.st_mode, content)
    return state


def describe_difference(before, after):
    lines = []
    for key in sorted(set(before) | set(after)):
        if key not in after:
            lines.append(f"removed {key}")
        elif key not in before:
            lines.append(f"created {key}")
        elif before[key] != after[key]:
            lines.append(f"changed {key}")
    return lines[:20]


class Site:
    """<work>/site is the site folder: site/audiojs holds the program
    (playlist.cgi), a small music tree and the template, site itself decoys
    of the program's file names beside the genre folders the genre pages go
    to. <work>/sentinel is a further tree, <work>/cwd the start-up folder;
    <work>/scratch is the harness's own (Windows CGI files). Nothing outside
    the site folder may change, and inside it, outside audiojs, only the
    genre pages "<genre>/index.html" of real genres may appear."""

    def __init__(self, program):
        self.work = Path(tempfile.mkdtemp(prefix="valsetto-progfuzz-"))
        self.root = self.work / "site"
        self.folder = self.root / "audiojs"
        self.sentinel = self.work / "sentinel"
        self.cwd = self.work / "cwd"
        self.scratch = self.work / "scratch"
        for p in (self.folder, self.sentinel / "Rumba", self.cwd, self.scratch):
            p.mkdir(parents=True)
        self.cgi = self.folder / "playlist.cgi"
        shutil.copy2(program, self.cgi)
        os.chmod(self.cgi, 0o755)
        self.populate()
        for decoy in (self.work, self.root, self.sentinel):
            for name in ("playlist.opt", "index.txt", "folders.txt", "MusicIndex.txt", "MP3filelist.txt",
                         "Songlist.txt", "RandomPlaylist.txt", "Tunewright.tst", "PostMusic.tst", "index.html"):
                (decoy / name).write_bytes(b"decoy " + name.encode() + b"\r\n")
            (decoy / "Rumba").mkdir(exist_ok=True)
            (decoy / "Rumba" / "Decoy.mp3").write_bytes(b"ID3 decoy")
        self.skip = {self.folder, self.scratch}
        self.allowed = {f"site/{genre}/index.html" for genre in GENRES} | {f"site/{genre}/" for genre in GENRES}
        self.baseline = self.state()

    def state(self):
        return {k: v for k, v in snapshot(self.work, self.skip).items() if k not in self.allowed}

    def populate(self):
        (self.folder / "index.txt").write_bytes(TEMPLATE.encode())
        for genre, songs in GENRES.items():
            (self.folder / genre).mkdir(exist_ok=True)
            for song in songs:
                (self.folder / genre / f"{song}.mp3").write_bytes(b"ID3" + song.encode())

    def outside_changes(self):
        return describe_difference(self.baseline, self.state())

    def options_file(self):
        return self.folder / "playlist.opt"

    def reset(self):
        """Back to a fresh program folder: music, template, the program."""
        livelib.clear_folder(self.folder, "playlist.cgi")
        self.populate()
        for entry in self.scratch.iterdir():
            shutil.rmtree(entry) if entry.is_dir() else entry.unlink()

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)


def options_record(password=PASSWORD, diagnostics=1):
    return test_servers.options_record(password=password, diagnostics=diagnostics, logging=1,
                                       host="mail.example.com", userid="operator", fromaddress="music@example.com",
                                       errormail="errors@example.com", ignoreip="10.0.0.1", notifyip="10.0.0.2")


class Generator:
    """Draws one request from a random source."""

    def __init__(self, rng, site):
        self.r = rng
        self.site = site

    def text(self, n, alphabet=None):
        r = self.r
        if alphabet is None:
            return "".join(chr(r.randrange(256)) for _ in range(n))
        return "".join(r.choice(alphabet) for _ in range(n))

    def field_name(self):
        r = self.r
        k = r.random()
        if k < 0.05:
            return "n" * 65536
        if k < 0.15:
            return self.text(r.randrange(1, 40))
        return r.choice(["command", "password", "numsongs", "genre", "Rumba", "x", "COMMAND", "a%3Db"])

    def query(self, letter=None):
        r = self.r
        letter = letter if letter is not None else r.choice(LETTERS)
        rest = r.choice(["", PASSWORD, "x" + PASSWORD + "y", "wrong", "&password=" + PASSWORD,
                         "&password=wrong", "=" * 3, "%41%zz%", "+&+=+&", self.text(r.randrange(0, 60))])
        q = letter + rest
        if r.random() < 0.15:
            pairs = [f"{self.field_name()}={self.text(r.randrange(0, 20), 'ab%+=&09')}"
                     for _ in range(r.randrange(1, 6))]
            q += "&" + "&".join(pairs)
        if r.random() < 0.03:
            q += "&" + "n" * 65536 + "=1"
        return q[:MAX_VARIABLE]

    def playlist_body(self):
        r = self.r
        pairs = ["command=" + r.choice(["playlistgen", "playlistgen", "manage", "PLAYLISTGEN", ""])]
        for _ in range(r.randrange(0, 5)):
            genre = r.choice(list(GENRES) + HOSTILE_GENRES)
            encoded = genre if r.random() < 0.3 else "".join(
                c if c.isalnum() else "%%%02X" % ord(c) for c in genre)
            pairs.append(f"{encoded}=AddGenre")
        if r.random() < 0.8:
            pairs.append("numsongs=" + r.choice(["15", "25", "50", "75", "0", "-5", "999", "abc", "", "1e9",
                                                 "2147483648", "%00"]))
        if r.random() < 0.1:
            pairs.append("n" * 65536 + "=AddGenre")
        r.shuffle(pairs)
        return "&".join(pairs).encode("latin-1")

    def body(self):
        r = self.r
        k = r.random()
        if k < 0.55:
            return self.playlist_body()
        if k < 0.7:
            return bytes(r.randrange(256) for _ in range(r.randrange(0, 3000)))
        if k < 0.8:
            return (b"--xyz\r\nContent-Disposition: form-data; name=\"command\"\r\n\r\nplaylistgen\r\n"
                    b"--xyz\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.mp3\"\r\n\r\n"
                    + bytes(r.randrange(256) for _ in range(200)) + b"\r\n--xyz--\r\n")
        if k < 0.9:
            return b"command=playlistgen&Rumba=AddGenre&" + b"x" * r.randrange(60000, 200000)
        return b""

    def content_length(self, body):
        r = self.r
        k = r.random()
        if k < 0.5:
            return str(len(body))
        return r.choice([str(len(body) + r.randrange(1, 100000)), str(max(0, len(body) - 5)), "-1", "-99999999",
                         "2147483647", "2147483648", "99999999999", "4294967296", "0", "", "12abc", " 5",
                         "0x10", "+7", "-0", "1" * 300])

    def environment(self):
        r = self.r
        env = {"PATH": "/usr/bin:/bin", "GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1",
               "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "80", "SCRIPT_NAME": "/audiojs/playlist.cgi",
               "REMOTE_ADDR": "127.0.0.1", "HTTP_HOST": "127.0.0.1", "SERVER_SOFTWARE": r.choice(SOFTWARE),
               "CGI_LOG_DIR": str(self.site.folder / "log")}
        if r.random() < 0.2:
            del env["CGI_LOG_DIR"]
        if r.random() < 0.3:
            env["REMOTE_HOST"] = r.choice(["client.example", "", "\r\n<script>", self.text(100)])
        if r.random() < 0.15:
            env["HTTP_AUTHORIZATION"] = r.choice(["Basic b3BlcmF0b3I6c2VzYW1l", "Basic !!!!", "Basic",
                                                   "Basic " + "QUFB" * 4000, "Digest x"])
        if r.random() < 0.1:
            env["HTTP_" + self.text(r.randrange(1, 20), "ABCXYZ_-")] = self.text(r.randrange(0, 200), "abc =&%")
        if r.random() < 0.03:
            env["HTTP_X_BIG"] = "v" * 100000
        if r.random() < 0.05:
            env["CGI_VERSION"] = r.choice(["CGI/1.1", "CGI/1.3a WIN", "win", "CGI/1.2 (Win95)"])
        return env

    def cgi_request(self):
        """A standard CGI request: (kind, argv tail, env, stdin bytes)."""
        r = self.r
        env = self.environment()
        method = r.choice(METHODS) if r.random() < 0.25 else r.choice(["GET", "GET", "POST"])
        env["REQUEST_METHOD"] = method
        env["QUERY_STRING"] = self.query()
        body = b""
        if method != "GET" or r.random() < 0.1:
            body = self.body()
            env["CONTENT_LENGTH"] = self.content_length(body)
            env["CONTENT_TYPE"] = r.choice(CONTENT_TYPES) if r.random() < 0.3 else CONTENT_TYPES[0]
            if r.random() < 0.2:
                del env["CONTENT_LENGTH"]
        args = []
        if r.random() < 0.05:
            args = [r.choice(["P", "X", "I", "S" * 5000, str(self.site.folder / "index.txt"), "a b", "-"])]
        # A CGI_VERSION with "WIN" leaves the standard front end without
        # streams (or, with a file argument, reads that file as a data file).
        expect_answer = "WIN" not in env.get("CGI_VERSION", "").upper()
        if r.random() < 0.03:
            env["SERVER_SOFTWARE"] = r.choice(["", "ZB"])
            args = ["not-a-file"]
            expect_answer = False
        return "cgi", args, env, body, expect_answer

    def wincgi_request(self):
        """A Windows CGI request: data file, content file and output file in scratch."""
        r = self.r
        scratch = self.site.scratch
        data, content, output = scratch / "request.ini", scratch / "content.txt", scratch / "output.txt"
        for p in (data, content, output):
            if p.exists():
                p.unlink()
        method = r.choice(["GET", "POST", "POST", "get", "HEAD", ""])
        body = self.body()
        lines = ["[CGI]", f"Request Method={method}", f"Query String={self.query()}",
                 f"Content Length={self.content_length(body)}",
                 f"Content Type={r.choice(CONTENT_TYPES[:3])}", "Server Software=WebSite/1.1",
                 f"CGI Version={r.choice(['CGI/1.3a (Win)', 'CGI/1.2 WIN'])}", "Remote Address=127.0.0.1",
                 "[System]", f"Output File={output}"]
        if r.random() < 0.5:
            content.write_bytes(body)
            lines.append(f"Content File={content}")
        if r.random() < 0.3:
            lines += ["[Form Literal]", "command=playlistgen", f"{r.choice(list(GENRES) + HOSTILE_GENRES)}=AddGenre",
                      "numsongs=15"]
        if r.random() < 0.2:
            lines += ["[Form External]", f"big={content} {r.choice(['5', '99999999', '-1', 'x'])}"]
        if r.random() < 0.2:
            lines += ["[Accept]", "text/html=Yes", "[Extra Headers]", "X Custom=1"]
        if r.random() < 0.1:  # after the output file, which must stay readable
            lines.insert(r.randrange(10, len(lines) + 1), self.text(r.randrange(0, 100)).replace("\r", ""))
        if r.random() < 0.03:
            lines.append("Long=" + "L" * 20000)
        raw = "\r".join(lines) + "\r"
        data.write_bytes(raw.encode("latin-1"))
        # A line of 16383 bytes or more ends the reading: an output file
        # named after it is never seen, and the request cannot start.
        read = raw.encode("latin-1").split(b"\r")
        cut = next((i for i, line in enumerate(read) if len(line) >= 16383), len(read))
        startable = any(line.startswith(b"Output File=") for line in read[:cut])
        env = {"PATH": "/usr/bin:/bin", "CGI_VERSION": r.choice(["CGI/1.3a WIN", "WIN", "Win"]),
               "CGI_LOG_DIR": str(self.site.folder / "log")}
        return "wincgi", [str(data)], env, b"", startable

    def draw(self):
        k = self.r.random()
        if k < 0.12:
            return self.wincgi_request()
        return self.cgi_request()


def header_problem(raw):
    """None when raw starts with a complete header block, else the reason."""
    end = raw.find(b"\r\n\r\n")
    if end < 0:
        return "no empty line after the header block"
    lines = raw[:end].split(b"\r\n")
    for i, line in enumerate(lines):
        if i == 0 and line.startswith(b"HTTP/1."):
            continue
        name, colon, _ = line.partition(b":")
        if not colon or not name or any(c <= 32 or c >= 127 for c in name) or b"\n" in line or b"\r" in line:
            return f"malformed header line {line[:80]!r}"
    names = [line.partition(b":")[0].lower() for line in lines]
    if b"content-type" not in names:
        return "no Content-Type line"
    for line in lines:
        name, _, value = line.partition(b":")
        if name.lower() == b"content-length" and value.strip() != str(len(raw) - end - 4).encode():
            return f"content-length {value.strip()!r} for a body of {len(raw) - end - 4} bytes"
    return None


def running_copies(program):
    """Pids of processes whose executable is the site's copy of the program."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{entry}/exe") == str(program):
                found.append(int(entry))
        except OSError:
            pass
    return found


def end_group(process):
    """Ends a process the harness started, and its group, by its pid."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait(timeout=SERVER_STOP_SECONDS)


class Harness:
    def __init__(self, site, seed, verbose):
        self.site = site
        self.seed = seed
        self.verbose = verbose
        self.failures = []
        self.tally = {}  # kind -> [runs, answers with a body]

    def launch(self, args, env, body):
        # As bytes: any byte but NUL may stand in a variable or an argument.
        argv = [str(self.site.cgi).encode()] + [a.encode("latin-1").replace(b"\0", b"") for a in args]
        envb = {k.encode("latin-1").replace(b"\0", b"").replace(b"=", b"_") or b"_":
                v.encode("latin-1").replace(b"\0", b"") for k, v in env.items()}
        return subprocess.Popen(argv, cwd=self.site.cwd, env=envb,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True)

    def run_program(self, args, env, body, seconds=RUN_SECONDS):
        if self.verbose > 1:
            print(f"  run: args={[a[:60] for a in args]!r} method={env.get('REQUEST_METHOD', '')[:20]!r} "
                  f"query={env.get('QUERY_STRING', '')[:60]!r} body={body[:100]!r}")
        process = self.launch(args, env, body)
        try:
            out, err = process.communicate(body, timeout=seconds)
            return process.returncode, out, err, False
        except subprocess.TimeoutExpired:
            end_group(process)
            out, err = process.communicate()
            return process.returncode, out, err, True

    def prepare_options(self, rng):
        k = rng.random()
        path = self.site.options_file()
        if k < 0.25:
            if path.is_file():
                path.unlink()
        elif k < 0.45:
            path.write_bytes(options_record(diagnostics=rng.choice([0, 1])))
        elif k < 0.5:
            path.write_bytes(bytes(rng.randrange(256) for _ in range(OPTIONS_SIZE)))
        elif k < 0.53:
            path.write_bytes(options_record(password=""))

    def count(self, kind, answer):
        entry = self.tally.setdefault(kind, [0, 0])
        entry[0] += 1
        end = answer.find(b"\r\n\r\n")
        entry[1] += end >= 0 and len(answer) > end + 4

    def mutate_site(self, rng):
        """Now and then the site owner's files take an odd shape: the pages
        must still answer, with an error page at worst."""
        folder = self.site.folder
        def as_folder(name):
            path = folder / name
            if path.is_dir():
                return
            if path.exists():
                path.unlink()
            path.mkdir()
        def as_file(name):
            path = folder / name
            if path.is_dir():
                shutil.rmtree(path)
            return path
        k = rng.randrange(9)
        if k == 0:
            as_file("index.txt").write_bytes(bytes(rng.randrange(256) for _ in range(rng.randrange(0, 4000))))
        elif k == 1:
            marker = rng.choice([b"BREAKGENRE", b"BREAKMUSIC", b"<insert songlist>", b"x"])
            as_file("index.txt").write_bytes((marker + b"\r") * rng.randrange(1, 3000) + b"y" * 100000)
        elif k == 2:
            as_folder("index.txt")
        elif k == 3:
            as_file("index.txt").unlink(missing_ok=True)
        elif k == 4:
            (folder / "Rumba" / "folder.mp3").mkdir(exist_ok=True)
        elif k == 5:
            odd = rng.choice(["a&b", "<b>x&amp;", "x y", "%41", "n" * 200, "\u00e9t\u00e9", "-", "#"])
            (folder / odd).mkdir(exist_ok=True)
            (folder / odd / f"{rng.choice(['..', '%', '<b>', 'song'])}.mp3").write_bytes(b"ID3")
        else:
            as_folder(rng.choice(["Songlist.txt", "RandomPlaylist.txt", "folders.txt", "MusicIndex.txt"]))

    def check(self, number, kind, args, env, body, expect_answer, code, out, err, hung):
        problems = []
        if hung:
            problems.append(f"no end within {RUN_SECONDS}s")
        elif code != 0:
            problems.append(f"exit code {code}")
        answer = out
        if kind == "wincgi":
            output = self.site.scratch / "output.txt"
            answer = output.read_bytes() if output.exists() else b""
            if out:
                problems.append(f"wrote {len(out)} bytes to standard output")
        if kind == "wincgi" and err == b"" and not expect_answer and answer:
            problems.append("an output file for a data file that names none")
        if kind == "wincgi" and problems:
            data = self.site.scratch / "request.ini"
            problems.append(f"data file {data.read_bytes()[:1500]!r}")
        self.count(kind, answer)
        if not hung and expect_answer:
            reason = header_problem(answer)
            if reason:
                problems.append(f"answer: {reason}: {answer[:200]!r}")
        if not hung and not expect_answer and kind in ("cgi", "burst") and out:
            problems.append(f"answered {out[:120]!r} where no front end serves")
        problems += self.common_checks()
        if problems:
            self.report(number, problems, kind, args, env, body, err)

    def common_checks(self):
        problems = [f"outside the program folder: {line}" for line in self.site.outside_changes()]
        if problems:
            self.site.baseline = self.site.state()
        options = self.site.options_file()
        if options.is_file() and options.stat().st_size != OPTIONS_SIZE:
            problems.append(f"options file holds {options.stat().st_size} bytes")
        stray = running_copies(self.site.cgi)
        if stray:
            problems.append(f"left running: {stray}")
            for pid in stray:  # descendants of runs this harness started
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        return problems

    def report(self, number, problems, kind, args, env, body, err):
        self.failures.append(number)
        shown = {k: (v if len(v) < 200 else v[:200] + f"...({len(v)} chars)") for k, v in env.items()}
        print(f"FAIL run {number} ({kind}): " + "; ".join(problems))
        print(f"  args={[a[:200] for a in args]!r}\n  env={shown!r}\n  body={body[:300]!r} ({len(body)} bytes)")
        if err:
            print(f"  stderr={err[-1500:]!r}")
        sys.stdout.flush()

    def server_session(self, number, rng, gen):
        """Starts a resident server with "$$START_SERVER", hands it a few
        requests through CGI instances, and stops it with SIGTERM."""
        env = {"PATH": "/usr/bin:/bin", "CGI_LOG_DIR": str(self.site.folder / "log")}
        server = self.launch(["$$START_SERVER", rng.choice(["x", "start", "$$START_SERVER"])], env, b"")
        server.stdin.close()
        problems = []
        # Ready once it has published its window under its own pid, the
        # first word of the file (files of an earlier, killed server may
        # still lie there).
        window = self.site.folder / "temp" / f"window-{self.site.cgi.name}_S"
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            try:
                if window.read_text().split()[:1] == [str(server.pid)]:
                    break
            except OSError:
                pass
            time.sleep(0.02)
        else:
            problems.append("the server published no window within 5 s")
        for i in range(rng.randrange(1, 4)):
            kind, args, cenv, body, expect = gen.cgi_request()
            if args or "WIN" in cenv.get("CGI_VERSION", "").upper() or "SERVER_SOFTWARE" not in cenv:
                continue
            code, out, err, hung = self.run_program(args, cenv, body)
            self.count("handed over", out)
            if hung or code != 0 or header_problem(out):
                problems.append(f"handed-over request {i}: code {code}, hung {hung}, answer {out[:160]!r}")
                self.report(number, problems, "server hand-off", args, cenv, body, err)
                problems = []
        if server.poll() is not None:
            problems.append(f"server ended by itself with code {server.returncode}")
        elif rng.random() < 0.3:
            # Killed: its alive file stays fresh, yet the next request must
            # be answered (served directly, not handed to the dead server).
            end_group(server)
            env_after = dict(gen.environment(), REQUEST_METHOD="GET", QUERY_STRING=rng.choice("PXSI"),
                             CGI_VERSION="CGI/1.1", SERVER_SOFTWARE=rng.choice(SOFTWARE))
            code, out, err, hung = self.run_program([], env_after, b"")
            self.count("after a killed server", out)
            if hung or code != 0 or header_problem(out):
                problems.append(f"request after the server was killed: code {code}, hung {hung}, answer {out[:160]!r}")
        else:
            os.kill(server.pid, signal.SIGTERM)
            try:
                server.wait(timeout=SERVER_STOP_SECONDS)
                if server.returncode != 0:
                    problems.append(f"server ended with code {server.returncode} after SIGTERM")
            except subprocess.TimeoutExpired:
                problems.append(f"server still running {SERVER_STOP_SECONDS}s after SIGTERM")
        end_group(server)
        self.tally.setdefault("server", [0, 0])[0] += 1
        err = server.stderr.read()
        server.stdout.close()
        server.stderr.close()
        problems += self.common_checks()
        if problems:
            self.report(number, problems, "server", ["$$START_SERVER"], env, b"", err)

    def burst(self, number, rng, gen):
        """Several standard CGI requests at once, toggles and the manager
        page among them: no answer, options file or outside file may suffer
        from the others."""
        requests = []
        for _ in range(rng.randrange(2, 7)):
            kind, args, env, body, expect = gen.cgi_request()
            if rng.random() < 0.6:
                env["REQUEST_METHOD"] = "GET"
                env["QUERY_STRING"] = rng.choice("DdFfXPI") + rng.choice(["", PASSWORD])
                env["CGI_VERSION"] = "CGI/1.1"
                env["SERVER_SOFTWARE"] = rng.choice(SOFTWARE)
                args, expect = [], True
            elif not env.get("SERVER_SOFTWARE") or "ZB" in env["SERVER_SOFTWARE"]:
                continue  # a resident server launch: server sessions only
            requests.append((args, env, body, expect))
        started = [(self.launch(args, env, body), args, env, body, expect) for args, env, body, expect in requests]
        finished = []
        deadline = time.monotonic() + RUN_SECONDS
        for process, args, env, body, expect in started:
            try:
                out, err = process.communicate(body, timeout=max(0.1, deadline - time.monotonic()))
                hung = False
            except subprocess.TimeoutExpired:
                end_group(process)
                out, err = process.communicate()
                hung = True
            finished.append((args, env, body, expect, process.returncode, out, err, hung))
        # Checked only when all have ended: a sibling still running is no stray.
        for args, env, body, expect, code, out, err, hung in finished:
            self.check(number, "burst", args, env, body, expect, code, out, err, hung)

    def run(self, runs, seconds):
        started = time.monotonic()
        done = 0
        for number in range(runs):
            if time.monotonic() - started > seconds:
                break
            rng = random.Random(f"{self.seed}:{number}")
            gen = Generator(rng, self.site)
            if number % 100 == 99:
                self.site.reset()
            self.prepare_options(rng)
            if rng.random() < 0.08:
                self.mutate_site(rng)
            pick = rng.random()
            if pick < 0.02:
                self.server_session(number, rng, gen)
            elif pick < 0.06:
                self.burst(number, rng, gen)
            else:
                kind, args, env, body, expect = gen.draw()
                code, out, err, hung = self.run_program(args, env, body)
                self.check(number, kind, args, env, body, expect, code, out, err, hung)
            done += 1
            if self.verbose and done % 50 == 0:
                print(f"progfuzz: {done} runs, {len(self.failures)} failures, {time.monotonic() - started:.0f}s")
                sys.stdout.flush()
        return done, time.monotonic() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=int(os.environ.get("PROGFUZZ_RUNS", "400")))
    parser.add_argument("--seconds", type=float, default=float(os.environ.get("PROGFUZZ_SECONDS", "90")))
    parser.add_argument("--seed", type=int,
                        default=int(os.environ.get("PROGFUZZ_SEED", datetime.date.today().strftime("%Y%m%d"))))
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("-v", "--verbose", action="count", default=0, help="twice: every run")
    options = parser.parse_args()

    program = livelib.program_path()
    if not program.is_file():
        print(f"progfuzz: program not built: {program}")
        return 2
    site = Site(program)
    print(f"progfuzz: seed {options.seed} (reproduce with --seed {options.seed} or PROGFUZZ_SEED={options.seed}), "
          f"up to {options.runs} runs or {options.seconds:.0f}s, program {program}, site {site.work}")
    sys.stdout.flush()
    harness = Harness(site, options.seed, options.verbose)
    try:
        done, elapsed = harness.run(options.runs, options.seconds)
    finally:
        for pid in running_copies(site.cgi):
            os.kill(pid, signal.SIGKILL)
        if not options.keep and not harness.failures:
            site.cleanup()
    print("progfuzz: " + ", ".join(f"{kind} {n} ({body} with a body)" for kind, (n, body) in sorted(harness.tally.items())))
    print(f"progfuzz: {done} runs in {elapsed:.1f}s, {len(harness.failures)} failures"
          + (f" (runs {harness.failures[:20]}); work folder kept: {site.work}" if harness.failures else "")
          + f", seed {options.seed}")
    return 1 if harness.failures else 0


if __name__ == "__main__":
    sys.exit(main())
