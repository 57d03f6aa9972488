#!/usr/bin/env python3
# Draws the Kelvane program icon (a small serial-controlled display monitor) by code and writes it as a six-image .ico file.
# Run: python3 res/make_icon.py [output.ico]   (the output defaults to Kelvane.ico next to this script)

import os
import struct
import sys

# The standard 16-colour Windows/VGA palette, in index order.
VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# Hand-tuned geometry for each size; boxes are inclusive (x0, y0, x1, y1) pixel coordinates.
LAYOUTS = {
    48: {
        "bezel": (2, 3, 45, 35), "bezel_r": 5,
        "screen": (5, 6, 42, 30),
        "stripes": [(14, 7, True), (24, 3, False)],
        "neck": (20, 36, 27, 40),
        "base": (12, 41, 35, 44), "base_r": 3,
        "led": (39, 32, 40, 33),
        "plug": [(7, 32, 15), (8, 33, 14), (9, 34, 13)],
        "pins": [(9, 33), (10, 33), (11, 33), (12, 33), (13, 33)],
    },
    32: {
        "bezel": (1, 2, 30, 23), "bezel_r": 3,
        "screen": (3, 4, 28, 19),
        "stripes": [(9, 5, True), (16, 2, False)],
        "neck": (13, 24, 18, 26),
        "base": (8, 27, 23, 29), "base_r": 2,
        "led": (26, 21, 27, 21),
        "plug": [(5, 20, 9), (6, 21, 8)],
        "pins": [],
    },
    16: {
        "bezel": (0, 1, 15, 11), "bezel_r": 1,
        "screen": (1, 2, 14, 9),
        "stripes": [(4, 2, True)],
        "neck": (6, 12, 9, 13),
        "base": (3, 14, 12, 15), "base_r": 1,
        "led": (13, 10, 13, 10),
        "plug": [],
        "pins": [],
    },
}


def mix(a, b, t):
    """Return colour a blended toward colour b by fraction t, rounded to whole channel values."""
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def ramp(top, bottom, steps):
    """Return a function mapping a 0..1 fraction to one of `steps` colours between top and bottom."""
    def pick(t):
        k = min(steps - 1, max(0, int(t * steps)))
        return mix(top, bottom, k / (steps - 1))
    return pick


def flat(colour):
    """Return a function that gives the same colour for any fraction."""
    return lambda t: colour


# True-colour look used for the 256-colour images (gradients are stepped so the palette stays small).
THEME_256 = {
    "outline": flat((0x0E, 0x11, 0x15)),
    "bezel": ramp((0x4A, 0x50, 0x5A), (0x22, 0x26, 0x2C), 6),
    "bezel_hi": flat((0x6A, 0x72, 0x7E)),
    "screen": ramp((0x4C, 0x9E, 0xF6), (0x17, 0x48, 0xB0), 12),
    "screen_shadow": flat((0x0C, 0x2A, 0x70)),
    "stripe_core": 0.62,
    "stripe_edge": 0.38,
    "neck": flat((0x5E, 0x65, 0x70)),
    "neck_edge": flat((0x33, 0x38, 0x40)),
    "base": ramp((0x5C, 0x63, 0x6D), (0x2C, 0x31, 0x38), 3),
    "base_hi": flat((0x84, 0x8C, 0x98)),
    "led": flat((0x3C, 0xE8, 0x4C)),
    "led_dark": flat((0x1E, 0x8A, 0x2A)),
    "plug": flat((0xB8, 0xBE, 0xC6)),
    "pin": flat((0x30, 0x34, 0x3A)),
}

# Flat standard-palette look used for the 16-colour images.
THEME_16 = {
    "outline": flat(VGA16[0]),
    "bezel": flat(VGA16[0]),
    "bezel_hi": flat(VGA16[8]),
    "screen": flat(VGA16[12]),
    "screen_shadow": flat(VGA16[4]),
    "stripe_core": VGA16[15],
    "stripe_edge": VGA16[14],
    "neck": flat(VGA16[8]),
    "neck_edge": flat(VGA16[0]),
    "base": flat(VGA16[8]),
    "base_hi": flat(VGA16[7]),
    "led": flat(VGA16[10]),
    "led_dark": flat(VGA16[2]),
    "plug": flat(VGA16[7]),
    "pin": flat(VGA16[0]),
}


def in_round_rect(x, y, box, r):
    """Tell whether pixel (x, y) lies inside the box with corners rounded by radius r."""
    x0, y0, x1, y1 = box
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    if r <= 0:
        return True
    px, py = x + 0.5, y + 0.5
    cx = x0 + r if px < x0 + r else (x1 + 1 - r if px > x1 + 1 - r else px)
    cy = y0 + r if py < y0 + r else (y1 + 1 - r if py > y1 + 1 - r else py)
    return (px - cx) ** 2 + (py - cy) ** 2 <= (r - 0.3) ** 2


def fill_round_rect(img, box, r, paint):
    """Paint every pixel of a rounded box with paint(t), t being the pixel's vertical fraction in the box."""
    x0, y0, x1, y1 = box
    span = max(1, y1 - y0)
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            if in_round_rect(x, y, box, r):
                img[y][x] = paint((y - y0) / span)


def draw_monitor(size, theme, true_colour):
    """Draw the monitor at one pixel size and return rows of RGB tuples, None meaning transparent."""
    lay = LAYOUTS[size]
    img = [[None] * size for _ in range(size)]

    # Stand: a short neck, then a wide flat base.
    nx0, ny0, nx1, ny1 = lay["neck"]
    fill_round_rect(img, lay["neck"], 0, theme["neck"])
    for y in range(ny0, ny1 + 1):
        img[y][nx0] = theme["neck_edge"](0)
        img[y][nx1] = theme["neck_edge"](0)
    for x in range(nx0, nx1 + 1):
        img[ny0][x] = theme["neck_edge"](0)
    bx0, by0, bx1, by1 = lay["base"]
    fill_round_rect(img, lay["base"], lay["base_r"], theme["outline"])
    inner = (bx0 + 1, by0 + 1, bx1 - 1, by1 - 1)
    if size >= 32:
        fill_round_rect(img, inner, max(0, lay["base_r"] - 1), theme["base"])
        for x in range(inner[0] + 1, inner[2]):
            img[inner[1]][x] = theme["base_hi"](0)
    else:
        for x in range(bx0 + 1, bx1):
            img[by0][x] = theme["base_hi"](0)

    # Bezel: dark outline, dark body shading downward, a faint lit top edge.
    box, r = lay["bezel"], lay["bezel_r"]
    fill_round_rect(img, box, r, theme["outline"])
    body = (box[0] + 1, box[1] + 1, box[2] - 1, box[3] - 1)
    fill_round_rect(img, body, max(0, r - 1), theme["bezel"])
    if size >= 32:
        for x in range(body[0] + r, body[2] - r + 1):
            img[body[1]][x] = theme["bezel_hi"](0)

    # Screen: blue, shaded top to bottom, inner shadow on top and left, diagonal highlight stripes.
    sx0, sy0, sx1, sy1 = lay["screen"]
    fill_round_rect(img, lay["screen"], 0, theme["screen"])
    if size >= 32:
        for x in range(sx0, sx1 + 1):
            img[sy0][x] = theme["screen_shadow"](0)
        for y in range(sy0, sy1 + 1):
            img[y][sx0] = theme["screen_shadow"](0)
    for start, width, strong in lay["stripes"]:
        for y in range(sy0 + (1 if size >= 32 else 0), sy1 + 1):
            for x in range(sx0 + (1 if size >= 32 else 0), sx1 + 1):
                u = (x - sx0) + (y - sy0)
                if not start <= u < start + width:
                    continue
                edge = not strong or (width >= 5 and (u == start or u == start + width - 1))
                img[y][x] = stripe_colour(img[y][x], theme, edge, true_colour)

    # Power LED on the bezel's bottom edge, lit centre with a darker rim when there is room.
    lx0, ly0, lx1, ly1 = lay["led"]
    for y in range(ly0, ly1 + 1):
        for x in range(lx0, lx1 + 1):
            img[y][x] = theme["led"](0)
    if size >= 48:
        img[ly1][lx1] = theme["led_dark"](0)

    # Serial plug hint: a small trapezoid (wider on top) with a dark socket slot at the largest size.
    for x0, y, x1 in lay["plug"]:
        for x in range(x0, x1 + 1):
            img[y][x] = theme["plug"](0)
    for x, y in lay["pins"]:
        img[y][x] = theme["pin"](0)
    return img


def stripe_colour(under, theme, edge, true_colour):
    """Return the highlight colour laid over a screen pixel: a white blend in true colour, a fixed colour otherwise."""
    if true_colour:
        amount = theme["stripe_edge"] if edge else theme["stripe_core"]
        return mix(under, (0xFF, 0xFF, 0xFF), amount)
    return theme["stripe_edge"] if edge else theme["stripe_core"]


def nearest(palette, colour):
    """Return the index of the palette entry closest to colour (lowest index wins ties)."""
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((p[k] - colour[k]) ** 2 for k in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def build_palette_256(images):
    """Build a 256-entry palette: the 16 standard colours, then every other colour the images use, sorted."""
    extra = set()
    for img in images:
        for row in img:
            for c in row:
                if c is not None and c not in VGA16:
                    extra.add(c)
    extra = sorted(extra)
    if len(extra) > 256 - 16:
        raise SystemExit("too many colours for a 256-colour palette: %d" % (len(extra) + 16))
    palette = VGA16 + extra
    return palette + [(0, 0, 0)] * (256 - len(palette))


def pack_rows(values, bpp, width):
    """Pack one row of palette indices or mask bits into bytes at bpp bits each, padded to 4 bytes."""
    out = bytearray()
    per_byte = 8 // bpp
    for i in range(0, width, per_byte):
        b = 0
        for j in range(per_byte):
            v = values[i + j] if i + j < width else 0
            b |= v << (8 - bpp * (j + 1))
        out.append(b)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def encode_dib(img, palette, bpp):
    """Encode one image as a classic ICO DIB: header, palette, bottom-up XOR pixels and AND mask."""
    size = len(img)
    cache = {}
    xor, mask = b"", b""
    for row in reversed(img):
        idx, bits = [], []
        for c in row:
            if c is None:
                idx.append(0)
                bits.append(1)
            else:
                if c not in cache:
                    cache[c] = nearest(palette, c)
                idx.append(cache[c])
                bits.append(0)
        xor += pack_rows(idx, bpp, size)
        mask += pack_rows(bits, 1, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + pal + xor + mask


def build_icon():
    """Draw all sizes and return the complete .ico file contents as bytes."""
    sizes = (48, 32, 16)
    rich = {s: draw_monitor(s, THEME_256, True) for s in sizes}
    plain = {s: draw_monitor(s, THEME_16, False) for s in sizes}
    pal256 = build_palette_256(rich.values())
    entries = []
    for s in sizes:
        entries.append((s, 0, 8, encode_dib(rich[s], pal256, 8)))
        entries.append((s, 16, 4, encode_dib(plain[s], VGA16, 4)))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for s, colours, bpp, dib in entries:
        out += struct.pack("<BBBBHHII", s, s, colours, 0, 1, bpp, len(dib), offset)
        offset += len(dib)
    for entry in entries:
        out += entry[3]
    return out


def main():
    """Write the icon to the path given on the command line, or to Kelvane.ico beside this script."""
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "Kelvane.ico")
    data = build_icon()
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (path, len(data)))


if __name__ == "__main__":
    main()
