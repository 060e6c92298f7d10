"""Console input of the real server: the input thread, its lines and the end of input."""

import time
import unittest

from harness import ServerProcess


class ConsoleInput(unittest.TestCase):
    def test_typed_lines_run_as_commands_and_quit_stops_the_server(self):
        with ServerProcess() as server:
            server.wait_until_listening()
            # The input thread starts at the end of start-up, a moment after the port opens.
            deadline = time.monotonic() + 10
            while "InputThread" not in server.thread_names() and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertIn("InputThread", server.thread_names())
            server.send_console("frobnicate")
            server.wait_for_line(r"^'frobnicate' is not recognized as an internal or external command, "
                                 r"operable program or batch file\.$")
            server.send_console("")
            server.wait_for_line(r"^'' is not recognized as an internal or external command")
            server.send_console("EXIT")
            self.assertEqual(server.wait(), 0)
            server.wait_for_line(r"^Server shutting down\.\.\.$")

    def test_lines_too_long_for_the_buffer_or_the_command_are_dropped_whole(self):
        with ServerProcess() as server:
            server.wait_until_listening()
            start = server.line_count()
            # Longer than the 4096-byte input buffer: never run in pieces.
            server.send_console("a" * 5000 + "tail")
            # 255 characters and the line feed: skipped by the main loop.
            server.send_console("b" * 255)
            server.send_console("marker")
            server.wait_for_line(r"^'marker' is not recognized", start=start)
            output = "\n".join(server.lines[start:])
            self.assertNotIn("tail", output)
            self.assertNotIn("aaaa", output)
            self.assertNotIn("bbbb", output)

    def test_noinput_starts_no_input_thread(self):
        with ServerProcess(args=["-noinput"]) as server:
            server.wait_until_listening()
            time.sleep(0.5)
            self.assertNotIn("InputThread", server.thread_names())
            server.send_console("frobnicate")
            time.sleep(1.0)
            self.assertNotIn("frobnicate", server.output())

    def test_the_server_keeps_running_at_the_end_of_standard_input(self):
        with ServerProcess() as server:
            server.wait_until_listening()
            server.process.stdin.close()
            time.sleep(2.5)
            self.assertIsNone(server.process.poll())
            self.assertIn("InputThread", server.thread_names())
            self.assertEqual(server.stop(), 0)


if __name__ == "__main__":
    unittest.main()
