"""Corpus files written with Pillow, and hostile files written byte by byte.

Run in the corpus folder by make_corpus.sh, after its sources (bw.pbm, gray.pgm, rgb.ppm):
  pil_corpus.py            Pillow's files and their references
  pil_corpus.py hostile    files that announce more than any page needs
"""
import struct
import sys
import zlib

# The most images of one file the library reads (kPictornMaxImages).
MAX_IMAGES = 50000
# The resolution of Pillow's files.
DPI = (120, 120)


def on_white(colour, alpha):
    return round(colour * alpha / 255 + 255 - alpha)


def pillow_files():
    from PIL import Image

    gray = Image.open("gray.pgm").convert("L")
    rgb = Image.open("rgb.ppm").convert("RGB")
    bw = Image.open("bw.pbm").convert("1")
    width, height = rgb.size

    # 32-bit float gray, samples 0 to 255 as Pillow keeps them.
    gray.convert("F").save("float-pil.tif", compression="tiff_lzw", dpi=DPI)

    # An 8-bit palette of 64 colours.
    palette = rgb.quantize(colors=64, dither=Image.Dither.NONE)
    palette.save("palette8-pil.tif", compression="packbits", dpi=DPI)
    palette.convert("RGB").save("palette8-pil.ppm")

    # Partial transparency: white paper seen through 80 % alpha must stay white.
    alpha = Image.new("L", rgb.size, 255)
    alpha.paste(204, (0, 0, width // 2, height))
    alpha.paste(0, (width // 2, 0, width // 2 + 40, height))
    rgba = rgb.copy()
    rgba.putalpha(alpha)
    rgba.save("rgba-pil.tif", compression="tiff_adobe_deflate", dpi=DPI)
    # Premultiplied colours, marked associated by make_corpus.sh (Pillow writes no such file).
    premultiplied = Image.new("RGBA", rgb.size)
    premultiplied.putdata([tuple(round(c * p[3] / 255) for c in p[:3]) + (p[3],) for p in rgba.getdata()])
    premultiplied.save("rgba-assoc-pil.tif", dpi=DPI)
    flat = Image.new("RGB", rgb.size)
    flat.putdata([tuple(on_white(c, p[3]) for c in p[:3]) for p in rgba.getdata()])
    flat.save("rgba-pil.ppm")

    graya = gray.copy().convert("LA")
    graya.putalpha(alpha)
    graya.save("graya-pil.tif", dpi=DPI)
    flat_gray = Image.new("L", gray.size)
    flat_gray.putdata([on_white(p[0], p[1]) for p in graya.getdata()])
    flat_gray.save("graya-pil.pgm")

    # Mode 1 is written MinIsBlack.
    bw.save("bw-packbits-minisblack-pil.tif", compression="packbits", dpi=DPI)


def tiff_directory(entries, next_offset):
    """A little-endian directory of (tag, type, count, value) entries with inline values."""
    out = struct.pack("<H", len(entries))
    for tag, kind, count, value in sorted(entries):
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, kind, count) + packed
    return out + struct.pack("<I", next_offset)


def huge_g4():
    """90,000 x 90,000 white pixels: each row codes as one vertical-mode bit."""
    side = 90000
    data = b"\xff" * (side // 8) + b"\x00\x10\x01"  # then the end-of-facsimile-block codes
    entries = [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 1), (259, 3, 1, 4),
               (262, 3, 1, 0), (273, 4, 1, 8), (278, 4, 1, side), (279, 4, 1, len(data))]
    with open("huge-g4.tif", "wb") as f:
        f.write(b"II*\0" + struct.pack("<I", 8 + len(data)) + data + tiff_directory(entries, 0))


def too_many():
    """One more 8 x 1 image than the library reads, all sharing one strip."""
    count = MAX_IMAGES + 1
    size = 2 + 8 * 12 + 4
    first = 8 + 2  # after the header and the shared strip (padded)
    body = bytearray(b"II*\0" + struct.pack("<I", first) + b"\x55\0")
    for i in range(count):
        link = first + (i + 1) * size if i + 1 < count else 0
        entries = [(256, 3, 1, 8), (257, 3, 1, 1), (258, 3, 1, 1), (259, 3, 1, 1),
                   (262, 3, 1, 0), (273, 4, 1, 8), (278, 3, 1, 1), (279, 4, 1, 1)]
        body += tiff_directory(entries, link)
    with open("too-many.tif", "wb") as f:
        f.write(body)


def pdf(objects, name):
    """A PDF of the given object bodies (bytes), numbered from 1, the first the catalog."""
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    with open(name, "wb") as f:
        f.write(out)


def huge_page():
    content = b"0 0 0 rg 720 720 1440 1440 re f\n"
    pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
         b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 7200 7200] /Contents 4 0 R /Resources << >> >>",
         b"<< /Length %d >>\nstream\n" % len(content) + content + b"endstream"], "huge-page.pdf")


def bomb():
    """A 30,000 x 30,000 gray image of zeros, deflated twice, drawn over an A4 page."""
    side = 30000
    inner = zlib.compressobj(9)
    once = bytearray()
    row = bytes(side)
    for _ in range(side):
        once += inner.compress(row)
    once += inner.flush()
    twice = zlib.compress(bytes(once), 9)
    content = b"q 595 0 0 842 0 0 cm /Im Do Q\n"
    pdf([b"<< /Type /Catalog /Pages 2 0 R >>",
         b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R"
         b" /Resources << /XObject << /Im 5 0 R >> >> >>",
         b"<< /Length %d >>\nstream\n" % len(content) + content + b"endstream",
         b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray"
         b" /BitsPerComponent 8 /Filter [/FlateDecode /FlateDecode] /Length %d >>\nstream\n"
         % (side, side, len(twice)) + twice + b"\nendstream"], "bomb.pdf")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "hostile":
        huge_g4()
        too_many()
        huge_page()
        bomb()
    else:
        pillow_files()


main()
