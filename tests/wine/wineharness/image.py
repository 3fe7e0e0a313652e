"""Pictures of the screen and what the backdrop window must look like in
them.

The backdrop covers the work area (left, top, right, bottom on the screen;
client size W x H, since the window has no frame). It shows 256 horizontal
bands, band k (1..256) covering client rows floor((k-1)H/256) up to
floor(kH/256)-1 in pure blue 255 - floor(255(k-1)/256) (red and green 0), a
white frame two pixels wide along the client's edges, and the title in
shadowed letters: white text whose black copy lies 2 pixels right of and 2
below it, starting at (dpi/3 - 1, dpi/4 - 1) for the white text (31, 23 at
96 dpi).
"""

from __future__ import annotations

import dataclasses
import subprocess
from pathlib import Path

WHITE = (255, 255, 255)


@dataclasses.dataclass
class Image:
    width: int
    height: int
    rgb: bytes  # rows top to bottom, 3 bytes a pixel

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]


def parse_ppm(data: bytes) -> Image:
    """Reads a binary PPM (P6, 8-bit)."""
    fields: list[bytes] = []
    i = 0
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            i = data.index(b"\n", i) + 1
            continue
        start = i
        while not data[i:i + 1].isspace():
            i += 1
        fields.append(data[start:i])
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    i += 1  # the single blank after the maximum value
    rgb = data[i:i + width * height * 3]
    if len(rgb) != width * height * 3:
        raise ValueError("PPM data is short")
    return Image(width, height, rgb)


def load(path: Path) -> Image:
    """Loads any picture ImageMagick reads."""
    ppm = subprocess.run(["convert", str(path), "-depth", "8", "ppm:-"], check=True,
                         capture_output=True).stdout
    return parse_ppm(ppm)


def band_blue(k: int) -> int:
    return 255 - (255 * (k - 1)) // 256


def row_blue(y: int, height: int) -> int:
    """The blue of client row y: that of the band whose rows hold it."""
    # Band k holds rows floor((k-1)H/256) .. floor(kH/256)-1, so row y is in
    # the band k with floor((k-1)H/256) <= y < floor(kH/256).
    k = (256 * y) // height + 1
    while (k * height) // 256 <= y:
        k += 1
    while ((k - 1) * height) // 256 > y:
        k -= 1
    return band_blue(k)


@dataclasses.dataclass
class Box:
    left: int
    top: int
    right: int   # last column, inclusive
    bottom: int  # last row, inclusive


def _bounding_box(points: list[tuple[int, int]]) -> Box | None:
    if not points:
        return None
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return Box(min(xs), min(ys), max(xs), max(ys))


def check_backdrop(image: Image, rect: tuple[int, int, int, int], dpi: int = 96,
                   clear_width: int = 24) -> list[str]:
    """Checks the backdrop in a screenshot; returns the faults found.

    `rect` is the backdrop window's screen rectangle. Only parts that no
    dialog covers are looked at: the frame, a strip `clear_width` pixels
    wide inside the frame at the left and at the right (the bands), and the
    top-left region where the title is drawn.
    """
    faults: list[str] = []
    left, top, right, bottom = rect
    w, h = right - left, bottom - top
    if right > image.width or bottom > image.height or w < 64 or h < 64:
        return [f"backdrop rect {rect} does not fit the {image.width}x{image.height} picture"]

    def px(x: int, y: int) -> tuple[int, int, int]:
        return image.pixel(left + x, top + y)

    # Frame: two white pixels deep along every edge.
    wrong = [(x, y) for x in range(w) for y in (0, 1, h - 2, h - 1) if px(x, y) != WHITE]
    wrong += [(x, y) for y in range(h) for x in (0, 1, w - 2, w - 1) if px(x, y) != WHITE]
    if wrong:
        x, y = wrong[0]
        faults.append(f"frame: {len(wrong)} pixels not white, first at ({x},{y}): {px(x, y)}")

    # Bands, in the strips left and right of everything else.
    columns = list(range(2, 2 + clear_width)) + list(range(w - 2 - clear_width, w - 2))
    bad_rows = []
    for y in range(2, h - 2):
        want = (0, 0, row_blue(y, h))
        for x in columns:
            if px(x, y) != want:
                bad_rows.append((y, x, px(x, y), want))
                break
    if bad_rows:
        y, x, got, want = bad_rows[0]
        faults.append(f"bands: {len(bad_rows)} rows off, first row {y} at column {x}: "
                      f"{got}, expected {want}")

    # Title: white text, its black copy 2 pixels right and down. Wine draws
    # a default-quality font smoothed whatever the font smoothing setting,
    # so edges are blends; a pixel counts as white when at least half
    # white, as black when at least half black, and colours in the title's
    # box are blends of white, black and the band's blue (red = green).
    # Only the first line of text is looked at (a line of a 48-point font is
    # about 1.15 times its character height of 48 * dpi / 72 pixels, plus
    # the shadow): dialogs, centred on the screen, stay below it.
    text_left, text_top = dpi // 3 - 1, dpi // 4 - 1  # inset frame 1, shadow -2
    char_height = 48 * dpi // 72
    region = Box(text_left, text_top, w - 3, min(h - 3, text_top + char_height * 5 // 4 + 2))
    whites, blacks, tinted = [], [], []
    not_band = set()
    for y in range(region.top, region.bottom + 1):
        blue = row_blue(y, h)
        for x in range(region.left, region.right + 1):
            r, g, b = p = px(x, y)
            if p == (0, 0, blue):
                continue
            not_band.add((x, y))
            if r >= 128 and g >= 128:
                whites.append((x, y))
            elif r < 64 and g < 64 and b < blue // 2:
                blacks.append((x, y))
            if r != g:
                tinted.append((x, y, p))
    white_box, black_box = _bounding_box(whites), _bounding_box(blacks)
    if white_box is None or black_box is None or len(whites) < 200:
        faults.append(f"title: {len(whites)} white and {len(blacks)} black text pixels")
        return faults
    # Dialogs sit apart from the title; inside the title's own box every
    # colour is a blend of the title's.
    inside = [(x, y, p) for x, y, p in tinted
              if white_box.left <= x <= black_box.right and white_box.top <= y <= black_box.bottom]
    if inside:
        x, y, p = inside[0]
        faults.append(f"title: {len(inside)} pixels of another colour, first at ({x},{y}): {p}")
    if not (text_left <= white_box.left <= text_left + dpi // 8
            and text_top <= white_box.top <= text_top + dpi // 3):
        faults.append(f"title: white text starts at ({white_box.left},{white_box.top}), "
                      f"expected just right of and below ({text_left},{text_top})")
    # The black text's last half-covered pixels lie 2 pixels past the white
    # text's; where the white text still covers them a little, the last
    # ones that read as black lie 1 pixel past.
    if not (white_box.right + 1 <= black_box.right <= white_box.right + 2
            and white_box.bottom + 1 <= black_box.bottom <= white_box.bottom + 2):
        faults.append(f"title: black text ends at ({black_box.right},{black_box.bottom}), "
                      f"expected 2 pixels right of and below the white text's end "
                      f"({white_box.right},{white_box.bottom})")
    # The first line of text is as tall as the letters of a 48-point font:
    # its character height is 48 * dpi / 72 pixels, capitals about 0.7 of it.
    rows_with_white = {y for _, y in whites}
    line_end = white_box.top
    while line_end in rows_with_white:
        line_end += 1
    line_height = line_end - white_box.top
    if not (char_height * 6 // 10 <= line_height <= char_height):
        faults.append(f"title: first line of text {line_height} pixels tall, expected the "
                      f"letters of a {char_height}-pixel font")
    # Where the white text covers a pixel at least half, the black text
    # covers the pixel 2 right and 2 down as much: that one is not the band.
    unshadowed = [(x, y) for x, y in whites if (x + 2, y + 2) not in not_band]
    if unshadowed:
        x, y = unshadowed[0]
        faults.append(f"title: {len(unshadowed)} white pixels without a black shadow 2 pixels "
                      f"right and down, first at ({x},{y})")
    return faults
