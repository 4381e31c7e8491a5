#!/usr/bin/env python3
"""Local update service for development, tests and demonstrations.

Serves one release folder (as written by publish_release.py) on 127.0.0.1:

  GET /tov/v2/client/client-updates/orvanti           -> RELEASE_DIR/manifest.json, verbatim
  GET /tov/v2/client/client-updates/orvanti/download  -> the installer (RELEASE_DIR/OrvantiSetup.exe)

The manifest file is read anew for every request and sent byte for byte, so a test can put any
content in place (broken JSON, a wrong digest, an oversized body) while the service runs. The
options below make the service misbehave on purpose, for tests of a hostile or broken service.

Prints "listening on 127.0.0.1:PORT" once it accepts connections (with the real port when
--port 0 is given) and stops cleanly on SIGTERM or SIGINT.
"""

import argparse
import http.server
import json
import os
import signal
import sys
import threading
import time

MANIFEST_PATH = "/tov/v2/client/client-updates/orvanti"
DOWNLOAD_PATH = "/tov/v2/client/client-updates/orvanti/download"
INSTALLER_NAME = "OrvantiSetup.exe"
MANIFEST_NAME = "manifest.json"

# The downloader's installer limit: a body announced with this length is as large as it accepts.
NEVER_ENDING_LENGTH = 268435456
CHUNK = 65536


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description="Serve a release folder as the update service, on 127.0.0.1 only.")
    parser.add_argument("release_dir", help="folder that holds manifest.json and the installer")
    parser.add_argument("--port", type=int, default=8765,
                        help="TCP port (default 8765; 0 picks a free port, printed on start)")
    parser.add_argument("--installer", metavar="FILE",
                        help="file served as the installer (default RELEASE_DIR/%s)" % INSTALLER_NAME)
    parser.add_argument("--manifest-status", type=int, metavar="CODE",
                        help="answer the manifest request with this status and a short text body")
    parser.add_argument("--manifest-redirect", action="store_true",
                        help="answer the manifest request with 302 and a Location header")
    parser.add_argument("--installer-status", type=int, metavar="CODE",
                        help="answer the installer request with this status and a short text body")
    parser.add_argument("--installer-redirect", action="store_true",
                        help="answer the installer request with 302 and a Location header")
    parser.add_argument("--installer-rate", type=int, metavar="BYTES_PER_SEC",
                        help="send the installer body at most this fast")
    parser.add_argument("--installer-never-ends", action="store_true",
                        help="announce a Content-Length of %d, send the installer, then keep "
                             "sending zero bytes at --installer-rate, or without a rate hold the "
                             "connection open without sending anything more" % NEVER_ENDING_LENGTH)
    parser.add_argument("--request-log", metavar="FILE",
                        help="append one line 'METHOD PATH' per request to FILE")
    parser.add_argument("--options-file", metavar="FILE",
                        help="JSON object read anew for every request whose keys override the "
                             "options above for that request (the option names with '_' for "
                             "'-', for example {\"manifest_status\": 404}); lets a test change "
                             "the service's behaviour while it runs")
    parser.add_argument("--port-file", metavar="FILE",
                        help="also write the chosen port to FILE (written whole, once ready)")
    arguments = parser.parse_args(argv)
    if not 0 <= arguments.port <= 65535:
        parser.error("--port must be 0 to 65535")
    if arguments.installer_rate is not None and arguments.installer_rate <= 0:
        parser.error("--installer-rate must be a positive number of bytes per second")
    for option in ("manifest_status", "installer_status"):
        code = getattr(arguments, option)
        if code is not None and not 100 <= code <= 999:
            parser.error("--%s must be a three-digit HTTP status" % option.replace("_", "-"))
    if not os.path.isdir(arguments.release_dir):
        parser.error("release folder not found: %s" % arguments.release_dir)
    return arguments


class Pacer:
    """Spreads sending over time so that no more than `rate` bytes leave per second."""

    def __init__(self, rate):
        self.rate = rate
        self.start = time.monotonic()
        self.sent = 0

    def chunk_size(self):
        # About twenty writes per second keeps the pace smooth without tiny packets.
        return CHUNK if self.rate is None else max(1, min(CHUNK, self.rate // 20))

    def account(self, count, stop):
        self.sent += count
        if self.rate is None:
            return
        delay = self.start + self.sent / self.rate - time.monotonic()
        if delay > 0:
            stop.wait(delay)


class Handler(http.server.BaseHTTPRequestHandler):
    def version_string(self):
        return "OrvantiUpdateService/1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        sys.stderr.write("%s\n" % (format % args))

    def do_GET(self):
        self.serve(send_body=True)

    def do_HEAD(self):
        self.serve(send_body=False)

    def serve(self, send_body):
        options = self.server.request_options()
        self.record_request()
        try:
            if self.path == MANIFEST_PATH:
                self.serve_manifest(options, send_body)
            elif self.path == DOWNLOAD_PATH:
                self.serve_installer(options, send_body)
            else:
                self.send_text(404, "not found\n", send_body)
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            # The client went away (a cancelled download): nothing to answer any more.
            self.close_connection = True

    def record_request(self):
        log = self.server.options.request_log
        if log:
            with self.server.log_lock, open(log, "a", encoding="utf-8") as out:
                out.write("%s %s\n" % (self.command, self.path))

    def serve_manifest(self, options, send_body):
        if options.manifest_redirect:
            self.send_redirect(MANIFEST_PATH + "/moved", send_body)
        elif options.manifest_status is not None:
            self.send_text(options.manifest_status, "manifest unavailable\n", send_body)
        else:
            try:
                with open(os.path.join(options.release_dir, MANIFEST_NAME), "rb") as source:
                    content = source.read()
            except FileNotFoundError:
                self.send_text(404, "no manifest published\n", send_body)
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(content)))
            self.end_headers()
            if send_body:
                self.wfile.write(content)

    def serve_installer(self, options, send_body):
        if options.installer_redirect:
            self.send_redirect(DOWNLOAD_PATH + "/moved", send_body)
            return
        if options.installer_status is not None:
            self.send_text(options.installer_status, "installer unavailable\n", send_body)
            return
        path = options.installer or os.path.join(options.release_dir, INSTALLER_NAME)
        try:
            source = open(path, "rb")
        except FileNotFoundError:
            self.send_text(404, "no installer published\n", send_body)
            return
        with source:
            size = os.fstat(source.fileno()).st_size
            length = max(size, NEVER_ENDING_LENGTH) if options.installer_never_ends else size
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(length))
            self.end_headers()
            if not send_body:
                return
            stop = self.server.stopping
            pacer = Pacer(options.installer_rate)
            while not stop.is_set():
                block = source.read(pacer.chunk_size())
                if not block:
                    break
                self.wfile.write(block)
                self.wfile.flush()
                pacer.account(len(block), stop)
            if options.installer_never_ends:
                self.never_end(pacer, length - size, stop)

    def never_end(self, pacer, remaining, stop):
        if pacer.rate is None:
            stop.wait()  # hold the connection open, silent, until the service stops
            return
        while remaining > 0 and not stop.is_set():
            count = min(pacer.chunk_size(), remaining)
            self.wfile.write(bytes(count))
            self.wfile.flush()
            remaining -= count
            pacer.account(count, stop)

    def send_text(self, code, text, send_body):
        body = text.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def send_redirect(self, target, send_body):
        host, port = self.server.server_address[:2]
        body = b"moved\n"
        self.send_response(302)
        self.send_header("Location", "http://%s:%d%s" % (host, port, target))
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)


class Service(http.server.ThreadingHTTPServer):
    daemon_threads = True  # a stalled download must not keep the process alive on exit
    allow_reuse_address = True

    def __init__(self, options):
        # Loopback only: this service is for the local machine and must never face a network.
        super().__init__(("127.0.0.1", options.port), Handler)
        self.options = options
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()

    def request_options(self):
        """The start options with the overrides of the options file, as it reads now."""
        path = self.options.options_file
        if not path:
            return self.options
        try:
            with open(path, encoding="utf-8") as source:
                overrides = json.load(source)
        except FileNotFoundError:
            return self.options
        merged = argparse.Namespace(**vars(self.options))
        for key, value in overrides.items():
            if not hasattr(merged, key):
                raise ValueError("unknown option in %s: %s" % (path, key))
            setattr(merged, key, value)
        return merged


def main(argv=None):
    options = parse_arguments(sys.argv[1:] if argv is None else argv)
    service = Service(options)
    port = service.server_address[1]

    def stop(signum, frame):
        service.stopping.set()
        # shutdown() waits for serve_forever() to return, so it must not run on the thread that
        # serves (the signal handler runs on the main thread).
        threading.Thread(target=service.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    if options.port_file:
        temporary = options.port_file + ".tmp"
        with open(temporary, "w", encoding="ascii") as out:
            out.write("%d\n" % port)
        os.replace(temporary, options.port_file)
    print("listening on 127.0.0.1:%d" % port, flush=True)
    try:
        service.serve_forever(poll_interval=0.1)
    finally:
        service.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
