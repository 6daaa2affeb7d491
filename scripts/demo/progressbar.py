"""How far the upgrade window's progress bar is filled, read from the screen
as a person would see it."""


def is_bar_fill(rgb):
    """The skin draws the filled part in its blue accent colour and the
    groove in a pale grey; blue well above red tells them apart, also at
    the smoothed ends."""
    r, _, b = rgb
    return b - r > 100


def is_bar_groove(rgb):
    r, g, b = rgb
    return 200 <= r <= 245 and 200 <= g <= 245 and b >= r and b - r <= 40


def bar_reading(picture, left, top, width, height):
    """(shown, fraction) of the bar at that place of the picture (anything
    with pixel(x, y) -> (r, g, b)): shown is False while the bar is not on
    the screen (the waiting face, or another window over it), fraction is
    the filled share of its middle row, 0.0 to 1.0."""
    y = top + height // 2
    row = [picture.pixel(x, y) for x in range(left, left + width)]
    filled = sum(1 for rgb in row if is_bar_fill(rgb))
    groove = sum(1 for rgb in row if is_bar_groove(rgb))
    shown = filled + groove >= width * 0.9
    return shown, (filled / float(width) if shown else 0.0)
