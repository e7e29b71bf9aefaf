#!/usr/bin/env python3
"""A webhook receiver for the alert tests: listens on a free loopback port, prints it, and
appends each POST body as one line to OUT. PLAN is a comma list of answers, one per request
in turn (a status code, or 'hang' to keep the request open for 30 s); the last one repeats.
With CERT and KEY (PEM files) it speaks https."""
import http.server
import ssl
import sys
import threading
import time

out_path, plan = sys.argv[1], sys.argv[2].split(",")
lock = threading.Lock()
count = [0]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with lock:
            answer = plan[min(count[0], len(plan) - 1)]
            count[0] += 1
            with open(out_path, "ab") as out:
                out.write(body + b"\n")
        if answer == "hang":
            time.sleep(30)
            return
        self.send_response(int(answer))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
if len(sys.argv) > 4:
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(sys.argv[3], sys.argv[4])
    server.socket = tls.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
