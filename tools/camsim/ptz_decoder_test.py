#!/usr/bin/python3
"""The head's reading of serial frames, on frames written by hand from the protocol
descriptions (so a decoder fault cannot hide behind a matching driver fault)."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from camsimlib.modules import ptz_decoder  # noqa: E402


def line(command, text):
    return ptz_decoder.line(ptz_decoder.decode(command, bytes.fromhex(text)))


class DecoderTest(unittest.TestCase):
    def test_frames(self):
        cases = [
            (0xFFDD, "FF 01 00 02 20 00 23", "pelco-d move pan=right pan_speed=32"),
            (0xFFDD, "FF 01 00 14 09 07 25", "pelco-d move pan=left pan_speed=9 tilt=down tilt_speed=7"),
            (0xFFDD, "FF 01 00 00 20 00 21", "pelco-d stop"),
            (0xFFDD, "FF 01 00 07 00 20 28", "pelco-d goto_preset preset=32"),
            (0xFFDD, "FF 01 00 2B 00 02 2E", "pelco-d focus_mode mode=manual"),
            (0xFFDD, "FF 01 00 02 20 00 24", "pelco-d invalid checksum"),
            (0xFFDD, "FF 01 00 06 20 00 27", "pelco-d invalid opposite directions at once"),
            (0x09A5, "80 00 02 01 B0 80 07 04 0C", "bicom store_preset preset=12"),
            (0x09A5, "80 00 06 01 10 85 03 84 00", "bicom move pan=left pan_speed=3 tilt=up tilt_speed=4"),
            (0x09A5, "80 00 04 01 B0 02 00 01", "bicom iris_mode mode=manual"),
            (0x09A5, "80 00 04 01 F0 82 00 00", "bicom stop_focus"),
            (0xFFDD, "87 00 01 05 00 00 00 0D", "osrd stop"),
            (0xFFDD, "87 00 00 05 0F 78 09 1C",
             "osrd move pan=right pan_speed=15 tilt=up tilt_speed=15"),
            (0xFFDD, "86 00 00 07 15 48 6A", "osrd goto_preset preset=200"),
            (0xFFDD, "87 00 01 05 00 00 00 0E", "osrd invalid checksum"),
            (0xFFDD, "88 00 01 05 00 00 00 0D", "osrd invalid length byte does not match"),
        ]
        for command, text, want in cases:
            with self.subTest(text=text):
                self.assertEqual(line(command, text.replace(" ", "")), want)


if __name__ == "__main__":
    unittest.main()
