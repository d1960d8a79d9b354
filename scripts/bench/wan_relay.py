#!/usr/bin/env python3
"""A relay that makes a loopback connection look like a far one.

    wan_relay.py --target PORT --rtt MS [--mbit N] [--port P] [--count FILE]

Listens on 127.0.0.1 (a free port unless --port is given; printed as
"listening on 127.0.0.1:P") and relays every connection to 127.0.0.1:PORT:

- Each direction has its own queue: a chunk read at time t is written at
  t + RTT/2 (one-way delay) and no earlier than the bandwidth cap allows
  after the chunk before it; reading goes on meanwhile, so a long answer
  flows as it would over the far line (the delay does not add up per chunk).
- A new connection carries nothing for one round trip after it was
  accepted (the TCP handshake over the far line): the client's first bytes
  leave then and reach the server half a round trip later.
- An end of stream is passed on in order, after the data before it.

One thread serves every connection from one event loop, so that a chunk
never waits for another thread to be scheduled.

--count FILE: "connections N requests M" is written there as they come:
the connections relayed so far (the benchmark's count of TCP connections)
and the HTTP requests seen in them (request lines "POST " / "GET " at the
start of a read, which is where a client's request begins).
"""
import argparse
import collections
import heapq
import itertools
import selectors
import socket
import sys
import time

COUNTS = {"connections": 0, "requests": 0}
COUNT_FILE = None


def write_counts():
    if COUNT_FILE:
        with open(COUNT_FILE, "w") as f:
            f.write("connections %d requests %d\n" % (COUNTS["connections"], COUNTS["requests"]))


class Direction:
    """One direction of one connection: chunks with the time they are due."""

    def __init__(self, src, dst, start_at, upstream):
        self.src, self.dst = src, dst
        self.start_at = start_at
        self.upstream = upstream
        self.queue = collections.deque()  # (due, bytes); b"" is the end of stream
        self.line_free_at = 0.0
        self.pending = b""  # due, not yet taken by the receiving socket
        self.ended = False  # the end of stream went out
        self.reading = True


class Relay:
    def __init__(self, target, delay, rate):
        self.target, self.delay, self.rate = target, delay, rate
        self.sel = selectors.DefaultSelector()
        self.timers = []  # (due, n, direction)
        self.counter = itertools.count()
        self.reader = {}  # socket -> the direction it is read for
        self.registered = set()

    def accept(self, listener):
        client, _ = listener.accept()
        accepted_at = time.monotonic()
        COUNTS["connections"] += 1
        write_counts()
        server = socket.create_connection(("127.0.0.1", self.target))
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            s.setblocking(False)
        start_at = accepted_at + 2 * self.delay
        up = Direction(client, server, start_at, True)
        down = Direction(server, client, start_at, False)
        up.peer, down.peer = down, up
        self.reader[client], self.reader[server] = up, down
        self.interest(client)
        self.interest(server)

    def interest(self, sock):
        """What sock waits for: reading its own direction, writing the other's."""
        d_in = self.reader.get(sock)
        if d_in is None:
            return
        events = 0
        if d_in.reading:
            events |= selectors.EVENT_READ
        if d_in.peer.pending:
            events |= selectors.EVENT_WRITE
        registered = sock in self.registered
        if events and registered:
            self.sel.modify(sock, events, d_in)
        elif events:
            self.sel.register(sock, events, d_in)
            self.registered.add(sock)
        elif registered:
            self.sel.unregister(sock)
            self.registered.discard(sock)

    def read(self, d):
        try:
            data = d.src.recv(65536)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        now = time.monotonic()
        if d.upstream and data[:5] in (b"POST ", b"GET /"):
            COUNTS["requests"] += 1
            write_counts()
        # Nothing leaves before the handshake is done; then the serialisation
        # on the capped line, then the one-way delay.
        start = max(now, d.line_free_at, d.start_at)
        if data:
            d.line_free_at = start + (len(data) / self.rate if self.rate else 0)
            due = d.line_free_at + self.delay
        else:
            due = start + self.delay
            d.reading = False
            self.interest(d.src)
        d.queue.append((due, data))
        if len(d.queue) == 1:
            heapq.heappush(self.timers, (due, next(self.counter), d))

    def release(self, d, now):
        """Moves the chunks that are due into the pending output."""
        while d.queue and d.queue[0][0] <= now:
            _, data = d.queue.popleft()
            if not data:
                d.ended = True
                break
            d.pending += data
        if d.queue and not d.ended:
            heapq.heappush(self.timers, (d.queue[0][0], next(self.counter), d))
        self.flush(d)

    def flush(self, d):
        if d.pending:
            try:
                n = d.dst.send(d.pending)
                d.pending = d.pending[n:]
            except BlockingIOError:
                pass
            except OSError:
                d.pending = b""
                d.ended = True
        if d.ended and not d.pending:
            try:
                d.dst.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            if d.peer.ended and not d.peer.pending:
                self.close(d)
                return
        self.interest(d.dst)

    def close(self, d):
        for s in (d.src, d.dst):
            if s in self.registered:
                self.sel.unregister(s)
                self.registered.discard(s)
            self.reader.pop(s, None)
            s.close()

    def run(self, listener):
        self.sel.register(listener, selectors.EVENT_READ, None)
        while True:
            timeout = None
            if self.timers:
                # The selector's time-out has a granularity of a millisecond,
                # rounded up: it wakes a millisecond early and the rest is
                # waited out polling.
                timeout = max(0.0, self.timers[0][0] - time.monotonic() - 0.001)
            for key, events in self.sel.select(timeout):
                if key.data is None:
                    self.accept(listener)
                    continue
                d = key.data
                if events & selectors.EVENT_READ and d.reading:
                    self.read(d)
                if events & selectors.EVENT_WRITE:
                    self.flush(d.peer)
            now = time.monotonic()
            while self.timers and self.timers[0][0] <= now:
                _, _, d = heapq.heappop(self.timers)
                if d.src.fileno() >= 0:
                    self.release(d, now)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--target", type=int, required=True)
    p.add_argument("--rtt", type=float, required=True, help="round trip in ms")
    p.add_argument("--mbit", type=float, default=100.0, help="bandwidth cap, 0: none")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--count")
    a = p.parse_args()
    global COUNT_FILE
    COUNT_FILE = a.count
    write_counts()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", a.port))
    listener.listen(64)
    print("listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    Relay(a.target, a.rtt / 2000.0, a.mbit * 1e6 / 8 if a.mbit > 0 else 0).run(listener)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
