#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico or .png files.

    make-icon.py app OUT.ico    application icon (resource 107)
    make-icon.py tray OUT.ico   notification-area icon (resource 108)
    make-icon.py app-png SIZE OUT.png   application icon for the desktop

Each file holds six 32-bit images, 16 to 256 pixels square; the 256-pixel
image is stored as PNG, the others as bitmaps with an alpha channel.
Only the standard library is used, so the build needs nothing else.
"""
import math
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)


def clamp(value, low=0.0, high=1.0):
    return low if value < low else high if value > high else value


def rounded_square(x, y, half, radius):
    # Signed distance to a square of half-width `half` centred on 0, 0.
    qx = abs(x) - half + radius
    qy = abs(y) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def wave(x, y, amplitude, cycles, reach):
    # Distance to a wave running from -reach to +reach; it starts and ends
    # at a crest or trough, so its ends are flat and take round caps.
    k = cycles * 2.0 * math.pi / (2.0 * reach)
    xc = clamp(x, -reach, reach)
    fy = -amplitude * math.cos(k * (xc + reach))
    if x != xc:  # past an end: distance to the end point
        return math.hypot(x - xc, y - fy)
    slope = amplitude * k * math.sin(k * (xc + reach))
    return abs(y - fy) / math.sqrt(1.0 + slope * slope)


def over(dst, src, alpha):
    # src drawn over dst, both straight (not premultiplied) RGBA in 0..1.
    a = alpha * src[3]
    out_a = a + dst[3] * (1.0 - a)
    if out_a <= 0.0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = [(src[i] * a + dst[i] * dst[3] * (1.0 - a)) / out_a for i in range(3)]
    return (mix[0], mix[1], mix[2], out_a)


def draw(kind, size):
    pixels = []
    pixel = 2.0 / size  # one pixel in the -1..1 drawing space
    for row in range(size):
        line = []
        for col in range(size):
            x = (col + 0.5) * pixel - 1.0
            y = 1.0 - (row + 0.5) * pixel
            colour = (0.0, 0.0, 0.0, 0.0)
            if kind == "app":
                d = rounded_square(x, y, 0.94, 0.28)
                t = (y + 1.0) / 2.0
                top = (0.20, 0.42, 0.86)
                bottom = (0.09, 0.16, 0.42)
                fill = tuple(bottom[i] + (top[i] - bottom[i]) * t for i in range(3)) + (1.0,)
                colour = over(colour, fill, clamp(0.5 - d / pixel))
                stroke = max(0.075, 1.1 * pixel)
                d = wave(x, y, 0.26, 1.5, 0.56) - stroke
                colour = over(colour, (1.0, 1.0, 1.0, 1.0), clamp(0.5 - d / pixel))
                for cx, cy in ((-0.70, -0.26), (0.70, 0.26)):
                    d = math.hypot(x - cx, y - cy) - max(0.13, 1.5 * pixel)
                    colour = over(colour, (1.0, 0.74, 0.25, 1.0), clamp(0.5 - d / pixel))
            else:
                d = math.hypot(x, y) - 0.96
                colour = over(colour, (0.96, 0.55, 0.10, 1.0), clamp(0.5 - d / pixel))
                stroke = max(0.10, 1.3 * pixel)
                d = wave(x, y, 0.28, 1.5, 0.56) - stroke
                colour = over(colour, (1.0, 1.0, 1.0, 1.0), clamp(0.5 - d / pixel))
            line.append(tuple(int(round(c * 255.0)) for c in colour))
        pixels.append(line)
    return pixels


def png(pixels):
    size = len(pixels)
    raw = b"".join(b"\0" + bytes(c for p in line for c in p) for line in pixels)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(pixels):
    size = len(pixels)
    # Height counts the colour rows and the mask rows together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((p[2], p[1], p[0], p[3])) for line in reversed(pixels) for p in line)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for line in reversed(pixels):
        row = bytearray(stride)
        for col, p in enumerate(line):
            if p[3] == 0:
                row[col // 8] |= 0x80 >> (col % 8)
        mask += row
    return header + colour + bytes(mask)


def ico(kind):
    images = [png(draw(kind, s)) if s == 256 else dib(draw(kind, s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        edge = 0 if size == 256 else size  # 0 stands for 256
        out += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "app-png" and sys.argv[2].isdigit():
        data = png(draw("app", int(sys.argv[2])))
    elif len(sys.argv) == 3 and sys.argv[1] in ("app", "tray"):
        data = ico(sys.argv[1])
    else:
        sys.exit(__doc__)
    with open(sys.argv[-1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
