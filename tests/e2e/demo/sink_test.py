#!/usr/bin/env python3
"""The upload sink against bodies laid out as the host sends them, and against broken ones."""

import http.client
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

SINK = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "..", "tools", "upload-sink", "sink.py")
B = "---------------------------114782935826962"


def host_body(fields, file_name=None, data=b""):
    """The host's layout: simple parts, the file part followed by CRLF, then a closing section
    that starts with its own CRLF and carries Submit=hello."""
    out = b""
    for name, value in fields:
        out += ('--%s\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n' % (B, name, value)).encode()
    if file_name is not None:
        out += ('--%s\r\nContent-Disposition: form-data; name="txtfile"; filename="%s"\r\n'
                'Content-Type: application/octet-stream\r\n\r\n' % (B, file_name)).encode() + data + b"\r\n"
    out += ('\r\n--%s\r\nContent-Disposition: form-data; name="Submit"\r\n\r\nhello\r\n--%s--\r\n' % (B, B)).encode()
    return out


class SinkTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.out = os.path.join(self.tmp.name, "uploads")
        port_file = os.path.join(self.tmp.name, "port")
        self.proc = subprocess.Popen([sys.executable, SINK, "--out", self.out, "--port-file", port_file,
                                      "--max-seconds", "50", "--read-timeout", "2"], stdout=subprocess.PIPE, text=True)
        for _ in range(100):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())
        self.proc.stdout.readline()  # the "listening" line

    def tearDown(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        self.tmp.cleanup()

    def post(self, path, body, headers=None, chunked=False):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        h = {"Content-Type": "multipart/form-data; boundary=" + B, "Accept": "*/*"}
        h.update(headers or {})
        if chunked:
            conn.putrequest("POST", path)
            for k, v in h.items():
                conn.putheader(k, v)
            conn.putheader("Transfer-Encoding", "chunked")
            conn.endheaders()
            for i in range(0, len(body), 100):
                piece = body[i:i + 100]
                conn.send(b"%x\r\n" % len(piece) + piece + b"\r\n")
            conn.send(b"0\r\n\r\n")
        else:
            conn.request("POST", path, body=body, headers=h)
        resp = conn.getresponse()
        result = resp.status, resp.read()
        conn.close()
        return result

    def record(self, seq):
        with open(os.path.join(self.out, "%04d" % seq, "upload.json"), encoding="utf-8") as f:
            return json.load(f)

    def test_host_layout_is_stored_with_fields_file_and_one_line(self):
        data = bytes(range(256)) * 40 + b"\r\n--not-a-boundary\r\n"
        body = host_body([("uid", "7"), ("tid", "12")], "test.mp3", data)
        self.assertEqual(self.post("/Upfile_en.ashx", body), (200, b"OK"))
        line = self.proc.stdout.readline()
        self.assertIn("#1 /Upfile_en.ashx uid=7 tid=12 txtfile=test.mp3 (%d bytes)" % (len(data) + 2), line)
        rec = self.record(1)
        self.assertEqual(rec["fields"], {"uid": "7", "tid": "12", "Submit": "hello"})
        self.assertEqual(rec["body_bytes"], len(body))
        with open(os.path.join(self.out, "0001", "test.mp3"), "rb") as f:
            # A strict reading keeps the host's extra CRLF after the file's bytes.
            self.assertEqual(f.read(), data + b"\r\n")
        with open(os.path.join(self.out, "0001", "body.bin"), "rb") as f:
            self.assertEqual(f.read(), body)

    def test_every_upload_path_and_only_those(self):
        for seq, path in enumerate(["/Upfile.ashx", "/Upfile_en.ashx", "/Upfile_mp.ashx", "/Upfile_qz.ashx"], 1):
            self.assertEqual(self.post(path, host_body([("uid", "u%d" % seq), ("tid", "t")]))[0], 200)
            rec = self.record(seq)
            # Without a file the closing section's own CRLF stays with the last field.
            self.assertEqual((rec["path"], rec["fields"]["uid"], rec["fields"]["tid"], rec["files"]),
                             (path, "u%d" % seq, "t\r\n", []))
            self.assertIn("uid=u%d tid=t\\r\\n (no file)" % seq, self.proc.stdout.readline())
        self.assertEqual(self.post("/upfile.ashx", host_body([]))[0], 404)
        self.assertEqual(self.post("/Upfile.ashx/../x", host_body([]))[0], 404)
        self.assertFalse(os.path.exists(os.path.join(self.out, "0005")))

    def test_empty_values_hostile_names_and_chunked_bodies(self):
        body = host_body([("uid", ""), ("tid", "a&b")], "../../etc/passwd", b"x")
        self.assertEqual(self.post("/Upfile.ashx", body, chunked=True)[0], 200)
        rec = self.record(1)
        self.assertEqual(rec["fields"]["uid"], "")
        self.assertEqual(rec["fields"]["tid"], "a&b")
        self.assertEqual(rec["files"][0]["saved"], "passwd")
        self.assertTrue(os.path.exists(os.path.join(self.out, "0001", "passwd")))

    def test_broken_bodies_are_refused_but_kept(self):
        self.assertEqual(self.post("/Upfile.ashx", b"--" + B.encode() + b"\r\nno end")[0], 400)
        self.assertIn("error", self.record(1))
        self.assertEqual(self.post("/Upfile.ashx", b"x", headers={"Content-Type": "text/plain"})[0], 400)
        # A body shorter than announced does not hold the sink forever.
        status, text = self.post("/Upfile.ashx", host_body([("uid", "1")]), headers={"Content-Length": "99999"})
        self.assertEqual(status, 400)
        self.assertIn(b"shorter than announced", text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
