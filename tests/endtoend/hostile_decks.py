#!/usr/bin/env python3
"""Decks from a stranger: pictures linked to a server, to a file outside the
deck's folder and to one beside the deck, and a deck whose load event runs a
macro. Made as .odp and, from a deck LibreOffice wrote, as .pptx.

With INFLATE_MB, also inflating.odp: a small package whose slide text
unpacks to that many megabytes.

Usage: hostile_decks.py BASE.pptx DECKS OUTSIDE URL [INFLATE_MB]
  DECKS    the folder the decks go to (with beside.png)
  OUTSIDE  a folder outside it, for secret.svg (its text: OUTSIDE-SECRET-TEXT)
  URL      where the server that counts requests answers (http://127.0.0.1:PORT)
"""
import struct
import sys
import zipfile
import zlib
from pathlib import Path

base, decks, outside, url = Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3]), sys.argv[4]
decks.mkdir(parents=True, exist_ok=True)
outside.mkdir(parents=True, exist_ok=True)


def png(width, height, rgb):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


(decks / "beside.png").write_bytes(png(32, 32, (200, 30, 30)))
secret = outside / "secret.svg"
secret.write_text('<svg xmlns="http://www.w3.org/2000/svg" width="400" height="100">'
                  '<text x="10" y="50" font-size="30">OUTSIDE-SECRET-TEXT</text></svg>')

NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
      'xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:ooo="http://openoffice.org/2004/office" '
      'xmlns:script="urn:oasis:names:tc:opendocument:xmlns:script:1.0" '
      'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" office:version="1.3"')


def frame(y, href):
    return (f'<draw:frame svg:x="2cm" svg:y="{y}cm" svg:width="10cm" svg:height="3cm">'
            f'<draw:image xlink:href="{href}" xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/>'
            '</draw:frame>')


def odp(path, body, scripts="", extra=()):
    content = (f'<?xml version="1.0" encoding="UTF-8"?><office:document-content {NS}>{scripts}'
               f'<office:body><office:presentation><draw:page draw:name="s1">{body}</draw:page>'
               '</office:presentation></office:body></office:document-content>')
    entries = [("content.xml", content)] + list(extra)
    manifest = ('<?xml version="1.0" encoding="UTF-8"?><manifest:manifest '
                'xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.3">'
                '<manifest:file-entry manifest:full-path="/" '
                'manifest:media-type="application/vnd.oasis.opendocument.presentation"/>'
                + "".join(f'<manifest:file-entry manifest:full-path="{name}" manifest:media-type="text/xml"/>'
                          for name, _ in entries) + '</manifest:manifest>')
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("mimetype", "application/vnd.oasis.opendocument.presentation", compress_type=zipfile.ZIP_STORED)
        for name, data in entries:
            z.writestr(name, data, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("META-INF/manifest.xml", manifest, compress_type=zipfile.ZIP_DEFLATED)


title = '<draw:frame svg:x="2cm" svg:y="1cm" svg:width="20cm" svg:height="2cm"><draw:text-box><text:p>{}</text:p>' \
        '</draw:text-box></draw:frame>'
odp(decks / "links.odp", title.format("Linked pictures") + frame(4, f"{url}/net-odp.png")
    + frame(8, secret.as_uri()) + frame(12, "../beside.png"))

# The load event runs a macro that writes a file beside the deck and puts
# its mark on the slide.
trace = decks / "macro-ran.txt"
module = ('<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument '
          '1.0//EN" "module.dtd"><script:module xmlns:script="http://openoffice.org/2000/script" '
          'script:name="Module1" script:language="StarBasic">Sub Main\n'
          f'  Open "{trace}" For Output As #1\n  Print #1, "ran"\n  Close #1\n'
          '  ThisComponent.getDrawPages().getByIndex(0).getByIndex(0).setString("MACRO RAN")\nEnd Sub\n'
          '</script:module>')
library = ('<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE library:library PUBLIC "-//OpenOffice.org//DTD '
           'OfficeDocument 1.0//EN" "library.dtd"><library:library xmlns:library="http://openoffice.org/2000/library" '
           'library:name="Standard" library:readonly="false" library:passwordprotected="false">'
           '<library:element library:name="Module1"/></library:library>')
container = ('<?xml version="1.0" encoding="UTF-8"?><!DOCTYPE library:libraries PUBLIC "-//OpenOffice.org//DTD '
             'OfficeDocument 1.0//EN" "libraries.dtd"><library:libraries '
             'xmlns:library="http://openoffice.org/2000/library" xmlns:xlink="http://www.w3.org/1999/xlink">'
             '<library:library library:name="Standard" library:link="false"/></library:libraries>')
events = ('<office:scripts><office:event-listeners><script:event-listener script:language="ooo:script" '
          'script:event-name="dom:load" xlink:href="vnd.sun.star.script:Standard.Module1.Main?language=Basic&amp;'
          'location=document" xlink:type="simple"/></office:event-listeners></office:scripts>')
odp(decks / "macro.odp", title.format("Macro deck"), events,
    [("Basic/script-lc.xml", container), ("Basic/Standard/script-lb.xml", library),
     ("Basic/Standard/Module1.xml", module)])

# The same links in a .pptx that LibreOffice wrote: external picture
# relationships on its first slide.
links = {"rIdNet": f"{url}/net-pptx.png", "rIdOut": secret.as_uri(), "rIdBeside": "beside.png"}
with zipfile.ZipFile(base) as source, zipfile.ZipFile(decks / "links.pptx", "w", zipfile.ZIP_DEFLATED) as z:
    for item in source.infolist():
        data = source.read(item.filename)
        if item.filename == "ppt/slides/slide1.xml":
            pictures = "".join(
                f'<p:pic><p:nvPicPr><p:cNvPr id="{90 + i}" name="Linked {i}"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr>'
                f'<p:blipFill><a:blip r:link="{rid}"/><a:stretch><a:fillRect/></a:stretch></p:blipFill>'
                f'<p:spPr><a:xfrm><a:off x="{800000 + 2400000 * i}" y="3000000"/><a:ext cx="2000000" cy="1500000"/>'
                '</a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></p:spPr></p:pic>'
                for i, rid in enumerate(links))
            data = data.replace(b"</p:spTree>", pictures.encode() + b"</p:spTree>")
        elif item.filename == "ppt/slides/_rels/slide1.xml.rels":
            rels = "".join(f'<Relationship Id="{rid}" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
                           f'relationships/image" Target="{target}" TargetMode="External"/>'
                           for rid, target in links.items())
            data = data.replace(b"</Relationships>", rels.encode() + b"</Relationships>")
        z.writestr(item, data)

if len(sys.argv) > 5:
    text = "A" * (int(sys.argv[5]) << 20)
    odp(decks / "inflating.odp", title.format(text))
