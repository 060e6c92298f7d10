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

import struct
import time

import enet

HEADER_MAGIC = 0x54523402
HEADER = struct.Struct("<II")
DEFAULT_CHANNELS = 32

# The server's network version; it refuses any other value.
NETWORK_VERSION = 0


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
