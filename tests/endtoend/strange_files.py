#!/usr/bin/env python3
"""Files that are not what a presentation application should print, made from
the test decks: other office documents, decks cut short or damaged, and
files built to make their check costly (a pipe, overlapping parts, parts
that claim or unpack to gigabytes, a package of 65,535 entries).

Usage: strange_files.py DECK.odp DECK.pptx OUTDIR
"""
import io
import os
import struct
import sys
import zipfile
from pathlib import Path

odp, pptx, out = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
out.mkdir(parents=True, exist_ok=True)


def package_bytes(parts):
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as z:
        for name, text in parts:
            method = zipfile.ZIP_STORED if name == "mimetype" else zipfile.ZIP_DEFLATED
            z.writestr(name, text, compress_type=method)
    return data.getvalue()


def package(path, parts):
    path.write_bytes(package_bytes(parts))


# Other documents that LibreOffice reads, named as presentations.
package(out / "letter.pptx", [
    ("[Content_Types].xml", '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
     '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.'
     'wordprocessingml.document.main+xml"/></Types>'),
    ("word/document.xml", "<w:document/>")])
package(out / "sheet.odp", [
    ("mimetype", "application/vnd.oasis.opendocument.spreadsheet"),
    ("content.xml", "<office:document-content/>")])
package(out / "essay.ppt", [
    ("mimetype", "application/vnd.oasis.opendocument.text"),
    ("content.xml", "<office:document-content/>")])

# Decks cut short, and one whose slide text does not match its checksum.
for deck, part in ((odp, "content.xml"), (pptx, "ppt/slides/slide1.xml")):
    data = deck.read_bytes()
    for percent in (10, 50, 90):
        (out / f"cut{percent}{deck.suffix}").write_bytes(data[: len(data) * percent // 100])
    with zipfile.ZipFile(deck) as z:
        info = z.getinfo(part)
    header = info.header_offset
    start = header + 30 + int.from_bytes(data[header + 26:header + 28], "little") \
        + int.from_bytes(data[header + 28:header + 30], "little")
    (out / f"cut-inside{deck.suffix}").write_bytes(data[: start + info.compress_size // 2])
    flipped = bytearray(data)
    flipped[start + info.compress_size // 2] ^= 0x55
    (out / f"flipped{deck.suffix}").write_bytes(bytes(flipped))

# Files whose check must stay cheap whatever they claim.
# A pipe named as a deck: opening it for reading would wait for a writer.
os.mkfifo(out / "pipe.pptx")

# Entries that all point at one highly compressed stream of zeros: sixteen
# over 8 MiB, and 4,096 over 64 MiB.
def overlapping(path, count, size):
    bomb = io.BytesIO()
    with zipfile.ZipFile(bomb, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("ppt/presentation.xml", b"\0" * size)
    one = bomb.getvalue()
    directory = one.index(b"PK\x01\x02")
    entry = one[directory:one.index(b"PK\x05\x06")]
    # Names of the same length: presentation.xml is 16 characters.
    entries = b"".join(entry.replace(b"presentation.xml", b"present%05d.xml" % i) for i in range(count))
    end = bytearray(one[one.index(b"PK\x05\x06"):])
    struct.pack_into("<HHII", end, 8, count, count, len(entries), directory)
    path.write_bytes(one[:directory] + entries + bytes(end))


overlapping(out / "bomb16.pptx", 16, 8 << 20)
overlapping(out / "bomb4096.pptx", 4096, 64 << 20)

# A package whose table of contents says its parts unpack to 6 GiB.
claims = bytearray(package_bytes([("[Content_Types].xml", "<Types/>"), ("ppt/presentation.xml", "<p/>")]))
at = claims.index(b"PK\x01\x02")
while at >= 0:
    struct.pack_into("<I", claims, at + 24, 0xC0000000)
    at = claims.find(b"PK\x01\x02", at + 4)
(out / "claims6g.pptx").write_bytes(bytes(claims))

# A whole package that really unpacks to 3 GiB: its check takes seconds.
with zipfile.ZipFile(out / "huge.pptx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", "<Types/>")
    with z.open("ppt/presentation.xml", "w", force_zip64=True) as part:
        zeros = b"\0" * (64 << 20)
        for _ in range(48):
            part.write(zeros)

# A valid package of 65,535 entries.
with zipfile.ZipFile(out / "many.pptx", "w", zipfile.ZIP_STORED) as z:
    z.writestr("[Content_Types].xml", "<Types/>")
    z.writestr("ppt/presentation.xml", "<p:presentation/>")
    for i in range(65533):
        z.writestr(f"ppt/media/m{i}.txt", b"")

# Decks the check once judged wrongly: a PowerPoint 4 compound file (its
# slides in a PP40 stream), a valid package whose archive comment holds the
# end record's signature, and a package whose last name runs past the end.
def compound(stream, sectors=8):
    header = bytearray(512)
    header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
    struct.pack_into("<HHHHH", header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIII", header, 40, 0, 1, 1, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE)
    for i in range(109):
        struct.pack_into("<I", header, 76 + 4 * i, 0xFFFFFFFF)
    struct.pack_into("<I", header, 76, 0)
    fat = [0xFFFFFFFD, 0xFFFFFFFE] + [i + 1 for i in range(2, 2 + sectors - 1)] + [0xFFFFFFFE]
    fat += [0xFFFFFFFF] * (128 - len(fat))

    def entry(name, kind, start, size):
        e = bytearray(128)
        n = (name + "\0").encode("utf-16-le")
        e[0:len(n)] = n
        struct.pack_into("<HB", e, 64, len(n), kind)
        struct.pack_into("<III", e, 68, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF if kind == 2 else 1)
        struct.pack_into("<II", e, 116, start, size)
        return bytes(e)

    directory = entry("Root Entry", 5, 0xFFFFFFFE, 0) + entry(stream, 2, 2, 512 * sectors) + bytes(256)
    return bytes(header) + struct.pack("<128I", *fat) + directory + bytes(512 * sectors)


(out / "powerpoint4.ppt").write_bytes(compound("PP40"))
# Decks protected by a password: an OOXML package encrypted whole, a .ppt
# whose summary is encrypted, an OpenDocument package whose manifest holds
# encryption data for its parts.
(out / "locked.pptx").write_bytes(compound("EncryptedPackage"))
(out / "locked.ppt").write_bytes(compound("EncryptedSummary"))
with zipfile.ZipFile(out / "locked.odp", "w") as z:
    z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.presentation")
    z.writestr("META-INF/manifest.xml",
               '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">'
               '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml">'
               '<manifest:encryption-data manifest:checksum-type="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0'
               '#sha256-1k" manifest:checksum="AAAA"/></manifest:file-entry></manifest:manifest>',
               compress_type=zipfile.ZIP_DEFLATED)
    z.writestr("content.xml", bytes(range(256)) * 8, compress_type=zipfile.ZIP_DEFLATED)
with zipfile.ZipFile(pptx) as source, zipfile.ZipFile(out / "comment.pptx", "w") as z:
    for info in source.infolist():
        z.writestr(info, source.read(info))
    z.comment = b"made by PK\x05\x06 a tool that quotes the signature"
past = bytearray((out / "letter.pptx").read_bytes())
struct.pack_into("<H", past, past.rindex(b"PK\x01\x02") + 28, 0xFFFF)
(out / "name-past-end.pptx").write_bytes(bytes(past))
