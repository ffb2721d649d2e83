#!/usr/bin/env python3
"""Draws Kavendo's logo and icon and writes them beside this script.

The pictures are ours: strokes and shapes placed by hand on a grid below. The program carries
the XPM files; the desktop takes the icon as PNG in every size it asks for, and as SVG. All
these files are committed; run this script again only after changing a drawing here.
"""

import math
import pathlib
import struct
import zlib

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

    def write_png(self, name):
        """8-bit RGBA; the colour "None" is transparent."""
        def rgba(colour):
            return bytes(4) if colour == NONE else bytes.fromhex(colour[1:]) + b"\xff"

        raw = b"".join(b"\0" + b"".join(rgba(c) for c in row) for row in self.pixels)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        (HERE / name).write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                                  + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


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
GRID = 32  # the icon is drawn on a grid of 32 by 32 units


def draw_book(box, detailed):
    """A closed red book standing a little turned, its pages showing at the bottom right.

    box(left, top, right, bottom, colour) fills a rectangle of grid units, right and bottom
    excluded. The fine lines of the cover and its label are left out when detailed is false:
    at 16 pixels they would only blur it.
    """
    # The block of pages behind the cover, seen along its right and bottom edges; their lines
    # stay a pixel apart at 16 pixels.
    box(10, 6, 29, 31, GREY)
    box(10, 7, 28, 30, WHITE)
    pitch = 2 if detailed else 4
    for y in range(8, 29, pitch):
        box(25, y, 28, y + 1, SILVER)
    for x in range(11, 27, pitch):
        box(x, 27, x + 1, 30, SILVER)
    # The cover with its outline, the spine on the left and a label for the title.
    box(6, 2, 25, 27, BLACK)
    box(7, 3, 24, 26, RED)
    box(7, 3, 11, 26, MAROON)
    if detailed:
        box(10, 3, 11, 26, BLACK)
        box(14, 6, 22, 12, YELLOW)
        box(15, 8, 21, 9, GREY)
        box(15, 9, 20, 10, GREY)
        box(23, 3, 24, 26, MAROON)
        box(11, 25, 24, 26, MAROON)
    else:
        box(14, 7, 22, 10, YELLOW)


def draw_book_pixels(size):
    book = Canvas(size, size, NONE)

    def at(units):
        return math.floor(units * size / GRID + 0.5)

    def box(left, top, right, bottom, colour):
        # Every shape keeps at least one pixel, however small the icon.
        x, y = at(left), at(top)
        book.rect(x, y, max(at(right), x + 1) - 1, max(at(bottom), y + 1) - 1, colour)

    draw_book(box, detailed=size >= GRID)
    return book


def write_book_svg(name):
    """The detailed book as squares on its grid, which scale to any size with sharp edges."""
    shapes = []

    def box(left, top, right, bottom, colour):
        shapes.append(f'  <rect x="{left}" y="{top}" width="{right - left}" '
                      f'height="{bottom - top}" fill="{colour}"/>')

    draw_book(box, detailed=True)
    lines = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{GRID}" height="{GRID}" '
             f'viewBox="0 0 {GRID} {GRID}" shape-rendering="crispEdges">'] + shapes + ["</svg>"]
    (HERE / name).write_text("\n".join(lines) + "\n", encoding="ascii")


if __name__ == "__main__":
    draw_logo()
    for size in (32, 16):
        draw_book_pixels(size).write_xpm(f"kavendo-{size}.xpm", ICON_KEYS)
    for size in (16, 32, 48, 64, 128, 256):
        draw_book_pixels(size).write_png(f"kavendo-{size}.png")
    write_book_svg("kavendo.svg")
