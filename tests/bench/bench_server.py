#!/usr/bin/env python3
"""Serves one large body on 127.0.0.1 for scripts/bench-transfer (standard library only).

Every GET is answered with 200, a Content-Length and SIZE bytes of a fixed pattern. The port is
written to PORT_FILE once the server accepts connections; it runs until it is terminated.
"""

import argparse
import os
import socket
import threading

CHUNK = 1 << 20


def serve(connection, size, chunk):
    with connection:
        request = b""
        while b"\r\n\r\n" not in request:
            data = connection.recv(4096)
            if not data:
                return
            request += data
        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                           % size)
        left = size
        while left:
            part = min(left, len(chunk))
            connection.sendall(chunk[:part])
            left -= part
        connection.shutdown(socket.SHUT_WR)
        while connection.recv(4096):
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=256 * 1024 * 1024)
    parser.add_argument("--port-file", required=True)
    arguments = parser.parse_args()
    chunk = memoryview(bytes((i * 131) % 251 for i in range(CHUNK)))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    with open(arguments.port_file + ".tmp", "w") as port_file:
        port_file.write(str(listener.getsockname()[1]))
    os.replace(arguments.port_file + ".tmp", arguments.port_file)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve, args=(connection, arguments.size, chunk),
                         daemon=True).start()


if __name__ == "__main__":
    main()
