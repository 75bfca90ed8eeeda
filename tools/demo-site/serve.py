#!/usr/bin/env python3
"""The demo content site: serves the staged site folder on loopback, answers the demo movie's
test-mode switch (autotest.xml) and records the movie's test-mode reports.

Prints one line with its address once it listens, so a script can read the port:
    demo-site: http://127.0.0.1:PORT/ serving FOLDER
"""

import argparse
import json
import mimetypes
import os
import posixpath
import re
import signal
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from xml.sax.saxutils import quoteattr

# The demo movie's test-mode reports: autotest/report-STEP.xml?step=STEP&name=value...
REPORT_PATH = re.compile(r"^/autotest/report(-[A-Za-z0-9_]+)?\.xml$")


class SiteHandler(BaseHTTPRequestHandler):
    server_version = "vexa-demo-site/1.0"
    # HTTP/1.0 answers with a length and a close, which every client of the host understands.
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        log = self.server.access_log
        if log is not None:
            with self.server.lock:
                log.write("%s %s\n" % (time.strftime("%H:%M:%S"), fmt % args))
                log.flush()

    def do_GET(self):
        parsed = urllib.parse.urlsplit(self.path)
        path = urllib.parse.unquote(parsed.path)
        if path == "/autotest.xml":
            self.send_bytes(200, self.server.autotest_document(), "text/xml")
            return
        if REPORT_PATH.match(path):
            self.server.record_report(urllib.parse.parse_qs(parsed.query))
            self.send_bytes(200, b'<?xml version="1.0"?><report ok="1"/>', "text/xml")
            return
        local = self.server.local_path(path)
        if local is None or not os.path.isfile(local):
            self.send_bytes(404, b"not found\n", "text/plain")
            return
        with open(local, "rb") as f:
            data = f.read()
        self.send_bytes(200, data, content_type(local))

    def do_HEAD(self):
        self.send_bytes(405, b"", "text/plain")

    def send_bytes(self, status, data, ctype):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)


def content_type(path):
    lower = path.lower()
    if lower.endswith(".swf"):
        return "application/x-shockwave-flash"
    if lower.endswith(".so") or lower.endswith(".dll"):
        return "application/octet-stream"
    guessed, _ = mimetypes.guess_type(lower)
    return guessed or "application/octet-stream"


class SiteServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, root, autotest, report_path, access_log):
        super().__init__(address, SiteHandler)
        self.root = os.path.realpath(root)
        self.autotest = autotest
        self.report_path = report_path
        self.access_log = access_log
        self.lock = threading.Lock()

    def local_path(self, url_path):
        # Only paths below the site folder: no "..", no absolute jumps, no symlink escapes.
        clean = posixpath.normpath("/" + url_path.lstrip("/"))
        if clean == "/":
            clean = "/INDEX.HTML"
        candidate = os.path.realpath(os.path.join(self.root, clean.lstrip("/")))
        if candidate != self.root and not candidate.startswith(self.root + os.sep):
            return None
        return candidate

    def autotest_document(self):
        # Always answered (with enabled="0" when off), so a copy that a host mirrored during a
        # test run is overwritten by the next ordinary run instead of driving it.
        if self.autotest is None:
            return b'<?xml version="1.0"?><autotest enabled="0"/>'
        attrs = "".join(" %s=%s" % (k, quoteattr(v)) for k, v in sorted(self.autotest.items()))
        return ('<?xml version="1.0"?><autotest enabled="1"%s/>' % attrs).encode()

    def record_report(self, query):
        entry = {k: v[-1] for k, v in query.items()}
        entry["time"] = round(time.time(), 3)
        line = json.dumps(entry, ensure_ascii=False)
        with self.lock:
            if self.report_path:
                with open(self.report_path, "a", encoding="utf-8") as f:
                    f.write(line + "\n")
        print("demo-site: movie reports %s" % line, flush=True)


def parse_autotest(value):
    """--autotest [uid=..,tid=..,type=..,quit=1,recordms=..]"""
    settings = {"uid": "1001", "tid": "42", "type": "1", "quit": "0", "recordms": "2000"}
    if value:
        for item in value.split(","):
            key, sep, val = item.partition("=")
            if not sep or key not in settings:
                raise argparse.ArgumentTypeError("bad autotest setting %r" % item)
            settings[key] = val
    return settings


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--root", required=True, help="the staged site folder")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (0: any free one)")
    ap.add_argument("--port-file", help="also write the port to this file")
    ap.add_argument("--autotest", nargs="?", const="", type=parse_autotest, default=None,
                    help="switch the movie's test mode on: uid=..,tid=..,type=..,quit=1,recordms=..")
    ap.add_argument("--report", help="append the movie's test-mode reports (JSON lines) to this file")
    ap.add_argument("--access-log", help="append one line per request to this file")
    ap.add_argument("--max-seconds", type=float, default=0, help="stop by itself after this long")
    args = ap.parse_args()

    if not os.path.isdir(args.root):
        print("demo-site: no site folder %s (build the project first)" % args.root, file=sys.stderr)
        return 1
    access_log = open(args.access_log, "a", encoding="utf-8") if args.access_log else None
    server = SiteServer(("127.0.0.1", args.port), args.root, args.autotest, args.report, access_log)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print("demo-site: http://127.0.0.1:%d/ serving %s" % (port, server.root), flush=True)

    def stop(*_):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.max_seconds > 0:
        timer = threading.Timer(args.max_seconds, stop)
        timer.daemon = True
        timer.start()
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
