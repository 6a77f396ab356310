#!/usr/bin/env python3
"""The language server's speed and memory, driven over its pipes as an editor
drives it: the time from sending a whole-text change of a 5,000-line data
file to receiving its diagnostics, and the server's resident memory before
and after 10,000 changes.

    bench/lsp_bench.py [BUILD_DIR]     (default build; needs ketch and vdgen built)
    REPS=5 CHANGES=200 MEM_CHANGES=10000 LINES=5000 bench/lsp_bench.py
"""
import json, os, statistics, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
reps = int(os.environ.get("REPS", "3"))
changes = int(os.environ.get("CHANGES", "200"))
mem_changes = int(os.environ.get("MEM_CHANGES", "10000"))
lines_wanted = int(os.environ.get("LINES", "5000"))


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


class Server:
    def __init__(self, ketch):
        self.p = subprocess.Popen([ketch, "lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.buf = b""

    def send(self, message):
        self.p.stdin.write(frame(message))
        self.p.stdin.flush()

    def read(self):
        while True:
            end = self.buf.find(b"\r\n\r\n")
            if end >= 0:
                n = int(self.buf[:end].split(b":")[1])
                while len(self.buf) < end + 4 + n:
                    self.buf += os.read(self.p.stdout.fileno(), 1 << 20)
                body, self.buf = self.buf[end + 4:end + 4 + n], self.buf[end + 4 + n:]
                return json.loads(body)
            chunk = os.read(self.p.stdout.fileno(), 1 << 20)
            if not chunk:
                raise SystemExit("the server ended")
            self.buf += chunk

    def diagnostics(self, version):
        while True:
            m = self.read()
            if m.get("method") == "textDocument/publishDiagnostics" and m["params"].get("version") == version:
                return m["params"]["diagnostics"]

    def rss_kb(self):
        with open("/proc/%d/status" % self.p.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])

    def close(self):
        self.send({"jsonrpc": "2.0", "id": 99, "method": "shutdown"})
        self.send({"jsonrpc": "2.0", "method": "exit"})
        self.p.wait(30)


def document(folder):
    """A text of LINES lines: vdgen's ship file, with its faults, repeated."""
    game = os.path.join(folder, "game")
    subprocess.run([os.path.join(build, "tools", "vdgen"), "--preset", "small", "--rules",
                    os.path.join(build, "bin", "KETCH.MDB"), game], check=True, capture_output=True)
    with open(os.path.join(game, "DATA", "ships", "shiparch.ini"), "rb") as f:
        lines = f.read().decode("cp1252").split("\r\n")
    out = []
    while len(out) < lines_wanted:
        out.extend(lines)
    return "\r\n".join(out[:lines_wanted]) + "\r\n"


def session(text, count, timed):
    s = Server(os.path.join(build, "bin", "ketch"))
    s.send({"jsonrpc": "2.0", "id": 1, "method": "initialize", "params": {"capabilities": {}}})
    s.read()
    s.send({"jsonrpc": "2.0", "method": "initialized", "params": {}})
    uri = "file:///bench/shiparch.ini"
    s.send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
            "params": {"textDocument": {"uri": uri, "languageId": "ini", "version": 0, "text": text}}})
    findings = len(s.diagnostics(0))
    rss_before = s.rss_kb()
    times = []
    for v in range(1, count + 1):
        # A keystroke's worth: one value of one line differs in every change.
        changed = text.replace("mass = ", "mass = %d" % (v % 10), 1)
        start = time.perf_counter()
        s.send({"jsonrpc": "2.0", "method": "textDocument/didChange",
                "params": {"textDocument": {"uri": uri, "version": v}, "contentChanges": [{"text": changed}]}})
        s.diagnostics(v)
        if timed:
            times.append((time.perf_counter() - start) * 1000)
    rss_after = s.rss_kb()
    s.close()
    return findings, times, rss_before, rss_after


with tempfile.TemporaryDirectory() as folder:
    text = document(folder)
    print("document: %d lines, %d bytes" % (text.count("\r\n"), len(text)))
    medians = []
    for r in range(reps):
        findings, times, _, _ = session(text, changes, True)
        m = statistics.median(times)
        medians.append(m)
        print("round %d: %d findings; change to diagnostics over %d changes: median %.2f ms, "
              "p90 %.2f ms, min %.2f ms, max %.2f ms" % (r + 1, findings, changes, m,
                                                         sorted(times)[int(len(times) * 0.9)], min(times), max(times)))
    mid = statistics.median(medians)
    print("median of the rounds' medians: %.2f ms (min %.2f, max %.2f, spread %.0f%%); target 20 ms" %
          (mid, min(medians), max(medians), (max(medians) - min(medians)) / mid * 100))
    _, _, before, after = session(text, mem_changes, False)
    print("memory over %d changes: VmRSS %d kB before, %d kB after (%+.1f%%)" %
          (mem_changes, before, after, (after - before) / before * 100))
