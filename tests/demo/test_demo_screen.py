#!/usr/bin/env python3
"""How the demo reads the screen: PPM pictures of both depths, cut-outs at the
screen's edges, the progress bar's filled share, and control rectangles from
the skin's layout file. No Wine needed."""

import os
import struct
import sys
import tempfile
import unittest

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "scripts", "demo"))
import screen  # noqa: E402

ACCENT = (0x2D, 0x7F, 0xF9)   # the skin's bar fill
TRACK = (0xE6, 0xEA, 0xF0)    # the skin's groove
WHITE = (255, 255, 255)


def picture(rows):
    """An Image from rows of RGB tuples."""
    data = b"".join(bytes(rgb) for row in rows for rgb in row)
    return screen.Image(len(rows[0]), len(rows), data)


def bar_row(width, filled, left_pad=4, right_pad=4):
    """A screen row with a bar of width pixels, filled pixels of it blue,
    the two ends smoothed as the skin's rounded corners draw them."""
    row = [WHITE] * left_pad
    for x in range(width):
        row.append(ACCENT if x < filled else TRACK)
    if filled:
        row[left_pad] = (150, 180, 250)  # smoothed start of the fill
    # smoothed end of the groove, or of the fill when it is full
    row[left_pad + width - 1] = (240, 242, 246) if filled < width else (150, 180, 250)
    return row + [WHITE] * right_pad


class PpmPictures(unittest.TestCase):

    def test_eight_and_sixteen_bit_screens_read_alike(self):
        pixels = [(1, 2, 3), (250, 128, 0), (0, 0, 255), (17, 34, 51)]
        eight = b"P6\n2 2\n255\n" + bytes(v for p in pixels for v in p)
        sixteen = b"P6\n# a comment\n2 2\n65535\n" + b"".join(struct.pack(">H", v * 257) for p in pixels for v in p)
        for data in (eight, sixteen):
            image = screen.parse_ppm(data)
            self.assertEqual((image.width, image.height), (2, 2))
            self.assertEqual([image.pixel(x, y) for y in range(2) for x in range(2)], pixels)

    def test_bad_pictures_are_refused(self):
        for data in (b"P5\n1 1\n255\n\x00", b"P6\n1 1\n4095\n\x00\x00\x00\x00\x00\x00", b"P6\n2 2\n255\n\x00\x00\x00"):
            with self.assertRaises(ValueError, msg=data):
                screen.parse_ppm(data)

    def test_cut_outs_are_clipped_to_the_screen(self):
        image = picture([[(x, y, 0) for x in range(5)] for y in range(4)])
        inner = image.crop(1, 1, 2, 2)
        self.assertEqual((inner.width, inner.height), (2, 2))
        self.assertEqual(inner.pixel(0, 0), (1, 1, 0))
        self.assertEqual(inner.pixel(1, 1), (2, 2, 0))
        corner = image.crop(-3, 2, 10, 10)
        self.assertEqual((corner.width, corner.height), (5, 2), "a window near the edge keeps what is visible")
        self.assertEqual(corner.pixel(0, 0), (0, 2, 0))
        with self.assertRaises(ValueError):
            image.crop(6, 0, 2, 2)

    def test_saved_png_has_the_picture_size(self):
        image = picture([[ACCENT] * 7] * 3)
        with tempfile.TemporaryDirectory() as folder:
            path = image.save_png(os.path.join(folder, "x.png"))
            with open(path, "rb") as f:
                head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (7, 3))


class ProgressBar(unittest.TestCase):

    def reading(self, row, width=100):
        image = picture([[WHITE] * len(row), row, [WHITE] * len(row)])
        return screen.bar_reading(image, 4, 0, width, 3)

    def test_filled_share_of_the_bar(self):
        for filled in (0, 1, 37, 99, 100):
            shown, fraction = self.reading(bar_row(100, filled))
            self.assertTrue(shown, filled)
            # The smoothed ends may count either way: two pixels at most.
            self.assertAlmostEqual(fraction, filled / 100.0, delta=0.021, msg="%d pixels filled" % filled)

    def test_the_waiting_face_shows_no_bar(self):
        self.assertEqual(self.reading([WHITE] * 108), (False, 0.0))
        half_covered = bar_row(100, 30)[:50] + [WHITE] * 58
        self.assertFalse(self.reading(half_covered)[0], "a bar half hidden by another window is no reading")


class SkinRectangles(unittest.TestCase):

    def write_layout(self, text):
        handle, path = tempfile.mkstemp(suffix=".dui")
        with os.fdopen(handle, "w", encoding="utf-8") as f:
            f.write(text)
        self.addCleanup(os.remove, path)
        return path

    def test_controls_inside_forms_are_in_window_pixels(self):
        path = self.write_layout(
            '<?xml version="1.0" encoding="utf-8"?><!-- c --><dui>'
            '<layout name="Other" width="10" height="10"><static name="Bar" x="1" y="1" width="2" height="2"/></layout>'
            '<layout name="W" width="300" height="200">'
            '<form name="Outer" x="10" y="40" width="200" height="100">'
            '<form x="5" y="6" width="50" height="50"><progress name="Bar" x="7" y="8" width="30" height="4"/></form>'
            '</form><button name="OK" x="100" y="150" width="80" height="30" text="升级"/></layout></dui>')
        layout = screen.SkinLayout(path, "W")
        self.assertEqual(layout.rect("Bar"), (22, 54, 30, 4), "offsets of both forms added once")
        self.assertEqual(layout.rect("Outer"), (10, 40, 200, 100))
        self.assertEqual(layout.rect("OK"), (100, 150, 80, 30))
        with self.assertRaises(ValueError):
            layout.rect("Missing")
        with self.assertRaises(ValueError):
            screen.SkinLayout(path, "Nowhere")

    def test_the_shipped_skin_has_what_the_demo_clicks_and_reads(self):
        dui = os.path.join(REPO, "UISkin", "DazuvuVev.dui")
        for layout_name, control in (("MessageboxCalDUI", "OKBtn"), ("UpgradeDUI", "DownloadProgress")):
            layout = screen.SkinLayout(dui, layout_name)
            x, y, width, height = layout.rect(control)
            window_width, window_height = int(layout.layout.get("width")), int(layout.layout.get("height"))
            self.assertTrue(0 <= x and x + width <= window_width and 0 <= y and y + height <= window_height,
                            "%s lies outside its window %s" % (control, layout_name))
            self.assertGreater(width * height, 0, control)


if __name__ == "__main__":
    unittest.main(verbosity=2)
