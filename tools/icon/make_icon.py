#!/usr/bin/env python3
"""Draws Pellmar's program icon (a key-down dot and dash over a signal arc) and writes it
as a Windows .ico with 16, 32 and 48 pixel images. Run it again only to change the icon;
the result is committed as app/resources/pellmar.ico."""
import struct
import sys


def pixel(size, x, y):
    # Coordinates scaled to a 48-unit canvas.
    u = 48.0 / size
    fx, fy = (x + 0.5) * u, (y + 0.5) * u
    inset = 2.0
    radius = 8.0
    # Rounded square background.
    cx = min(max(fx, inset + radius), 48 - inset - radius)
    cy = min(max(fy, inset + radius), 48 - inset - radius)
    if (fx - cx) ** 2 + (fy - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    colour = (32, 58, 110, 255)  # deep blue (R, G, B, A)
    # Signal arc in amber, top right.
    d = ((fx - 12) ** 2 + (fy - 36) ** 2) ** 0.5
    if 26 <= d <= 30 and fx > 12 and fy < 36:
        colour = (245, 178, 40, 255)
    # Dot and dash in white along the lower third.
    if (fx - 13) ** 2 + (fy - 32) ** 2 <= 16:
        colour = (250, 250, 250, 255)
    if 21 <= fx <= 39 and 28.5 <= fy <= 35.5:
        colour = (250, 250, 250, 255)
    return colour


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = b"".join(struct.pack("BBBB", b, g, r, a)
                       for (r, g, b, a) in (pixel(size, x, y) for x in range(size)))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "pellmar.ico")
