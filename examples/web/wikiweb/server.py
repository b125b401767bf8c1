"""HTTP for the web wiki: the standard library's threading server on
127.0.0.1, handing each request to WikiApp.

    python3 -m wikiweb ROOT [--port N] [--exit-after SECONDS]

--port 0 takes a free port; the first line printed names the address.
"""

from __future__ import annotations

import argparse
import http.cookies
import os
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import wikidb

from .app import Request, Response, WikiApp

MAX_BODY = 8 << 20  # a page of 8 MiB is more than a wiki editor sends


class Handler(BaseHTTPRequestHandler):
    app: WikiApp  # set on the subclass made by serve()
    server_version = "wikiweb"
    protocol_version = "HTTP/1.1"

    def do_GET(self) -> None:
        self.run("GET", b"")

    def do_POST(self) -> None:
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if length < 0 or length > MAX_BODY:
            self.send(Response(413, "Request too large or without a length"))
            self.close_connection = True
            return
        self.run("POST", self.rfile.read(length))

    def run(self, method: str, body: bytes) -> None:
        cookies = {}
        try:
            jar = http.cookies.SimpleCookie(self.headers.get("Cookie", ""))
            cookies = {k: m.value for k, m in jar.items()}
        except http.cookies.CookieError:
            pass
        self.send(self.app.handle(Request(method, self.path, body, cookies)))

    def send(self, resp: Response) -> None:
        self.send_response(resp.status)
        for name, value in resp.headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(resp.body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("X-Frame-Options", "DENY")
        self.send_header("Content-Security-Policy",
                         "default-src 'none'; style-src 'self'; img-src 'self'; "
                         "form-action 'self'; frame-ancestors 'none'; base-uri 'none'")
        self.end_headers()
        self.wfile.write(resp.body)

    def log_message(self, format: str, *args: object) -> None:
        if os.environ.get("WIKIWEB_QUIET") != "1":
            super().log_message(format, *args)


def serve(root: str, port: int, exit_after: float = 0, page_size: int = 20) -> None:
    wiki = wikidb.Wiki(root)
    app = WikiApp(wiki, page_size)
    handler = type("WikiHandler", (Handler,), {"app": app})
    httpd = ThreadingHTTPServer(("127.0.0.1", port), handler)
    httpd.daemon_threads = True
    print("wikiweb: serving %s at http://127.0.0.1:%d/ (library %s)"
          % (os.path.abspath(root), httpd.server_address[1], wiki.library.version), flush=True)
    if exit_after > 0:
        # A bound for servers started by scripts and tests: never left running.
        timer = threading.Timer(exit_after, httpd.shutdown)
        timer.daemon = True
        timer.start()
    try:
        httpd.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        httpd.server_close()
        wiki.close()


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(prog="wikiweb", description="A web wiki over wikidb.")
    parser.add_argument("root", help="the wiki's root directory (created when missing)")
    parser.add_argument("--port", type=int, default=8080, help="port on 127.0.0.1 (0: any free)")
    parser.add_argument("--exit-after", type=float, default=0, metavar="SECONDS",
                        help="stop by itself after this long (0: never)")
    parser.add_argument("--page-size", type=int, default=20, help="entries per history page")
    args = parser.parse_args(argv)
    try:
        serve(args.root, args.port, args.exit_after, args.page_size)
    except (wikidb.WikiError, OSError) as x:
        print("wikiweb: %s" % x, file=sys.stderr)
        sys.exit(1)
