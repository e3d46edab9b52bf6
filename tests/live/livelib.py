"""Runs Valsetto under real web servers on 127.0.0.1 for the live tests.

Each server gets a temporary site folder (<work>/site with audiojs/playlist.cgi
in it), a port found by binding port 0, and a configuration written from the
one shipped in site/<server>/ with the site path and sockets substituted. The
server runs in the foreground as a child of the test and is stopped by its
pid. Run as root, the servers' workers run as www-data, so the site is handed
to that user.
"""

import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SHIPPED = REPO / "site"
SHIPPED_ROOT = "/var/www/html"  # the site folder the shipped configurations name

START_SECONDS = 20
STOP_SECONDS = 10
REQUEST_SECONDS = 20

# Files the program keeps beside itself that no server may hand out.
PRIVATE_FILES = [
    "playlist.opt", "Tunewright.tst", "PostMusic.tst", "playlist1215.log",
    "folders.txt", "MusicIndex.txt", "MP3filelist.txt", "Songlist.txt",
    "RandomPlaylist.txt", "index.txt", "log/gateway.log", "log/sub/old.txt",
    "temp/alive.sv", "temp/request.rq", "Temp/response.rs", "playlist.opt.tmp",
    # Files being written, under their temporary names.
    ".playlist.opt.4242-0.tmp", ".Songlist.txt.4242-1.part", ".folders.txt.4242-2.part",
    "Tango/.index.html.4242-3.part", ".notes",
    # The music index cache and the previous generations of the bounded logs.
    "playlist.cache", "Tunewright.tst.1", "playlist.Log", "playlist.Log.1", "log/playlist.Log.1",
]


def built(variable, name):
    """A file of the build: the one the environment variable names, else build/<name>."""
    return Path(os.environ.get(variable) or REPO / "build" / name)


def program_path():
    return built("VALSETTO_BIN", "valsetto")


def web_user():
    """The account the servers' workers run as, or None when not root."""
    if os.geteuid() != 0:
        return None
    return pwd.getpwnam("www-data")


def as_account(user):
    """Popen arguments that start a process as the account user (a pwd entry);
    none for None."""
    return {} if user is None else {"user": user.pw_uid, "group": user.pw_gid, "extra_groups": []}


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def spawn_resident_server(site):
    """The program started by hand as its resident server: no arguments, no
    SERVER_SOFTWARE, in its own folder, as the workers' user when root."""
    kwargs = {}
    user = web_user()
    if user is not None:
        kwargs = {"user": user.pw_uid, "group": user.pw_gid, "extra_groups": []}
    return subprocess.Popen([str(site.cgi)], env={"PATH": "/usr/bin:/bin"},
                            cwd=site.audiojs, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True, **kwargs)


def clear_folder(folder, *keep):
    """Removes every entry of folder but those named in keep; a link is
    removed, never followed."""
    for entry in Path(folder).iterdir():
        if entry.name in keep:
            continue
        if entry.is_dir() and not entry.is_symlink():
            shutil.rmtree(entry)
        else:
            entry.unlink()


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise TimeoutError(f"timed out after {seconds}s waiting for {what}")


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


class Site:
    """A temporary site folder with the program installed as audiojs/playlist.cgi."""

    def __init__(self, program=None):
        program = Path(program or program_path())
        if not program.is_file():
            raise FileNotFoundError(f"program not built: {program}")
        self.work = Path(tempfile.mkdtemp(prefix="valsetto-live-"))
        os.chmod(self.work, 0o755)
        self.root = self.work / "site"
        self.audiojs = self.root / "audiojs"
        self.run = self.work / "run"  # sockets and server scratch, writable by the workers
        self.audiojs.mkdir(parents=True)
        self.run.mkdir()
        self.cgi = self.audiojs / "playlist.cgi"
        shutil.copy2(program, self.cgi)
        os.chmod(self.cgi, 0o755)
        self.hand_over(self.root)
        self.hand_over(self.run)

    @classmethod
    def existing(cls, root):
        """A site folder laid out elsewhere (the demo's, with audiojs/playlist.cgi
        in it), served as it is, with a scratch folder of its own; cleanup
        removes only the scratch folder."""
        site = object.__new__(cls)
        site.work = Path(tempfile.mkdtemp(prefix="valsetto-live-"))
        os.chmod(site.work, 0o755)
        site.root = Path(root).resolve()
        site.audiojs = site.root / "audiojs"
        site.run = site.work / "run"
        site.run.mkdir()
        site.cgi = site.audiojs / "playlist.cgi"
        site.hand_over(site.run)
        return site

    def hand_over(self, path):
        """Gives path (and everything below it) to the workers' account."""
        user = web_user()
        if user is None:
            return
        paths = [Path(path)]
        if paths[0].is_dir():
            paths += list(paths[0].rglob("*"))
        for p in paths:
            os.chown(p, user.pw_uid, user.pw_gid, follow_symlinks=False)

    def write(self, relative, data):
        """Writes a file below the site folder, creating its folders."""
        target = self.root / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data.encode("latin-1") if isinstance(data, str) else data)
        self.hand_over(self.root)
        return target

    def program_file(self, name):
        return self.audiojs / name

    def reset(self):
        """Removes everything the program or a test left beside the program."""
        clear_folder(self.audiojs, "playlist.cgi")

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)


def substitute(text, site, extra=()):
    text = text.replace(SHIPPED_ROOT, str(site.root))
    for old, new in extra:
        text = text.replace(old, new)
    return text


class Server:
    """A web server run in the foreground for one site; subclasses give the details."""

    name = ""

    def __init__(self, site):
        self.site = site
        self.port = free_port()
        self.processes = []
        # In the scratch folder: lighttpd opens its log after it dropped root.
        self.error_log = site.run / f"{self.name}-error.log"

    def start(self):
        for command, user in self.commands():
            with open(self.site.work / f"{self.name}-stderr.log", "ab") as stderr:
                process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=stderr,
                                           start_new_session=True, **as_account(user))
            self.processes.append(process)
            self.wait_started(len(self.processes) - 1)
        return self

    def wait_started(self, index):
        process = self.processes[index]

        def ready():
            if process.poll() is not None:
                raise RuntimeError(f"{self.name} exited with {process.returncode}: {self.diagnostics()}")
            return self.is_ready(index)

        wait_until(ready, START_SECONDS, f"{self.name} to start")

    def is_ready(self, index):
        return port_open(self.port)

    def stop(self):
        """Stops each process and its workers: every one was started as the
        leader of a process group of its own, so the group id is its pid."""
        for process in reversed(self.processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(timeout=STOP_SECONDS)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait(timeout=STOP_SECONDS)
            try:  # workers that outlive their leader (fcgiwrap's children do)
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.processes = []

    def diagnostics(self):
        texts = []
        for path in sorted([*self.site.work.glob(f"{self.name}*.log"), *self.site.run.glob(f"{self.name}*.log")]):
            texts.append(f"--- {path.name}\n{path.read_text(errors='replace')[-3000:]}")
        return "\n".join(texts)

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def commands(self):
        raise NotImplementedError

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class Apache(Server):
    name = "apache"
    modules = ["mpm_prefork", "authz_core", "mime", "cgi", "dir", "setenvif"]

    def commands(self):
        work = self.site.work
        user = web_user()
        lines = [
            f"ServerRoot {work}",
            "ServerName 127.0.0.1",
            f"Listen 127.0.0.1:{self.port}",
            f"PidFile {work}/apache.pid",
            f"DefaultRuntimeDir {self.site.run}",
            f"Mutex file:{self.site.run} default",
            f"ErrorLog {self.error_log}",
            "LogLevel warn",
        ]
        lines += [f"LoadModule {m}_module /usr/lib/apache2/modules/mod_{m}.so" for m in self.modules]
        if user is not None:
            lines += ["User www-data", "Group www-data"]
        if "mpm_prefork" in self.modules:
            lines += ["StartServers 2", "MinSpareServers 1", "MaxSpareServers 4", "MaxRequestWorkers 16"]
        lines += [
            "TypesConfig /etc/mime.types",
            f"DocumentRoot {self.site.root}",
            "<Directory />", "    Require all denied", "</Directory>",
            f"<Directory {self.site.root}>", "    Require all granted", "</Directory>",
            "DirectoryIndex index.html",
            f"Include {work}/valsetto-apache.conf",
        ]
        shipped = (SHIPPED / "apache" / "valsetto.conf").read_text()
        (work / "valsetto-apache.conf").write_text(substitute(shipped, self.site))
        (work / "apache.conf").write_text("\n".join(lines) + "\n")
        return [(["/usr/sbin/apache2", "-f", str(work / "apache.conf"), "-DFOREGROUND"], None)]


class ApacheCgid(Apache):
    """Debian's default: the event MPM, whose CGI module runs programs from a daemon."""
    modules = ["mpm_event", "authz_core", "mime", "cgid", "dir", "setenvif"]


class Lighttpd(Server):
    name = "lighttpd"
    extra_lines = ()  # further configuration lines a test needs

    def commands(self):
        work = self.site.work
        lines = [
            f'server.document-root = "{self.site.root}"',
            'server.bind = "127.0.0.1"',
            f"server.port = {self.port}",
            f'server.errorlog = "{self.error_log}"',
            f'server.upload-dirs = ( "{self.site.run}" )',
            'index-file.names = ( "index.html" )',
            'mimetype.assign = ( ".html" => "text/html", ".js" => "text/javascript",'
            ' ".css" => "text/css", ".mp3" => "audio/mpeg", ".txt" => "text/plain" )',
        ]
        if web_user() is not None:
            lines += ['server.username = "www-data"', 'server.groupname = "www-data"']
        lines += list(self.extra_lines)
        lines.append(f'include "{work}/valsetto-lighttpd.conf"')
        shipped = (SHIPPED / "lighttpd" / "valsetto.conf").read_text()
        (work / "valsetto-lighttpd.conf").write_text(substitute(shipped, self.site))
        (work / "lighttpd.conf").write_text("\n".join(lines) + "\n")
        return [(["/usr/sbin/lighttpd", "-D", "-f", str(work / "lighttpd.conf")], None)]


class Nginx(Server):
    name = "nginx"

    def commands(self):
        work = self.site.work
        run = self.site.run
        self.socket_path = run / "fcgiwrap.sock"
        user = web_user()
        temp = run / "nginx-temp"
        temp.mkdir(exist_ok=True)
        self.site.hand_over(temp)
        lines = [
            "daemon off;",
            "master_process on;",
            "worker_processes 1;",
            f"pid {work}/nginx.pid;",
            f"error_log {self.error_log} warn;",
        ]
        if user is not None:
            lines.append("user www-data www-data;")
        lines += [
            "events { worker_connections 128; }",
            "http {",
            "    include /etc/nginx/mime.types;",
            "    access_log off;",
            f"    client_body_temp_path {temp}/body;",
            f"    proxy_temp_path {temp}/proxy;",
            f"    fastcgi_temp_path {temp}/fastcgi;",
            f"    uwsgi_temp_path {temp}/uwsgi;",
            f"    scgi_temp_path {temp}/scgi;",
            "    server {",
            f"        listen 127.0.0.1:{self.port};",
            "        server_name 127.0.0.1;",
            f"        root {self.site.root};",
            "        index index.html;",
            f"        include {work}/valsetto-nginx.conf;",
            "    }",
            "}",
        ]
        shipped = (SHIPPED / "nginx" / "valsetto.conf").read_text()
        (work / "valsetto-nginx.conf").write_text(
            substitute(shipped, self.site, [("unix:/run/fcgiwrap.socket", f"unix:{self.socket_path}")]))
        (work / "nginx.conf").write_text("\n".join(lines) + "\n")
        fcgiwrap = ["/usr/sbin/fcgiwrap", "-c", "4", "-s", f"unix:{self.socket_path}"]
        nginx = ["/usr/sbin/nginx", "-e", str(self.error_log), "-p", str(work), "-c", str(work / "nginx.conf")]
        return [(fcgiwrap, user), (nginx, None)]

    def is_ready(self, index):
        if index == 0:
            return self.socket_path.exists()
        return port_open(self.port)


SERVERS = {"apache": Apache, "apache-cgid": ApacheCgid, "lighttpd": Lighttpd, "nginx": Nginx}


class Response:
    def __init__(self, raw):
        self.raw = raw
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        match = re.match(r"HTTP/\d\.\d (\d{3})(?: (.*))?$", lines[0])
        if not match:
            raise ValueError(f"not an HTTP response: {raw[:200]!r}")
        self.status = int(match.group(1))
        self.reason = match.group(2) or ""
        self.headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers.append((name.strip(), value.strip()))

    def header(self, name):
        values = [v for n, v in self.headers if n.lower() == name.lower()]
        return values[0] if values else None

    def text(self):
        return self.body.decode("latin-1")

    def lines(self):
        """The body's lines, each ended by CR LF as the program writes them."""
        text = self.text()
        if not text:
            return []
        if not text.endswith("\r\n"):
            raise AssertionError(f"body does not end with CR LF: {text[-40:]!r}")
        return text[:-2].split("\r\n")


def request(port, path, method="GET", body=None, headers=None, host=None):
    """One HTTP/1.0 request on a fresh connection; reads the whole answer."""
    body = body.encode("latin-1") if isinstance(body, str) else body
    host = host or f"127.0.0.1:{port}"
    head = [f"{method} {path} HTTP/1.0", f"Host: {host}", "Connection: close"]
    for name, value in (headers or {}).items():
        head.append(f"{name}: {value}")
    if body is not None:
        head.append(f"Content-Length: {len(body)}")
    data = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + (body or b"")
    deadline = time.monotonic() + REQUEST_SECONDS
    with socket.create_connection(("127.0.0.1", port), timeout=REQUEST_SECONDS) as s:
        s.sendall(data)
        received = b""
        while time.monotonic() < deadline:
            chunk = s.recv(65536)
            if not chunk:
                break
            received += chunk
            if complete(received):
                break
        else:
            raise TimeoutError(f"no complete answer to {method} {path} within {REQUEST_SECONDS}s")
    return Response(received)


def complete(received):
    """True once a response with a Content-Length has all its body."""
    head, sep, body = received.partition(b"\r\n\r\n")
    if not sep:
        return False
    match = re.search(rb"\r\ncontent-length:\s*(\d+)", head, re.IGNORECASE)
    return bool(match) and len(body) >= int(match.group(1))


def slow_shape_body(shape, size=1024 * 1024):
    """A form body of at most size bytes in a shape that made the field parse
    cost the square of its length: one name repeated ("repeated") or
    distinct names in descending order ("descending")."""
    pairs, total, n = [], 0, size // 10
    while True:
        pair = b"a=&" if shape == "repeated" else b"n%07d=&" % n
        if total + len(pair) > size:
            return b"".join(pairs)
        pairs.append(pair)
        total += len(pair)
        n -= 1


def post_form(port, path, fields):
    from urllib.parse import urlencode
    return request(port, path, "POST", urlencode(fields),
                   {"Content-Type": "application/x-www-form-urlencoded"})


def browser_url(page_path, data_src):
    """Where a browser fetches a song link: URL parsers of browsers treat "\\"
    as "/" in http URLs, and the link is relative to the page."""
    from urllib.parse import quote, urljoin
    return urljoin(page_path, quote(data_src.replace("\\", "/")))


def run_cgi(program, env, args=()):
    """Runs the program as a CGI request in a scratch folder of its own, the way
    a server starts it; returns what it wrote to standard output."""
    scratch = Path(tempfile.mkdtemp(prefix="valsetto-cgi-"))
    try:
        cgi = scratch / "playlist.cgi"
        shutil.copy2(program, cgi)
        environment = {"PATH": "/usr/bin:/bin", "GATEWAY_INTERFACE": "CGI/1.1"}
        environment.update(env)
        return subprocess.run([str(cgi), *args], env=environment, cwd=scratch,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=REQUEST_SECONDS).stdout
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def page_template(head=(), tail=()):
    """A page template with every marker the program expands (the genre
    heading, the genre page's songs, the playlist); head goes after its first
    line and tail after its last."""
    lines = ["<html><head><title>Music</title></head><body>", *head, "BREAKGENRE", "<ul>", "BREAKMUSIC",
             "<insert songlist>", "</ul>", "</body></html>", *tail]
    return "\r\n".join(lines) + "\r\n"


def lay_out_music(site, music, template):
    """Genre folders of fake songs beside the program, the page template, and
    the site folder's folder of each genre name, where its page lands."""
    for genre, titles in music.items():
        for title in titles:
            site.write(f"audiojs/{genre}/{title}.mp3", f"ID3 fake mp3 {genre}/{title}")
        (site.root / genre).mkdir(exist_ok=True)
    site.write("audiojs/index.txt", template)
    site.hand_over(site.root)


def program_processes(program):
    """Pids of the processes running the given program file."""
    found = []
    needle = str(program).encode()
    for cmdline in Path("/proc").glob("[0-9]*/cmdline"):
        try:
            if cmdline.read_bytes().split(b"\0")[0] == needle:
                found.append(int(cmdline.parent.name))
        except OSError:
            pass
    return found


def wait_for_no_program(program, seconds):
    """Waits until no process runs the program; returns the pids still running."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not program_processes(program):
            return []
        time.sleep(0.1)
    return program_processes(program)
