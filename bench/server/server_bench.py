#!/usr/bin/env python3
"""Loopback benchmarks of the embedded server against nginx and python3 -m http.server.

  server_bench.py <bench_trivial_server> <bench_http_server> [seconds per run] [rounds] [bench_relay]

1. The threaded TCP server with a trivial fixed reply against nginx serving a static file whose
   whole reply has the same size, with keep-alive and with one connection per request.
2. The HTTP file server on a data folder (4 KiB and 1 MiB files) against nginx and
   python3 -m http.server on the same folder: requests/s and p99 latency.
3. A cold miss: files fetched by the file server from a loopback content site (nginx) and then
   served, against curl fetching the same files directly from that site, and against a bare
   libcurl relay that passes them on and does nothing else: the least any relay on libcurl
   costs on this machine.
Every ratio is ours / peer, measured in this run on this machine; each figure is the median of
several rounds taken in rotating order.
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

WRK_THREADS = 2
WRK_CONNECTIONS = 64
MAX_SERVER_SECONDS = 900


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_listening(port, timeout=10.0):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Proc:
    """A peer process that is always stopped, even when the benchmark fails."""

    def __init__(self, args, reads_port=False, **kw):
        self.p = subprocess.Popen(args, stdout=subprocess.PIPE if reads_port else subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, text=True, **kw)
        self.port = int(self.p.stdout.readline()) if reads_port else None

    def stop(self):
        if self.p.poll() is None:
            self.p.send_signal(signal.SIGTERM)
            try:
                self.p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()


def start_nginx(work, root, port):
    conf = os.path.join(work, "nginx-%d.conf" % port)
    user = "user root;\n" if os.geteuid() == 0 else ""
    with open(conf, "w") as f:
        f.write(f"""{user}daemon off;
worker_processes 2;
pid {work}/nginx-{port}.pid;
error_log {work}/nginx-{port}.err;
events {{ worker_connections 4096; }}
http {{
  access_log off;
  sendfile on;
  keepalive_requests 10000000;
  client_body_temp_path {work}/body-{port};
  proxy_temp_path {work}/proxy-{port};
  fastcgi_temp_path {work}/fcgi-{port};
  uwsgi_temp_path {work}/uwsgi-{port};
  scgi_temp_path {work}/scgi-{port};
  default_type application/octet-stream;
  server {{ listen 127.0.0.1:{port}; root {root}; }}
}}
""")
    p = Proc(["nginx", "-p", work, "-c", conf])
    if not wait_listening(port):
        p.stop()
        raise RuntimeError("nginx did not start: " + open(f"{work}/nginx-{port}.err").read())
    return p


UNITS = {"us": 1e-3, "ms": 1.0, "s": 1000.0, "m": 60000.0}


def to_ms(text):
    m = re.match(r"([\d.]+)(us|ms|s|m)$", text)
    return float(m.group(1)) * UNITS[m.group(2)]


def wrk(url, seconds, headers=()):
    args = ["wrk", "-t%d" % WRK_THREADS, "-c%d" % WRK_CONNECTIONS, "-d%ds" % seconds, "--latency"]
    for h in headers:
        args += ["-H", h]
    out = subprocess.run(args + [url], capture_output=True, text=True, timeout=seconds + 60).stdout
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    p99 = to_ms(re.search(r"\s99%\s+(\S+)", out).group(1))
    errors = re.search(r"Socket errors: (.*)", out)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    bad = (errors.group(1) if errors else "") + (" non-2xx %s" % non2xx.group(1) if non2xx else "")
    return rps, p99, bad.strip()


def compare(runs, seconds, rounds):
    """Runs every (name, url, headers) of runs in turn, rounds times with the order rotated, so
    that load from elsewhere on the machine falls on all of them alike; the median counts."""
    results = {name: [] for name, _, _ in runs}
    for r in range(rounds):
        order = runs[r % len(runs):] + runs[:r % len(runs)]
        for name, url, headers in order:
            results[name].append(wrk(url, seconds, headers))
    rows = {}
    for name, _, _ in runs:
        got = results[name]
        rps = sorted(x[0] for x in got)[len(got) // 2]
        p99 = sorted(x[1] for x in got)[len(got) // 2]
        bad = "; ".join(x[2] for x in got if x[2])
        rows[name] = (rps, p99, bad)
    return rows


def report(title, rows, ours):
    print("\n" + title)
    base = rows[ours]
    for name, (rps, p99, bad) in rows.items():
        print("  %-34s %10.0f req/s   p99 %8.2f ms   %s" % (name, rps, p99, bad))
    for name, (rps, p99, _) in rows.items():
        if name != ours:
            print("  ratio %s / %s: req/s %.2f, p99 %.2f" % (ours, name, base[0] / rps, base[1] / p99))


def raw_reply_size(port, path):
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n" % path.encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return len(data)
            data += chunk


def curl_time(url):
    out = subprocess.run(["curl", "-s", "-o", "/dev/null", "--noproxy", "*", "-w",
                          "%{http_code} %{time_total}", url],
                         capture_output=True, text=True, timeout=60).stdout.split()
    if out[0] != "200":
        raise RuntimeError("%s answered %s" % (url, out[0]))
    return float(out[1])


def main():
    trivial, httpd = sys.argv[1], sys.argv[2]
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    relay = sys.argv[5] if len(sys.argv) > 5 else None
    for tool in ("wrk", "nginx", "curl"):
        if shutil.which(tool) is None:
            print("missing %s: cannot compare" % tool)
            return 1
    os.environ["no_proxy"] = os.environ["NO_PROXY"] = "127.0.0.1,localhost"
    work = tempfile.mkdtemp(prefix="vexa-server-bench-")
    env = dict(os.environ, XDG_STATE_HOME=work)
    procs = []
    try:
        site = os.path.join(work, "site")
        os.makedirs(site)
        with open(os.path.join(site, "1k.bin"), "wb") as f:
            f.write(os.urandom(1024))
        with open(os.path.join(site, "4k.bin"), "wb") as f:
            f.write(os.urandom(4096))
        with open(os.path.join(site, "1m.bin"), "wb") as f:
            f.write(os.urandom(1 << 20))
        nginx_port = free_port()
        procs.append(start_nginx(work, site, nginx_port))
        nginx = "http://127.0.0.1:%d/" % nginx_port

        # 1. The threaded TCP server alone.
        size = raw_reply_size(nginx_port, "/1k.bin")
        t = Proc([trivial, str(size), str(MAX_SERVER_SECONDS)], reads_port=True, env=env)
        procs.append(t)
        ours = "http://127.0.0.1:%d/1k.bin" % t.port
        for mode, headers in (("keep-alive", ()), ("connection per request", ("Connection: close",))):
            rows = compare([("trivial server", ours, headers),
                            ("nginx static", nginx + "1k.bin", headers)], seconds, rounds)
            report("threaded TCP server, %d-byte reply, %s, %d connections" %
                   (size, mode, WRK_CONNECTIONS), rows, "trivial server")
        t.stop()

        # 2. The file server on the same folder.
        h = Proc([httpd, site, str(MAX_SERVER_SECONDS)], reads_port=True, env=env)
        procs.append(h)
        py_port = free_port()
        py = Proc([sys.executable, "-m", "http.server", str(py_port), "--bind", "127.0.0.1",
                   "--directory", site])
        procs.append(py)
        if not wait_listening(py_port):
            raise RuntimeError("python3 -m http.server did not start")
        for name in ("4k.bin", "1m.bin"):
            ka = ("Connection: Keep-Alive",)
            rows = compare([("file server keep-alive", "http://127.0.0.1:%d/%s" % (h.port, name), ka),
                            ("nginx keep-alive", nginx + name, ka)], seconds, rounds)
            report("file server, %s, keep-alive" % name, rows, "file server keep-alive")
            close = ("Connection: close",)
            rows = compare([("file server per-connection",
                             "http://127.0.0.1:%d/%s" % (h.port, name), close),
                            ("nginx per-connection", nginx + name, close),
                            ("python3 http.server", "http://127.0.0.1:%d/%s" % (py_port, name), ())],
                           seconds, rounds)
            report("file server, %s, one connection per request" % name, rows,
                   "file server per-connection")
        h.stop()
        py.stop()

        # 3. Cold misses through the file server against direct fetches from the site.
        cold = os.path.join(site, "cold")
        os.makedirs(cold)
        count = 40
        for i in range(count):
            with open(os.path.join(cold, "c%02d.mp3" % i), "wb") as f:
                f.write(os.urandom(256 * 1024))
        mirror = os.path.join(work, "mirror")
        menv = dict(env, VEXA_CONTENT_SITE=nginx)
        m = Proc([httpd, mirror, str(MAX_SERVER_SECONDS)], reads_port=True, env=menv)
        procs.append(m)
        r = None
        if relay:
            r = Proc([relay, nginx, str(MAX_SERVER_SECONDS)], reads_port=True)
            procs.append(r)
            curl_time("http://127.0.0.1:%d/1k.bin" % r.port)
        # Interleaved, so that no side profits from running later; the site is warmed.
        curl_time(nginx + "1k.bin")
        direct = through = relayed = 0.0
        for i in range(count):
            direct += curl_time(nginx + "cold/c%02d.mp3" % i)
            through += curl_time("http://127.0.0.1:%d/cold/c%02d.mp3" % (m.port, i))
            if r:
                relayed += curl_time("http://127.0.0.1:%d/cold/c%02d.mp3" % (r.port, i))
        warm = sum(curl_time("http://127.0.0.1:%d/cold/c%02d.mp3" % (m.port, i))
                   for i in range(count))
        fetched = len(os.listdir(os.path.join(mirror, "cold")))
        m.stop()
        print("\ncold miss, %d files of 256 KiB (%d stored in the mirror)" % (count, fetched))
        print("  direct curl from the site   %8.2f ms per file" % (direct * 1000 / count))
        print("  file server, cold miss      %8.2f ms per file" % (through * 1000 / count))
        print("  file server, then warm      %8.2f ms per file" % (warm * 1000 / count))
        if r:
            print("  bare libcurl relay          %8.2f ms per file" % (relayed * 1000 / count))
        print("  ratio cold miss / direct: %.2f" % (through / direct))
        print("  ratio warm / direct: %.2f" % (warm / direct))
        if r:
            print("  ratio bare relay / direct: %.2f" % (relayed / direct))
            print("  ratio cold miss / bare relay: %.2f" % (through / relayed))
        return 0 if fetched == count else 1
    finally:
        for p in reversed(procs):
            p.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
