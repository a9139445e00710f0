#!/usr/bin/env python3
"""zandrel-site against local clients that try to deny or bloat it.

    site_abuse.py PROGRAM CASE

CASE is one of:
  slow-clients  100 clients sending a request head a byte a second: normal
                requests are answered meanwhile, and each slow client is cut
                off once its head has taken 5 s.
  header-flood  one request with 2,000,000 small header fields: answered 431,
                and the site's memory neither grows much nor stays grown.
  stop          SIGTERM while 100 slow clients trickle: the site ends within 1 s.
  lockout       waves of 210 connections every 1.8 s, up to 1,000, that each send
                a whole GET and then neither read nor close: every normal client
                meanwhile, and once all 1,000 are open, gets its page within 1 s.

The site listens on free loopback ports; every wait has a limit.
"""

import resource
import select
import socket
import subprocess
import sys
import threading
import time

SLOW_CLIENTS = 100
HEAD_SECONDS = 5.0
# The head's time counts from when the site takes the connection, which is
# later than the client's connect by up to FIRST_ANSWER_SECONDS below.
CUT_OFF_SLACK = 2.5
NORMAL_ANSWER_SECONDS = 1.5
# The first request queues behind the slow clients' connections, each of
# which the site starts a thread for (slow under the sanitizers).
FIRST_ANSWER_SECONDS = 5.0
STOP_SECONDS = 1.0
FLOOD_HEADERS = 2_000_000
# Growth of the site's resident memory over its size before the flood.
FLOOD_PEAK_MB = 32
FLOOD_RESIDUAL_MB = 16
LOCKOUT_WAVE = 210
LOCKOUT_WAVE_SECONDS = 1.8
LOCKOUT_CONNECTIONS = 1000
LOCKOUT_PAGE_SECONDS = 1.0


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


class Site:
    def __init__(self, program):
        self.process = subprocess.Popen(
            [program, "--subject1", "127.0.0.1:0", "--subject4", "127.0.0.1:0"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.errors = []
        self.ready = threading.Event()
        self.output = threading.Thread(target=self._read, args=(self.process.stdout, self.lines),
                                       daemon=True)
        self.output.start()
        threading.Thread(target=self._read, args=(self.process.stderr, self.errors), daemon=True).start()
        check(self.ready.wait(20), f"no ready line within 20 s: {self.errors[-3:]}")
        words = self.lines[0].split()
        self.ports = [int(url.rsplit(":", 1)[1].split("/")[0]) for url in (words[3], words[5])]

    def _read(self, stream, into):
        for line in stream:
            into.append(line.rstrip("\n"))
            if line.startswith("zandrel-site: ready:"):
                self.ready.set()

    def memory_kb(self, field):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        raise Failed(f"no {field} for the site")

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def fetch_page(port, timeout):
    """The status of a whole GET /kaoshi/ (None when it did not come whole
    within `timeout`) and how long it took."""
    began = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(b"GET /kaoshi/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            reply = b""
            while time.monotonic() - began < timeout:
                s.settimeout(max(0.01, timeout - (time.monotonic() - began)))
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
        head, _, body = reply.partition(b"\r\n\r\n")
        length = [int(line.split(b":")[1]) for line in head.split(b"\r\n")
                  if line.lower().startswith(b"content-length:")]
        whole = reply.startswith(b"HTTP/1.1 ") and length and len(body) == length[0]
        status = int(reply.split()[1]) if whole else None
    except (OSError, ValueError, IndexError):
        status = None
    return status, time.monotonic() - began


def get(port, path="/kaoshi/", timeout=3.0):
    """The status of GET path, or None when no answer came within `timeout`."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
            reply = b""
            while b"\r\n" not in reply:
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
            return int(reply.split()[1]) if reply.startswith(b"HTTP/1.1 ") else None
    except (OSError, ValueError, IndexError):
        return None


class SlowClients:
    """Connections that each send a request head one byte a second, from a
    thread of their own, and note when the site answers or closes them."""

    HEAD = b"GET /kaoshi/ HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + b"s" * 4000

    def __init__(self, ports, count):
        self.sockets = []
        for i in range(count):
            s = socket.create_connection(("127.0.0.1", ports[i % len(ports)]), timeout=2)
            s.setblocking(False)
            self.sockets.append(s)
        self.started = time.monotonic()
        self.ended = {}  # socket index -> (seconds after start, first bytes of the answer)
        self.rounds = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._trickle, daemon=True)
        self._thread.start()

    def _trickle(self):
        sent = 0
        next_byte = time.monotonic()
        while not self._stop.is_set() and sent < len(self.HEAD):
            now = time.monotonic()
            if now >= next_byte:
                for i, s in enumerate(self.sockets):
                    if i not in self.ended:
                        try:
                            s.send(self.HEAD[sent:sent + 1])
                        except BlockingIOError:
                            pass
                        except OSError:
                            self._end(i, b"")
                sent += 1
                self.rounds += 1
                next_byte += 1.0
                continue
            waiting = [s for i, s in enumerate(self.sockets) if i not in self.ended]
            readable = select.select(waiting, [], [], min(0.1, next_byte - now))[0] if waiting else []
            for s in readable:
                i = self.sockets.index(s)
                try:
                    self._end(i, s.recv(64))
                except BlockingIOError:
                    pass
                except OSError:
                    self._end(i, b"")
            if not waiting:
                self._stop.wait(0.1)

    def _end(self, i, answer):
        self.ended[i] = (time.monotonic() - self.started, answer)

    def wait_rounds(self, rounds, limit=5.0):
        until = time.monotonic() + limit
        while self.rounds < rounds and time.monotonic() < until:
            time.sleep(0.01)

    def close(self):
        self._stop.set()
        self._thread.join()
        for s in self.sockets:
            s.close()


def slow_clients(site):
    s1, s4 = site.ports
    clients = SlowClients([s1], SLOW_CLIENTS)
    try:
        clients.wait_rounds(2)
        for i, port in enumerate((s1, s1, s4, s1, s1)):
            limit = FIRST_ANSWER_SECONDS if i == 0 else NORMAL_ANSWER_SECONDS
            began = time.monotonic()
            status = get(port, timeout=limit + 1)
            took = time.monotonic() - began
            print(f"site-abuse: GET /kaoshi/ with {SLOW_CLIENTS} slow clients: "
                  f"{status} in {took * 1000:.0f} ms", flush=True)
            check(status == 200 and took < limit,
                  f"a normal request took {took:.1f} s (status {status}) beside "
                  f"{SLOW_CLIENTS} slow clients; the limit is {limit} s")
        until = clients.started + HEAD_SECONDS + CUT_OFF_SLACK
        while len(clients.ended) < SLOW_CLIENTS and time.monotonic() < until:
            time.sleep(0.05)
        check(len(clients.ended) == SLOW_CLIENTS,
              f"{SLOW_CLIENTS - len(clients.ended)} of {SLOW_CLIENTS} slow clients still held "
              f"the site {HEAD_SECONDS + CUT_OFF_SLACK:.1f} s after they began their heads")
        times = sorted(t for t, _ in clients.ended.values())
        print(f"site-abuse: slow clients cut off after {times[0]:.1f}-{times[-1]:.1f} s", flush=True)
        check(times[0] > HEAD_SECONDS - 0.5, f"a slow client was cut off after {times[0]:.1f} s")
        timeouts = sum(answer.startswith(b"HTTP/1.1 408 ") for _, answer in clients.ended.values())
        check(timeouts == SLOW_CLIENTS, f"only {timeouts} slow clients were answered 408")
    finally:
        clients.close()
    check(get(s1) == 200, "the site does not answer after the slow clients")


def header_flood(site):
    s1 = site.ports[0]
    check(get(s1) == 200, "the site does not answer")
    before = site.memory_kb("VmRSS")
    head = b"GET /kaoshi/ HTTP/1.1\r\nHost: 127.0.0.1\r\n" + b"a: b\r\n" * FLOOD_HEADERS + b"\r\n"
    reply = b""
    began = time.monotonic()
    with socket.create_connection(("127.0.0.1", s1), timeout=2) as s:
        s.setblocking(False)
        sent = 0
        # Sends while reading, as a client that listens would: the answer may
        # come long before the head is all sent.
        while b"\r\n" not in reply and time.monotonic() < began + 30:
            try:
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
                continue
            except BlockingIOError:
                pass
            except OSError:
                break
            if sent < len(head):
                try:
                    sent += s.send(head[sent:sent + 65536])
                    continue
                except BlockingIOError:
                    pass
                except OSError:
                    sent = len(head)
            time.sleep(0.001)
    took = time.monotonic() - began
    peak = site.memory_kb("VmHWM")
    check(get(s1) == 200, "the site does not answer after the flood")
    after = site.memory_kb("VmRSS")
    status = reply.split(b"\r\n")[0].decode(errors="replace")
    print(f"site-abuse: {FLOOD_HEADERS} header fields: '{status}' after {took:.2f} s, "
          f"{sent} of {len(head)} bytes sent; VmRSS before {before // 1024} MB, "
          f"VmHWM {peak // 1024} MB, VmRSS after {after // 1024} MB", flush=True)
    check(status.startswith("HTTP/1.1 431 "), f"the flood was answered '{status}', not 431")
    check(peak - before < FLOOD_PEAK_MB * 1024,
          f"the site's memory rose by {(peak - before) // 1024} MB during the flood")
    check(after - before < FLOOD_RESIDUAL_MB * 1024,
          f"the site still holds {(after - before) // 1024} MB more after the flood")


def stop(site):
    clients = SlowClients(site.ports, SLOW_CLIENTS)
    try:
        clients.wait_rounds(2)
        began = time.monotonic()
        site.process.terminate()
        try:
            code = site.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            code = None
        took = time.monotonic() - began
        print(f"site-abuse: SIGTERM with {SLOW_CLIENTS} slow clients: exit {code} after "
              f"{took * 1000:.0f} ms", flush=True)
        check(code == 0, f"the site did not end within 5 s of SIGTERM (exit {code})")
        check(took < STOP_SECONDS, f"the site took {took:.2f} s to stop; the limit is {STOP_SECONDS} s")
        site.output.join(timeout=2)  # to the end of the site's output
        check("zandrel-site: stopped" in site.lines, f"no 'stopped' line: {site.lines[-3:]}")
    finally:
        clients.close()


class Attack:
    """Connections opened at LOCKOUT_WAVE per LOCKOUT_WAVE_SECONDS, from a
    thread of their own, up to LOCKOUT_CONNECTIONS: each sends a whole GET and
    then neither reads nor closes."""

    REQUEST = b"GET /kaoshi/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"

    def __init__(self, port):
        self.port = port
        self.held = []
        self.refused = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._open, daemon=True)
        self._thread.start()

    def _open(self):
        gap = LOCKOUT_WAVE_SECONDS / LOCKOUT_WAVE
        next_open = time.monotonic()
        while len(self.held) < LOCKOUT_CONNECTIONS and self.refused < LOCKOUT_CONNECTIONS:
            if self._stop.wait(max(0.0, next_open - time.monotonic())):
                return
            next_open += gap
            try:
                s = socket.create_connection(("127.0.0.1", self.port), timeout=2)
                s.sendall(self.REQUEST)
                self.held.append(s)
            except OSError:
                self.refused += 1

    def done(self):
        return not self._thread.is_alive()

    def close(self):
        self._stop.set()
        self._thread.join()
        for s in self.held:
            s.close()


def lockout(site):
    # The attack holds a descriptor per connection.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < LOCKOUT_CONNECTIONS + 100 <= hard:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    s1 = site.ports[0]
    results = []  # (open attack connections, status, seconds)
    attack = Attack(s1)
    try:
        # Normal clients while the connections pile up, as a browser's user would come.
        while not attack.done():
            results.append((len(attack.held),) + fetch_page(s1, LOCKOUT_PAGE_SECONDS + 2))
            time.sleep(0.2)
        for _ in range(10):
            results.append((len(attack.held),) + fetch_page(s1, LOCKOUT_PAGE_SECONDS + 2))
            time.sleep(0.1)
    finally:
        attack.close()
    check(attack.refused < LOCKOUT_CONNECTIONS, "the site refuses connections altogether")
    fast = sum(status == 200 and took < LOCKOUT_PAGE_SECONDS for _, status, took in results)
    late = [(n, status, took) for n, status, took in results
            if status != 200 or took >= LOCKOUT_PAGE_SECONDS]
    slowest = max(took for _, _, took in results)
    print(f"site-abuse: {len(attack.held)} connections ({attack.refused} refused), "
          f"{LOCKOUT_WAVE} every {LOCKOUT_WAVE_SECONDS} s, that never read: {fast} of "
          f"{len(results)} normal pages within {LOCKOUT_PAGE_SECONDS} s, slowest "
          f"{slowest * 1000:.0f} ms", flush=True)
    for n, status, took in late[:3]:
        print(f"site-abuse:   beside {n} connections: status {status} after {took * 1000:.0f} ms",
              flush=True)
    check(not late, f"{len(late)} of {len(results)} normal clients did not get their page "
                    f"within {LOCKOUT_PAGE_SECONDS} s")
    check(get(s1) == 200, "the site does not answer after the attack")


CASES = {"slow-clients": slow_clients, "header-flood": header_flood, "stop": stop,
         "lockout": lockout}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        print(__doc__, file=sys.stderr)
        return 2
    site = Site(sys.argv[1])
    try:
        CASES[sys.argv[2]](site)
    except Failed as failure:
        print(f"site-abuse: FAILED: {failure}", flush=True)
        return 1
    finally:
        site.kill()
    print(f"site-abuse: {sys.argv[2]} passed", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
