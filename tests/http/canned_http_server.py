#!/usr/bin/env python3
"""A one-client-at-a-time HTTP server on 127.0.0.1 that answers with canned bytes.

Usage: canned_http_server.py LOG_DIR RESPONSE...

Prints the port it listens on, then serves connections one after the other.
On every connection the n-th request gets the n-th RESPONSE, sent exactly as
given; after the last one the connection is closed. An empty RESPONSE means
"never answer": the connection is held open until the server is killed.
Each request (header and body) is saved as LOG_DIR/conn<C>-req<R>.txt.
"""
import os
import socket
import sys
import time


def read_request(conn, pending):
    while b"\r\n\r\n" not in pending:
        data = conn.recv(65536)
        if not data:
            return None, b""
        pending += data
    head, _, rest = pending.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        data = conn.recv(65536)
        if not data:
            break
        rest += data
    return head + b"\r\n\r\n" + rest[:length], rest[length:]


def serve(conn, number, log_dir, responses):
    pending = b""
    for index, response in enumerate(responses, start=1):
        request, pending = read_request(conn, pending)
        if request is None:
            return
        with open(os.path.join(log_dir, "conn%d-req%d.txt" % (number, index)), "wb") as log:
            log.write(request)
        if not response:
            while True:
                time.sleep(60)
        conn.sendall(response)


def main():
    log_dir = sys.argv[1]
    responses = [os.fsencode(arg) for arg in sys.argv[2:]]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print(listener.getsockname()[1], flush=True)
    number = 0
    while True:
        conn, _ = listener.accept()
        number += 1
        with conn:
            serve(conn, number, log_dir, responses)


if __name__ == "__main__":
    main()
