#!/usr/bin/env python3
"""Draws the launcher's button pictures, the small numbered icons and the
program's desktop icon.

Writes 32-bit ICO files (BMP with alpha) into picture/, the desktop icon as
PNG files, one per size of the hicolor theme, into icons/, and all of them as the
Windows program icon icons/ondaspa.ico. Shapes are sampled
4 x 4 per pixel for smooth edges. Run it again after changing a drawing.
"""
import math
import os
import struct
import zlib

SUPERSAMPLE = 4
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "picture")
ICONS = os.path.join(HERE, "icons")


def icon_sizes():
    """The desktop icon's sizes, from icons/sizes (shared with the packaging)."""
    with open(os.path.join(ICONS, "sizes"), encoding="utf-8") as listed:
        return [int(word) for line in listed if not line.startswith("#") for word in line.split()]


BLUE = (53, 112, 168)
WHITE = (255, 255, 255)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def ring(cx, cy, r_in, r_out, a0, a1):
    """Arc of a ring between angles a0 and a1 (degrees, 0 = right, counter-clockwise)."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not (r_in <= d <= r_out):
            return False
        a = math.degrees(math.atan2(cy - y, x - cx))
        return a0 <= a <= a1
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            (xa, ya), (xb, yb) = points[i], points[(i + 1) % n]
            if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                hit = not hit
        return hit
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def vertical_gradient(top, bottom, height):
    def colour(_x, y):
        t = min(max(y / height, 0.0), 1.0)
        return tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3))
    return colour


def render(size, layers):
    """layers: list of (shape, colour) where colour is an RGB tuple or a function of (x, y)."""
    pixels = []
    step = 1.0 / SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = px + (sx + 0.5) * step
                    y = py + (sy + 0.5) * step
                    for shape, colour in reversed(layers):
                        if shape(x, y):
                            c = colour(x, y) if callable(colour) else colour
                            acc[0] += c[0]
                            acc[1] += c[1]
                            acc[2] += c[2]
                            acc[3] += 1
                            break
            n = SUPERSAMPLE * SUPERSAMPLE
            if acc[3]:
                row.append(tuple(int(acc[i] / acc[3]) for i in range(3)) + (int(255 * acc[3] / n),))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels


def bmp_entry(pixels):
    """One icon image as a 32-bit BMP with alpha, bottom row first."""
    size = len(pixels)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return size, header + bytes(xor) + mask


def write_ico(path, entries):
    """An ICO file of (size, image bytes) entries, BMP or PNG images alike."""
    icondir = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b""
    for size, image in entries:
        dim = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(icondir + directory + b"".join(image for _, image in entries))


def png_bytes(pixels):
    """RGBA, 8 bits per channel, no ancillary chunks: the same drawing gives the same bytes."""
    size = len(pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in pixels)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def tile(size, top, bottom):
    m = size * 0.04
    return (rounded_rect(m, m, size - m, size - m, size * 0.18), vertical_gradient(top, bottom, size))


def minifs_picture():
    s = 128
    layers = [tile(s, (88, 150, 210), BLUE)]
    # A stack of three discs: one image holding many files.
    for i, cy in enumerate((84, 64, 44)):
        body = union(ellipse(64, cy, 34, 11), rounded_rect(30, cy - 12, 98, cy, 0.1))
        layers.append((union(body, ellipse(64, cy - 12, 34, 11)), WHITE))
        layers.append((ellipse(64, cy - 12, 30, 8), (200, 222, 242) if i < 2 else (235, 244, 252)))
    return render(s, layers)


def sound_picture():
    s = 128
    layers = [tile(s, (255, 176, 84), (226, 114, 38))]
    speaker = union(rounded_rect(24, 50, 46, 78, 3), polygon([(44, 52), (68, 30), (68, 98), (44, 76)]))
    layers.append((speaker, WHITE))
    for r in (20, 34):
        layers.append((ring(70, 64, r, r + 7, -50, 50), WHITE))
    return render(s, layers)


def update_picture():
    s = 128
    layers = [tile(s, (96, 196, 120), (36, 140, 72))]
    arrow = union(rounded_rect(55, 24, 73, 66, 3), polygon([(38, 62), (90, 62), (64, 90)]))
    tray = minus(rounded_rect(26, 78, 102, 104, 6), rounded_rect(36, 70, 92, 94, 2))
    layers.append((union(arrow, tray), WHITE))
    return render(s, layers)


# Seven-segment digits: a, b, c, d, e, f, g.
SEGMENTS = {
    0: "abcdef", 1: "bc", 2: "abdeg", 3: "abcdg", 4: "bcfg",
    5: "acdfg", 6: "acdefg", 7: "abc", 8: "abcdefg", 9: "abcdfg",
}


def digit_shape(d, x0, y0, w, h, t):
    segs = {
        "a": rounded_rect(x0, y0, x0 + w, y0 + t, t / 2),
        "d": rounded_rect(x0, y0 + h - t, x0 + w, y0 + h, t / 2),
        "g": rounded_rect(x0, y0 + (h - t) / 2, x0 + w, y0 + (h + t) / 2, t / 2),
        "f": rounded_rect(x0, y0, x0 + t, y0 + h / 2, t / 2),
        "e": rounded_rect(x0, y0 + h / 2, x0 + t, y0 + h, t / 2),
        "b": rounded_rect(x0 + w - t, y0, x0 + w, y0 + h / 2, t / 2),
        "c": rounded_rect(x0 + w - t, y0 + h / 2, x0 + w, y0 + h, t / 2),
    }
    return union(*(segs[c] for c in SEGMENTS[d]))


def number_picture(n):
    s = 32
    layers = [(ellipse(16, 16, 15, 15), vertical_gradient((88, 150, 210), BLUE, s))]
    digits = [int(c) for c in str(n)]
    w, h, t, gap = 8, 16, 2.2, 2
    total = len(digits) * w + (len(digits) - 1) * gap
    x = (s - total) / 2
    for d in digits:
        layers.append((digit_shape(d, x, 8, w, h, t), WHITE))
        x += w + gap
    return render(s, layers)


def desktop_icon(s):
    """A loudspeaker cabinet with tweeter and woofer on the launcher's blue tile."""
    u = s / 128.0
    layers = [tile(s, (88, 150, 210), BLUE)]
    layers.append((rounded_rect(34 * u, 14 * u, 94 * u, 114 * u, 10 * u), WHITE))
    layers.append((ellipse(64 * u, 38 * u, 12 * u, 12 * u), BLUE))
    layers.append((ellipse(64 * u, 38 * u, 5 * u, 5 * u), (200, 222, 242)))
    layers.append((ellipse(64 * u, 80 * u, 23 * u, 23 * u), BLUE))
    layers.append((ellipse(64 * u, 80 * u, 10 * u, 10 * u), (200, 222, 242)))
    return render(s, layers)


def main():
    os.makedirs(OUT, exist_ok=True)
    os.makedirs(ICONS, exist_ok=True)
    write_ico(os.path.join(OUT, "minifs.ico"), [bmp_entry(minifs_picture())])
    write_ico(os.path.join(OUT, "sound_type.ico"), [bmp_entry(sound_picture())])
    write_ico(os.path.join(OUT, "update.ico"), [bmp_entry(update_picture())])
    for n in range(11):
        write_ico(os.path.join(OUT, "N%d.ico" % n), [bmp_entry(number_picture(n))])
    program_icon = []
    for size in icon_sizes():
        drawing = desktop_icon(size)
        with open(os.path.join(ICONS, "ondaspa-%d.png" % size), "wb") as f:
            f.write(png_bytes(drawing))
        # Explorer reads PNG only in the 256-pixel image; the small ones stay BMP for every reader.
        program_icon.append((size, png_bytes(drawing)) if size >= 256 else bmp_entry(drawing))
    write_ico(os.path.join(ICONS, "ondaspa.ico"), program_icon)


if __name__ == "__main__":
    main()
