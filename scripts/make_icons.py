#!/usr/bin/env python3
"""Draws the installer's two icons and writes them as .ico files.

    scripts/make_icons.py [OUTPUT_DIR]     (default: res/ beside this script)

Writes installer.ico (the application icon: a DSP chip with pins and a
sound wave) and small.ico (the small icon: the same chip without pins and
with a bolder wave, so that it still reads at 16 x 16 when Windows scales
it down).  Each file holds one 128 x 128 image, 32 bits per pixel, in the
BMP form (BITMAPINFOHEADER, colour pixels bottom-up, then the AND mask),
because Windows XP cannot read PNG-compressed icon images.

Only the standard library is used, and the output depends on nothing but
this file, so the committed icons can be rebuilt byte for byte.
"""

import math
import os
import struct
import sys

SIZE = 128
# Samples per pixel along each axis; 4 x 4 gives smooth edges.
SUPERSAMPLE = 4

# Colours as (red, green, blue).
PIN = (196, 203, 212)
PIN_SHADE = (140, 148, 160)
BODY_TOP = (44, 104, 178)
BODY_BOTTOM = (20, 52, 104)
RIM = (92, 150, 220)
WAVE = (120, 232, 255)
WAVE_CORE = (236, 252, 255)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def rounded_rect_distance(x, y, left, top, right, bottom, radius):
    """Signed distance to a rounded rectangle; negative inside."""
    cx = (left + right) / 2.0
    cy = (top + bottom) / 2.0
    hx = (right - left) / 2.0 - radius
    hy = (bottom - top) / 2.0 - radius
    qx = abs(x - cx) - hx
    qy = abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - radius


class Wave:
    """A sine stroke from x0 to x1 around the middle row, 1.5 periods long.

    Distances are measured to points sampled every quarter pixel along the
    curve, because the stroke is wider than the curve's radius at its peaks
    and any cheaper estimate bulges there."""

    STEP = 0.25

    def __init__(self, x0, x1, amplitude, half_width, core):
        self.x0, self.x1 = x0, x1
        self.half_width, self.core = half_width, core
        k = 2.0 * math.pi * 1.5 / (x1 - x0)
        count = int(round((x1 - x0) / self.STEP))
        self.points = [(x0 + i * self.STEP,
                        64.0 - amplitude * math.sin(k * i * self.STEP))
                       for i in range(count + 1)]
        self.top = 64.0 - amplitude - half_width
        self.bottom = 64.0 + amplitude + half_width

    def distance(self, x, y):
        """Distance to the curve, or None when farther than the stroke."""
        if y < self.top or y > self.bottom:
            return None
        if x < self.x0 - self.half_width or x > self.x1 + self.half_width:
            return None
        first = max(0, int((x - self.half_width - self.x0) / self.STEP))
        last = min(len(self.points) - 1,
                   int((x + self.half_width - self.x0) / self.STEP) + 1)
        best = None
        for i in range(first, last + 1):
            px, py = self.points[i]
            d = (px - x) * (px - x) + (py - y) * (py - y)
            if best is None or d < best:
                best = d
        if best is None or best > self.half_width * self.half_width:
            return None
        return math.sqrt(best)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def chip_pins(x, y):
    """Colour of the pins at (x, y), or None; four pins on each side."""
    for i in range(4):
        c = 37.0 + i * 18.0
        for (l, t, r, b) in (
            (8.0, c - 4.0, 26.0, c + 4.0),       # left
            (102.0, c - 4.0, 120.0, c + 4.0),    # right
            (c - 4.0, 8.0, c + 4.0, 26.0),       # top
            (c - 4.0, 102.0, c + 4.0, 120.0),    # bottom
        ):
            if rounded_rect_distance(x, y, l, t, r, b, 2.5) <= 0.0:
                # Shade the half of each pin nearer the body.
                near = (l < 20.0 < r and x > 17.0) or (l < 108.0 < r and x < 111.0) \
                    or (t < 20.0 < b and y > 17.0) or (t < 108.0 < b and y < 111.0)
                return PIN_SHADE if near else PIN
    return None


def draw_sample(x, y, with_pins, box, radius, wave):
    """Colour and opacity (r, g, b, a in 0..1 for a) of one sample."""
    colour = None
    if with_pins:
        colour = chip_pins(x, y)
    left, top, right, bottom = box
    d = rounded_rect_distance(x, y, left, top, right, bottom, radius)
    if d <= 0.0:
        colour = mix(BODY_TOP, BODY_BOTTOM, clamp01((y - top) / (bottom - top)))
        if d > -3.0:
            colour = RIM
    wd = wave.distance(x, y)
    if wd is not None:
        colour = WAVE_CORE if wd <= wave.core else WAVE
    if colour is None:
        return (0.0, 0.0, 0.0, 0.0)
    return (colour[0], colour[1], colour[2], 1.0)


def render(with_pins, box, radius, wave):
    """Returns SIZE x SIZE pixels, top row first, each (b, g, r, a) bytes."""
    rows = []
    n = SUPERSAMPLE
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            pr = pg = pb = pa = 0.0
            for sy in range(n):
                for sx in range(n):
                    x = px + (sx + 0.5) / n
                    y = py + (sy + 0.5) / n
                    r, g, b, a = draw_sample(x, y, with_pins, box, radius, wave)
                    pr += r * a
                    pg += g * a
                    pb += b * a
                    pa += a
            if pa == 0.0:
                row.append((0, 0, 0, 0))
            else:
                # Icon pixels carry straight, not premultiplied, alpha.
                row.append((int(round(pb / pa)), int(round(pg / pa)),
                            int(round(pr / pa)), int(round(255.0 * pa / (n * n)))))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One-image .ico file in BMP form from top-first rows of BGRA."""
    xor = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        for (b, g, r, a) in row:
            xor += bytes((b, g, r, a))
    # AND mask: one bit per pixel, set where the pixel is fully transparent;
    # each row is padded to a multiple of 32 bits.
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, 2 * SIZE, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    # Width and height 128 fit the one-byte fields; 0 would mean 256.
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image),
                        len(icondir) + 16)
    return icondir + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'res')
    os.makedirs(out, exist_ok=True)
    icons = {
        # pins, body box, corner radius, wave (x0, x1, amplitude, half
        # width, half width of the bright core)
        'installer.ico': render(True, (22.0, 22.0, 106.0, 106.0), 12.0,
                                Wave(36.0, 92.0, 16.0, 4.5, 1.8)),
        'small.ico': render(False, (8.0, 8.0, 120.0, 120.0), 22.0,
                            Wave(26.0, 102.0, 22.0, 9.0, 4.0)),
    }
    for name, rows in icons.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(ico_bytes(rows))


if __name__ == '__main__':
    main()
