#!/usr/bin/env python3
"""A child's first lesson over a slow link: every file of a lesson fetched through the file server
from a content site 50 ms away, against curl fetching them straight from that site.

  lesson_bench.py <bench_http_server> [rounds]

The content site is nginx on loopback behind a TCP proxy of this script that holds every piece of
data for 50 ms in each direction, and the first data of a connection until the round trip of its
handshake is over (the kernel has no netem). The lesson is 100 files from 4 KiB to
1 MiB. Both sides fetch with curl, 6 transfers at a time as the web view does: ours through a
fresh file server with an empty mirror each round, the peer from the delayed site with 6
keep-alive connections. Prints the median of the rounds and the ratio ours / peer.
"""
import asyncio
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_bench as sb  # noqa: E402

DELAY_S = 0.050
FILES = 100
SMALLEST = 4 * 1024
LARGEST = 1024 * 1024
PARALLEL = 6


async def relay(reader, writer, not_before=0.0):
    """Copies one direction, each piece delivered DELAY_S after it was read, in order. Nothing
    is sent before not_before: a client on a real link can send only once the handshake's round
    trip is over, which the proxy's own instant accept on loopback would hide."""
    queue = asyncio.Queue()

    async def pump():
        while True:
            data = await reader.read(65536)
            queue.put_nowait((max(time.monotonic(), not_before) + DELAY_S, data))
            if not data:
                return

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(pump(), deliver())
    except (ConnectionError, OSError):
        pass


def run_proxy(listen_port, target_port, seconds):
    async def handle(creader, cwriter):
        handshake_done = time.monotonic() + 2 * DELAY_S
        try:
            sreader, swriter = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            cwriter.close()
            return
        await asyncio.gather(relay(creader, swriter, handshake_done), relay(sreader, cwriter))
        for w in (cwriter, swriter):
            w.close()

    async def main():
        server = await asyncio.start_server(handle, "127.0.0.1", listen_port, backlog=256)
        async with server:
            await asyncio.sleep(seconds)

    asyncio.run(main())


def lesson_sizes():
    ratio = (LARGEST / SMALLEST) ** (1.0 / (FILES - 1))
    return [int(SMALLEST * ratio ** i) for i in range(FILES)]


def fetch_all(urls, keep_alive_peer):
    """Wall time of one curl run fetching urls, PARALLEL at a time; every answer must be 200."""
    config = "".join('url = "%s"\noutput = "/dev/null"\n' % u for u in urls)
    args = ["curl", "-s", "--noproxy", "*", "--parallel", "--parallel-immediate",
            "--parallel-max", str(PARALLEL), "-w", "%{http_code}\\n", "-K", "-"]
    start = time.monotonic()
    out = subprocess.run(args, input=config, capture_output=True, text=True, timeout=600).stdout
    took = time.monotonic() - start
    codes = out.split()
    if len(codes) != len(urls) or any(c != "200" for c in codes):
        raise RuntimeError("%s: not every file arrived: %s" %
                           ("peer" if keep_alive_peer else "ours", " ".join(sorted(set(codes)))))
    return took


def main():
    httpd = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    for tool in ("nginx", "curl"):
        if shutil.which(tool) is None:
            print("missing %s: cannot compare" % tool)
            return 1
    os.environ["no_proxy"] = os.environ["NO_PROXY"] = "127.0.0.1,localhost"
    work = tempfile.mkdtemp(prefix="vexa-lesson-bench-")
    procs = []
    try:
        site = os.path.join(work, "site")
        os.makedirs(os.path.join(site, "lesson"))
        names = []
        for i, size in enumerate(lesson_sizes()):
            name = "lesson/part%03d.bin" % i
            with open(os.path.join(site, name), "wb") as f:
                f.write(os.urandom(size))
            names.append(name)
        nginx_port = sb.free_port()
        procs.append(sb.start_nginx(work, site, nginx_port))
        proxy_port = sb.free_port()
        procs.append(sb.Proc([sys.executable, os.path.abspath(__file__), "--proxy",
                              str(proxy_port), str(nginx_port), str(sb.MAX_SERVER_SECONDS)]))
        if not sb.wait_listening(proxy_port):
            raise RuntimeError("the delaying proxy did not start")
        site_url = "http://127.0.0.1:%d/" % proxy_port

        ours, peer = [], []
        for r in range(rounds):
            mirror = os.path.join(work, "mirror-%d" % r)
            env = dict(os.environ, XDG_STATE_HOME=work, VEXA_CONTENT_SITE=site_url)
            server = sb.Proc([httpd, mirror, str(sb.MAX_SERVER_SECONDS)], reads_port=True, env=env)
            try:
                local = ["http://127.0.0.1:%d/%s" % (server.port, n) for n in names]
                direct = [site_url + n for n in names]
                # Alternating which side goes first, so neither profits from the order.
                if r % 2 == 0:
                    ours.append(fetch_all(local, False))
                    peer.append(fetch_all(direct, True))
                else:
                    peer.append(fetch_all(direct, True))
                    ours.append(fetch_all(local, False))
            finally:
                server.stop()
            stored = len(os.listdir(os.path.join(mirror, "lesson")))
            if stored != FILES:
                raise RuntimeError("the mirror holds %d of %d files" % (stored, FILES))
        total = sum(lesson_sizes())
        med_ours = sorted(ours)[len(ours) // 2]
        med_peer = sorted(peer)[len(peer) // 2]
        print("first lesson, %d files from %d KiB to %d KiB (%.1f MiB), %d at a time, 50 ms "
              "each way, median of %d rounds" % (FILES, SMALLEST // 1024, LARGEST // 1024,
                                                 total / 1048576.0, PARALLEL, rounds))
        print("  through the file server, cold mirror   %8.0f ms" % (med_ours * 1000))
        print("  curl straight from the site            %8.0f ms" % (med_peer * 1000))
        print("ratio first lesson over 50 ms link, file server / direct curl: %.2f" %
              (med_ours / med_peer))
        return 0
    finally:
        for p in reversed(procs):
            p.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--proxy":
        run_proxy(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]))
        sys.exit(0)
    sys.exit(main())
