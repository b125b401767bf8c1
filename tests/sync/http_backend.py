#!/usr/bin/env python3
"""A small web server in front of git http-backend, for the sync tests.

    http_backend.py PROJECT_ROOT PORT_FILE [TOKEN]

Serves every repository under PROJECT_ROOT over git's smart HTTP protocol
on 127.0.0.1, on a port the kernel picks, written to PORT_FILE once it
listens. With TOKEN, a request without "Authorization: Bearer TOKEN" gets
401. Each request runs git http-backend as a CGI program in this process's
own user, so nothing needs a web server package or root.
"""

import http.server
import os
import subprocess
import sys

ROOT, PORT_FILE = sys.argv[1], sys.argv[2]
TOKEN = sys.argv[3] if len(sys.argv) > 3 else ""


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return data
                data += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def answer(self, status, headers, data):
        self.send_response(status)
        for key, value in headers:
            self.send_header(key, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def run(self):
        data = self.body() if self.command == "POST" else b""
        if TOKEN and self.headers.get("Authorization") != "Bearer " + TOKEN:
            self.answer(401, [("WWW-Authenticate", 'Bearer realm="wiki"')], b"no\n")
            return
        path, _, query = self.path.partition("?")
        env = {k: v for k, v in os.environ.items() if not k.startswith("GIT_")}
        env.update({
            "GIT_PROJECT_ROOT": ROOT, "GIT_HTTP_EXPORT_ALL": "1", "PATH_INFO": path,
            "QUERY_STRING": query, "REQUEST_METHOD": self.command,
            "CONTENT_TYPE": self.headers.get("Content-Type", ""),
            "CONTENT_LENGTH": str(len(data)), "REMOTE_USER": "wiki", "REMOTE_ADDR": "127.0.0.1",
            "GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1",
            "HTTP_CONTENT_ENCODING": self.headers.get("Content-Encoding", ""),
            "GIT_PROTOCOL": self.headers.get("Git-Protocol", ""),
        })
        out = subprocess.run(["git", "http-backend"], input=data, env=env,
                             capture_output=True).stdout
        head, _, payload = out.partition(b"\r\n\r\n")
        if not _:
            head, _, payload = out.partition(b"\n\n")
        status, headers = 200, []
        for line in head.decode("latin-1").splitlines():
            key, _, value = line.partition(":")
            if key.lower() == "status":
                status = int(value.split()[0])
            elif key:
                headers.append((key, value.strip()))
        self.answer(status, headers, payload)

    do_GET = do_POST = run


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(PORT_FILE + ".part", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(PORT_FILE + ".part", PORT_FILE)
server.serve_forever()
