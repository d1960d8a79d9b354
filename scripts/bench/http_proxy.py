#!/usr/bin/env python3
"""A small HTTP proxy on loopback for the benchmarks: requests with an
absolute URI ("POST http://host:port/path HTTP/1.1") are passed to that
server with the path alone, "CONNECT host:port" opens a tunnel. A client
connection is tied to the first server it names (enough for a client that
talks to one server) and kept as long as both ends keep it.

    http_proxy.py [--port P] [--count FILE]

Prints "listening on 127.0.0.1:P". --count FILE: the number of client
connections so far.
"""
import argparse
import socket
import sys
import threading


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None, b""
        data += chunk
    end = data.index(b"\r\n\r\n") + 4
    return data[:end], data[end:]


def handle(client):
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    server = None
    try:
        head, rest = read_head(client)
        if head is None:
            return
        line, _, headers = head.partition(b"\r\n")
        method, target, version = line.split(b" ", 2)
        if method == b"CONNECT":
            host, _, port = target.rpartition(b":")
            server = socket.create_connection((host.decode(), int(port)))
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            first = rest
        else:
            # http://host:port/path: the server, and the request as it would go direct.
            url = target[len(b"http://"):]
            hostport, slash, path = url.partition(b"/")
            host, _, port = hostport.rpartition(b":")
            server = socket.create_connection((host.decode(), int(port or b"80")))
            kept = b"".join(h + b"\r\n" for h in headers.split(b"\r\n")
                            if h and not h.lower().startswith(b"proxy-"))
            first = method + b" /" + path + b" " + version + b"\r\n" + kept + b"\r\n" + rest
        server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if first:
            server.sendall(first)
        # Later requests on the same connection name the same server: their
        # request lines are rewritten on the way (a plain pump for a tunnel).
        up = threading.Thread(target=(pump if method == b"CONNECT" else rewrite),
                              args=(client, server), daemon=True)
        up.start()
        pump(server, client)
        up.join()
    except (OSError, ValueError):
        pass
    finally:
        for s in (client, server):
            if s:
                try:
                    s.close()
                except OSError:
                    pass


def rewrite(src, dst):
    """Passes requests on, each request line's absolute URI made a path. The
    client sends the next request only after the answer to the previous one,
    so a request line is the first thing a read after the body brings; the
    bodies are chunked, ended by an empty chunk."""
    buffer = b""
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            buffer += data
            out = b""
            while buffer:
                if buffer.startswith((b"POST http://", b"GET http://")):
                    eol = buffer.find(b"\r\n")
                    if eol < 0:
                        break
                    method, target, version = buffer[:eol].split(b" ", 2)
                    path = b"/" + target[len(b"http://"):].partition(b"/")[2]
                    buffer = method + b" " + path + b" " + version + buffer[eol:]
                    head_end = buffer.find(b"\r\n\r\n")
                    if head_end < 0:
                        break
                    head = b"\r\n".join(h for h in buffer[:head_end].split(b"\r\n")
                                        if not h.lower().startswith(b"proxy-"))
                    out += head + b"\r\n\r\n"
                    buffer = buffer[head_end + 4:]
                    continue
                out += buffer
                buffer = b""
            if out:
                dst.sendall(out)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--count")
    a = p.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", a.port))
    listener.listen(64)
    print("listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    count = 0
    while True:
        client, _ = listener.accept()
        count += 1
        if a.count:
            with open(a.count, "w") as f:
                f.write("%d\n" % count)
        threading.Thread(target=handle, args=(client,), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
