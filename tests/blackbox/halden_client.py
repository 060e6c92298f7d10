"""A game client for black-box tests of the halden server.

It speaks to the game port the way a game client does: ENet with the range-coder
compressor on and no checksum (the server's host sets none, and both ends must
agree), 32 channels, and every message framed by the 8-byte header (UInt32
0x54523402, UInt32 message id). Bodies are built and read with `Writer` and
`Reader`, which follow the server's stream encodings: little-endian scalars,
VarUInt (seven bits per byte, least significant group first) and String
(VarUInt byte count, then UTF-8 bytes, no terminator).

Run with Debian's /usr/bin/python3, which sees the python3-enet package.

    with Client(port) as client:
        client.join("Tester")
        body = client.expect(2)
        ...
        client.send(16, Writer().i32(6).data())
        reason = client.wait_disconnect()
"""

import hashlib
import struct
import time

import enet

HEADER_MAGIC = 0x54523402
HEADER = struct.Struct("<II")
DEFAULT_CHANNELS = 32

# The server's network version; it refuses any other value.
NETWORK_VERSION = 0

# Message ids of the connection lifecycle.
MSG_JOIN_REQUEST = 1
MSG_JOIN_ACCEPTED = 2
MSG_CLIENT_READY = 3
MSG_LOCAL_PLAYER = 5
MSG_RESOURCE_LIST = 8
MSG_JOIN_COMPLETE = 14
MSG_QUIT = 16
MSG_GAME_MODE = 17
MSG_CLIENT_LIST = 19
MSG_CLIENT_ADDED = 20
MSG_CLIENT_REMOVED = 21
MSG_SERVER_NAME = 29
MSG_CVARS = 30
MSG_ANTICHEAT = 149

# What the server sends after accepting a join request, in this order.
ACCEPTANCE_SEQUENCE = (MSG_ANTICHEAT, MSG_CVARS, MSG_JOIN_ACCEPTED, MSG_GAME_MODE, MSG_SERVER_NAME,
                       MSG_CLIENT_LIST)

# Disconnect reasons, sent as the transport's disconnect data.
DISCONNECT_TIMEOUT = 0
DISCONNECT_FULL = 1
DISCONNECT_UNSUPPORTEDCLIENT = 2
DISCONNECT_UNSUPPORTEDENGINE = 3
DISCONNECT_WRONGPASSWORD = 4
DISCONNECT_GRACEFUL = 6
DISCONNECT_BANNED = 7
DISCONNECT_FAILED = 8
DISCONNECT_INVALIDNICKNAME = 9
DISCONNECT_NICKNAMEINUSE = 12
DISCONNECT_KICKED = 13
DISCONNECT_ANTICHEAT = 14


class ShortRead(ValueError):
    """A read needed more bytes than the message holds, or met a malformed value."""


class Disconnected(Exception):
    """The server ended the connection; `reason` is its disconnect data."""

    def __init__(self, reason):
        super().__init__(f"disconnected with reason {reason}")
        self.reason = reason


class Writer:
    """Builds a message body. Every method returns the writer, so calls chain."""

    def __init__(self):
        self._buffer = bytearray()

    def _pack(self, fmt, value):
        self._buffer += struct.pack(fmt, value)
        return self

    def u8(self, value):
        return self._pack("<B", value)

    def i8(self, value):
        return self._pack("<b", value)

    def u16(self, value):
        return self._pack("<H", value)

    def i16(self, value):
        return self._pack("<h", value)

    def u32(self, value):
        return self._pack("<I", value)

    def i32(self, value):
        return self._pack("<i", value)

    def u64(self, value):
        return self._pack("<Q", value)

    def f32(self, value):
        return self._pack("<f", value)

    def f64(self, value):
        return self._pack("<d", value)

    def bool(self, value):
        return self.u8(1 if value else 0)

    def varuint(self, value):
        if not 0 <= value <= 0xFFFFFFFF:
            raise ValueError(f"VarUInt out of range: {value}")
        while value > 0x7F:
            self._buffer.append((value & 0x7F) | 0x80)
            value >>= 7
        self._buffer.append(value)
        return self

    def string(self, text):
        """A String: `text` (str as UTF-8, or bytes as they are) with its VarUInt byte count."""
        data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
        return self.varuint(len(data)).raw(data)

    def raw(self, data):
        self._buffer += bytes(data)
        return self

    def data(self):
        return bytes(self._buffer)


class Reader:
    """Reads a message body; every read needs its full width or raises ShortRead."""

    def __init__(self, data):
        self._data = bytes(data)
        self._position = 0

    @property
    def remaining(self):
        return len(self._data) - self._position

    def at_end(self):
        return self.remaining == 0

    def raw(self, count):
        if count < 0 or count > self.remaining:
            raise ShortRead(f"need {count} bytes, {self.remaining} remain")
        start = self._position
        self._position += count
        return self._data[start:self._position]

    def _unpack(self, fmt, size):
        return struct.unpack(fmt, self.raw(size))[0]

    def u8(self):
        return self._unpack("<B", 1)

    def i8(self):
        return self._unpack("<b", 1)

    def u16(self):
        return self._unpack("<H", 2)

    def i16(self):
        return self._unpack("<h", 2)

    def u32(self):
        return self._unpack("<I", 4)

    def i32(self):
        return self._unpack("<i", 4)

    def u64(self):
        return self._unpack("<Q", 8)

    def f32(self):
        return self._unpack("<f", 4)

    def f64(self):
        return self._unpack("<d", 8)

    def bool(self):
        return self.u8() != 0

    def varuint(self):
        value = 0
        for group in range(5):
            byte = self.u8()
            value |= (byte & 0x7F) << (7 * group)
            if not byte & 0x80:
                return value & 0xFFFFFFFF
        raise ShortRead("VarUInt longer than five bytes")

    def string_bytes(self):
        count = self.varuint()
        if count & 0x80000000:
            raise ShortRead(f"String count {count} has bit 31 set")
        return self.raw(count)

    def string(self):
        return self.string_bytes().decode("utf-8", errors="surrogateescape")


def frame(message_id, body=b""):
    """The bytes of one message: header, then body."""
    return HEADER.pack(HEADER_MAGIC, message_id) + bytes(body)


def parse_frame(data):
    """(message id, body) of a received message, or None when it lacks the header."""
    if len(data) < HEADER.size:
        return None
    magic, message_id = HEADER.unpack_from(data)
    if magic != HEADER_MAGIC:
        return None
    return message_id, bytes(data[HEADER.size:])


def build_join_request(nickname, password="", game=1, client_version=(1, 0, 0, 0),
                       network_version=NETWORK_VERSION):
    """The body of the join request (message 1), in its field order:

    UInt32 network version; four Int32 client version parts, most significant first;
    String password; UInt16 nickname byte count; the nickname bytes; UInt8 game id.

    `nickname` and `password` may be str (sent as UTF-8) or bytes (sent as they are),
    so tests can send empty, over-long or NUL-led names. Cut the result short to
    send a request that ends before its last field.
    """
    name = nickname.encode("utf-8") if isinstance(nickname, str) else bytes(nickname)
    writer = Writer().u32(network_version)
    for part in client_version:
        writer.i32(part)
    return (writer.string(password)
            .u16(len(name)).raw(name)
            .u8(game)
            .data())


# Script values (argument wire form): the payload layouts of the types a message can carry.
_FIXED_ARGUMENTS = {
    1: ("<B", lambda v: v[0] != 0),       # boolean
    4: ("<i", lambda v: v[0]),            # integer
    5: ("<f", lambda v: v[0]),            # float
    6: ("<i", lambda v: ("element", v[0])),  # element id
    8: ("<2f", tuple),                    # vector 2D
    9: ("<3f", tuple),                    # vector 3D
    11: ("<16f", tuple),                  # matrix, row by row
    15: ("<q", lambda v: v[0]),           # long integer
    16: ("<d", lambda v: v[0]),           # double
}
# Types whose payload is empty: nil, undefined, function, the script references.
_EMPTY_ARGUMENTS = {0: None, 12: None, 13: None, 14: None, 19: None, 20: None}
MAX_ARGUMENT_DEPTH = 32


def read_argument(reader, type_id, depth=0):
    """The value of one script argument whose type byte has been read already."""
    if depth >= MAX_ARGUMENT_DEPTH:
        raise ShortRead("argument nesting too deep")
    if type_id in _EMPTY_ARGUMENTS:
        return None
    if type_id in _FIXED_ARGUMENTS:
        fmt, convert = _FIXED_ARGUMENTS[type_id]
        return convert(struct.unpack(fmt, reader.raw(struct.calcsize(fmt))))
    if type_id == 2:
        return reader.string()
    if type_id == 21:
        return reader.string_bytes()
    if type_id == 17:
        return [read_argument(reader, reader.u8(), depth + 1) for _ in range(reader.u8())]
    if type_id == 18:
        result = {}
        for _ in range(reader.varuint()):
            value_type = reader.u8()
            key = reader.string()
            result[key] = read_argument(reader, value_type, depth + 1)
        return result
    raise ShortRead(f"argument type {type_id} has no wire form")


def read_data_block(reader):
    """Client or element data: UInt16 count, then String key, UInt8 type and payload each."""
    data = {}
    for _ in range(reader.u16()):
        key = reader.string()
        data[key] = read_argument(reader, reader.u8())
    return data


class ClientRecord:
    """One client as the join messages describe it."""

    ADMINISTRATOR = 1
    CONSOLE = 2

    def __init__(self, reader):
        self.flags = reader.u8()
        self.game = reader.i8()
        self.player = reader.i32()
        self.name = reader.string()
        self.data = read_data_block(reader)

    @property
    def administrator(self):
        return bool(self.flags & self.ADMINISTRATOR)

    @property
    def console(self):
        return bool(self.flags & self.CONSOLE)

    def __repr__(self):
        return (f"ClientRecord(name={self.name!r}, flags={self.flags}, game={self.game}, "
                f"player={self.player}, data={self.data!r})")


def parse_anticheat_files(body):
    """Message 149 from the server: the game paths whose digests the client must report."""
    reader = Reader(body)
    return [reader.string() for _ in range(reader.u32())]


def build_anticheat_digests(digests):
    """Message 149 to the server: UInt32 count, then each file's 16-byte MD5 digest in order."""
    writer = Writer().u32(len(digests))
    for digest in digests:
        if len(digest) != 16:
            raise ValueError("an MD5 digest has 16 bytes")
        writer.raw(digest)
    return writer.data()


def parse_cvars(body):
    """Message 30: [(name, value)], each entry prefixed by its VarUInt block length."""
    reader = Reader(body)
    result = []
    for _ in range(reader.u16()):
        block = Reader(reader.raw(reader.varuint()))
        result.append((block.string(), block.string()))
    return result


def parse_join_accepted(body):
    """Message 2: slot, HTTP port and address, sync interval, a zero byte and the sync method."""
    reader = Reader(body)
    return {
        "slot": reader.i32(),
        "http_port": reader.u16(),
        "http_url": reader.string(),
        "sync_interval": reader.u16(),
        "reserved": reader.u8(),
        "sync_method": reader.u8(),
    }


def parse_client_list(body):
    """Message 19: (maximum players, [(slot, ClientRecord)]) in slot order."""
    reader = Reader(body)
    count = reader.u16()
    max_players = reader.u16()
    clients = [(reader.i32(), ClientRecord(reader)) for _ in range(count)]
    return max_players, clients


def parse_client_added(body):
    """Message 20: (slot, ClientRecord)."""
    reader = Reader(body)
    if reader.u16() != 1:
        raise ShortRead("message 20 names one client")
    return reader.i32(), ClientRecord(reader)


def parse_client_removed(body):
    """Message 21: the slot that emptied."""
    reader = Reader(body)
    if reader.u16() != 1:
        raise ShortRead("message 21 names one client")
    return reader.i32()


class JoinResult:
    """What the server sent in answer to an accepted join request."""

    def __init__(self):
        self.anticheat_files = []
        self.cvars = []
        self.accepted = None
        self.game_mode = None
        self.server_name = None
        self.max_players = None
        self.clients = []

    @property
    def slot(self):
        return self.accepted["slot"]


class Client:
    """One ENet connection to the server's game port.

    Messages that arrive while waiting for another id are kept, in order, in
    `skipped` as (id, body); messages without the header in `malformed`.
    """

    def __init__(self, port, host="127.0.0.1", channels=DEFAULT_CHANNELS, connect_timeout=5.0,
                 connect_data=0):
        self.channels = channels
        self.skipped = []
        self.malformed = []
        self.disconnect_reason = None
        self._inbox = []
        self._host = enet.Host(None, 1, channels, 0, 0)
        self._host.compress_with_range_coder()
        self._peer = self._host.connect(enet.Address(host.encode(), port), channels, connect_data)
        deadline = time.monotonic() + connect_timeout
        while True:
            event = self._service(deadline)
            if event is None:
                raise TimeoutError(f"no connection to {host}:{port} within {connect_timeout} s")
            if event.type == enet.EVENT_TYPE_CONNECT:
                return
            if event.type == enet.EVENT_TYPE_DISCONNECT:
                raise ConnectionError(f"connection to {host}:{port} refused")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def connected(self):
        return self.disconnect_reason is None and self._peer is not None

    def send(self, message_id, body=b"", channel=0, reliable=True, unsequenced=False):
        """Sends one message with its header."""
        self.send_raw(frame(message_id, body), channel, reliable, unsequenced)

    def send_raw(self, data, channel=0, reliable=True, unsequenced=False):
        """Sends bytes as they are: for messages without, or with a damaged, header."""
        flags = 0
        if reliable:
            flags |= enet.PACKET_FLAG_RELIABLE
        if unsequenced:
            flags |= enet.PACKET_FLAG_UNSEQUENCED
        if self._peer.send(channel, enet.Packet(bytes(data), flags)) < 0:
            raise ConnectionError("ENet refused the packet")
        self._host.flush()

    def join(self, nickname, password="", game=1, client_version=(1, 0, 0, 0),
             network_version=NETWORK_VERSION):
        """Sends the join request (message 1) built by `build_join_request`.

        The server answers a refusal by disconnecting with a reason (see
        `wait_disconnect`), and an acceptance with messages 149, 30, 2, 17, 29
        and 19 in that order (see `expect` and `receive`).
        """
        self.send(1, build_join_request(nickname, password, game, client_version, network_version))

    def receive_acceptance(self, timeout=5.0):
        """Reads the acceptance messages (149, 30, 2, 17, 29, 19), which must come next and in
        that order; returns a JoinResult. Raises Disconnected when the join was refused."""
        result = JoinResult()
        for expected in ACCEPTANCE_SEQUENCE:
            message = self.receive(timeout)
            if message is None:
                raise TimeoutError(f"message {expected} did not arrive within {timeout} s")
            message_id, body = message
            if message_id != expected:
                raise AssertionError(f"expected message {expected}, got {message_id}")
            if message_id == MSG_ANTICHEAT:
                result.anticheat_files = parse_anticheat_files(body)
            elif message_id == MSG_CVARS:
                result.cvars = parse_cvars(body)
            elif message_id == MSG_JOIN_ACCEPTED:
                result.accepted = parse_join_accepted(body)
            elif message_id == MSG_GAME_MODE:
                result.game_mode = Reader(body).string()
            elif message_id == MSG_SERVER_NAME:
                result.server_name = Reader(body).string()
            else:
                result.max_players, result.clients = parse_client_list(body)
        return result

    def send_anticheat_digests(self, paths, files=None):
        """Answers message 149: the MD5 of files[path] (bytes) for every path asked for; a
        path missing from `files` is answered with the digest of nothing."""
        files = files or {}
        self.send(MSG_ANTICHEAT, build_anticheat_digests(
            [hashlib.md5(files.get(path, b"")).digest() for path in paths]))

    def join_and_ready(self, nickname, files=None, password="", game=1, client_version=(1, 0, 0, 0),
                       timeout=5.0):
        """Joins, reads the acceptance, answers the anticheat request with the digests of
        `files` (game path -> content bytes) and reports ready (message 3). Returns the
        JoinResult; the messages that follow "ready" are left for `expect`."""
        self.join(nickname, password, game, client_version)
        result = self.receive_acceptance(timeout)
        self.send_anticheat_digests(result.anticheat_files, files)
        self.send(MSG_CLIENT_READY)
        return result

    def quit(self, reason=None):
        """Message 16, with the reason as its Int32 body, or without a body."""
        self.send(MSG_QUIT, b"" if reason is None else Writer().i32(reason).data())

    def pump(self, seconds=0.05):
        """Services the connection for a while (acknowledgements go out, arrivals are kept)."""
        deadline = time.monotonic() + seconds
        while self._host is not None and self._service(deadline) is not None:
            pass

    def receive(self, timeout=5.0):
        """The next message as (id, body), or None when none arrives in time.

        Raises Disconnected when the server has ended the connection.
        """
        if self._inbox:
            return self._inbox.pop(0)
        deadline = time.monotonic() + timeout
        while not self._inbox:
            if self.disconnect_reason is not None:
                raise Disconnected(self.disconnect_reason)
            if self._service(deadline) is None:
                return None
        return self._inbox.pop(0)

    def expect(self, message_id, timeout=5.0):
        """The body of the next message with this id; others are kept in `skipped`.

        Raises TimeoutError when none arrives in time and Disconnected when the
        server ends the connection first.
        """
        deadline = time.monotonic() + timeout
        while True:
            message = self.receive(max(0.0, deadline - time.monotonic()))
            if message is None:
                raise TimeoutError(f"message {message_id} did not arrive within {timeout} s")
            if message[0] == message_id:
                return message[1]
            self.skipped.append(message)

    def wait_disconnect(self, timeout=5.0):
        """The server's disconnect reason; messages that arrive before it are kept in `skipped`."""
        deadline = time.monotonic() + timeout
        while self.disconnect_reason is None:
            self.skipped.extend(self._inbox)
            self._inbox.clear()
            if self._service(deadline) is None:
                raise TimeoutError(f"still connected after {timeout} s")
        self.skipped.extend(self._inbox)
        self._inbox.clear()
        return self.disconnect_reason

    def disconnect(self, reason=0, timeout=2.0):
        """Leaves gracefully with `reason` as the disconnect data."""
        if not self.connected:
            return
        self._peer.disconnect(reason)
        deadline = time.monotonic() + timeout
        while self.disconnect_reason is None:
            if self._service(deadline) is None:
                self._peer.reset()
                break
        self._peer = None

    def close(self):
        """Leaves at once without waiting for the server."""
        if self.connected:
            self._peer.disconnect_now(0)
        self._peer = None
        self._host = None

    def _service(self, deadline):
        """Services until one event arrives (returned) or the deadline passes (None)."""
        while True:
            remaining_ms = int((deadline - time.monotonic()) * 1000)
            event = self._host.service(max(0, min(remaining_ms, 50)))
            if event is not None and event.type != enet.EVENT_TYPE_NONE:
                self._record(event)
                return event
            if remaining_ms <= 0:
                return None

    def _record(self, event):
        if event.type == enet.EVENT_TYPE_RECEIVE:
            message = parse_frame(event.packet.data)
            if message is None:
                self.malformed.append(bytes(event.packet.data))
            else:
                self._inbox.append(message)
        elif event.type == enet.EVENT_TYPE_DISCONNECT:
            self.disconnect_reason = event.data
