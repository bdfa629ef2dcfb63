"""A loopback HTTP/2 tile server over TLS (ALPN h2 alone), as tile_server.TileServer answers but on many streams
at once: it counts its connections and the streams open at once, on one connection and in all, and can advertise a
stream limit, answer 429 beyond a rate, reset a stream, or end a connection with GOAWAY after some streams."""
import asyncio
import collections
import email.utils
import ssl
import sys
import threading
import time

try:
    import h2.config, h2.connection, h2.events, h2.errors, h2.exceptions, h2.settings  # noqa: E401
except ImportError:  # Debian's python3-h2, for a Python of its own
    sys.path.append("/usr/lib/python3/dist-packages")
    try:
        import h2.config, h2.connection, h2.events, h2.errors, h2.exceptions, h2.settings  # noqa: E401
    except ImportError:
        h2 = None

from tile_server import LAST_MODIFIED


class H2TileServer:
    def __init__(self, certificate):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*certificate)
        context.set_alpn_protocols(["h2"])
        self.context, self.lock = context, threading.Lock()
        self.stalled, self.release = threading.Event(), threading.Event()  # as TileServer has them
        self.reset({})
        self.loop = asyncio.new_event_loop()
        ready = threading.Event()
        threading.Thread(target=self._serve, args=(ready,), daemon=True).start()
        ready.wait(10)

    def reset(self, tiles, scripts=None, delay=0.0, max_streams=100, per_second=0, goaway_after=0):
        """`per_second`: requests a second answered, 429 beyond; `goaway_after`: streams a connection takes."""
        with self.lock:
            self.tiles, self.delay, self.max_streams = dict(tiles), delay, max_streams
            self.scripts = {path: list(actions) for path, actions in (scripts or {}).items()}
            self.per_second, self.goaway_after = per_second, goaway_after
            self.requests, self.refused = [], []  # (time, path, headers); times of the 429s
            self.connections = self.open_connections = self.most_connections = 0
            self.open_streams = self.most_streams = self.most_on_one = 0
            self.recent = collections.deque()

    @property
    def proxy(self):
        return None  # reached directly

    def _serve(self, ready):
        asyncio.set_event_loop(self.loop)

        async def start():
            server = await asyncio.start_server(self._connection, "127.0.0.1", 0, ssl=self.context)
            self.server_port = server.sockets[0].getsockname()[1]
            ready.set()
            await server.serve_forever()
        self.loop.run_until_complete(start())

    async def _connection(self, reader, writer):
        config = h2.config.H2Configuration(client_side=False, header_encoding="utf-8")
        connection = h2.connection.H2Connection(config=config)
        with self.lock:
            self.connections += 1
            self.open_connections += 1
            self.most_connections = max(self.most_connections, self.open_connections)
            max_streams, goaway_after = self.max_streams, self.goaway_after
        connection.local_settings = h2.settings.Settings(
            client=False, initial_values={h2.settings.SettingCodes.MAX_CONCURRENT_STREAMS: max_streams})
        connection.initiate_connection()
        state = dict(open=0, taken=0, window=asyncio.Event(), writer=writer, connection=connection, closing=False)
        writer.write(connection.data_to_send())
        try:
            while not state["closing"]:
                data = await reader.read(65536)
                if not data:
                    break
                for event in connection.receive_data(data):
                    if isinstance(event, h2.events.RequestReceived):
                        if state.get("last"):  # going away: refused, for the client to ask elsewhere
                            connection.reset_stream(event.stream_id, h2.errors.ErrorCodes.REFUSED_STREAM)
                            continue
                        state["taken"] += 1
                        if goaway_after and state["taken"] == goaway_after:
                            state["last"] = event.stream_id
                        asyncio.ensure_future(self._stream(state, event.stream_id, dict(event.headers)))
                    elif isinstance(event, h2.events.WindowUpdated):
                        state["window"].set()
                    elif isinstance(event, h2.events.ConnectionTerminated):
                        state["closing"] = True
                writer.write(connection.data_to_send())
                await writer.drain()
        except (ConnectionError, ssl.SSLError, h2.exceptions.ProtocolError):
            pass
        finally:
            with self.lock:
                self.open_connections -= 1
            while state["open"]:  # the answers of a GOAWAY's last streams go out first
                await asyncio.sleep(0.01)
            writer.close()

    def _open(self, state, change):
        with self.lock:
            state["open"] += change
            self.open_streams += change
            self.most_streams = max(self.most_streams, self.open_streams)
            self.most_on_one = max(self.most_on_one, state["open"])

    async def _stream(self, state, stream, headers):
        path = headers[":path"]
        self._open(state, 1)
        try:
            with self.lock:
                now = time.monotonic()
                self.requests.append((now, path, headers))
                script = self.scripts.get(path)
                action = script.pop(0) if script else "tile"
                while self.recent and self.recent[0] <= now - 1:
                    self.recent.popleft()
                if self.per_second and len(self.recent) >= self.per_second:
                    action = "status:429"
                    self.refused.append(now)
                else:
                    self.recent.append(now)
                delay = self.delay
            if delay:
                await asyncio.sleep(delay)
            await self._answer(state, stream, path, action, headers)
        except (h2.exceptions.StreamClosedError, h2.exceptions.ProtocolError, ConnectionError):
            pass  # the client gave the stream up, or the connection went
        finally:
            self._open(state, -1)
            if state.get("last") and not state["open"] and not state["closing"]:
                # The streams taken are answered: GOAWAY, and the connection ends.
                state["closing"] = True
                state["connection"].close_connection(last_stream_id=state["last"])
                state["writer"].write(state["connection"].data_to_send())
                state["writer"].close()

    async def _answer(self, state, stream, path, action, headers):
        connection, writer = state["connection"], state["writer"]
        kind, *rest = action.split(":")
        if kind == "reset":
            connection.reset_stream(stream, h2.errors.ErrorCodes.INTERNAL_ERROR)
            writer.write(connection.data_to_send())
            return
        status, body, extra = 200, None, []
        if kind == "status":
            status, body, extra = int(rest[0]), b"busy", [tuple(h.split("=", 1)) for h in rest[1:]]
        else:
            body = self.tiles.get(path)
            if body is None:
                status, body = 404, b"no such tile"
            else:
                extra = [("last-modified", email.utils.formatdate(LAST_MODIFIED, usegmt=True))]
        connection.send_headers(stream, [(":status", str(status)), ("content-type", "image/png" if status == 200 else
                                                                     "text/plain"),
                                         ("content-length", str(len(body))), *extra])
        while body:
            window = min(connection.local_flow_control_window(stream), connection.max_outbound_frame_size)
            if window <= 0:
                state["window"].clear()
                writer.write(connection.data_to_send())
                await state["window"].wait()
                continue
            connection.send_data(stream, body[:window])
            body = body[window:]
        connection.end_stream(stream)
        writer.write(connection.data_to_send())
