#!/usr/bin/env python3
"""HTTPS test server on 127.0.0.1 for the transfer tests (standard library only).

Answers every GET with 200 and a fixed body, and records the request head of each connection.
It writes its port to PORT_FILE once it accepts connections and runs until the folder of PORT_FILE
is removed, or at the latest after --lifetime seconds, so it goes away with the test that started it
however that ends. (Wine hands a Linux program neither a process handle nor its standard input.)
"""

import argparse
import os
import socket
import ssl
import sys
import threading
import time


def parse_arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cert", required=True, help="PEM file: the server certificate chain")
    parser.add_argument("--key", required=True, help="PEM file: the server key")
    parser.add_argument("--port-file", required=True, help="written with the port once ready")
    parser.add_argument("--request-file", required=True,
                        help="each request head received is appended to this file")
    parser.add_argument("--body", default="tls body", help="body of the 200 answer")
    parser.add_argument("--lifetime", type=float, default=120, help="seconds before it ends anyway")
    parser.add_argument("--only-old-tls", action="store_true",
                        help="offer TLS 1.0 and 1.1 and nothing newer")
    return parser.parse_args(argv)


def make_context(arguments):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if arguments.only_old_tls:
        # Debian's OpenSSL refuses TLS 1.0 and 1.1 at its default security level.
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.minimum_version = ssl.TLSVersion.TLSv1
        context.maximum_version = ssl.TLSVersion.TLSv1_1
    context.load_cert_chain(arguments.cert, arguments.key)
    return context


def serve_connection(connection, context, arguments, lock):
    try:
        connection.settimeout(30)
        with context.wrap_socket(connection, server_side=True) as tls:
            request = b""
            while b"\r\n\r\n" not in request:
                chunk = tls.recv(4096)
                if not chunk:
                    return
                request += chunk
            with lock, open(arguments.request_file, "ab") as log:
                log.write(request[:request.index(b"\r\n\r\n") + 4])
            body = arguments.body.encode()
            tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                        % len(body) + body)
    except (OSError, ssl.SSLError):
        pass  # a refused handshake is what some tests want
    finally:
        connection.close()


def main(argv):
    arguments = parse_arguments(argv)
    context = make_context(arguments)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    open(arguments.request_file, "ab").close()
    temporary = arguments.port_file + ".tmp"
    with open(temporary, "w") as port_file:
        port_file.write(str(listener.getsockname()[1]))
    os.replace(temporary, arguments.port_file)

    def end_when_done():
        folder = os.path.dirname(os.path.abspath(arguments.port_file))
        deadline = time.monotonic() + arguments.lifetime
        while os.path.isdir(folder) and time.monotonic() < deadline:
            time.sleep(0.2)
        os._exit(0)

    threading.Thread(target=end_when_done, daemon=True).start()
    lock = threading.Lock()
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=serve_connection, args=(connection, context, arguments, lock),
                         daemon=True).start()


if __name__ == "__main__":
    main(sys.argv[1:])
