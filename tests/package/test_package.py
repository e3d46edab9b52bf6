"""The Debian package: built with `make deb`, its contents and lintian's
verdict checked. As root it is also installed with dpkg -i: a site laid out
with valsetto-site is served by a test Apache with the enabled snippet (and
the enabled snippets keep Apache's and lighttpd's own configuration valid), the
host is started as its unit's ExecStart says on a socket passed as
descriptor 0, the units pass systemd-analyze verify, and the purge leaves
nothing of the package and the site as it was. The machine is put back
(package purged, snippets disabled) also when a step fails."""

import os
import pwd
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "live"))
sys.path.insert(0, str(REPO / "tests" / "host"))
import fcgi_client  # noqa: E402
import livelib  # noqa: E402

DEB_DIR = Path(os.environ.get("DEB_DIR") or REPO / "build" / "tests" / "package" / "deb")
BUILD_SECONDS = 900
COMMAND_SECONDS = 120
SHIPPED_ROOT = "/var/www/html"

# Every file and link the package installs; the folders that hold them come with them.
CONTENTS = {
    "/usr/lib/valsetto/valsetto", "/usr/lib/valsetto/valsetto.so",
    "/usr/sbin/isapi-fcgi", "/usr/sbin/valsetto-site",
    "/etc/apache2/conf-available/valsetto.conf",
    "/etc/lighttpd/conf-available/50-valsetto.conf",
    "/etc/lighttpd/conf-available/50-valsetto-inprocess.conf",
    "/etc/nginx/snippets/valsetto.conf", "/etc/nginx/snippets/valsetto-inprocess.conf",
    "/usr/share/valsetto/index.txt",
    "/usr/share/man/man8/valsetto.8.gz", "/usr/share/man/man8/isapi-fcgi.8.gz",
    "/usr/share/man/man8/valsetto-site.8.gz",
    "/lib/systemd/system/valsetto.socket", "/lib/systemd/system/valsetto.service",
    "/lib/systemd/system/valsetto@.service",
    "/usr/share/doc/valsetto/changelog.gz", "/usr/share/doc/valsetto/copyright",
    "/usr/share/lintian/overrides/valsetto",
}
UNITS = ["/lib/systemd/system/valsetto.socket", "/lib/systemd/system/valsetto.service",
         "/lib/systemd/system/valsetto@.service"]
ENABLED_SNIPPET = Path("/etc/apache2/conf-enabled/valsetto.conf")
ENABLED_LIGHTTPD = Path("/etc/lighttpd/conf-enabled/50-valsetto.conf")
GENRES = ["Tango", "Rumba"]


def genre_choice(genre):
    """The genre page's line for a genre folder it found."""
    return f'<tr><td>{genre}</td><td><input type="radio" name="{genre}" value="AddGenre"></td></tr>'


def run(command, **kwargs):
    kwargs.setdefault("timeout", COMMAND_SECONDS)
    return subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL, **kwargs)


def package_file():
    found = sorted(DEB_DIR.glob("valsetto_*.deb"))
    return found[-1] if found else None


def setUpModule():
    for tool in ("dpkg-buildpackage", "dh", "lintian"):
        if shutil.which(tool) is None:
            raise unittest.SkipTest(f"{tool} is not installed (scripts/install-deps.sh installs it)")
    started = time.monotonic()
    built = run(["make", "-C", str(REPO), "deb", f"DEB_DIR={DEB_DIR}"], timeout=BUILD_SECONDS)
    if built.returncode != 0:
        raise AssertionError(f"make deb failed:\n{built.stdout[-4000:]}\n{built.stderr[-4000:]}")
    print(f"make deb took {time.monotonic() - started:.1f} s", file=sys.stderr)


def listing(deb):
    """The package's paths: absolute, folders without their final slash."""
    paths = {}
    for line in run(["dpkg-deb", "-c", str(deb)], check=True).stdout.splitlines():
        fields = line.split(maxsplit=5)
        name = fields[5].split(" -> ")[0]
        paths[name.lstrip(".").rstrip("/") or "/"] = fields[0][0]
    return paths


class PackageTests(unittest.TestCase):
    def test_contents_conffiles_and_dependencies(self):
        deb = package_file()
        paths = listing(deb)
        self.assertEqual({p for p, kind in paths.items() if kind != "d"}, CONTENTS)
        control = Path(tempfile.mkdtemp(prefix="valsetto-control-"))
        self.addCleanup(shutil.rmtree, control)
        run(["dpkg-deb", "-e", str(deb), str(control)], check=True)
        conffiles = set((control / "conffiles").read_text().split())
        self.assertEqual(conffiles, {p for p in CONTENTS if p.startswith("/etc/")})
        depends = run(["dpkg-deb", "-f", str(deb), "Depends"], check=True).stdout
        self.assertIn("libfcgi0ldbl", depends)

    def test_programs_the_configurations_and_units_name_are_in_the_package(self):
        deb = package_file()
        paths = listing(deb)
        work = Path(tempfile.mkdtemp(prefix="valsetto-deb-"))
        self.addCleanup(shutil.rmtree, work)
        run(["dpkg-deb", "-x", str(deb), str(work)], check=True)
        for path in [p for p in CONTENTS if p.startswith("/etc/") or p in UNITS]:
            text = (work / path.lstrip("/")).read_text()
            for word in text.replace('"', " ").split():
                if word.startswith(("/usr/", "/lib/")):
                    with self.subTest(file=path, names=word):
                        self.assertIn(word, paths)

    def test_lintian_reports_no_errors(self):
        checked = run(["lintian", "--fail-on", "error", str(package_file())])
        print(checked.stdout, file=sys.stderr)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertNotIn("\nE: ", "\n" + checked.stdout)


def installed(package):
    status = run(["dpkg-query", "-W", "-f", "${Status}", package]).stdout
    return "installed" in status.split()


def tcp_listeners():
    lines = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        lines += [line.split()[1] for line in Path(table).read_text().splitlines()[1:] if line.split()[3] == "0A"]
    return set(lines)


def restore_machine():
    """Purges the package and disables its snippet, whatever state a failed step left."""
    if installed("valsetto") or run(["dpkg-query", "-W", "valsetto"]).returncode == 0:
        run(["dpkg", "--purge", "valsetto"], env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    for link in (ENABLED_SNIPPET, ENABLED_LIGHTTPD):
        if link.is_symlink():
            link.unlink()


def snapshot(folder):
    """What a folder holds: each entry's kind, link target or content."""
    state = {}
    for path in sorted(Path(folder).rglob("*")):
        if path.is_symlink():
            state[str(path)] = ("link", os.readlink(path))
        elif path.is_dir():
            state[str(path)] = ("folder", None)
        else:
            state[str(path)] = ("file", path.read_bytes())
    return state


def installed_site(work):
    """A livelib site whose program is the link valsetto-site made."""
    site = object.__new__(livelib.Site)
    site.work = work
    site.root = work / "site"
    site.audiojs = site.root / "audiojs"
    site.run = work / "run"
    site.cgi = site.audiojs / "playlist.cgi"
    site.run.mkdir(exist_ok=True)
    site.hand_over(site.run)
    return site


class InstalledApache(livelib.ApacheCgid):
    """Debian's Apache setup (event MPM, mod_cgid) with the snippet a2enconf enabled."""

    def commands(self):
        commands = super().commands()
        text = livelib.substitute(ENABLED_SNIPPET.read_text(), self.site)
        (self.site.work / "valsetto-apache.conf").write_text(text)
        return commands


@unittest.skipUnless(os.geteuid() == 0, "installing with dpkg -i needs root")
class InstalledPackageTests(unittest.TestCase):
    def setUp(self):
        if run(["dpkg-query", "-W", "valsetto"]).returncode == 0:
            self.skipTest("a valsetto package is on this machine already: left alone")
        in_the_way = [p for p in CONTENTS if os.path.lexists(p)]
        in_the_way += [str(link) for link in (ENABLED_SNIPPET, ENABLED_LIGHTTPD) if link.is_symlink()]
        if in_the_way:
            self.skipTest(f"files of another install are in the way: {in_the_way}")
        self.addCleanup(restore_machine)
        self.work = Path(tempfile.mkdtemp(prefix="valsetto-package-"))
        os.chmod(self.work, 0o755)
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.www = pwd.getpwnam("www-data")

    def test_installed_package_serves_a_site_and_its_removal_leaves_the_site(self):
        files = self.install()
        site = self.lay_out_site()
        self.serve_under_apache(site)
        self.enable_under_lighttpd()
        self.serve_in_process_as_the_unit_says(site)
        self.verify_units()
        self.remove(files, site)

    def install(self):
        listeners = tcp_listeners()
        done = run(["dpkg", "-i", str(package_file())], env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(livelib.program_processes("/usr/sbin/isapi-fcgi"), [], "installing started the host")
        self.assertEqual(tcp_listeners() - listeners, set(), "installing opened a port")
        self.assertEqual(sorted(Path("/etc/systemd/system").rglob("valsetto*")), [], "installing enabled a unit")
        return [line for line in run(["dpkg", "-L", "valsetto"], check=True).stdout.splitlines()
                if os.path.lexists(line) and not os.path.isdir(line)]

    def lay_out_site(self):
        root = self.work / "site"
        root.mkdir()
        done = run(["valsetto-site", str(root)])
        self.assertEqual(done.returncode, 0, done.stderr)
        for server_step in ("a2enconf valsetto", "lighty-enable-mod valsetto", "include snippets/valsetto.conf;",
                            "ln -s /usr/lib/valsetto/valsetto.so", "include snippets/valsetto-inprocess.conf;",
                            f"change it to\n{root}"):
            self.assertIn(server_step, done.stdout)
        audiojs = root / "audiojs"
        self.assertEqual(os.readlink(audiojs / "playlist.cgi"), "/usr/lib/valsetto/valsetto")
        self.assertEqual((audiojs / "index.txt").read_bytes(), Path("/usr/share/valsetto/index.txt").read_bytes())
        for path in (audiojs, audiojs / "playlist.cgi", audiojs / "index.txt"):
            self.assertEqual(os.lstat(path).st_uid, self.www.pw_uid, path)
        self.assertEqual(sorted(p.name for p in audiojs.iterdir()), ["index.txt", "playlist.cgi"])
        self.refusals(root)
        site = installed_site(self.work)
        for genre in GENRES:
            site.write(f"audiojs/{genre}/{genre} 01.mp3", f"ID3 fake mp3 {genre}")
            (site.root / genre).mkdir()
        site.hand_over(site.root)
        return site

    def refusals(self, site_root):
        """Bad input: a clear message, an exit code, and nothing changed."""
        (self.work / "file").write_text("not a folder")
        (self.work / "empty").mkdir()
        (self.work / "lone").mkdir()
        (self.work / "lone" / "audiojs").write_text("a file where the folder goes")
        os.chmod(self.work / "empty", 0o777)
        nobody = {"user": 65534, "group": 65534, "extra_groups": []}
        cases = [
            ("no folder given", [], {}, 2, "usage: valsetto-site DIR"),
            ("missing folder", [str(self.work / "none")], {}, 1, "is no folder"),
            ("a file, not a folder", [str(self.work / "file")], {}, 1, "is no folder"),
            ("existing install", [str(site_root)], {}, 1, "already holds a site ( playlist.cgi index.txt )"),
            ("audiojs is a file", [str(self.work / "lone")], {}, 1, "exists and is no folder"),
            ("not root", [str(self.work / "empty")], nobody, 1, "only root may give the site to www-data"),
        ]
        before = snapshot(self.work)
        for name, args, user, code, message in cases:
            with self.subTest(name):
                done = run(["/usr/sbin/valsetto-site", *args], **user)
                self.assertEqual(done.returncode, code, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual(done.stdout, "")
        self.assertEqual(snapshot(self.work), before)

    def serve_under_apache(self, site):
        done = run(["a2enconf", "valsetto"])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(os.path.realpath(ENABLED_SNIPPET), "/etc/apache2/conf-available/valsetto.conf")
        # The machine's own configuration still holds with the snippet in it.
        done = run(["apache2ctl", "configtest"])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        with InstalledApache(site) as server:
            page = livelib.request(server.port, "/audiojs/playlist.cgi?P")
            self.assertEqual(page.status, 200, server.diagnostics())
            for genre in GENRES:
                self.assertIn(genre_choice(genre), page.text())
            # The program keeps its files beside the link, and the snippet refuses them.
            self.assertTrue((site.audiojs / "folders.txt").is_file())
            for private in ("folders.txt", "index.txt", "playlist.opt"):
                with self.subTest(private=private):
                    self.assertIn(livelib.request(server.port, f"/audiojs/{private}").status, (403, 404))

    def enable_under_lighttpd(self):
        done = run(["lighty-enable-mod", "valsetto"])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(os.path.realpath(ENABLED_LIGHTTPD), "/etc/lighttpd/conf-available/50-valsetto.conf")
        done = run(["lighttpd", "-tt", "-f", "/etc/lighttpd/lighttpd.conf"])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def unit(self, path):
        settings = {}
        for line in Path(path).read_text().splitlines():
            name, sep, value = line.partition("=")
            if sep and not line.startswith("#"):
                settings[name.strip()] = value.strip()
        return settings

    def serve_in_process_as_the_unit_says(self, site):
        # The link valsetto-site tells how to make.
        extension = site.audiojs / "playlist.so"
        extension.symlink_to("/usr/lib/valsetto/valsetto.so")
        os.chown(extension, self.www.pw_uid, self.www.pw_gid, follow_symlinks=False)
        unit = self.unit("/lib/systemd/system/valsetto.service")
        self.assertEqual(unit["StandardInput"], "socket")
        self.assertEqual(unit["ReadWritePaths"], SHIPPED_ROOT)
        command = [word.replace(SHIPPED_ROOT, str(site.root)) for word in shlex.split(unit["ExecStart"])]
        self.assertEqual(command[0], "/usr/sbin/isapi-fcgi")
        account = pwd.getpwnam(unit["User"])
        path = site.run / "isapi-fcgi.sock"
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(str(path))
        listener.listen(16)
        host = subprocess.Popen(command, stdin=listener.fileno(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                user=account.pw_uid, group=account.pw_gid, extra_groups=[], cwd="/")
        listener.close()
        try:
            params = {"REQUEST_METHOD": "GET", "QUERY_STRING": "P", "SCRIPT_NAME": "/audiojs/playlist.cgi",
                      "SERVER_PROTOCOL": "HTTP/1.1", "SERVER_SOFTWARE": "nginx", "GATEWAY_INTERFACE": "CGI/1.1",
                      "HTTP_HOST": "127.0.0.1:80", "REMOTE_ADDR": "127.0.0.1"}
            answer = fcgi_client.request(path, params)
            self.assertEqual(answer.header("Status"), "200 OK", answer.stdout[:300])
            for genre in GENRES:
                self.assertIn(genre_choice(genre), answer.body.decode("latin-1"))
        finally:
            if host.poll() is None:
                host.send_signal(signal.SIGTERM)
            _, err = host.communicate(timeout=60)
        self.assertEqual(host.returncode, 0, err)

    def verify_units(self):
        done = run(["systemd-analyze", "verify", "--man=no", *UNITS])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(done.stderr.strip(), "")

    def remove(self, files, site):
        before = snapshot(site.root)
        done = run(["dpkg", "--purge", "valsetto"], env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertFalse(installed("valsetto"))
        self.assertEqual([f for f in files if os.path.lexists(f)], [])
        self.assertEqual([d for d in ("/usr/lib/valsetto", "/usr/share/valsetto", "/usr/share/doc/valsetto")
                          if os.path.lexists(d)], [])
        for link in (ENABLED_SNIPPET, ENABLED_LIGHTTPD):
            self.assertFalse(os.path.lexists(link), f"{link} outlived the package")
        self.assertEqual(snapshot(site.root), before)


if __name__ == "__main__":
    unittest.main()
