"""A FastCGI client for the tests: one request per connection, the way a
web server speaks to a responder (BEGIN_REQUEST, PARAMS, STDIN), and the
responder's STDOUT, STDERR and END_REQUEST collected."""

import socket
import struct
import time

BEGIN_REQUEST, ABORT_REQUEST, END_REQUEST, PARAMS, STDIN, STDOUT, STDERR = 1, 2, 3, 4, 5, 6, 7
RESPONDER = 1


def record(kind, content, request_id=1):
    header = struct.pack(">BBHHBx", 1, kind, request_id, len(content), 0)
    return header + content


def name_value(name, value):
    name, value = name.encode("latin-1"), value.encode("latin-1")
    out = b""
    for length in (len(name), len(value)):
        out += bytes([length]) if length < 128 else struct.pack(">I", length | 0x80000000)
    return out + name + value


def stream(kind, data, chunk=65535):
    out = b"".join(record(kind, data[i:i + chunk]) for i in range(0, len(data), chunk))
    return out + record(kind, b"")


class Answer:
    def __init__(self, stdout, stderr, app_status):
        self.stdout, self.stderr, self.app_status = stdout, stderr, app_status
        head, _, self.body = stdout.partition(b"\r\n\r\n")
        self.head_lines = head.decode("latin-1").split("\r\n") if head else []

    def header(self, name):
        for line in self.head_lines:
            key, _, value = line.partition(":")
            if key.strip().lower() == name.lower():
                return value.strip()
        return None


def connect(address, timeout):
    if isinstance(address, int):
        return socket.create_connection(("127.0.0.1", address), timeout=timeout)
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.connect(str(address))
    return s


def request(address, params, body=b"", timeout=20, send_body=True, close_after_params=False):
    """Sends one request and reads the answer to its END_REQUEST. With
    close_after_params the connection is shut for writing once the
    parameters and body sent so far are out (a server that went away)."""
    params = dict(params)
    if body and "CONTENT_LENGTH" not in params:
        params["CONTENT_LENGTH"] = str(len(body))
    data = record(BEGIN_REQUEST, struct.pack(">HB5x", RESPONDER, 0))
    data += stream(PARAMS, b"".join(name_value(k, v) for k, v in params.items()))
    if send_body:
        data += b"".join(record(STDIN, body[i:i + 65535]) for i in range(0, len(body), 65535))
        if not close_after_params:
            data += record(STDIN, b"")
    deadline = time.monotonic() + timeout
    with connect(address, timeout) as s:
        s.sendall(data)
        if close_after_params:
            s.shutdown(socket.SHUT_WR)
        received = b""
        stdout, stderr = b"", b""
        while time.monotonic() < deadline:
            while len(received) >= 8:
                _, kind, _, length, padding = struct.unpack(">BBHHBx", received[:8])
                if len(received) < 8 + length + padding:
                    break
                content = received[8:8 + length]
                received = received[8 + length + padding:]
                if kind == STDOUT:
                    stdout += content
                elif kind == STDERR:
                    stderr += content
                elif kind == END_REQUEST:
                    return Answer(stdout, stderr, struct.unpack(">I", content[:4])[0])
            chunk = s.recv(65536)
            if not chunk:
                return Answer(stdout, stderr, None)
            received += chunk
    raise TimeoutError("no END_REQUEST within %ss" % timeout)
