"""The test client's encoders and decoders, checked against the server's encodings (no server)."""

import unittest

from halden_client import (Reader, ShortRead, Writer, build_join_request, frame,
                           parse_frame)


class WriterMatchesTheWireEncodings(unittest.TestCase):
    def test_scalars_are_little_endian_and_of_their_full_width(self):
        cases = [
            (lambda w: w.u8(0xAB), "ab"),
            (lambda w: w.i8(-2), "fe"),
            (lambda w: w.u16(0x1234), "3412"),
            (lambda w: w.i16(-2), "feff"),
            (lambda w: w.u32(0x54523402), "02345254"),
            (lambda w: w.i32(-1), "ffffffff"),
            (lambda w: w.u64(1), "0100000000000000"),
            (lambda w: w.f32(1.0), "0000803f"),
            (lambda w: w.f64(-2.0), "00000000000000c0"),
            (lambda w: w.bool(True).bool(False), "0100"),
        ]
        for write, expected in cases:
            with self.subTest(expected=expected):
                self.assertEqual(write(Writer()).data().hex(), expected)

    def test_varuint_uses_seven_bits_per_byte_least_significant_first(self):
        cases = [(0, "00"), (127, "7f"), (128, "8001"), (300, "ac02"), (16384, "808001"),
                 (0xFFFFFFFF, "ffffffff0f")]
        for value, expected in cases:
            with self.subTest(value=value):
                encoded = Writer().varuint(value).data()
                self.assertEqual(encoded.hex(), expected)
                self.assertEqual(Reader(encoded).varuint(), value)

    def test_varuint_outside_32_bits_is_refused(self):
        for value in (-1, 1 << 32):
            with self.subTest(value=value), self.assertRaises(ValueError):
                Writer().varuint(value)

    def test_string_is_a_varuint_byte_count_then_utf8_bytes(self):
        cases = [("", "00"), ("ab", "026162"), ("é", "02c3a9"), (b"\x00x", "020078")]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(Writer().string(text).data().hex(), expected)
        self.assertEqual(Writer().string("x" * 128).data()[:2].hex(), "8001")


class ReaderRefusesWhatTheMessageDoesNotHold(unittest.TestCase):
    def test_reads_round_trip_in_order(self):
        data = (Writer().u8(1).u16(2).u32(3).i32(-4).f32(0.5).varuint(1000).string("name")
                .data())
        reader = Reader(data)
        self.assertEqual([reader.u8(), reader.u16(), reader.u32(), reader.i32(), reader.f32(),
                          reader.varuint(), reader.string()], [1, 2, 3, -4, 0.5, 1000, "name"])
        self.assertTrue(reader.at_end())

    def test_truncated_or_malformed_values_raise_short_read(self):
        cases = [
            ("u32 from three bytes", "010203", lambda r: r.u32()),
            ("u8 from nothing", "", lambda r: r.u8()),
            ("varuint whose fifth byte continues", "ffffffffff", lambda r: r.varuint()),
            ("varuint cut after a continuation byte", "80", lambda r: r.varuint()),
            ("string longer than what remains", "0561", lambda r: r.string()),
            ("string count with bit 31 set", "8080808008", lambda r: r.string()),
            ("negative raw count", "00", lambda r: r.raw(-1)),
        ]
        for name, data, read in cases:
            with self.subTest(name), self.assertRaises(ShortRead):
                read(Reader(bytes.fromhex(data)))

    def test_a_failed_read_consumes_nothing(self):
        reader = Reader(bytes.fromhex("0102"))
        with self.assertRaises(ShortRead):
            reader.u32()
        self.assertEqual(reader.u16(), 0x0201)


class MessageFraming(unittest.TestCase):
    def test_frame_writes_the_header_before_the_body(self):
        self.assertEqual(frame(5).hex(), "0234525405000000")
        self.assertEqual(frame(42, b"\x01").hex(), "02345254" "2a000000" "01")

    def test_parse_frame_returns_none_without_a_complete_header(self):
        cases = [("0234525405000000aa", (5, b"\xaa")), ("023452542a000000", (42, b"")),
                 ("023452552a000000", None), ("023452542a00", None), ("", None)]
        for data, expected in cases:
            with self.subTest(data=data):
                self.assertEqual(parse_frame(bytes.fromhex(data)), expected)


class JoinRequest(unittest.TestCase):
    def test_fields_follow_in_the_order_the_server_reads_them(self):
        body = build_join_request("Ann", password="pw", game=2, client_version=(1, 2, 3, 4))
        expected = ("00000000"                                  # network version
                    "01000000" "02000000" "03000000" "04000000"  # client version
                    "02" "7077"                                  # password
                    "0300" "416e6e"                              # nickname length and bytes
                    "02")                                        # game
        self.assertEqual(body.hex(), expected)

    def test_byte_nicknames_are_sent_as_given(self):
        body = build_join_request(b"\x00bad")
        reader = Reader(body)
        reader.raw(4 + 16)
        reader.string()
        self.assertEqual(reader.raw(reader.u16()), b"\x00bad")
        self.assertEqual(reader.u8(), 1)
        self.assertTrue(reader.at_end())


if __name__ == "__main__":
    unittest.main()
