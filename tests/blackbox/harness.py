"""Starts the real halden server binary for black-box tests.

Each `ServerProcess` copies the server under test (the HALDEN_SERVER environment variable, set by
ctest; otherwise build/asan/bin/halden-server) into a fresh temporary folder, writes its own
server.xml there, picks free loopback ports and starts it with standard input piped, so tests can
type console lines. The executable's folder is the server's folder: logs, commandline.txt and
resources live beside it, as they do for a real installation.

    with ServerProcess(config={"maxplayers": 4}) as server:
        server.wait_for_line("Server is now listening")
        ...
    # leaving the block stops the server with SIGINT and checks it exited
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import xml.sax.saxutils

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ANSI = re.compile(r"\x1b\[[0-9;]*m")


def server_binary():
    return os.environ.get("HALDEN_SERVER") or os.path.join(ROOT, "build", "asan", "bin", "halden-server")


def free_port(kind=socket.SOCK_DGRAM):
    """A port that is free for UDP and TCP on loopback right now."""
    for _ in range(50):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
            udp.bind(("127.0.0.1", 0))
            port = udp.getsockname()[1]
        try:
            with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as tcp:
                tcp.bind(("127.0.0.1", port))
        except OSError:
            continue
        return port
    raise RuntimeError("no free port")


def config_xml(settings, extra=""):
    """server.xml text from a dict of simple settings plus raw extra XML."""
    lines = ["<server>"]
    for key, value in settings.items():
        if value is None:
            continue
        if isinstance(value, bool):
            value = "true" if value else "false"
        lines.append(f"  <{key}>{xml.sax.saxutils.escape(str(value))}</{key}>")
    if extra:
        lines.append(extra)
    lines.append("</server>")
    return "\n".join(lines) + "\n"


class ServerProcess:
    """One server in its own folder. `config` entries override the test defaults; `config_text`
    replaces server.xml entirely (None writes no server.xml at all when `write_config` is False)."""

    def __init__(self, config=None, extra_xml="", config_text=None, write_config=True, args=(),
                 stdin=True, files=None):
        self.folder = tempfile.mkdtemp(prefix="halden-bb-")
        self.binary = os.path.join(self.folder, "halden-server")
        shutil.copy2(server_binary(), self.binary)
        self.port = free_port()
        self.http_port = free_port()
        self.rcon_port = free_port()
        settings = {
            "port": self.port,
            "httpport": self.http_port,
            "rconport": self.rcon_port,
            "bindip": "127.0.0.1",
            "httpserver": False,
            "servername": "Black-box test",
        }
        settings.update(config or {})
        if write_config:
            text = config_text if config_text is not None else config_xml(settings, extra_xml)
            with open(os.path.join(self.folder, "server.xml"), "w", encoding="utf-8") as handle:
                handle.write(text)
        for name, content in (files or {}).items():
            self.write_file(name, content)
        self.args = list(args)
        self.use_stdin = stdin
        self.process = None
        self.lines = []
        self._lines_lock = threading.Condition()
        self._reader = None
        self.returncode = None

    # Files in the server's folder.
    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def write_file(self, name, content):
        full = self.path(name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(full, mode) as handle:
            handle.write(content)

    def log_text(self, name="logs/ServerLog.log"):
        try:
            with open(self.path(name), "rb") as handle:
                return handle.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def start(self):
        env = dict(os.environ)
        env.setdefault("ASAN_OPTIONS", "abort_on_error=1:detect_leaks=1")
        self.process = subprocess.Popen(
            [self.binary] + self.args,
            cwd=self.folder,
            stdin=subprocess.PIPE if self.use_stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT,
            env=env,
        )
        self._reader = threading.Thread(target=self._read_output, daemon=True)
        self._reader.start()
        return self

    def _read_output(self):
        for raw in self.process.stdout:
            line = ANSI.sub("", raw.decode("utf-8", "replace")).rstrip("\r\n")
            with self._lines_lock:
                self.lines.append(line)
                self._lines_lock.notify_all()

    def output(self):
        with self._lines_lock:
            return "\n".join(self.lines)

    def wait_for_line(self, pattern, timeout=20.0, start=0):
        """Waits for an output line matching the regular expression; returns the match."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        index = start
        with self._lines_lock:
            while True:
                while index < len(self.lines):
                    match = regex.search(self.lines[index])
                    if match:
                        self.last_index = index
                        return match
                    index += 1
                remaining = deadline - time.monotonic()
                if remaining <= 0 or (self.process.poll() is not None and index >= len(self.lines)):
                    if self.process.poll() is not None:
                        self._lines_lock.wait(0.2)
                        if index < len(self.lines):
                            continue
                    raise AssertionError(f"no line matching {pattern!r} within {timeout}s; output:\n"
                                         + "\n".join(self.lines))
                self._lines_lock.wait(min(remaining, 0.2))

    def line_count(self):
        with self._lines_lock:
            return len(self.lines)

    def wait_until_listening(self, timeout=30.0):
        return self.wait_for_line(r"Server is now listening on port", timeout)

    def send_console(self, line):
        self.process.stdin.write((line + "\n").encode("utf-8"))
        self.process.stdin.flush()

    def interrupt(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)

    def wait(self, timeout=30.0):
        try:
            self.returncode = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.returncode = self.process.wait()
            raise AssertionError("the server did not exit in time; output:\n" + self.output())
        if self._reader:
            self._reader.join(5)
        return self.returncode

    def stop(self, timeout=30.0):
        """SIGINT, then wait; returns the exit status."""
        self.interrupt()
        return self.wait(timeout)

    def run_to_exit(self, timeout=30.0):
        """For servers that are expected to end by themselves (failed starts)."""
        self.start()
        if self.use_stdin:
            self.process.stdin.close()
        return self.wait(timeout)

    def thread_names(self):
        names = []
        task = f"/proc/{self.process.pid}/task"
        for tid in os.listdir(task):
            try:
                with open(os.path.join(task, tid, "comm")) as handle:
                    names.append(handle.read().strip())
            except OSError:
                pass
        return names

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as handle:
            fields = handle.read().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / ticks

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status") as handle:
            for line in handle:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def close(self):
        if self.process:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
            if self._reader:
                self._reader.join(5)
            for stream in (self.process.stdin, self.process.stdout):
                if stream:
                    try:
                        stream.close()
                    except OSError:
                        pass
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        if self.process is None:
            self.start()
        return self

    def __exit__(self, kind, value, traceback):
        try:
            if kind is None and self.process and self.process.poll() is None:
                status = self.stop()
                if status != 0:
                    raise AssertionError(f"server exited with status {status}; output:\n" + self.output())
        finally:
            self.close()
