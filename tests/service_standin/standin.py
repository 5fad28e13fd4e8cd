#!/usr/bin/env python3
"""Local HTTPS stand-in for the web service, driven by the tests.

Two loopback listeners:

* the service port (HTTPS): every connection carries one request, which is
  recorded byte for byte before its answer is sent: the first queued answer
  that matches the request, else the most recently set default that matches
  it, else the fallback default; the connection is then closed.
* the control port (plain HTTP/1.0), used by the tests:
    POST /reset     clear queued answers, recorded requests and every
                    default (back to 200/empty), release hanging
                    connections                                 -> "ok"
    POST /script    JSON array of answer objects, appended to the queue
    POST /default   one JSON answer object: with "match", the default for
                    requests that it matches (the most recently set
                    matching default wins); without, the fallback default
    GET  /requests  for each request: "REQUEST <len> <alongside> <done>\\r\\n"
                    then exactly <len> raw bytes;
                    alongside: how many requests for the same path (without
                    query) were waiting for their answers when it arrived;
                    done: 1 once its answer is being sent or was dropped
    GET  /count     number of recorded requests, decimal text
    CONNECT host:port   as a user's proxy: records the request and tunnels
                    the connection to host:port

Answer object fields (all optional): status, body or body_b64, pieces
([{body|body_b64, delay_ms}]), delay_ms, hang, close, match.  An answer's
one header is Content-Length, so tests know the whole header block; the
control port's answers and the login host's pages are built the same way.

The service port also plays the login host of the test builds, apart from the
queue and not recorded: GET /qrlogin answers a stand-in QR page whose link,
as a scan would, leads to the redirect_uri of its query, and GET
/cgi-bin/pqsupport-bin/shakebindpage answers the bind page, which names the
account (BIND_ACCOUNT) in its window's name, as the panel reads it.

"match" is a text that an answer's request must contain in its path with
query (the request line's target, taken as UTF-8); an answer without "match"
matches every request, and a queued answer that matches no request stays.
"""

import argparse
import base64
import collections
import http
import json
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

MAX_HEADER_BYTES = 64 * 1024
READ_TIMEOUT_S = 30


BIND_ACCOUNT = '{"token":"standin-token","uin":"10001","user":"standin@example.com",' \
    '"nickname":"Stand-in"}'
LOGIN_PAGE = """<!DOCTYPE html>
<html><head><meta http-equiv="Content-Type" content="text/html;charset=utf8">
<title>QR login</title></head>
<body style="margin:0;text-align:center;font-family:Arial">
<table style="margin:40px auto 10px;border-collapse:collapse">%s</table>
<a href="%s">scanned</a></body></html>
"""
BIND_PAGE = """<!DOCTYPE html>
<html><head><meta http-equiv="Content-Type" content="text/html;charset=utf8">
<title>bound</title><script type="text/javascript">window.name = '%s';</script></head>
<body>bound</body></html>
"""


def log(message):
    print("standin: " + message, file=sys.stderr, flush=True)


class State:
    """Answer queue and recorded requests, shared by both listeners."""

    def __init__(self):
        self.lock = threading.Lock()
        self.queue = collections.deque()
        self.requests = []  # [raw bytes, alongside, done]
        self.serving = collections.Counter()  # path -> requests being served
        self.default = {}  # the fallback default
        self.match_defaults = []  # (match, answer), oldest first
        # Hanging connections wait on the event current when they started;
        # /reset sets it and installs a fresh one for later connections.
        self.hang_release = threading.Event()

    def record(self, raw):
        """Records a request as being served; returns what finished() takes."""
        path = request_target(raw).split("?", 1)[0]
        with self.lock:
            entry = [raw, self.serving[path], 0]
            self.serving[path] += 1
            self.requests.append(entry)
        return path, entry

    def finished(self, path, entry):
        with self.lock:
            self.serving[path] -= 1
            entry[2] = 1

    def next_answer(self, target):
        """The first matching queued answer (taken off the queue), else the latest matching
        default, else the fallback; and the event that releases the answer if it hangs."""
        with self.lock:
            for index, answer in enumerate(self.queue):
                if "match" not in answer or answer["match"] in target:
                    del self.queue[index]
                    return answer, self.hang_release
            for match, answer in reversed(self.match_defaults):
                if match in target:
                    return answer, self.hang_release
            return self.default, self.hang_release

    def set_default(self, answer):
        with self.lock:
            if "match" not in answer:
                self.default = answer
                return
            match = answer["match"]
            # A default set again for the same text replaces the earlier one.
            self.match_defaults = [(m, a) for m, a in self.match_defaults if m != match]
            self.match_defaults.append((match, answer))

    def reset(self):
        with self.lock:
            self.queue.clear()
            self.requests = []
            self.default = {}
            self.match_defaults = []
            self.hang_release.set()
            self.hang_release = threading.Event()


def check_answer(answer):
    if not isinstance(answer, dict) or not isinstance(answer.get("match", ""), str):
        raise ValueError("expected a JSON object as answer, its match a string")


def request_target(raw):
    """The path with query of the request line, e.g. "/a?b=c"."""
    line = raw.split(b"\r\n", 1)[0].decode("utf-8", "surrogateescape")
    parts = line.split(" ")
    return parts[1] if len(parts) > 1 else ""


def body_bytes(obj):
    if "body_b64" in obj:
        return base64.b64decode(obj["body_b64"])
    body = obj.get("body", "")
    return body if isinstance(body, bytes) else str(body).encode("utf-8")


def login_host_page(raw):
    """The login host's page that the request asks for, or None."""
    target = request_target(raw)
    path, _, query = target.partition("?")
    if not raw.startswith(b"GET "):
        return None
    if path == "/cgi-bin/pqsupport-bin/shakebindpage":
        return BIND_PAGE % BIND_ACCOUNT
    if path != "/qrlogin":
        return None
    # A QR-like square of 21 x 21 cells, the same for every request.
    cells = [[(x * 7 + y * 13 + x * y) % 5 < 2 for x in range(21)] for y in range(21)]
    rows = "".join("<tr>%s</tr>" % "".join(
        '<td style="width:8px;height:8px;padding:0;background:#%s"></td>'
        % ("000" if on else "fff") for on in row) for row in cells)
    redirect = urllib.parse.parse_qs(query).get("redirect_uri", [""])[0]
    return LOGIN_PAGE % (rows, redirect.replace("&", "&amp;").replace('"', "&quot;"))


def read_request(conn):
    """Header block up to the blank line, plus Content-Length body bytes.

    Returns None if the client went away before a full request arrived."""
    data = b""
    while b"\r\n\r\n" not in data:
        if len(data) > MAX_HEADER_BYTES:
            log("header block too large, dropping connection")
            return None
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    end = data.index(b"\r\n\r\n") + 4
    head, rest = data[:end], data[end:]
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, sep, value = line.partition(b":")
        if sep and name.strip().lower() == b"content-length":
            length = int(value.strip())  # a bad one drops the connection, and is logged
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        rest += chunk
    # Anything beyond the declared body (a pipelined request) is ignored.
    return head + rest[:length]


def send_answer(conn, answer):
    """The one writer of answers, of both ports."""
    status = int(answer.get("status", 200))
    try:
        reason = http.HTTPStatus(status).phrase
    except ValueError:
        reason = "Unknown"
    if "pieces" in answer:
        pieces = [(body_bytes(p), p.get("delay_ms", 0)) for p in answer["pieces"]]
    else:
        pieces = [(body_bytes(answer), 0)]
    length = sum(len(b) for b, _ in pieces)
    head = "HTTP/1.1 %d %s\r\nContent-Length: %d\r\n\r\n" % (status, reason, length)
    # Header block first, then one socket write per piece after its delay,
    # so the client sees the body arrive in separate deliveries.
    conn.sendall(head.encode("utf-8"))
    for body, delay_ms in pieces:
        if delay_ms:
            time.sleep(delay_ms / 1000.0)
        conn.sendall(body)


def close_quietly(conn):
    """Half-close, drain briefly and close, so unread input does not turn
    the close into a reset that could cut off the answer at the client."""
    try:
        conn.shutdown(socket.SHUT_WR)
        conn.settimeout(1)
        while conn.recv(4096):
            pass
    except OSError:
        pass
    conn.close()


def serve(state, conn, raw):
    """One request of the service port and its answer."""
    page = login_host_page(raw)
    if page is not None:
        send_answer(conn, {"body": page})
        return
    served = state.record(raw)
    try:
        answer, release = state.next_answer(request_target(raw))
        time.sleep(answer.get("delay_ms", 0) / 1000.0)
        if answer.get("hang"):
            release.wait()
    finally:
        # Done before the answer goes out: the client's next request may follow at once.
        state.finished(*served)
    if not (answer.get("hang") or answer.get("close")):
        send_answer(conn, answer)


def control(state, raw):
    """The answer to one request of the control port."""
    request = (raw.split(b" ", 1)[0].decode("ascii", "replace"), request_target(raw))
    body = raw.split(b"\r\n\r\n", 1)[1]
    if request == ("GET", "/count"):
        with state.lock:
            return {"body": str(len(state.requests))}
    if request == ("GET", "/requests"):
        with state.lock:
            recorded = list(state.requests)
        return {"body": b"".join(b"REQUEST %d %d %d\r\n%s" % (len(raw), alongside, done, raw)
                                 for raw, alongside, done in recorded)}
    if request == ("POST", "/reset"):
        state.reset()
    elif request == ("POST", "/script"):
        answers = json.loads(body or b"null")
        if not isinstance(answers, list):
            raise ValueError("expected a JSON array of objects")
        for answer in answers:
            check_answer(answer)
        with state.lock:
            state.queue.extend(answers)
    elif request == ("POST", "/default"):
        answer = json.loads(body or b"null")
        check_answer(answer)
        state.set_default(answer)
    else:
        return {"status": 404, "body": "unknown path"}
    return {"body": "ok"}


def relay(source, sink):
    """Copies source to sink until source ends, then ends sink's output."""
    try:
        while data := source.recv(65536):
            sink.sendall(data)
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def tunnel(state, conn, raw):
    state.finished(*state.record(raw))
    host, _, port = request_target(raw).rpartition(":")
    try:
        server = socket.create_connection((host, int(port)), timeout=READ_TIMEOUT_S)
    except (OSError, ValueError):
        send_answer(conn, {"status": 502})
        return
    with server:
        conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        back = threading.Thread(target=relay, args=(server, conn), daemon=True)
        back.start()
        relay(conn, server)
        back.join()


def command(state, conn, raw):
    """One request of the control port and its answer."""
    if raw.startswith(b"CONNECT "):
        tunnel(state, conn, raw)
        return
    try:
        answer = control(state, raw)
    except ValueError as exc:  # includes json.JSONDecodeError
        answer = {"status": 400, "body": "bad request: %s" % exc}
    send_answer(conn, answer)


class Handler(socketserver.BaseRequestHandler):
    """A connection of either port: one request, its answer, then the close."""

    def handle(self):
        peer = "%s:%d" % self.client_address
        conn = self.request
        conn.settimeout(READ_TIMEOUT_S)
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            if self.server.tls:
                conn = self.server.tls.wrap_socket(conn, server_side=True)
            raw = read_request(conn)
            if raw is None:
                log("%s disconnected before a full request" % peer)
                return
            self.server.serve(self.server.state, conn, raw)
        except (ssl.SSLError, OSError) as exc:
            log("connection with %s failed: %s" % (peer, exc))
        finally:
            close_quietly(conn)


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, address, serve, state, tls=None):
        self.serve, self.tls, self.state = serve, tls, state
        super().__init__(address, Handler)

    def handle_error(self, request, client_address):
        log("error on connection from %s: %s" % (client_address, sys.exc_info()[1]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--control-port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    args = parser.parse_args()

    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.minimum_version = ssl.TLSVersion.TLSv1_2
    tls.maximum_version = ssl.TLSVersion.TLSv1_3
    tls.load_cert_chain(args.cert, args.key)

    # Both listen once made. Hanging connections end with the process, at its SIGTERM.
    state = State()
    service = Server(("127.0.0.1", args.port), serve, state, tls)
    controller = Server(("127.0.0.1", args.control_port), command, state)
    threading.Thread(target=service.serve_forever, daemon=True).start()
    print("standin ready", flush=True)
    controller.serve_forever()


if __name__ == "__main__":
    main()
