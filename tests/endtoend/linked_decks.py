"""Presentations that link pictures instead of holding them:
  linked_decks.py FOLDER PROFILE
FOLDER/talk/inside.odp and inside.pptx link beside.png and sub/below.png;
outside.odp and outside.pptx link ../outside.png and .hidden/hidden.png.
LibreOffice (profile folder PROFILE) makes the OpenDocument one from flat
XML; the PowerPoint one is its export with the pictures made external links."""
import io, os, struct, subprocess, sys, zipfile, zlib

folder, profile = sys.argv[1:3]
talk = os.path.join(folder, "talk")
for shade, path in enumerate(("talk/beside.png", "talk/sub/below.png", "talk/.hidden/hidden.png", "outside.png")):
    os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    with open(os.path.join(folder, path), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 64, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(b"".join(b"\0" + bytes((200, 60 * shade, 30)) * 64 for _ in range(64)))) +
                chunk(b"IEND", b""))
frame = ('<draw:frame svg:x="%s" svg:y="3cm" svg:width="5cm" svg:height="5cm"><draw:image xlink:href="%s" '
         'xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/></draw:frame>')
source = os.path.join(talk, "inside.fodp")
with open(source, "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?>\n<office:document '
            'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
            'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
            'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
            'xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3" '
            'office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation>'
            '<draw:page draw:name="s1">' + frame % ("2cm", "beside.png") + frame % ("9cm", "sub/below.png") +
            '</draw:page></office:presentation></office:body></office:document>\n')
for kind in ("odp", "pptx"):
    subprocess.run(["soffice", "--headless", "--norestore", "-env:UserInstallation=file://" + profile,
                    "--convert-to", kind, "--outdir", talk, source], check=True, capture_output=True)
os.remove(source)
made = {kind: open(os.path.join(talk, "inside." + kind), "rb").read() for kind in ("odp", "pptx")}
rels, slide = "ppt/slides/_rels/slide1.xml.rels", "ppt/slides/slide1.xml"
for deck, first, second in (("inside", "beside.png", "sub/below.png"), ("outside", "../outside.png", ".hidden/hidden.png")):
    swaps = {"odp": [("content.xml", b'"../beside.png"', b'"../%s"' % first.encode()),
                     ("content.xml", b'"../sub/below.png"', b'"../%s"' % second.encode())],
             "pptx": [(rels, b'Target="../media/image1.png"', b'Target="%s" TargetMode="External"' % first.encode()),
                      (rels, b'Target="../media/image2.png"', b'Target="%s" TargetMode="External"' % second.encode()),
                      (slide, b'r:embed="rId1"', b'r:link="rId1"'), (slide, b'r:embed="rId2"', b'r:link="rId2"')]}
    for kind in ("odp", "pptx"):
        with zipfile.ZipFile(io.BytesIO(made[kind])) as src, \
                zipfile.ZipFile(os.path.join(talk, deck + "." + kind), "w", zipfile.ZIP_DEFLATED) as out:
            for item in src.infolist():
                data = src.read(item.filename)
                for part, old, new in swaps[kind]:
                    data = data.replace(old, new) if item.filename == part else data
                if not item.filename.startswith("ppt/media/"):
                    out.writestr(item, data, zipfile.ZIP_STORED if item.filename == "mimetype" else zipfile.ZIP_DEFLATED)
