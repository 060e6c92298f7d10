"""Joining the real server over loopback with a real ENet client: refusals, acceptance, the
anticheat gate, ready, quit, malformed messages and the network thread."""

import hashlib
import re
import socket
import time
import unittest

import enet

from halden_client import (ACCEPTANCE_SEQUENCE, DISCONNECT_ANTICHEAT, DISCONNECT_FULL,
                           DISCONNECT_GRACEFUL, DISCONNECT_INVALIDNICKNAME,
                           DISCONNECT_NICKNAMEINUSE, DISCONNECT_UNSUPPORTEDCLIENT,
                           DISCONNECT_UNSUPPORTEDENGINE, DISCONNECT_WRONGPASSWORD,
                           MSG_CLIENT_ADDED, MSG_CLIENT_READY, MSG_CLIENT_REMOVED,
                           MSG_JOIN_COMPLETE, MSG_LOCAL_PLAYER, MSG_RESOURCE_LIST, Client,
                           Disconnected, Reader, build_join_request, frame, parse_client_added,
                           parse_client_removed)
from harness import ServerProcess

HANDLING = b"mass 1500\ndrag 2.0\n"
WEAPONS = bytes(range(256)) * 10
ANTICHEAT_XML = """  <anticheat>
    <file path="data/handling.cfg" src="handling.cfg"/>
    <file path="data/weapon.dat" src="weapon.dat"/>
  </anticheat>
  <cvar name="weather" value="sunny"/>"""
ANTICHEAT_FILES = {"handling.cfg": HANDLING, "weapon.dat": WEAPONS}
GAME_FILES = {"data/handling.cfg": HANDLING, "data/weapon.dat": WEAPONS}


def warning_line(server, text, timeout=10.0):
    """Waits for an output line that ends with exactly this text."""
    return server.wait_for_line(re.escape(text) + r"$", timeout)


class JoinRefusals(unittest.TestCase):
    def test_each_refusal_cause_logs_its_line_and_disconnects_with_its_reason(self):
        config = {"maxplayers": 2, "minclientversion": "1.0.0.0", "duplicatenames": False}
        with ServerProcess(config=config) as server:
            server.wait_until_listening()
            holders = []
            try:
                cases = [
                    ("network version 1", dict(nickname="Ann", network_version=1),
                     "CONNECT: 127.0.0.1 (1) revoked connection [UNSUPPORTED CLIENT]",
                     DISCONNECT_UNSUPPORTEDCLIENT, None),
                    ("client version below the minimum", dict(nickname="Ann", client_version=(0, 9, 9, 9)),
                     "CONNECT: 127.0.0.1 revoked connection [UNSUPPORTED CLIENT]",
                     DISCONNECT_UNSUPPORTEDCLIENT, None),
                    ("nickname of 32 bytes", dict(nickname="n" * 32),
                     "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]", DISCONNECT_INVALIDNICKNAME, None),
                    ("empty nickname", dict(nickname=""),
                     "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]", DISCONNECT_INVALIDNICKNAME, None),
                    ("another game", dict(nickname="Zed", game=2),
                     "CONNECT: Zed revoked connection [WRONG GAME]", DISCONNECT_UNSUPPORTEDENGINE, None),
                    ("the console's name", dict(nickname="CONSOLE"),
                     "CONNECT: CONSOLE revoked connection [NICKNAME IN USE]", DISCONNECT_NICKNAMEINUSE, None),
                    ("a taken name in another case", dict(nickname="ANN"),
                     "CONNECT: ANN revoked connection [NICKNAME IN USE]", DISCONNECT_NICKNAMEINUSE, ["Ann"]),
                    ("a full server", dict(nickname="Cat"),
                     "CONNECT: Cat revoked connection [SERVER FULL]", DISCONNECT_FULL, ["Bob"]),
                ]
                for what, request, line, reason, joined_first in cases:
                    with self.subTest(what):
                        for name in joined_first or []:
                            holder = Client(server.port)
                            holders.append(holder)
                            holder.join_and_ready(name)
                        start = server.line_count()
                        with Client(server.port) as client:
                            client.join(**request)
                            self.assertEqual(client.wait_disconnect(), reason)
                            server.wait_for_line(re.escape(line) + "$", 10, start)
                            self.assertEqual([m for m, _ in client.skipped], [],
                                             "a refused client is sent nothing")
            finally:
                for holder in holders:
                    holder.close()

    def test_a_wrong_password_is_refused_and_a_flood_from_one_address_runs_few_checks(self):
        with ServerProcess(config={"password": "secret"}) as server:
            server.wait_until_listening()
            with Client(server.port) as client:
                started = time.monotonic()
                client.join("Ann", password="secret")
                client.receive_acceptance()
                one_check = time.monotonic() - started
                client.disconnect()

            # Ten wrong guesses at once from one address: a few run bcrypt, the rest are refused
            # without it, and even the right password must wait for the allowance to come back.
            clients = [Client(server.port) for _ in range(10)]
            try:
                started = time.monotonic()
                for client in clients:
                    client.join("Guess", password="wrong")
                for client in clients:
                    self.assertEqual(client.wait_disconnect(timeout=20), DISCONNECT_WRONGPASSWORD)
                flood = time.monotonic() - started
            finally:
                for client in clients:
                    client.close()
            warning_line(server, "CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]")
            with Client(server.port) as late:
                late.join("Ann", password="secret")
                self.assertEqual(late.wait_disconnect(), DISCONNECT_WRONGPASSWORD)
            print(f"\naccepted join with a password: {one_check * 1000:.0f} ms; "
                  f"10 wrong passwords at once answered in {flood * 1000:.0f} ms (sanitizer build)")
            time.sleep(2.5)
            with Client(server.port) as patient:
                patient.join("Ann", password="secret")
                self.assertEqual(patient.receive_acceptance().slot, 0)


class Joining(unittest.TestCase):
    def server(self, **config):
        settings = {"gamemode": "Freeroam", "servername": "Join test", "httpport": 8123,
                    "httpurl": "files.example", "syncinterval": 45, "syncmethod": "replay",
                    "maxplayers": 12}
        settings.update(config)
        return ServerProcess(config=settings, extra_xml=ANTICHEAT_XML, files=ANTICHEAT_FILES)

    def test_an_accepted_client_gets_the_join_messages_in_order_then_joins_when_ready(self):
        with self.server() as server:
            server.wait_until_listening()
            with Client(server.port) as ann:
                ann.join("Ann")
                result = ann.receive_acceptance()
                self.assertEqual(result.anticheat_files, ["data/handling.cfg", "data/weapon.dat"])
                self.assertEqual(result.cvars, [("weather", "sunny")])
                self.assertEqual(result.accepted, {"slot": 0, "http_port": 8123, "http_url": "files.example",
                                                   "sync_interval": 45, "reserved": 0, "sync_method": 2})
                self.assertEqual(result.game_mode, "Freeroam")
                self.assertEqual(result.server_name, "Join test")
                self.assertEqual(result.max_players, 12)
                self.assertEqual([(slot, record.name, record.flags, record.game, record.player)
                                  for slot, record in result.clients],
                                 [(0, "Ann", 0, 1, -1), (255, "Console", 3, 1, -1)])
                server.wait_for_line(r"CONNECT: 127\.0\.0\.1 is attempting to connect$")

                # Nothing but the digests is handled before they match.
                ann.send(MSG_CLIENT_READY)
                self.assertIsNone(ann.receive(timeout=0.5))
                ann.send_anticheat_digests(result.anticheat_files, GAME_FILES)
                ann.send(MSG_CLIENT_READY)
                self.assertEqual(Reader(ann.expect(MSG_RESOURCE_LIST)).i32(), 0)
                self.assertEqual(Reader(ann.expect(MSG_LOCAL_PLAYER)).i32(), -1)
                self.assertEqual(ann.expect(MSG_JOIN_COMPLETE), b"")
                self.assertEqual(ann.skipped, [])

                # A second "ready" is ignored.
                ann.send(MSG_CLIENT_READY)
                self.assertIsNone(ann.receive(timeout=0.5))

    def test_clients_see_each_other_arrive_and_leave(self):
        with self.server() as server:
            server.wait_until_listening()
            with Client(server.port) as ann, Client(server.port) as bob, Client(server.port) as cy:
                ann.join_and_ready("Ann", GAME_FILES)
                bob_join = bob.join_and_ready("Bob", GAME_FILES)
                self.assertEqual(bob_join.slot, 1)
                self.assertEqual([(slot, record.name) for slot, record in bob_join.clients],
                                 [(0, "Ann"), (1, "Bob"), (255, "Console")])
                slot, record = parse_client_added(ann.expect(MSG_CLIENT_ADDED))
                self.assertEqual((slot, record.name, record.flags), (1, "Bob", 0))
                cy.join_and_ready("Cy", GAME_FILES)

                # A quit without a body leaves with reason 6; everyone hears of the empty slot.
                bob.quit()
                self.assertEqual(bob.wait_disconnect(), DISCONNECT_GRACEFUL)
                self.assertEqual(parse_client_removed(ann.expect(MSG_CLIENT_REMOVED)), 1)
                self.assertEqual(parse_client_removed(cy.expect(MSG_CLIENT_REMOVED)), 1)

                with Client(server.port) as dan:
                    self.assertEqual(dan.join_and_ready("Dan", GAME_FILES).slot, 1, "the lowest free slot")

    def test_wrong_digests_disconnect_with_the_anticheat_reason(self):
        with self.server() as server:
            server.wait_until_listening()
            with Client(server.port) as cheat:
                cheat.join("Cheat")
                result = cheat.receive_acceptance()
                cheat.send_anticheat_digests(result.anticheat_files, {"data/handling.cfg": HANDLING})
                self.assertEqual(cheat.wait_disconnect(), DISCONNECT_ANTICHEAT)
            warning_line(server, "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED - data/weapon.dat]")

    def test_malformed_messages_are_dropped_without_harm(self):
        with self.server() as server:
            server.wait_until_listening()
            with Client(server.port) as ann:
                ann.join_and_ready("Ann", GAME_FILES)
                ann.expect(MSG_JOIN_COMPLETE)
                ann.send_raw(b"no header here at all")
                ann.send_raw(frame(6)[:6])
                ann.send_raw(b"\x02")
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as raw:
                    raw.sendto(b"\xff\xff", ("127.0.0.1", server.port))
                    raw.sendto(b"\xff\xffQGP" + bytes(40), ("127.0.0.1", server.port))
                # The server still answers, and the first client is still there to hear of it.
                with Client(server.port) as bob:
                    self.assertEqual(bob.join_and_ready("Bob", GAME_FILES).slot, 1)
                self.assertEqual(parse_client_added(ann.expect(MSG_CLIENT_ADDED))[0], 1)
                self.assertTrue(ann.connected)


class NetworkThread(unittest.TestCase):
    def wait_for_thread(self, server, present, timeout=10.0, client=None):
        """Whether "NetworkThread" is (or is not) among the server's threads within the time;
        `client` is serviced meanwhile, so that its acknowledgements reach the server."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if ("NetworkThread" in server.thread_names()) == present:
                return True
            if client:
                client.pump(0.05)
            else:
                time.sleep(0.05)
        return False

    def test_the_network_thread_runs_only_while_peers_are_connected(self):
        with ServerProcess(config={"multithreaded": True}) as server:
            server.wait_until_listening()
            self.assertNotIn("NetworkThread", server.thread_names())
            with Client(server.port) as ann:
                self.assertTrue(self.wait_for_thread(server, True, client=ann))
                ann.join_and_ready("Ann")
                ann.quit()
                ann.wait_disconnect()
            self.assertTrue(self.wait_for_thread(server, False), "gone after the last peer left")

    def test_a_storm_of_200_peers_leaves_the_server_responsive_with_every_slot_empty(self):
        with ServerProcess(config={"multithreaded": True, "maxplayers": 100}) as server:
            server.wait_until_listening()
            host = enet.Host(None, 200, 32, 0, 0)
            host.compress_with_range_coder()
            address = enet.Address(b"127.0.0.1", server.port)
            peers = [host.connect(address, 32, 0) for _ in range(200)]
            open_peers = set(range(200))
            joined = 0
            thread_seen = False
            deadline = time.monotonic() + 60
            while open_peers and time.monotonic() < deadline:
                if not thread_seen:
                    thread_seen = "NetworkThread" in server.thread_names()
                event = host.service(10)
                if event is None or event.type == enet.EVENT_TYPE_NONE:
                    continue
                index = event.peer.incomingPeerID
                if event.type == enet.EVENT_TYPE_CONNECT:
                    # Every third peer leaves at once; the rest join first, and half of those
                    # leave without waiting for an answer.
                    if index % 3 == 0:
                        event.peer.disconnect_now(0)
                        open_peers.discard(index)
                        continue
                    event.peer.send(0, enet.Packet(frame(1, build_join_request(f"Storm{index}")),
                                                   enet.PACKET_FLAG_RELIABLE))
                    if index % 2 == 0:
                        event.peer.disconnect(0)
                elif event.type == enet.EVENT_TYPE_RECEIVE:
                    if event.packet.data[4] == 19:
                        joined += 1
                        event.peer.disconnect(12 if index % 5 == 0 else 0)
                elif event.type == enet.EVENT_TYPE_DISCONNECT:
                    open_peers.discard(index)
            for index in list(open_peers):
                peers[index].disconnect_now(0)
            host.flush()
            self.assertGreater(joined, 0)
            self.assertTrue(thread_seen, "the storm ran with the network thread")

            started = time.monotonic()
            with Client(server.port) as probe:
                result = probe.join_and_ready("Probe")
            answer = time.monotonic() - started
            print(f"\nstorm: {joined} joins among 200 peers; next join answered in {answer * 1000:.0f} ms")
            self.assertEqual(result.slot, 0)
            self.assertEqual([slot for slot, _ in result.clients], [0, 255], "every other slot is empty")
            self.assertTrue(self.wait_for_thread(server, False, timeout=30))


if __name__ == "__main__":
    unittest.main()
