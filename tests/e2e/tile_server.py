"""A loopback tile server reached as a proxy (http_proxy): http://HOST/LAYER/13_X_Y answers the tile stored under
/LAYER/13_X_Y, or 404. A script of answers per path makes it misbehave as real servers do, one answer a request."""
import email.utils
import http.server
import ssl
import threading
import time
import urllib.parse

LAST_MODIFIED = 1767225600  # 2026-01-01, the time the stored tiles carry


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # connections kept alive
    disable_nagle_algorithm = True  # else an answer's second write waits for the client's delayed ACK

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        with self.server.lock:
            self.server.open_connections += 1
            self.server.most_connections = max(self.server.most_connections, self.server.open_connections)

    def finish(self):
        with self.server.lock:
            self.server.open_connections -= 1
        super().finish()

    def do_GET(self):
        server = self.server
        path = urllib.parse.urlsplit(self.path).path
        with server.lock:
            server.requests.append((time.monotonic(), path, dict(self.headers)))
            script = server.scripts.get(path)
            action = script.pop(0) if script else "tile"
        if server.delay:
            time.sleep(server.delay)
        getattr(self, "answer_" + action.split(":")[0])(path, *action.split(":")[1:])

    def do_CONNECT(self):
        """As a proxy asked for a tunnel to an https server: refused, as the script "CONNECT" says."""
        with self.server.lock:
            self.server.requests.append((time.monotonic(), "CONNECT " + self.path, dict(self.headers)))
            script = self.server.scripts.get("CONNECT")
            status = int((script.pop(0) if script else "status:502").split(":")[1])
        self.send(status, b"no tunnel", "text/plain")
        self.close_connection = True

    def send(self, status, body=b"", content_type="image/png", headers=()):
        self.send_response(status)
        for name, value in [("Content-Type", content_type), ("Content-Length", str(len(body))), *headers]:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def answer_tile(self, path):
        body = self.server.tiles.get(path)
        if body is None:
            return self.send(404, b"no such tile", "text/plain")
        since, modified = self.headers.get("If-Modified-Since"), self.server.modified.get(path, LAST_MODIFIED)
        if since and email.utils.parsedate_to_datetime(since).timestamp() >= modified:
            return self.send(304)
        self.send(200, body, headers=[("Last-Modified", email.utils.formatdate(modified, usegmt=True))])

    def answer_html(self, path):
        self.send(200, b"<!DOCTYPE html>\n<html><head><title>Log in</title></head></html>\n", "text/html; charset=utf-8")

    def answer_status(self, path, code, *headers):
        self.send(int(code), b"busy" if int(code) != 204 else b"", "text/plain",
                  [tuple(h.split("=", 1)) for h in headers])

    def answer_empty(self, path):
        self.send(200)

    def answer_redirect(self, path):
        self.send(302, b"", "text/plain", [("Location", "/moved" + path)])

    def answer_close(self, path):
        self.close_connection = True  # no answer at all

    def answer_half(self, path, wait="0"):
        body = self.server.tiles[path.removeprefix("/moved")]
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[:len(body) // 2])
        self.wfile.flush()
        self.server.stalled.set()
        self.server.release.wait(float(wait))  # until released, for an interruption mid-tile
        self.close_connection = True


class TileServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, certificate=None):
        """`certificate`: the files of a certificate and its key, for a server that speaks https alone."""
        super().__init__(("127.0.0.1", 0), Handler)
        if certificate:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*certificate)
            self.socket = context.wrap_socket(self.socket, server_side=True)
        self.lock, self.stalled, self.release = threading.Lock(), threading.Event(), threading.Event()
        self.tiles, self.scripts, self.requests, self.delay, self.modified = {}, {}, [], 0.0, {}
        self.most_connections = self.open_connections = 0
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def handle_error(self, request, client_address):
        pass  # a client stopped mid-request is one of the cases

    def reset(self, tiles, scripts=None, delay=0.0, modified=None):
        with self.lock:
            self.modified = dict(modified or {})
            self.tiles = dict(tiles)
            self.tiles.update({"/moved" + p: t for p, t in tiles.items()})
            self.scripts = {path: list(actions) for path, actions in (scripts or {}).items()}
            self.requests, self.delay = [], delay
            self.most_connections = self.open_connections = 0
            self.stalled.clear()
            self.release.clear()

    @property
    def proxy(self):
        return f"http://127.0.0.1:{self.server_port}"
