#!/usr/bin/env python3
"""A relay between the client and the development server that answers late.

    late_relay.py --target PORT --rules FILE --log FILE

Listens on a free port of 127.0.0.1 (printed as "listening on 127.0.0.1:P"),
reads each request whole (the client sends one chunked request per
connection), names its operation (the first "<ns:Name" of the body) and acts
on the first matching line of the rules file, which is read again for every
request:

    GetUserMessage 8       answer 8 seconds late
    UserLogon never        accept the request and never answer (until the
                           client hangs up)
    * refuse               close the connection without a word
    * 0                    pass on at once (also without a matching line)

Each request is logged as "<wall clock in ms> <operation> <action>".
"""
import argparse
import socket
import sys
import threading
import time


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


def operation(request):
    start = request.find(b"<ns:")
    if start < 0:
        return "?"
    end = start + 4
    while end < len(request) and (chr(request[end]).isalnum() or request[end] == ord("_")):
        end += 1
    return request[start + 4:end].decode("ascii", "replace")


def rule_for(rules_path, op):
    try:
        with open(rules_path) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 2 and parts[0] in (op, "*"):
                    return parts[1]
    except OSError:
        pass
    return "0"


def serve(conn, args, log_lock):
    try:
        conn.settimeout(120)
        request = read_request(conn)
        op = operation(request)
        action = rule_for(args.rules, op)
        with log_lock, open(args.log, "a") as log:
            log.write("%d %s %s\n" % (time.time() * 1000, op, action))
        if action == "refuse":
            return
        if action == "never":
            while conn.recv(65536):
                pass
            return
        time.sleep(float(action))
        with socket.create_connection(("127.0.0.1", args.target), timeout=120) as server:
            server.sendall(request)
            while True:
                chunk = server.recv(65536)
                if not chunk:
                    break
                conn.sendall(chunk)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--rules", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print("listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    log_lock = threading.Lock()
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args, log_lock), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
