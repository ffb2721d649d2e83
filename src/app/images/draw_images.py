#!/usr/bin/env python3
"""Draws Kavendo's logo and icon and writes them as XPM files beside this script.

The pictures are ours: strokes and shapes placed by hand on a pixel grid below. The XPM files
are committed; run this script again only after changing a drawing here.
"""

import math
import pathlib

HERE = pathlib.Path(__file__).resolve().parent


class Canvas:
    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, left, top, right, bottom, colour):
        """Fills the pixels from (left, top) to (right, bottom), both corners included."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                self.put(x, y, colour)

    def stroke(self, points, width, colour):
        """A brush stroke of the given width through the points, with round ends."""
        radius = width / 2
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            for y in range(self.height):
                for x in range(self.width):
                    if distance_to_segment(x + 0.5, y + 0.5, x0, y0, x1, y1) <= radius:
                        self.put(x, y, colour)

    def write_xpm(self, name, palette):
        """palette maps each colour used to its one-character key in the file."""
        used = sorted({colour for row in self.pixels for colour in row}, key=palette.get)
        identifier = name.replace("-", "_").replace(".", "_")
        lines = [
            "/* XPM */",
            f"static const char *{identifier}[] = {{",
            f'"{self.width} {self.height} {len(used)} 1",',
        ]
        lines += [f'"{palette[colour]} c {colour}",' for colour in used]
        rows = ['"' + "".join(palette[c] for c in row) + '"' for row in self.pixels]
        lines += [row + "," for row in rows[:-1]] + [rows[-1], "};"]
        (HERE / name).write_text("\n".join(lines) + "\n", encoding="ascii")


def distance_to_segment(px, py, x0, y0, x1, y1):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    t = 0 if length2 == 0 else max(0, min(1, ((px - x0) * dx + (py - y0) * dy) / length2))
    return math.hypot(px - (x0 + t * dx), py - (y0 + t * dy))


TEAL = "#008080"
WHITE = "#FFFFFF"


def draw_logo():
    """古 over 诗, "old poems": white brush strokes on the teal of the poem panel."""
    logo = Canvas(50, 100, TEAL)
    w = 5  # stroke width

    # 古: a cross on top of a box.
    logo.stroke([(6, 15), (44, 15)], w, WHITE)
    logo.stroke([(25, 4), (25, 28)], w, WHITE)
    logo.stroke([(12, 27), (12, 45)], w, WHITE)
    logo.stroke([(12, 27), (38, 27), (38, 45)], w, WHITE)
    logo.stroke([(12, 42), (38, 42)], w, WHITE)

    # 诗: the speech radical on the left, 寺 (土 over 寸) on the right.
    top = 50
    logo.stroke([(6, top + 5), (10, top + 10)], w, WHITE)
    logo.stroke([(3, top + 19), (10, top + 19), (10, top + 41), (15, top + 36)], w - 1, WHITE)
    logo.stroke([(23, top + 10), (42, top + 10)], w - 1, WHITE)
    logo.stroke([(32, top + 3), (32, top + 19)], w - 1, WHITE)
    logo.stroke([(19, top + 20), (46, top + 20)], w - 1, WHITE)
    logo.stroke([(18, top + 29), (47, top + 29)], w - 1, WHITE)
    logo.stroke([(39, top + 24), (39, top + 45), (33, top + 41)], w - 1, WHITE)
    logo.stroke([(24, top + 34), (28, top + 39)], w - 1, WHITE)

    logo.write_xpm("logo.xpm", {TEAL: ".", WHITE: "#"})


# Colours of the 16-colour palette that the icon draws with.
NONE = "None"
BLACK = "#000000"
MAROON = "#800000"
RED = "#FF0000"
GREY = "#808080"
SILVER = "#C0C0C0"
YELLOW = "#FFFF00"
ICON_KEYS = {NONE: " ", BLACK: "k", MAROON: "m", RED: "r", GREY: "g", SILVER: "s", WHITE: "w",
             YELLOW: "y"}


def draw_book(size):
    """A closed red book standing a little turned, its pages showing at the bottom right."""
    book = Canvas(size, size, NONE)
    s = size / 32  # the 32-pixel drawing is the measure; the small one follows it

    def at(value):
        return int(round(value * s))

    left, top, right, bottom = at(6), at(2), at(24), at(26)
    depth = max(2, at(4))
    # The block of pages behind the cover, seen along its right and bottom edges.
    book.rect(left + depth, top + depth, right + depth, bottom + depth, GREY)
    book.rect(left + depth, top + depth + 1, right + depth - 1, bottom + depth - 1, WHITE)
    for y in range(top + depth + 2, bottom + depth - 1, 2):
        book.rect(right + 1, y, right + depth - 1, y, SILVER)
    for x in range(left + depth + 1, right + depth - 1, 2):
        book.rect(x, bottom + 1, x, bottom + depth - 1, SILVER)
    book.rect(left + depth, bottom + depth, right + depth, bottom + depth, GREY)
    book.rect(right + depth, top + depth, right + depth, bottom + depth, GREY)
    # The cover with its outline, the spine on the left and a label for the title.
    book.rect(left, top, right, bottom, BLACK)
    book.rect(left + 1, top + 1, right - 1, bottom - 1, RED)
    spine = max(1, at(3))
    book.rect(left + 1, top + 1, left + spine, bottom - 1, MAROON)
    if size >= 32:
        book.rect(left + spine + 1, top + 1, left + spine + 1, bottom - 1, BLACK)
        book.rect(at(14), at(6), at(21), at(11), YELLOW)
        book.rect(at(15), at(8), at(20), at(8), GREY)
        book.rect(at(15), at(10) - 1, at(19), at(10) - 1, GREY)
        book.rect(right - 1, top + 1, right - 1, bottom - 1, MAROON)
        book.rect(left + spine + 2, bottom - 1, right - 1, bottom - 1, MAROON)
    else:
        book.rect(at(14), at(7), at(21), at(9), YELLOW)
    book.write_xpm(f"kavendo-{size}.xpm", ICON_KEYS)


if __name__ == "__main__":
    draw_logo()
    draw_book(32)
    draw_book(16)
