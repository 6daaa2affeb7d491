"""The screen as pixels: grabbing it, cutting a window out of it, saving PNG
files, and reading how far a progress bar is filled."""

import subprocess
import xml.etree.ElementTree as ElementTree


class Image:
    """An RGB picture: width, height and rows of bytes (3 per pixel)."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.data = data

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, left, top, width, height):
        """The part inside the rectangle, clipped to the picture."""
        left, top = max(0, left), max(0, top)
        right, bottom = min(self.width, left + width), min(self.height, top + height)
        if right <= left or bottom <= top:
            raise ValueError("the rectangle lies outside the picture")
        rows = [self.data[(y * self.width + left) * 3:(y * self.width + right) * 3] for y in range(top, bottom)]
        return Image(right - left, bottom - top, b"".join(rows))

    def save_png(self, path):
        ppm = b"P6\n%d %d\n255\n" % (self.width, self.height) + self.data
        with open(path, "wb") as out:
            done = subprocess.run(["pnmtopng"], input=ppm, stdout=out, stderr=subprocess.DEVNULL, timeout=60)
        if done.returncode != 0:
            raise RuntimeError("pnmtopng could not write %s" % path)
        return path


def parse_ppm(data):
    """An Image from binary PPM (P6); xwdtopnm writes 16 bits a channel
    for deep screens."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    if magic != b"P6" or maxval not in (255, 65535):
        raise ValueError("not a binary PPM picture of 8 or 16 bits: %r" % data[:20])
    pos += 1  # the single white-space byte before the pixels
    if maxval == 255:
        pixels = data[pos:pos + width * height * 3]
    else:
        # 16-bit samples are big-endian: their high bytes are the 8-bit ones.
        pixels = data[pos:pos + width * height * 6:2]
    if len(pixels) != width * height * 3:
        raise ValueError("the PPM picture is cut short")
    return Image(width, height, pixels)


def grab():
    """The whole screen of $DISPLAY."""
    done = subprocess.run("xwd -root -silent | xwdtopnm 2>/dev/null", shell=True, stdout=subprocess.PIPE,
                          timeout=60)
    if done.returncode != 0 or not done.stdout:
        raise RuntimeError("could not grab the screen")
    return parse_ppm(done.stdout)


def is_bar_fill(rgb):
    """The skin draws the filled part in its blue accent colour and the
    groove in a pale grey; blue well above red tells them apart, also at
    the smoothed ends."""
    r, _, b = rgb
    return b - r > 100


def is_bar_groove(rgb):
    r, g, b = rgb
    return 200 <= r <= 245 and 200 <= g <= 245 and b >= r and b - r <= 40


def bar_reading(image, left, top, width, height):
    """(shown, fraction) of the progress bar at that place: shown is False
    while the bar is not on the screen (the waiting face), fraction is the
    filled share of its middle row, 0.0 to 1.0."""
    y = top + height // 2
    row = [image.pixel(x, y) for x in range(left, left + width)]
    filled = sum(1 for rgb in row if is_bar_fill(rgb))
    groove = sum(1 for rgb in row if is_bar_groove(rgb))
    shown = filled + groove >= width * 0.9
    return shown, (filled / float(width) if shown else 0.0)


class SkinLayout:
    """Control rectangles of one window layout of the skin file, in window
    pixels, so that clicks and readings follow the skin when it changes."""

    def __init__(self, dui_path, layout_name):
        root = ElementTree.parse(dui_path).getroot()
        self.layout = next((node for node in root.iter("layout") if node.get("name") == layout_name), None)
        if self.layout is None:
            raise ValueError("%s has no layout %r" % (dui_path, layout_name))

    def rect(self, name):
        """(x, y, width, height) of the named control, forms included."""
        found = self._find(self.layout, name, 0, 0)
        if found is None:
            raise ValueError("the layout has no control %r" % name)
        return found

    def _find(self, node, name, dx, dy):
        for child in node:
            x, y = dx + int(child.get("x", 0)), dy + int(child.get("y", 0))
            if child.get("name") == name:
                return x, y, int(child.get("width", 0)), int(child.get("height", 0))
            inner = self._find(child, name, x, y)
            if inner is not None:
                return inner
        return None
