#!/usr/bin/env python3
"""Reads the application icon's files back with struct and zlib alone, apart
from the writer that made them, and checks what the programs carry.

  check_icon_files.py files FOLDER            the .ico, .icns and installer BMPs
  check_icon_files.py plist INFO_PLIST ICNS   the bundle names the icon it has
  check_icon_files.py exe WRESTOOL ICO GROUP EXE...
                                              each EXE's first icon group is
                                              GROUP and holds ICO's images
"""
import os
import plistlib
import struct
import subprocess
import sys
import tempfile
import zlib

ICO_SIDES = {16, 20, 24, 32, 40, 48, 64, 256}
ICNS_SIDES = {"icp4": 16, "icp5": 32, "ic11": 32, "ic12": 64, "ic07": 128,
              "ic13": 256, "ic08": 256, "ic14": 512, "ic09": 512, "ic10": 1024}
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def png_chunks(data):
    at = len(PNG_SIGNATURE)
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def decode_png(data, full=True):
    """(width, height, rows of (r, g, b, a)); rows only when `full`."""
    if data[:8] != PNG_SIGNATURE:
        raise ValueError("no PNG signature")
    chunks = list(png_chunks(data))
    width, height, depth, kind, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    if (depth, kind, interlace) != (8, 6, 0):
        raise ValueError(f"not 8-bit RGBA: depth {depth}, colour type {kind}")
    raw = zlib.decompress(b"".join(body for name, body in chunks if name == b"IDAT"))
    stride = width * 4
    if len(raw) != height * (stride + 1):
        raise ValueError(f"{len(raw)} bytes of pixels for {width}x{height}")
    if not full:
        return width, height, None
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        method, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - 4] if i >= 4 else 0
            up, corner = previous[i], previous[i - 4] if i >= 4 else 0
            if method == 1:
                row[i] = (row[i] + left) & 0xFF
            elif method == 2:
                row[i] = (row[i] + up) & 0xFF
            elif method == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif method == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append([tuple(row[x * 4:x * 4 + 4]) for x in range(width)])
        previous = row
    return width, height, rows


def decode_icon_bitmap(data, side):
    """An .ico entry's 32-bit bitmap as rows of (r, g, b, a), top row first."""
    size, width, height, planes, bits = struct.unpack("<IiiHH", data[:16])
    if (size, width, height, planes, bits) != (40, side, 2 * side, 1, 32):
        raise ValueError(f"header {size} {width}x{height} planes {planes} bits {bits}")
    pixels = data[40:40 + side * side * 4]
    rows = [[(pixels[i + 2], pixels[i + 1], pixels[i], pixels[i + 3])
             for i in range((y * side) * 4, (y + 1) * side * 4, 4)] for y in range(side)]
    return rows[::-1]


def read_ico(data):
    """{side: rows} of every image in an .ico file."""
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    if (reserved, kind) != (0, 1):
        raise ValueError("not an icon file")
    images = {}
    for i in range(count):
        w, h, _, _, planes, bits, length, offset = struct.unpack(
            "<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        side = w or 256
        check(w == h and planes == 1 and bits == 32, f"entry {i}: {w}x{h} {bits} bits")
        image = data[offset:offset + length]
        check(len(image) == length, f"entry {i} runs past the end of the file")
        if image.startswith(PNG_SIGNATURE):
            width, height, rows = decode_png(image)
            check((width, height) == (side, side), f"entry {i}: PNG of {width}x{height}")
        else:
            rows = decode_icon_bitmap(image, side)
        images[side] = rows
    return images


def check_ico(path):
    images = read_ico(open(path, "rb").read())
    check(set(images) == ICO_SIDES, f"{path}: sizes {sorted(images)}")
    small = images.get(16, [])
    opaque = {pixel[:3] for row in small for pixel in row if pixel[3] == 255}
    check(len(opaque) >= 2, f"16 px image: {len(opaque)} opaque colours (blank?)")
    for side, rows in images.items():
        # The tile's rounded corner leaves the corner pixel clear.
        check(rows[0][0][3] == 0, f"{side} px image: opaque top-left corner")


def check_icns(path):
    data = open(path, "rb").read()
    magic, length = struct.unpack(">4sI", data[:8])
    check(magic == b"icns" and length == len(data), f"{path}: header {magic} {length}")
    at, seen = 8, []
    while at + 8 <= len(data):
        kind, size = struct.unpack(">4sI", data[at:at + 8])
        kind = kind.decode("ascii", "replace")
        seen.append(kind)
        side = ICNS_SIDES.get(kind)
        if check(side is not None and size > 8, f"{path}: entry {kind} of {size} bytes"):
            width, height, _ = decode_png(data[at + 8:at + size], full=side <= 256)
            check((width, height) == (side, side), f"{kind}: {width}x{height}, not {side}")
        at += max(size, 8)
    check(at == len(data), f"{path}: entries overrun the file")
    check(sorted(seen) == sorted(ICNS_SIDES), f"{path}: entries {seen}")


def check_bmp(path, width, height):
    data = open(path, "rb").read()
    magic, size, _, offset, header, w, h, planes, bits, compression = struct.unpack(
        "<2sIIIIiiHHI", data[:34])
    check((magic, size, header, planes, bits, compression) == (b"BM", len(data), 40, 1, 24, 0),
          f"{path}: not a plain 24-bit BMP")
    check((w, h) == (width, height), f"{path}: {w}x{h}, not {width}x{height}")
    stride = (width * 3 + 3) // 4 * 4
    check(len(data) == offset + stride * height, f"{path}: {len(data)} bytes")
    colours = {data[i:i + 3] for i in range(offset, len(data) - 3, 3 * 7)}
    check(len(colours) > 4, f"{path}: {len(colours)} colours (blank?)")


def check_plist(plist, icns):
    with open(plist, "rb") as file:
        info = plistlib.load(file)
    name = info.get("CFBundleIconFile")
    check(name == "AppIcon", f"{plist}: CFBundleIconFile is {name!r}")
    check(os.path.basename(icns) == f"{name}.icns", f"{icns} is not {name}.icns")
    check_icns(icns)


def check_exe(wrestool, ico, group, exe):
    listing = subprocess.run([wrestool, "-l", exe], capture_output=True, text=True, check=True)
    groups = [line.split()[1] for line in listing.stdout.splitlines() if "--type=14 " in line]
    # Explorer shows the first group of the directory.
    if not check(groups[:1] == [f"--name={group}"], f"{exe}: icon groups {groups}"):
        return
    with tempfile.TemporaryDirectory() as folder:
        extracted = os.path.join(folder, "icon.ico")
        subprocess.run([wrestool, "-x", "--type=14", f"--name={group}", "-o", extracted, exe],
                       check=True)
        carried = read_ico(open(extracted, "rb").read())
    expected = read_ico(open(ico, "rb").read())
    check(sorted(carried) == sorted(expected), f"{exe}: sizes {sorted(carried)}")
    for side in set(carried) & set(expected):
        check(carried[side] == expected[side], f"{exe}: the {side} px image differs")


def check_copy(copy, built):
    """The documentation's copy of the icon still looks like what the build
    draws: the same size, and every channel within a little of it on average
    (fonts rasterise a little differently from machine to machine)."""
    w1, h1, a = decode_png(open(copy, "rb").read())
    w2, h2, b = decode_png(open(built, "rb").read())
    check((w1, h1) == (w2, h2), f"{copy}: {w1}x{h1}, the build draws {w2}x{h2}")
    if (w1, h1) != (w2, h2):
        return
    total = sum(abs(p - q) for ra, rb in zip(a, b) for pa, pb in zip(ra, rb)
                for p, q in zip(pa, pb))
    mean = total / (w1 * h1 * 4)
    check(mean < 4.0, f"{copy}: {mean:.1f} levels from the build's {built} on average; "
          f"copy it again from the build")


def main(argv):
    command, arguments = argv[1], argv[2:]
    if command == "files":
        folder = arguments[0]
        check_ico(os.path.join(folder, "Quillmark.ico"))
        check_icns(os.path.join(folder, "AppIcon.icns"))
        check_bmp(os.path.join(folder, "installer-welcome.bmp"), 164, 314)
        check_bmp(os.path.join(folder, "installer-header.bmp"), 150, 57)
    elif command == "copy":
        check_copy(*arguments)
    elif command == "plist":
        check_plist(*arguments)
    elif command == "exe":
        wrestool, ico, group = arguments[:3]
        for exe in arguments[3:]:
            check_exe(wrestool, ico, group, exe)
    else:
        sys.exit(f"unknown command {command}")
    for failure in failures:
        print("FAIL", failure)
    print("ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
