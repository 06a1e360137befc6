#!/usr/bin/env python3
"""Says whether a picture of the window shows a receiver with its fix.

A receiver without one has the status row on red (255, 128, 128); with one, the satellite
graph has its average bar in green (red below 255, green 255, no blue). Reads the 8-bit RGB or
RGBA PNG that the window writes, with nothing but the standard library.
"""
import struct
import sys
import zlib


def pixels(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError("only 8-bit RGB or RGBA without interlacing")
    raw = zlib.decompress(idat)
    stride = width * channels
    previous = bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                best = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                row[i] = (row[i] + best) & 255
        previous = row
        for x in range(width):
            yield tuple(row[x * channels:x * channels + 3])


def main():
    red = green = 0
    for r, g, b in pixels(sys.argv[1]):
        red += (r, g, b) == (255, 128, 128)
        green += g == 255 and r < 255 and b == 0
    print(f"{red} pixels of the no-signal red, {green} of a good average signal")
    # The average bar is 16 pixels wide and as high as its C/N0: hundreds of pixels.
    sys.exit(0 if red == 0 and green >= 200 else 1)


if __name__ == "__main__":
    main()
