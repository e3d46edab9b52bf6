"""Valsetto in-process for the live tests: the program built as the
extension playlist.so beside playlist.cgi in a livelib site, served by
isapi-fcgi under lighttpd (which starts the host itself) or nginx (the host
started beside it on a Unix socket), each from the configuration shipped in
site/<server>/valsetto-inprocess.conf. The servers are livelib's, with the
in-process configuration put in place of the CGI one."""

import os
import shutil
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "live"))
import livelib  # noqa: E402

SHIPPED_HOST = "/usr/local/bin/isapi-fcgi"
SHIPPED_EXTENSION = "/var/www/html/audiojs/playlist.so"


def host_path():
    return livelib.built("ISAPI_FCGI", "isapi-fcgi")


def extension_path():
    return livelib.built("VALSETTO_SO", "valsetto.so")


def missing():
    """Why the in-process tests cannot run here, or None."""
    for path in (livelib.program_path(), host_path(), extension_path()):
        if not path.is_file():
            return f"not built: {path}"
    return None


def install_extension(site):
    """Puts the extension beside the CGI program as audiojs/playlist.so."""
    target = site.audiojs / "playlist.so"
    shutil.copy2(extension_path(), target)
    site.hand_over(target)
    return target


def view(site, name):
    """The same site folder with a scratch folder of its own, so a second
    server of the same kind writes its configuration and sockets apart."""
    other = object.__new__(livelib.Site)
    other.__dict__.update(site.__dict__)
    other.work = site.work / name
    other.run = site.run / name
    other.work.mkdir(exist_ok=True)
    other.run.mkdir(exist_ok=True)
    os.chmod(other.work, 0o755)
    site.hand_over(other.run)
    return other


class LighttpdInProcess(livelib.Lighttpd):
    name = "lighttpd-isapi"
    threads = 4

    def commands(self):
        commands = super().commands()
        self.socket = self.site.run / "isapi.sock"
        shipped = (livelib.SHIPPED / "lighttpd" / "valsetto-inprocess.conf").read_text()
        text = livelib.substitute(shipped, self.site, [
            (SHIPPED_HOST, str(host_path())),
            ("/run/lighttpd/valsetto-isapi.sock", str(self.socket)),
            ("-t 4", f"-t {self.threads}"),
        ])
        (self.site.work / "valsetto-lighttpd.conf").write_text(text)
        return commands


class NginxInProcess(livelib.Nginx):
    name = "nginx-isapi"
    threads = 4

    def commands(self):
        (_, user), nginx = super().commands()
        self.socket_path = self.site.run / "isapi.sock"
        shipped = (livelib.SHIPPED / "nginx" / "valsetto-inprocess.conf").read_text()
        text = livelib.substitute(shipped, self.site,
                                  [("unix:/run/valsetto/isapi-fcgi.sock", f"unix:{self.socket_path}")])
        (self.site.work / "valsetto-nginx.conf").write_text(text)
        host = [str(host_path()), "-t", str(self.threads), "-s", str(self.socket_path),
                str(self.site.audiojs / "playlist.so")]
        return [(host, user), nginx]
