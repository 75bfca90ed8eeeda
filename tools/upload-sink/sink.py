#!/usr/bin/env python3
"""A loopback stand-in for the maker's upload service.

Accepts multipart/form-data POSTs at the four upload paths, stores each one in its own numbered
folder below --out and prints one line per upload:
    upload-sink: #1 /Upfile_en.ashx uid=1001 tid=42 txtfile=test.mp3 (8436 bytes) -> OUT/0001

Each folder holds upload.json (path, fields, files), request.txt (request line and headers),
body.bin (the body exactly as received) and every file part under its sanitised file name.
"""

import argparse
import json
import os
import re
import signal
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

UPLOAD_PATHS = ("/Upfile.ashx", "/Upfile_en.ashx", "/Upfile_mp.ashx", "/Upfile_qz.ashx")
MAX_BODY = 64 * 1024 * 1024


class MultipartError(ValueError):
    pass


def boundary_of(content_type):
    m = re.search(r'boundary=("([^"]+)"|[^;\s]+)', content_type or "", re.IGNORECASE)
    if not m or not content_type.lower().startswith("multipart/form-data"):
        raise MultipartError("not multipart/form-data: %r" % content_type)
    return (m.group(2) or m.group(1)).encode("latin-1")


def parse_disposition(value):
    params = {}
    for m in re.finditer(r';\s*([A-Za-z0-9_-]+)=("([^"]*)"|[^;]*)', value):
        params[m.group(1).lower()] = m.group(3) if m.group(3) is not None else m.group(2).strip()
    return params


def parse_multipart(body, boundary):
    """Returns a list of (headers dict, content bytes). A part's content ends right before the
    CRLF that precedes the next delimiter, as the multipart rules say."""
    delimiter = b"\r\n--" + boundary
    data = b"\r\n" + body
    pieces = data.split(delimiter)
    if len(pieces) < 3 and not (len(pieces) == 2 and pieces[1].startswith(b"--")):
        raise MultipartError("no parts")
    parts = []
    closed = False
    for piece in pieces[1:]:
        if piece.startswith(b"--"):
            closed = True
            break
        line_end = piece.find(b"\r\n")
        if line_end < 0 or piece[:line_end].strip(b" \t"):
            raise MultipartError("junk after a delimiter")
        piece = piece[line_end + 2:]
        if piece.startswith(b"\r\n"):
            head, content = b"", piece[2:]
        else:
            head_end = piece.find(b"\r\n\r\n")
            if head_end < 0:
                raise MultipartError("part without a blank line")
            head, content = piece[:head_end], piece[head_end + 4:]
        headers = {}
        for line in head.split(b"\r\n"):
            if not line:
                continue
            name, sep, value = line.partition(b":")
            if not sep:
                raise MultipartError("bad part header %r" % line)
            headers[name.decode("latin-1").strip().lower()] = value.decode("utf-8", "replace").strip()
        parts.append((headers, content))
    if not closed:
        raise MultipartError("no closing delimiter")
    return parts


def printable(value):
    return "".join(c if c.isprintable() else c.encode("unicode_escape").decode() for c in value)


def safe_name(name, fallback):
    base = re.split(r"[\\/]", name or "")[-1]
    base = re.sub(r"[^A-Za-z0-9._-]", "_", base).lstrip(".")
    return base or fallback


class SinkHandler(BaseHTTPRequestHandler):
    server_version = "vexa-upload-sink/1.0"
    # HTTP/1.1 so a client that sends "Expect: 100-continue" is answered at once.
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        with self.server.lock:
            text = "".join(line + "\n" for line in self.server.lines) or "no uploads yet\n"
        self.reply(200, text.encode())

    def do_POST(self):
        path = self.path.split("?", 1)[0]
        try:
            body = self.read_body()
        except (ValueError, OSError) as e:
            self.reply(400, ("bad request: %s\n" % e).encode())
            return
        if path not in UPLOAD_PATHS:
            self.reply(404, b"no upload service here\n")
            return
        try:
            parts = parse_multipart(body, boundary_of(self.headers.get("Content-Type")))
        except MultipartError as e:
            self.server.store(self, path, body, None, str(e))
            self.reply(400, ("bad multipart body: %s\n" % e).encode())
            return
        self.server.store(self, path, body, parts, None)
        self.reply(200, b"OK")

    def read_body(self):
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            out = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(out)
                if len(out) + size > MAX_BODY:
                    raise ValueError("body too large")
                out += self.rfile.read(size)
                self.rfile.readline()
        length = self.headers.get("Content-Length")
        if length is None:
            raise ValueError("no Content-Length")
        n = int(length)
        if n < 0 or n > MAX_BODY:
            raise ValueError("bad Content-Length")
        try:
            data = self.rfile.read(n)
        except TimeoutError:
            raise ValueError("body shorter than announced (timed out)")
        if len(data) != n:
            raise ValueError("body shorter than announced")
        return data

    def reply(self, status, data):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.close_connection = True


class SinkServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, out, limit, read_timeout):
        SinkHandler.timeout = read_timeout
        super().__init__(address, SinkHandler)
        self.out = out
        self.limit = limit
        self.count = 0
        self.lines = []
        self.lock = threading.Lock()
        os.makedirs(out, exist_ok=True)

    def store(self, handler, path, body, parts, error):
        with self.lock:
            self.count += 1
            seq = self.count
        folder = os.path.join(self.out, "%04d" % seq)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "body.bin"), "wb") as f:
            f.write(body)
        with open(os.path.join(folder, "request.txt"), "w", encoding="utf-8") as f:
            f.write(handler.requestline + "\n" + str(handler.headers))
        record = {"seq": seq, "path": path, "fields": {}, "files": [], "body_bytes": len(body)}
        if error:
            record["error"] = error
        for headers, content in parts or []:
            disp = parse_disposition(headers.get("content-disposition", ""))
            name = disp.get("name", "")
            if "filename" in disp:
                saved = safe_name(disp["filename"], "file%d.bin" % (len(record["files"]) + 1))
                with open(os.path.join(folder, saved), "wb") as f:
                    f.write(content)
                record["files"].append({"field": name, "filename": disp["filename"], "saved": saved,
                                        "size": len(content),
                                        "content_type": headers.get("content-type", "")})
            else:
                record["fields"][name] = content.decode("utf-8", "replace")
        with open(os.path.join(folder, "upload.json"), "w", encoding="utf-8") as f:
            json.dump(record, f, ensure_ascii=False, indent=1)
        # Control characters are shown escaped: a value that arrives with a trailing CRLF (the
        # host's layout puts one after the last field when there is no file) stays visible.
        desc = " ".join("%s=%s" % (k, printable(v)) for k, v in record["fields"].items() if k != "Submit")
        for item in record["files"]:
            desc += " %s=%s (%d bytes)" % (item["field"], item["filename"], item["size"])
        if not record["files"]:
            desc += " (no file)"
        if error:
            desc += " REJECTED: " + error
        line = "upload-sink: #%d %s %s -> %s" % (seq, path, desc.strip(), folder)
        with self.lock:
            self.lines.append(line)
        print(line, flush=True)
        if self.limit and seq >= self.limit:
            threading.Thread(target=self.shutdown, daemon=True).start()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True, help="folder that receives one sub-folder per upload")
    ap.add_argument("--port", type=int, default=0, help="port to listen on (0: any free one)")
    ap.add_argument("--port-file", help="also write the port to this file")
    ap.add_argument("--max-uploads", type=int, default=0, help="stop after this many uploads")
    ap.add_argument("--max-seconds", type=float, default=0, help="stop by itself after this long")
    ap.add_argument("--read-timeout", type=float, default=30, help="seconds to wait for a request's bytes")
    args = ap.parse_args()

    server = SinkServer(("127.0.0.1", args.port), args.out, args.max_uploads, args.read_timeout)
    port = server.server_address[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print("upload-sink: listening on 127.0.0.1:%d, storing uploads in %s" % (port, os.path.abspath(args.out)),
          flush=True)

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
