"""Resources of the real server: discovery, start from server.xml, console commands, archives."""

import os
import subprocess
import time
import unittest

from harness import ServerProcess


def resources_xml(*names):
    return "<resources>" + "".join(f'<resource src="{name}"/>' for name in names) + "</resources>"


class ResourceServer(ServerProcess):
    """A server whose resources folder is filled before it starts."""

    def add_resource(self, name, meta, files=None):
        self.write_file(os.path.join("resources", name, "meta.xml"), meta)
        for path, content in (files or {}).items():
            self.write_file(os.path.join("resources", name, path), content)

    def pack_resource(self, folder, name):
        """The folder as resources/<name>.tar made by the real tar program; the folder goes."""
        source = self.path("resources", folder)
        subprocess.run(["tar", "-C", source, "-cf", self.path("resources", name + ".tar"), "."], check=True)
        subprocess.run(["rm", "-r", source], check=True)

    def command(self, line, answer, timeout=20.0):
        """Types a console line and waits for the answer line after it."""
        start = self.line_count()
        self.send_console(line)
        return self.wait_for_line(answer, timeout, start)


FILES_META = '<meta author="bb"><file src="data/logo.png" type="client"/></meta>'


class StartFromConfiguration(unittest.TestCase):
    def test_configured_resources_start_in_order_and_the_summary_counts_failures(self):
        server = ResourceServer(extra_xml=resources_xml("alpha", "missing", "needy"))
        server.add_resource("alpha", FILES_META, {"data/logo.png": "png"})
        server.add_resource("needy", '<meta><dependency src="alpha"/></meta>')
        with server:
            server.wait_for_line(r"^Starting resources\.\.\.$")
            server.wait_for_line(r"^START: Resource alpha started\.$")
            server.wait_for_line(r"^Error loading resource missing: resource not found!$")
            server.wait_for_line(r"^START: Resource needy started\.$")
            server.wait_for_line(r"^2/3 Resources loaded, 1 failed$")
            # Client files are published under their hash names.
            published = os.listdir(server.path("htdocs", "resources", "alpha"))
            self.assertEqual(len(published), 1)
            self.assertRegex(published[0], r"^[0-9A-F]{64}$")

    def test_a_dependency_on_a_missing_resource_fails_the_meta_file_and_the_start(self):
        server = ResourceServer(extra_xml=resources_xml("needy"))
        server.add_resource("needy", '<meta><dependency src="ghost"/></meta>')
        with server:
            server.wait_for_line(r"^Unable to find dependency ghost for resource needy!$")
            server.wait_for_line(r"^Failed to load resource needy!$")
            server.wait_for_line(r"^Error loading resource needy: resource not found!$")
            server.wait_for_line(r"^0/1 Resources loaded, 1 failed$")


class ConsoleCommands(unittest.TestCase):
    def test_start_stop_restart_refresh_and_stopall_answer_on_the_console(self):
        server = ResourceServer()
        server.add_resource("race", FILES_META, {"data/logo.png": "png"})
        server.add_resource("[maps]/map", "<meta/>")
        with server:
            server.wait_until_listening()
            server.command("start race", r"^Started resource race$")
            self.assertIn("START: Starting resource race...", server.output())
            server.command("start race", r"^Failed to start resource race$")
            server.command("restart RACE", r"^Restarted resource race$")
            server.command("stop race", r"^Stopped resource race$")
            server.command("stop race", r"^Failed to stop resource race$")
            server.command("restart race", r"^Failed to restart resource race$")
            server.command("start", r"^No resource specified!$")
            server.command("stop nothing", r"^Unable to find the resource nothing!$")
            server.command("start race", r"^Started resource race$")
            server.command("start map", r"^Started resource map$")
            server.command("stopall", r"^Stopped 2 resources$")
            server.add_resource("fresh", "<meta/>")
            server.command("refresh", r"^Found new resource fresh$")
            server.wait_for_line(r"^3 resources in the resource cache$")
            server.command("nosuchthing now", r"^'nosuchthing' is not recognized as an internal or external "
                                              r"command, operable program or batch file\.$")

    def test_a_resource_removed_from_disk_goes_at_the_next_refresh_and_is_stopped_first(self):
        server = ResourceServer(extra_xml=resources_xml("doomed"))
        server.add_resource("doomed", "<meta/>")
        with server:
            server.wait_for_line(r"^START: Resource doomed started\.$")
            subprocess.run(["rm", "-r", server.path("resources", "doomed")], check=True)
            start = server.line_count()
            server.command("refresh", r"^Removing resource doomed$")
            server.wait_for_line(r"^STOP: Resource doomed stopped\.$", start=start)
            server.wait_for_line(r"^0 resources in the resource cache$", start=start)
            server.command("start doomed", r"^Unable to find the resource doomed!$")


class Archives(unittest.TestCase):
    def test_the_same_resource_as_a_folder_and_as_a_tar_archive_both_start(self):
        server = ResourceServer()
        server.add_resource("folder", FILES_META, {"data/logo.png": "png"})
        server.add_resource("packing", FILES_META, {"data/logo.png": "png"})
        server.pack_resource("packing", "packed")
        with server:
            server.wait_until_listening()
            server.command("start folder", r"^Started resource folder$")
            server.command("start packed", r"^Started resource packed$")
            folder = os.listdir(server.path("htdocs", "resources", "folder"))
            packed = os.listdir(server.path("htdocs", "resources", "packed"))
            self.assertEqual(folder, packed, "the same client file gets the same hash name")
            with open(server.path("htdocs", "resources", "packed", packed[0])) as handle:
                self.assertEqual(handle.read(), "png")
            server.command("stop packed", r"^Stopped resource packed$")


if __name__ == "__main__":
    unittest.main()
