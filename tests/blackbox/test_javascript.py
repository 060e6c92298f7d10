"""JavaScript resources in the real server: scripts run, report their errors, handle events, use
timers and commands, and leave nothing behind when they stop."""

import os
import time
import unittest

from halden_client import Client
from test_resources import ResourceServer, resources_xml


def js_meta(*scripts, extra=""):
    entries = "".join(f'<script src="{name}" type="server" language="javascript"/>' for name in scripts)
    return f"<meta>{entries}{extra}</meta>"


class ScriptsRun(unittest.TestCase):
    def test_a_folder_and_the_same_resource_as_a_tar_archive_run_their_scripts(self):
        script = 'console.log("hello from " + thisResource.name + " at line " + (new Error()).lineNumber);\n'
        server = ResourceServer(extra_xml=resources_xml("plain", "packed"))
        server.add_resource("plain", js_meta("main.js"), {"main.js": script})
        server.add_resource("packed", js_meta("main.js"), {"main.js": script})
        server.pack_resource("packed", "packed")
        with server:
            server.wait_for_line(r"^hello from plain at line 1$")
            server.wait_for_line(r"^hello from packed at line 1$")
            server.wait_for_line(r"^2/2 Resources loaded, 0 failed$")

    def test_errors_are_reported_with_file_and_line_and_the_server_keeps_running(self):
        server = ResourceServer(extra_xml=resources_xml("broken", "throws", "rejects", "endless"))
        server.add_resource("broken", js_meta("bad.js"), {"bad.js": "let a = 1;\nlet = = 2;\n"})
        server.add_resource("throws", js_meta("throw.js"),
                            {"throw.js": "console.log('before');\n\nthrow new Error('deliberate');\n"})
        server.add_resource("rejects", js_meta("reject.js"),
                            {"reject.js": "Promise.reject(new Error('nobody listens'));\n"})
        server.add_resource("endless", js_meta("spin.js"),
                            {"spin.js": "async function spin() { for (;;) await null; }\nspin();\n"})
        with server:
            server.wait_for_line(r"^SyntaxError: ")
            server.wait_for_line(r"^File: /resources/broken/bad\.js Line: 2 Column: \d+$")
            server.wait_for_line(r"^Error: deliberate$")
            server.wait_for_line(r"^File: /resources/throws/throw\.js Line: 3 Column: \d+$")
            server.wait_for_line(r"^Error: nobody listens$")
            server.wait_for_line(r"^File: /resources/rejects/reject\.js Line: 1 Column: \d+$")
            server.wait_for_line(r"^Promise jobs ran for more than \d+ ms in one turn")
            # Still serving the console afterwards.
            server.command("frobnicate", r"'frobnicate' is not recognized")

    def test_async_functions_continue_after_await_in_handlers_and_timers(self):
        script = """
addEventHandler("OnResourceStart", async (event, resource) => {
    if (resource !== thisResource) return;
    await null;
    console.log("handler continued after await");
});
setTimeout(async () => {
    await new Promise(resolve => setTimeout(resolve, 50));
    console.log("timer continued after await");
}, 50);
"""
        server = ResourceServer(extra_xml=resources_xml("waits"))
        server.add_resource("waits", js_meta("wait.js"), {"wait.js": script})
        with server:
            server.wait_for_line(r"^handler continued after await$")
            server.wait_for_line(r"^timer continued after await$")


class EventsCommandsTimers(unittest.TestCase):
    SCRIPT = """
"use strict";
let ticks = 0;
addEvent("OnPing", 1);
addEventHandler("OnPing", (event, value) => { console.log("first handler " + value); });
addEventHandler("onping", (event, value) => { console.log("second handler " + value); event.preventDefault(); });
addCommandHandler("ping", (command, parameters) => {
    const prevented = triggerEvent("OnPing", null, parameters);
    console.log("ping answered, default prevented: " + prevented);
});
const timer = setInterval(() => {
    ticks++;
    console.log("tick " + ticks);
    if (ticks === 3) clearInterval(timer);
}, 100);
"""

    def test_a_script_command_runs_handlers_in_order_and_timers_repeat_until_cleared(self):
        server = ResourceServer(extra_xml=resources_xml("pinger"))
        server.add_resource("pinger", js_meta("ping.js"), {"ping.js": self.SCRIPT})
        with server:
            server.wait_for_line(r"^tick 3$")
            time.sleep(0.5)
            self.assertNotIn("tick 4", server.output())
            start = server.line_count()
            server.send_console("PING 42")
            server.wait_for_line(r"^first handler 42$", start=start)
            second = server.wait_for_line(r"^second handler 42$", start=start)
            server.wait_for_line(r"^ping answered, default prevented: true$", start=start)
            self.assertLess(server.lines.index("first handler 42", start), server.lines.index("second handler 42", start))

    def test_a_stopped_resource_leaves_no_handlers_commands_or_timers(self):
        script = """
addCommandHandler("hello", () => console.log("hello answered"));
addEventHandler("OnProcess", () => {});
setInterval(() => console.log("still ticking"), 100);
"""
        server = ResourceServer(extra_xml=resources_xml("chatty"))
        server.add_resource("chatty", js_meta("chat.js"), {"chat.js": script})
        with server:
            server.wait_for_line(r"^still ticking$")
            server.command("hello", r"^hello answered$")
            server.command("stop chatty", r"^Stopped resource chatty$")
            time.sleep(0.3)
            start = server.line_count()
            time.sleep(0.5)
            server.command("hello", r"'hello' is not recognized as an internal or external command")
            self.assertNotIn("still ticking", "\n".join(server.lines[start:]))

    def test_starting_a_running_resource_is_refused_and_a_missing_dependency_fails(self):
        server = ResourceServer(extra_xml=resources_xml("solo"))
        server.add_resource("solo", js_meta("solo.js"), {"solo.js": "console.log('solo runs');"})
        server.add_resource("needy", '<meta><dependency src="ghost"/></meta>')
        with server:
            server.wait_for_line(r"^solo runs$")
            server.command("start solo", r"^Failed to start resource solo$")
            server.command("start needy", r"^Unable to find the resource needy!$")


class ScriptsReachTheServer(unittest.TestCase):
    def test_a_script_ban_refuses_the_join_with_reason_seven(self):
        script = 'server.banIP("127.0.0.1", 0);\nconsole.log("banned: " + server.isIPBanned("127.0.0.1"));\n'
        server = ResourceServer(extra_xml=resources_xml("banner"))
        server.add_resource("banner", js_meta("ban.js"), {"ban.js": script})
        with server:
            server.wait_for_line(r"^banned: true$")
            with Client(server.port) as client:
                client.join("Banned")
                self.assertEqual(client.wait_disconnect(), 7)
            server.wait_for_line(r"CONNECT: 127\.0\.0\.1 revoked connection \[BANNED\]")


class Memory(unittest.TestCase):
    def test_starting_and_stopping_a_resource_two_hundred_times_keeps_memory_flat(self):
        script = """
addEventHandler("OnProcess", () => {});
addCommandHandler("probe", () => {});
setInterval(() => {}, 1000);
const data = [];
for (let i = 0; i < 1000; i++) data.push({ index: i, text: "entry " + i });
exportFunction("size", () => data.length);
"""
        server = ResourceServer(extra_xml=resources_xml("cycled"))
        server.add_resource("cycled", js_meta("cycle.js"), {"cycle.js": script})
        # Freed memory is reused at once, so resident memory shows what is really kept.
        os.environ["ASAN_OPTIONS"] = "abort_on_error=1:detect_leaks=1:quarantine_size_mb=0:thread_local_quarantine_size_kb=0"
        try:
            with server:
                server.wait_for_line(r"^START: Resource cycled started\.$")
                first = None
                for round_number in range(200):
                    server.command("stop cycled", r"^Stopped resource cycled$")
                    if round_number == 0:
                        first = server.rss_kib()
                    server.command("start cycled", r"^Started resource cycled$")
                server.command("stop cycled", r"^Stopped resource cycled$")
                last = server.rss_kib()
                print(f"\nresident memory after the first stop: {first} KiB, after the 201st: {last} KiB "
                      f"({(last - first) * 100.0 / first:+.1f}%)")
                self.assertLess(last, first * 1.10)
        finally:
            os.environ.pop("ASAN_OPTIONS", None)


if __name__ == "__main__":
    unittest.main()
