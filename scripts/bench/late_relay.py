#!/usr/bin/env python3
"""A relay between the client and the development server that answers late,
badly or not at all.

    late_relay.py --target PORT --rules FILE --log FILE [--port P] [--seed N]

Listens on 127.0.0.1 (a free port unless --port is given; printed as
"listening on 127.0.0.1:P"), reads each request whole (the client sends one
chunked request per connection), names its operation (the first "<ns:Name"
of the body) and acts on the first matching line of the rules file, which is
read again for every connection:

    GetUserMessage 8       answer 8 seconds late
    UserLogon never        accept the request and never answer (until the
                           client hangs up)
    * refuse               read the request, close the connection without a word
    * cut                  pass the first half of the server's answer, then close
    * garble               the server's answer with its body scrambled
    * http500              an HTTP 500 answer with a page that is no SOAP
    * junk                 bytes that are no HTTP at all
    * malformed            one of refuse, cut, garble, http500, junk at random
    * 0                    pass on at once (also without a matching line)

A third field "N%" makes a line apply to about N in 100 requests (the others
go on to the next matching line): "GetUserMessage malformed 20%".

Two rules act on the connection before anything is read and are only taken
from "*" lines:

    * accept-close         accept every connection and close it as soon as the
                           operation's name has come (at most 0.2 s), unanswered
    * down                 listen no more: connections are refused (the port
                           is taken up again when the line goes)

Each request is logged as "<wall clock in ms> <operation> <action>" (the
operation "?" when none came). The port stays the same across "down" phases.
"""
import argparse
import os
import random
import select
import socket
import sys
import threading
import time

MALFORMED = ("refuse", "cut", "garble", "http500", "junk")


def read_request(conn):
    data = b""
    while True:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0 and data.find(b"\r\n0\r\n\r\n", head_end) >= 0:
            return data
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk


def name_span(data):
    """Where the operation's name (after the first "<ns:") starts and ends;
    None without one."""
    start = data.find(b"<ns:")
    if start < 0:
        return None
    end = start + 4
    while end < len(data) and (chr(data[end]).isalnum() or data[end] == ord("_")):
        end += 1
    return start + 4, end


def operation(request):
    span = name_span(request)
    return request[span[0]:span[1]].decode("ascii", "replace") if span else "?"


def name_complete(data):
    # Complete once a byte that is no part of a name follows it.
    span = name_span(data)
    return span is not None and span[1] < len(data)


def read_rules(rules_path):
    rules = []
    try:
        with open(rules_path) as f:
            for line in f:
                parts = line.split()
                if len(parts) in (2, 3):
                    share = 100.0
                    if len(parts) == 3:
                        try:
                            share = float(parts[2].rstrip("%"))
                        except ValueError:
                            continue
                    rules.append((parts[0], parts[1], share))
    except OSError:
        pass
    return rules


def rule_for(rules, op, rng):
    for name, action, share in rules:
        if name not in (op, "*") or action in ("accept-close", "down"):
            continue
        if share >= 100.0 or rng.random() * 100.0 < share:
            return action
    return "0"


def connection_rule(rules):
    for name, action, _ in rules:
        if name == "*" and action in ("accept-close", "down"):
            return action
    return None


def log_line(args, log_lock, op, action):
    with log_lock, open(args.log, "a") as log:
        log.write("%d %s %s\n" % (time.time() * 1000, op, action))


def server_answer(args, request):
    """Sends the request to the server; yields its answer as it comes. One
    request per connection here: the server is asked to close after it (the
    client then sees "Connection: close" and keeps nothing)."""
    head_end = request.find(b"\r\n\r\n")
    head = request[:head_end].replace(b"\r\nConnection: keep-alive", b"\r\nConnection: close")
    request = head + request[head_end:]
    with socket.create_connection(("127.0.0.1", args.target), timeout=120) as server:
        server.sendall(request)
        while True:
            chunk = server.recv(65536)
            if not chunk:
                return
            yield chunk


def scrambled(answer, rng):
    head_end = answer.find(b"\r\n\r\n")
    body_start = head_end + 4 if head_end >= 0 else 0
    body = bytearray(answer[body_start:])
    # Keep the chunk framing's first line and scramble the XML after it.
    start = max(body.find(b"<"), 0)
    for i in range(start, len(body)):
        if rng.random() < 0.3:
            body[i] = rng.choice(b"<>&\"'/\x00\xff?=")
    return answer[:body_start] + bytes(body)


def serve(conn, args, rules, log_lock, rng):
    try:
        conn.settimeout(120)
        request = read_request(conn)
        op = operation(request)
        action = rule_for(rules, op, rng)
        if action == "malformed":
            action = rng.choice(MALFORMED)
        log_line(args, log_lock, op, action)
        if action == "refuse":
            return
        if action == "never":
            while conn.recv(65536):
                pass
            return
        if action == "http500":
            page = b"<html><body>Internal Server Error</body></html>"
            conn.sendall(b"HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/html\r\n"
                         b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(page) + page)
            return
        if action == "junk":
            conn.sendall(bytes(rng.getrandbits(8) for _ in range(300)))
            return
        if action in ("cut", "garble"):
            answer = b"".join(server_answer(args, request))
            if action == "cut":
                conn.sendall(answer[: len(answer) // 2])
            else:
                conn.sendall(scrambled(answer, rng))
            return
        try:
            delay = float(action)
        except ValueError:
            delay = 0.0
        time.sleep(delay)
        for chunk in server_answer(args, request):
            conn.sendall(chunk)
    except OSError:
        pass
    finally:
        conn.close()


def close_early(conn, args, log_lock):
    data = b""
    try:
        conn.settimeout(0.2)
        deadline = time.time() + 0.2
        while not name_complete(data):
            if time.time() >= deadline:
                break
            chunk = conn.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    finally:
        conn.close()
    log_line(args, log_lock, operation(data), "accept-close")


def listen(port):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(64)
    return listener


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--rules", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    rng = random.Random(args.seed if args.seed is not None else os.getpid())
    rng_lock = threading.Lock()
    listener = listen(args.port)
    port = listener.getsockname()[1]
    print("listening on 127.0.0.1:%d" % port, flush=True)
    log_lock = threading.Lock()
    while True:
        rules = read_rules(args.rules)
        mode = connection_rule(rules)
        if mode == "down":
            if listener is not None:
                listener.close()
                listener = None
            time.sleep(0.05)
            continue
        if listener is None:
            try:
                listener = listen(port)
            except OSError:
                time.sleep(0.05)
                continue
        ready, _, _ = select.select([listener], [], [], 0.05)
        if not ready:
            continue
        conn, _ = listener.accept()
        if mode == "accept-close":
            threading.Thread(target=close_early, args=(conn, args, log_lock), daemon=True).start()
            continue
        with rng_lock:
            own_rng = random.Random(rng.getrandbits(64))
        threading.Thread(target=serve, args=(conn, args, rules, log_lock, own_rng),
                         daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
