#!/usr/bin/env python3
"""How the demo reads the progress bar off the screen, and whether the shipped
skin still has the controls the demo clicks and reads. No Wine needed."""

import os
import sys
import unittest

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "scenario"))
sys.path.insert(0, os.path.join(REPO, "scripts", "demo"))
from kit import flow  # noqa: E402
import progressbar  # noqa: E402

ACCENT = (0x2D, 0x7F, 0xF9)   # the skin's bar fill
TRACK = (0xE6, 0xEA, 0xF0)    # the skin's groove
WHITE = (255, 255, 255)


def picture(rows):
    data = b"".join(bytes(rgb) for row in rows for rgb in row)
    return flow.Screen(len(rows[0]), len(rows), data)


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


class ProgressBar(unittest.TestCase):

    def reading(self, row, width=100):
        return progressbar.bar_reading(picture([[WHITE] * len(row), row, [WHITE] * len(row)]), 4, 0, width, 3)

    def test_filled_share_of_the_bar(self):
        for filled in (0, 1, 37, 99, 100):
            shown, fraction = self.reading(bar_row(100, filled))
            self.assertTrue(shown, filled)
            # The smoothed ends may count either way: two pixels at most.
            self.assertAlmostEqual(fraction, filled / 100.0, delta=0.021, msg="%d pixels filled" % filled)

    def test_no_reading_without_the_whole_bar(self):
        self.assertEqual(self.reading([WHITE] * 108), (False, 0.0), "the waiting face shows no bar")
        half_covered = bar_row(100, 30)[:50] + [WHITE] * 58
        self.assertFalse(self.reading(half_covered)[0], "a bar half hidden by another window is no reading")


class ShippedSkin(unittest.TestCase):

    def test_the_demo_finds_what_it_clicks_and_reads(self):
        dui = os.path.join(REPO, "UISkin", "DazuvuVev.dui")
        for layout, control in (("MessageboxCalDUI", "OKBtn"), ("UpgradeDUI", "DownloadProgress")):
            rects = flow.layout_rects(dui, layout)
            self.assertIn(control, rects, layout)
            x, y, width, height = rects[control]
            self.assertGreater(width * height, 0, control)
            self.assertTrue(x >= 0 and y >= 0, control)


if __name__ == "__main__":
    unittest.main(verbosity=2)
