"""The test client's encoders and decoders, checked against the server's encodings (no server)."""

import unittest

from halden_client import (ClientRecord, Reader, ShortRead, Writer, build_anticheat_digests,
                           build_join_request, frame, parse_client_list, parse_cvars,
                           parse_frame, read_argument)


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


class JoinAnswers(unittest.TestCase):
    def test_a_client_list_holds_records_with_their_data_blocks(self):
        body = bytes.fromhex(
            "0200" "1000"                                     # two entries, 16 players at most
            "00000000" "00" "01" "ffffffff" "03416e6e"        # slot 0: flags, game, player, name
            "0100" "047465616d" "04" "07000000"               # data: team = integer 7
            "ff000000" "03" "01" "ffffffff" "07436f6e736f6c65" "0000")
        max_players, clients = parse_client_list(body)
        self.assertEqual(max_players, 16)
        self.assertEqual([(slot, c.name, c.data, c.console) for slot, c in clients],
                         [(0, "Ann", {"team": 7}, False), (255, "Console", {}, True)])

    def test_console_variables_are_read_block_by_block(self):
        block = Writer().string("weather").string("sunny").data()
        body = Writer().u16(1).varuint(len(block)).raw(block).data()
        self.assertEqual(parse_cvars(body), [("weather", "sunny")])

    def test_script_values_of_every_container_kind_read_back(self):
        nested = (Writer().u8(2)                                    # array of two
                  .u8(2).string("x")                                 # string
                  .u8(18).varuint(1).u8(1).string("k").u8(1)         # map {k: true}
                  .data())
        self.assertEqual(read_argument(Reader(nested), 17), ["x", {"k": True}])
        self.assertEqual(read_argument(Reader(Writer().f32(1.5).data()), 5), 1.5)

    def test_malformed_records_and_values_raise_short_read(self):
        cases = [
            ("record cut in its name", lambda: ClientRecord(Reader(bytes.fromhex("000100000000" "05416e")))),
            ("value type without a wire form", lambda: read_argument(Reader(b""), 7)),
            ("arrays nested past the limit", lambda: read_argument(Reader(b"\x01\x11" * 40), 17)),
            ("data count beyond the entries", lambda: ClientRecord(Reader(bytes.fromhex(
                "00" "01" "ffffffff" "00" "0500")))),
        ]
        for name, parse in cases:
            with self.subTest(name), self.assertRaises(ShortRead):
                parse()

    def test_digests_must_be_sixteen_bytes(self):
        self.assertEqual(build_anticheat_digests([bytes(16)]).hex(), "01000000" + "00" * 16)
        with self.assertRaises(ValueError):
            build_anticheat_digests([bytes(15)])


if __name__ == "__main__":
    unittest.main()
