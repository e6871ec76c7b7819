#!/usr/bin/env python3
"""Draws the program's icon (a bookmark ribbon over a page) as app/app.ico, 16x16 and 32x32."""
import struct, sys

def pixel(x, y, n):
    u, v = (x + 0.5) / n, (y + 0.5) / n
    page = 0.16 <= u <= 0.84 and 0.06 <= v <= 0.94
    ribbon = 0.50 <= u <= 0.74 and v <= 0.62 - max(0.0, 0.12 - abs(u - 0.62)) * (v > 0.44)
    line = page and 0.24 <= u <= 0.44 and any(abs(v - t) < 0.035 for t in (0.30, 0.45, 0.60, 0.75))
    if ribbon and v >= 0.02:
        return (0x20, 0x30, 0xD0, 0xFF)          # red ribbon (BGRA)
    if line:
        return (0x90, 0x70, 0x50, 0xFF)          # text lines
    if page:
        edge = min(u - 0.16, 0.84 - u, v - 0.06, 0.94 - v) < 1.0 / n
        return (0x60, 0x60, 0x60, 0xFF) if edge else (0xFF, 0xFF, 0xFF, 0xFF)
    return (0, 0, 0, 0)

def image(n):
    rows = []
    for y in range(n - 1, -1, -1):               # bottom-up DIB
        rows.append(b"".join(bytes(pixel(x, y, n)) for x in range(n)))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    mask = b"\0" * (mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask

images = [image(16), image(32)]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for n, data in zip((16, 32), images):
    out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
out += b"".join(images)
open(sys.argv[1] if len(sys.argv) > 1 else "app/app.ico", "wb").write(out)
