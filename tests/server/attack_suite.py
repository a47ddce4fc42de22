#!/usr/bin/python3
"""usb3k-server against clients it did not write: slowhttptest, curl, Python's http.client,
websockets, Node's http and raw sockets, each doing something a hostile or careless client does.

usage: attack_suite.py USB3K_SERVER EMULATOR_LIBRARY_DIR SAMPLE_VCW

Every case prints `ok NAME: what it measured`, or fails with a message and exit status 1.
The servers listen on 127.0.0.1 only, on a free port, over the emulated D2XX.
"""
import asyncio
import http.client
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import websockets

SERVER, EMULATOR_DIR, SAMPLE = sys.argv[1:4]
FRAMES = open(SAMPLE, "rb").read()
ALICE, BOB = "a1" * 32, "b2" * 32
WORK = tempfile.mkdtemp(prefix="usb3k-attack-")
TOKENS = os.path.join(WORK, "tokens")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def write_tokens(lines):
    with open(TOKENS + ".new", "w") as f:
        f.write("".join(line + "\n" for line in lines))
    os.chmod(TOKENS + ".new", 0o600)
    os.replace(TOKENS + ".new", TOKENS)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """usb3k-server as a child process, its standard error in a file."""

    def __init__(self, name, devices=2, paced=False, extra=()):
        self.port = free_port()
        self.log_path = os.path.join(WORK, name + ".log")
        config = os.path.join(WORK, name + ".conf")
        with open(config, "w") as f:
            f.write(f"token-file = {TOKENS}\nlisten = 127.0.0.1:{self.port}\n")
        env = dict(os.environ, LD_LIBRARY_PATH=EMULATOR_DIR, USB3K_EMULATOR_DEVICES=str(devices))
        if paced:
            env["USB3K_EMULATOR_PACED"] = "1"
        self.log = open(self.log_path, "wb")
        self.process = subprocess.Popen([SERVER, "--config", config, *extra], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        for _ in range(200):
            if self.get("/healthz")[0] == 200:
                return
            check(self.process.poll() is None, f"{name}: the server exited: {self.log_text()}")
            time.sleep(0.05)
        raise Failure(f"{name}: /healthz never answered 200 in 10 s")

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def get(self, path, token=None):
        """(status, body) of a GET, (None, error) when the connection failed."""
        try:
            c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
            c.request("GET", path, headers={"Authorization": f"Bearer {token}"} if token else {})
            r = c.getresponse()
            result = (r.status, r.read())
            c.close()
            return result
        except OSError as e:
            return (None, str(e))

    def device_states(self):
        status, body = self.get("/v1/devices", ALICE)
        check(status == 200, f"/v1/devices answered {status}: {body!r}")
        return [d["state"] for d in json.loads(body)]

    def rss_kb(self):
        with open(f"/proc/{self.process.pid}/status") as f:
            return int(re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M).group(1))

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=40)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def raw_exchange(port, request, timeout=10):
    """Sends the bytes as they are and returns all the server answers until it closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        answer, deadline = b"", time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                data = s.recv(65536)
            except ConnectionResetError:
                raise Failure(f"the connection was reset, not closed, after {answer[:200]!r}")
            if not data:
                return answer
            answer += data
        raise Failure(f"no EOF within {timeout} s after {answer[:200]!r}")


def curl_decode(server, *options, token=ALICE, path="/v1/decode"):
    return subprocess.run(["curl", "-sS", "--max-time", "60", "-H",
                           f"Authorization: Bearer {token}", "--data-binary", "@" + SAMPLE,
                           *options, server.url(path)],
                          capture_output=True, timeout=90)


# Node's own HTTP client POSTs the sample and tells what it got, as one line of JSON.
NODE_DECODE = """
const http = require('http'), fs = require('fs');
const [port, token, sample] = process.argv.slice(1);
const body = fs.readFileSync(sample);
const request = http.request({host: '127.0.0.1', port, method: 'POST', path: '/v1/decode',
    headers: {'Authorization': 'Bearer ' + token, 'Content-Length': body.length}}, answer => {
  let bytes = 0, error = '';
  answer.on('data', piece => { bytes += piece.length; });
  answer.on('error', e => { error = e.code || e.message; });
  answer.on('close', () => console.log(JSON.stringify(
      {status: answer.statusCode, bytes, complete: answer.complete, error})));
});
request.on('error', e => console.log(JSON.stringify({error: e.code || e.message})));
request.end(body);
"""


def node_decode(server, after=None):
    """Node's view of a decode; `after`, when given, runs once the request is under way."""
    node = subprocess.Popen(["node", "-e", NODE_DECODE, str(server.port), ALICE, SAMPLE],
                            stdout=subprocess.PIPE, text=True)
    if after:
        after()
    out = node.communicate(timeout=60)[0]
    check(node.returncode == 0, f"node exited {node.returncode}: {out!r}")
    return json.loads(out)


def case_slow_clients(server):
    slow = subprocess.Popen(["slowhttptest", "-H", "-c", "400", "-i", "10", "-r", "200", "-l", "10",
                             "-p", "5", "-u", server.url("/v1/devices")],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(3)
    decode = curl_decode(server, "--fail", "-o", os.path.join(WORK, "slow.wav"))
    check(decode.returncode == 0, f"decode under slowhttptest failed: {decode.stderr!r}")
    health = [server.get("/healthz")[0] for _ in range(5) if not time.sleep(0.5)]
    check(health == [200] * 5, f"/healthz under slowhttptest answered {health}")
    output = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", slow.communicate(timeout=60)[0])
    check(slow.returncode == 0, f"slowhttptest failed: {output[-500:]}")
    available = re.findall(r"service available:\s*(\S+)", output)
    check(available and all(a == "YES" for a in available),
          f"slowhttptest found the service unavailable: {available}")
    connected = max(int(n) for n in re.findall(r"connected:\s*(\d+)", output))
    ended = re.search(r"Exit status:\s*(.*)", output)
    print(f"ok slow-clients: slowhttptest -H, 400 connections, at most {connected} open at once:"
          f" service available: YES in all {len(available)} reports, exit status:"
          f" {ended.group(1).strip() if ended else '?'}; a decode and 5 x /healthz answered")


def body_without_token(port, result, index):
    """Sends an 8 MiB body without a token, on after the answer too, until the server closes."""
    header = f"POST /v1/decode HTTP/1.1\r\nHost: x\r\nContent-Length: {8 << 20}\r\n\r\n".encode()
    chunk, sent, answer, sent_before_answer, closed = b"\0" * 65536, 0, b"", None, False
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(header)
        s.setblocking(False)
        start = time.monotonic()
        while time.monotonic() - start < 20 and not closed:
            readable, writable, _ = select.select([s], [s] if sent < 8 << 20 else [], [], 5)
            try:
                if readable:
                    data = s.recv(65536)
                    closed = not data
                    if sent_before_answer is None:
                        sent_before_answer, seconds = sent, time.monotonic() - start
                    answer += data
                elif writable:
                    sent += s.send(chunk)
            except BlockingIOError:
                pass
            except (BrokenPipeError, ConnectionResetError):
                closed = True
    result[index] = (answer[:12], sent_before_answer, seconds, closed, time.monotonic() - start)


def case_bodies_without_token(server):
    idle = server.rss_kb()
    results, peak = [None] * 32, idle
    threads = [threading.Thread(target=body_without_token, args=(server.port, results, i))
               for i in range(32)]
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        peak = max(peak, server.rss_kb())
        time.sleep(0.02)
    time.sleep(1)
    after = server.rss_kb()
    for answer, sent, seconds, closed, _ in results:
        check(answer == b"HTTP/1.1 401", f"a body without a token was answered {answer!r}")
        check(sent < 8 << 20, "the server read the whole 8 MiB body before answering")
        check(seconds < 10, f"the 401 came after {seconds:.1f} s")
        check(closed, "the server did not close the connection of a body without a token")
    check(peak - idle < 50 << 10 and after - idle < 50 << 10,
          f"RSS idle {idle} kB, peak {peak} kB, after {after} kB")
    print(f"ok bodies-without-token: 32 x 8 MiB bodies, each 401 after at most"
          f" {max(r[1] for r in results) >> 10} KiB sent and {max(r[2] for r in results):.2f} s,"
          f" closed within {max(r[4] for r in results):.2f} s; RSS idle {idle / 1024:.1f} MB,"
          f" peak {peak / 1024:.1f} MB, after {after / 1024:.1f} MB")


def case_smuggling(server):
    hidden = f"GET /v1/devices HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer {ALICE}\r\n\r\n"
    post = f"POST /v1/decode HTTP/1.1\r\nAuthorization: Bearer {ALICE}\r\n"
    cases = [
        (f"{post}Host: x\r\nTransfer-Encoding: gzip\r\n\r\n{hidden}",
         "the transfer coding gzip is not supported: only chunked"),
        (f"{post}Host: x\r\nTransfer-Encoding: chunked, identity\r\n\r\n"
         f"{len(hidden):x}\r\n{hidden}\r\n0\r\n\r\n",
         'the Transfer-Encoding "chunked, identity" is not supported: only chunked'),
        (f"{post}Content-Length: {len(hidden)}\r\n\r\n{hidden}", "the request has no Host header"),
    ]
    for request, reason in cases:
        answer = raw_exchange(server.port, request.encode())
        check(answer.startswith(b"HTTP/1.1 400 ")
              and answer.endswith(f"\r\n\r\n{reason}\n".encode()), f"{reason}: answered {answer!r}")
        check(answer.count(b"HTTP/1.1 ") == 1, f"{reason}: the hidden request was answered too")
    print("ok smuggling: Transfer-Encoding gzip, Transfer-Encoding chunked, identity, no Host:"
          " one 400 with its reason each, then EOF; the request hidden in the body unanswered")


def case_trailers_only_when_asked(server):
    c = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    c.request("POST", "/v1/decode", body=FRAMES, headers={"Authorization": f"Bearer {ALICE}"})
    r = c.getresponse()
    wav = r.read()
    c.close()
    check(r.status == 200 and r.getheader("Trailer") is None, f"decode answered {r.status}")
    check(wav[:4] == b"RIFF" and int.from_bytes(wav[4:8], "little") == len(wav) - 8,
          f"RIFF size {int.from_bytes(wav[4:8], 'little')} for a file of {len(wav)} bytes")
    data = wav.find(b"data")
    check(data > 0 and int.from_bytes(wav[data + 4:data + 8], "little") == 500 * 320,
          "the data chunk does not hold 500 frames x 320 bytes")
    asked = curl_decode(server, "--fail", "-H", "TE: trailers", "-D", "-", "-o", os.devnull)
    dumped = asked.stdout.decode()
    check(asked.returncode == 0 and "Usb3k-Frames-Concealed: 0\r\n" in dumped
          and "Trailer: Usb3k-Frames-Concealed" in dumped, f"curl with TE: trailers: {dumped!r}")
    node = node_decode(server)
    check(node == {"status": 200, "bytes": len(wav), "complete": True, "error": ""},
          f"node's http read {node}")
    print(f"ok trailers-only-when-asked: without TE a whole WAV of {len(wav)} bytes, RIFF size"
          f" {len(wav) - 8}, 160000 bytes of speech, in http.client and in Node's http; with TE:"
          f" trailers, Usb3k-Frames-Concealed: 0")


def case_cut_short_never_success():
    server = Server("drain", devices=1, paced=True, extra=("--drain-timeout", "1"))
    try:
        curl = subprocess.Popen(["curl", "-sS", "-H", f"Authorization: Bearer {ALICE}",
                                 "--data-binary", "@" + SAMPLE, "-o", os.devnull,
                                 server.url("/v1/decode")], stderr=subprocess.PIPE)
        for _ in range(200):
            if server.device_states() == ["busy"]:
                break
            time.sleep(0.05)
        check(server.device_states() == ["busy"], "the decode never held the device in 10 s")
        time.sleep(1)
        server.stop()
        curl_error = curl.communicate(timeout=30)[1]
        check(curl.returncode == 18, f"curl exited {curl.returncode}: {curl_error!r}")
    finally:
        server.stop()
    server = Server("drain2", devices=1, paced=True, extra=("--drain-timeout", "1"))
    try:
        c = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
        c.request("POST", "/v1/decode", body=FRAMES, headers={"Authorization": f"Bearer {ALICE}"})
        r = c.getresponse()
        threading.Timer(1.5, server.process.send_signal, (signal.SIGTERM,)).start()
        try:
            r.read()
            raise Failure("http.client read a decode cut short as a whole answer")
        except (http.client.HTTPException, OSError) as e:
            raised = type(e).__name__
    finally:
        server.stop()
    check("outcome=200 server draining" in server.log_text(), "the log does not say why")
    server = Server("drain3", devices=1, paced=True, extra=("--drain-timeout", "1"))
    try:
        stop = threading.Timer(1.5, server.process.send_signal, (signal.SIGTERM,))
        node = node_decode(server, stop.start)
    finally:
        server.stop()
    check(node.get("status") == 200 and node.get("complete") is False,
          f"node's http read a decode cut short as {node}")
    print(f"ok cut-short-never-success: SIGTERM mid-decode, drain-timeout 1 s: curl exit 18;"
          f" http.client raised {raised}; Node's http: complete false"
          f" ({node.get('error') or 'no error'})")


async def stream_revocation(server):
    headers = lambda token: {"Authorization": f"Bearer {token}"}
    uri = f"ws://127.0.0.1:{server.port}/v1/stream"
    async with websockets.connect(uri, extra_headers=headers(ALICE)) as alice, \
            websockets.connect(uri, extra_headers=headers(BOB)) as bob:
        for ws in (alice, bob):
            await ws.send(FRAMES[:70])
            check(len(await asyncio.wait_for(ws.recv(), 10)) == 3200, "no speech for 10 frames")
        write_tokens([f"alice:{ALICE}"])
        server.process.send_signal(signal.SIGHUP)
        start = time.monotonic()
        try:
            for _ in range(100):
                await bob.send(FRAMES[:70])
                await asyncio.wait_for(bob.recv(), 5)
            raise Failure("bob's stream went on after his token was revoked")
        except websockets.ConnectionClosed as e:
            closed = (e.rcvd.code, e.rcvd.reason) if e.rcvd else None
        seconds = time.monotonic() - start
        check(closed == (4003, "token revoked"), f"bob's stream closed with {closed}")
        check(seconds < 5, f"bob's stream closed after {seconds:.1f} s")
        await alice.send(FRAMES[:70])
        check(len(await asyncio.wait_for(alice.recv(), 10)) == 3200, "alice's stream stopped")
        return seconds


def case_revocation(server):
    seconds = asyncio.run(stream_revocation(server))
    print(f"ok revocation: bob's stream closed 4003 token revoked {seconds * 1000:.1f} ms after"
          f" SIGHUP; alice's stream went on")


def case_log_injection(server):
    query = "device=%0D%0Ausb3k-server:%20FORGED%20token=root"
    status = curl_decode(server, "-o", os.devnull, "-w", "%{http_code}",
                         path="/v1/decode?" + query).stdout.decode()
    check(status == "404", f"a device that is not attached was answered {status}")
    time.sleep(0.5)
    log = server.log_text()
    forged = [line for line in log.splitlines() if line.startswith("usb3k-server: FORGED")]
    check(not forged, f"a forged log line: {forged}")
    escaped = r"device=\x0D\x0Ausb3k-server:\x20FORGED\x20token=root"
    check(escaped in log, f"no line with {escaped} in the log:\n{log[-1000:]}")
    print(f"ok log-injection: answered {status}; no line starts with usb3k-server: FORGED;"
          f" the log has {escaped}")


async def stream_dropped(server):
    uri = f"ws://127.0.0.1:{server.port}/v1/stream"
    ws = await websockets.connect(uri, extra_headers={"Authorization": f"Bearer {ALICE}"})
    for i in range(4):
        await ws.send(FRAMES[(i % 2) * 1750:(i % 2 + 1) * 1750])
    await asyncio.sleep(0.5)
    check(server.device_states() == ["busy"], "the device is not busy with the stream")
    ws.transport.abort()
    start = time.monotonic()
    while time.monotonic() - start < 5 and server.device_states() != ["free"]:
        await asyncio.sleep(0.02)
    return time.monotonic() - start


def case_leaves_with_messages_in_flight():
    server = Server("inflight", devices=1, paced=True)
    try:
        seconds = asyncio.run(stream_dropped(server))
        check(seconds < 2, f"the device was still not free {seconds:.2f} s after the client left")
    finally:
        server.stop()
    print(f"ok leaves-with-messages-in-flight: 4 x 250 frames in flight, TCP dropped;"
          f" device free {seconds * 1000:.0f} ms later")


def case_unauthenticated_idle(server):
    idle = [socket.create_connection(("127.0.0.1", server.port), timeout=10) for _ in range(300)]
    try:
        time.sleep(1)
        start = time.monotonic()
        health = server.get("/healthz")[0]
        decode = curl_decode(server, "--fail", "-o", os.devnull)
        seconds = time.monotonic() - start
        check(health == 200, f"/healthz answered {health} beside 300 idle connections")
        check(decode.returncode == 0, f"decode beside 300 idle connections: {decode.stderr!r}")
        closed = sum(1 for s in idle if select.select([s], [], [], 0)[0])
    finally:
        for s in idle:
            s.close()
    print(f"ok unauthenticated-idle: 300 idle connections ({closed} closed by the server to make"
          f" room); /healthz 200 and a decode in {seconds:.2f} s")


def main():
    write_tokens([f"alice:{ALICE}", f"bob:{BOB}"])
    started, server = time.monotonic(), None
    try:
        server = Server("main")
        case_slow_clients(server)
        case_bodies_without_token(server)
        case_smuggling(server)
        case_trailers_only_when_asked(server)
        case_log_injection(server)
        case_unauthenticated_idle(server)
        case_revocation(server)
        case_cut_short_never_success()
        case_leaves_with_messages_in_flight()
    except Failure as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1
    finally:
        if server:
            server.stop()
        shutil.rmtree(WORK)
    print(f"all 9 cases passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
