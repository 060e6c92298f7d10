"""Start-up, configuration and shutdown of the real server binary."""

import os
import socket
import time
import unittest

from harness import ServerProcess, config_xml


class MissingOrBrokenConfiguration(unittest.TestCase):
    def run_failing(self, **kwargs):
        server = ServerProcess(**kwargs)
        try:
            status = server.run_to_exit(timeout=30)
            return status, server.output()
        finally:
            server.close()

    def test_without_server_xml_the_start_fails_without_waiting_for_a_key(self):
        for args in ([], ["-config", "missing.xml"]):
            with self.subTest(args=args):
                status, output = self.run_failing(write_config=False, args=args)
                self.assertEqual(status, 1)
                self.assertIn("I can't start because server.xml doesn't exist...", output)
                self.assertIn("Press any key to continue ...", output)

    def test_a_malformed_server_xml_fails_to_parse_with_the_parser_position(self):
        status, output = self.run_failing(config_text="<server>\n  <port>22000</prt>\n</server>\n")
        self.assertEqual(status, 1)
        self.assertIn("I can't start because server.xml failed to parse...", output)
        self.assertRegex(output, r"line 2")

    def test_refused_values_stop_the_start_with_their_message(self):
        cases = [
            ({"maxplayers": 0}, "", "The max players should at least be 1!"),
            ({"maxplayers": 128}, "", "The max players should not be set to anything more than 127!"),
            ({"maxplayers": -1}, "", "The max players should not be set to anything more than 127!"),
            ({"rcon": True, "rconport": 22500, "httpport": 22500}, "", "The rconport and httpport cannot match!"),
            ({"streaminterval": 499}, "",
             "The streaminterval must be greater than or equal to 500 and less than or equal to 5000!"),
            ({"streaminterval": 5001}, "",
             "The streaminterval must be greater than or equal to 500 and less than or equal to 5000!"),
            ({"game": "bully"}, "", "Failed to load vehicle colours!"),
            ({"game": "nonsense"}, "", "Failed to load vehicle colours!"),
        ]
        for settings, extra, message in cases:
            with self.subTest(settings=settings):
                status, output = self.run_failing(config=settings, extra_xml=extra)
                self.assertEqual(status, 1, output)
                self.assertIn(message, output)
                self.assertNotIn("Server is now listening", output)


class RunningServer(unittest.TestCase):
    def test_start_overrides_listen_and_stop_on_interrupt(self):
        server = ServerProcess(config={"port": 1})
        chosen = server.port
        server.args = ["-port", str(chosen), "-maxplayers", "200", "-disablemultithreaded"]
        with server:
            server.wait_for_line(r"^Server is starting\.\.\.$")
            server.wait_for_line(r"^Multithreading: disabled$")
            match = server.wait_until_listening()
            self.assertIn(f"Server is now listening on port {chosen} max players 200...", match.string)
            # The game port is bound: a second socket cannot take it.
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
                with self.assertRaises(OSError):
                    probe.bind(("127.0.0.1", chosen))
            status = server.stop()
            self.assertEqual(status, 0)
            server.wait_for_line(r"^Server shutting down\.\.\.$")
            log = server.log_text().split("\r\n")
            self.assertEqual(log[-1], "", "every line ends in CR LF")
            self.assertTrue(log[-3].endswith("---------------------- Logging Ended -----------------------"))
            self.assertTrue(any(line.endswith("[INFO]    Server shutting down...") for line in log))

    def test_maxplayers_beyond_the_client_table_is_clamped_with_a_warning(self):
        with ServerProcess(args=["-maxplayers", "1000"]) as server:
            server.wait_for_line(r"-maxplayers 1000 is more than the server can hold, using 255")
            server.wait_until_listening()
            self.assertIn("max players 255...", server.output())

    def test_a_second_interrupt_while_stopping_does_nothing(self):
        with ServerProcess() as server:
            server.wait_until_listening()
            server.interrupt()
            server.process.send_signal(2)
            self.assertEqual(server.wait(), 0)

    def test_startup_command_file_runs_slash_lines_ended_by_a_line_feed(self):
        files = {"commandline.txt": "/firstcommand\nplainword\n/lastcommand"}
        with ServerProcess(files=files) as server:
            server.wait_until_listening()
            server.wait_for_line(r"'firstcommand' is not recognized as an internal or external command")
            time.sleep(0.5)
            output = server.output()
            self.assertNotIn("plainword", output)
            self.assertNotIn("lastcommand", output)

    def test_an_idle_server_runs_about_ten_frames_a_second_and_uses_little_cpu(self):
        # A script-free measure: the idle loop sleeps 100 ms per frame, so its CPU time is tiny.
        with ServerProcess() as server:
            server.wait_until_listening()
            time.sleep(1.0)
            before = server.cpu_seconds()
            started = time.monotonic()
            time.sleep(3.0)
            used = server.cpu_seconds() - before
            share = used / (time.monotonic() - started)
            print(f"\nidle CPU share: {share * 100:.2f}% of one core (sanitizer build)")
            self.assertLess(share, 0.05)


if __name__ == "__main__":
    unittest.main()
