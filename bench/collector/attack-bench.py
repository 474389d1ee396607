#!/usr/bin/env python3
"""Hostile load on the collection server, on loopback only.

  bench/collector/attack-bench.py build/tools/collection-server/quibblers-collection-server

1. A normal client uploads every 0.2 s, first alone (the peer run), then while 200 clients send
   their headers one byte a second, 200 send their bodies one byte a second and 64 sit idle, all
   reconnecting when dropped. Prints the normal client's p50/p99 answer times in both runs and
   the server's peak resident memory; then SIGTERM under that load and the time to exit.
2. A fresh server takes 8 simultaneous maximal bodies of "beacons=[0,0,...]"; prints its peak
   resident memory against 8 x --max-body + 32 MiB.
Attackers connect from 127.0.0.2 and up, at most 30 per address (under the default cap of 32);
the normal client from 127.0.0.1. Exit status 1 when a target is missed.
"""
import asyncio
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
MAX_BODY = 8 * MIB
UPLOAD = (b'beacons={"iphone_id":"bench","application_code":"bench","app_version":"1","beacons":[{"id":"%d",'
          b'"time_started":"1700000000","time_stopped":"1700000060","subbeacons":[{"id":"1","name":"menu",'
          b'"time_started":"1700000001","is_session":"1"}]}]}')


def raise_file_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return hard


def start_server(program, folder):
    log = open(os.path.join(folder, "server.log"), "w+b")
    server = subprocess.Popen([program, "--listen", "127.0.0.1:0", "--database", os.path.join(folder, "s.sqlite"),
                               "--quiet"], stdout=log, stderr=subprocess.STDOUT)
    for _ in range(200):
        log.seek(0)
        text = log.read().decode(errors="replace")
        if "listening on http://" in text:
            port = int(text.split("listening on http://127.0.0.1:")[1].split("/")[0])
            return server, port
        time.sleep(0.05)
    raise SystemExit("the server did not start: " + text)


def memory(pid, field):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


async def post(port, body, timeout=15.0):
    started = time.monotonic()
    try:
        reader, writer = await asyncio.wait_for(
            asyncio.open_connection("127.0.0.1", port, local_addr=("127.0.0.1", 0)), timeout)
        writer.write(b"POST / HTTP/1.1\r\nHost: bench\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                     b"Content-Length: %d\r\n\r\n" % len(body) + body)
        # The answer ends with its declared length, whether or not the server then closes.
        head = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), timeout)
        length = 0
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        answer = head + await asyncio.wait_for(reader.readexactly(length), timeout)
        writer.close()
        ok = answer.startswith(b"HTTP/1.1 200") and answer.endswith(b"\r\n\r\nsuccess")
    except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError, ValueError):
        ok = False
    return time.monotonic() - started, ok


async def normal_client(port, seconds, counter):
    times, failures = [], 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        counter[0] += 1
        elapsed, ok = await post(port, UPLOAD % counter[0])
        times.append(elapsed)
        failures += 0 if ok else 1
        await asyncio.sleep(max(0.0, 0.2 - elapsed))
    return times, failures


async def attacker(port, source, kind, stop):
    head = b"POST / HTTP/1.1\r\nHost: bench\r\nContent-Length: 1000\r\n\r\n"
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=(source, 0))
        except OSError:
            await asyncio.sleep(0.2)
            continue
        try:
            if kind == "body":
                writer.write(head)
            drip = b"POST / HTTP/1.1\r\nX-Slow: " + b"a" * 100000 if kind == "header" else b"x" * 1000
            for i in range(len(drip)):
                if stop.is_set() or reader.at_eof():
                    break
                if kind != "idle":
                    writer.write(drip[i:i + 1])
                    await writer.drain()
                try:
                    if await asyncio.wait_for(reader.read(1), 1.0) == b"":
                        break
                except asyncio.TimeoutError:
                    pass
        except OSError:
            pass
        writer.close()


async def attack_run(program, folder):
    server, port = start_server(program, folder)
    counter = [0]
    alone, alone_failures = await normal_client(port, 10, counter)
    stop = asyncio.Event()
    attackers = []
    for n, kind in enumerate(["header"] * 200 + ["body"] * 200 + ["idle"] * 64):
        source = "127.0.0.%d" % (2 + n // 30)
        attackers.append(asyncio.create_task(attacker(port, source, kind, stop)))
    await asyncio.sleep(3)  # all of them connected and dripping
    peak = [0]

    async def watch():
        while not stop.is_set():
            peak[0] = max(peak[0], memory(server.pid, "VmRSS"))
            await asyncio.sleep(0.25)

    watcher = asyncio.create_task(watch())
    attacked, attacked_failures = await normal_client(port, 20, counter)
    # Established connections on the server's side.
    open_connections = sum(1 for line in open("/proc/net/tcp").readlines()[1:]
                           if line.split()[1].endswith(":%04X" % port) and line.split()[3] == "01")
    started = time.monotonic()
    server.send_signal(signal.SIGTERM)
    while server.poll() is None and time.monotonic() - started < 10:
        await asyncio.sleep(0.01)
    stopped = time.monotonic() - started
    stop.set()
    await watcher
    for task in attackers:
        task.cancel()
    await asyncio.gather(*attackers, return_exceptions=True)
    if server.poll() is None:
        server.kill()
    return alone, alone_failures, attacked, attacked_failures, peak[0], stopped, server.wait(), open_connections


async def large_run(program, folder):
    server, port = start_server(program, folder)
    baseline = memory(server.pid, "VmRSS")
    body = b"beacons=[" + b"0," * ((MAX_BODY - 10) // 2)
    body = body[:MAX_BODY - 1] + b"]"
    results = await asyncio.gather(*[post(port, body, 60) for _ in range(8)])
    peak = memory(server.pid, "VmHWM")
    server.send_signal(signal.SIGTERM)
    server.wait()
    return baseline, peak, [r[0] for r in results]


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    files = raise_file_limit()
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        alone, alone_failures, attacked, attacked_failures, peak, stopped, status, connections = asyncio.run(
            attack_run(sys.argv[1], folder))
        print("open-file limit %d" % files)
        print("normal client alone:          p50 %.3f s, p99 %.3f s, %d uploads, %d not answered success" % (
            percentile(alone, 50), percentile(alone, 99), len(alone), alone_failures))
        print("with 200+200+64 hostile:      p50 %.3f s, p99 %.3f s, %d uploads, %d not answered success "
              "(p99 %.1fx alone; %d connections open on the server meanwhile)" % (
                  percentile(attacked, 50), percentile(attacked, 99), len(attacked), attacked_failures,
                  percentile(attacked, 99) / max(percentile(alone, 99), 1e-6), connections))
        print("server resident memory under attack: peak %.1f MiB (target < 64 MiB)" % (peak / MIB))
        print("SIGTERM under attack: exited with %d after %.2f s (target <= 2 s)" % (status, stopped))
        failed |= percentile(attacked, 99) > 1.0 or attacked_failures > 0 or peak >= 64 * MIB or stopped > 2.0
    with tempfile.TemporaryDirectory() as folder:
        baseline, peak, times = asyncio.run(large_run(sys.argv[1], folder))
        limit = 8 * MAX_BODY + 32 * MIB
        print("8 simultaneous %d MiB bodies: peak resident %.1f MiB from %.1f MiB at rest (limit 8 x max-body + 32 MiB"
              " = %d MiB), slowest answer %.2f s" % (MAX_BODY // MIB, peak / MIB, baseline / MIB, limit // MIB, max(times)))
        failed |= peak > limit
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
