"""Makes presentations that link pictures instead of holding them, as
PowerPoint and LibreOffice do for a picture inserted as a link:
  linked_decks.py FOLDER PROFILE
FOLDER/talk/ gets beside.png, sub/below.png and .hidden/hidden.png, and
FOLDER/outside.png lies outside it. FOLDER/talk/inside.odp and inside.pptx
link beside.png and sub/below.png; outside.odp and outside.pptx link
../outside.png and .hidden/hidden.png. LibreOffice (with the profile folder
PROFILE) makes the OpenDocument one from flat XML; the PowerPoint one is its
PowerPoint export with the pictures' relationships made external links."""
import io, os, struct, subprocess, sys, zipfile, zlib

folder, profile = sys.argv[1:3]
talk = os.path.join(folder, "talk")


def png(path, rgb):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    raw = b"".join(b"\0" + bytes(rgb) * 64 for _ in range(64))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 64, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


png(os.path.join(talk, "beside.png"), (200, 30, 30))
png(os.path.join(talk, "sub", "below.png"), (30, 30, 200))
png(os.path.join(talk, ".hidden", "hidden.png"), (30, 200, 30))
png(os.path.join(folder, "outside.png"), (200, 200, 30))

frame = ('<draw:frame svg:x="%s" svg:y="3cm" svg:width="5cm" svg:height="5cm"><draw:image xlink:href="%s" '
         'xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/></draw:frame>')
flat = ('<?xml version="1.0" encoding="UTF-8"?>\n<office:document '
        'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
        'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
        'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
        'xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3" '
        'office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation>'
        '<draw:page draw:name="s1">' + frame % ("2cm", "beside.png") + frame % ("9cm", "sub/below.png") +
        '</draw:page></office:presentation></office:body></office:document>\n')
source = os.path.join(talk, "inside.fodp")
with open(source, "w") as f:
    f.write(flat)
for kind in ("odp", "pptx"):
    subprocess.run(["soffice", "--headless", "--norestore", "-env:UserInstallation=file://" + profile,
                    "--convert-to", kind, "--outdir", talk, source], check=True, capture_output=True)
os.remove(source)
made = {kind: open(os.path.join(talk, "inside." + kind), "rb").read() for kind in ("odp", "pptx")}


def rewrite(kind, target, swaps):
    with zipfile.ZipFile(io.BytesIO(made[kind])) as src, zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as out:
        for item in src.infolist():
            data = src.read(item.filename)
            if item.filename.startswith("ppt/media/"):
                continue
            for p, old, new in swaps:
                if item.filename == p:
                    data = data.replace(old, new)
            out.writestr(item, data, zipfile.ZIP_STORED if item.filename == "mimetype" else zipfile.ZIP_DEFLATED)


rels, slide = "ppt/slides/_rels/slide1.xml.rels", "ppt/slides/slide1.xml"
for deck, first, second in (("inside", "beside.png", "sub/below.png"), ("outside", "../outside.png", ".hidden/hidden.png")):
    odp_first = "../" + first
    odp_second = "../" + second
    rewrite("odp", os.path.join(talk, deck + ".odp"),
            [("content.xml", b'"../beside.png"', ('"%s"' % odp_first).encode()),
             ("content.xml", b'"../sub/below.png"', ('"%s"' % odp_second).encode())])
    rewrite("pptx", os.path.join(talk, deck + ".pptx"),
            [(rels, b'Target="../media/image1.png"', ('Target="%s" TargetMode="External"' % first).encode()),
             (rels, b'Target="../media/image2.png"', ('Target="%s" TargetMode="External"' % second).encode()),
             (slide, b'r:embed="rId1"', b'r:link="rId1"'), (slide, b'r:embed="rId2"', b'r:link="rId2"')])
