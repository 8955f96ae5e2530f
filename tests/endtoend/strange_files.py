#!/usr/bin/env python3
"""Files that are not what a presentation application should print, made from
the test decks: other office documents, and decks cut short or damaged.

Usage: strange_files.py DECK.odp DECK.pptx OUTDIR
"""
import sys
import zipfile
from pathlib import Path

odp, pptx, out = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3])
out.mkdir(parents=True, exist_ok=True)


def package(path, parts):
    with zipfile.ZipFile(path, "w") as z:
        for name, data in parts:
            method = zipfile.ZIP_STORED if name == "mimetype" else zipfile.ZIP_DEFLATED
            z.writestr(name, data, compress_type=method)


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
