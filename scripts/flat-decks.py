#!/usr/bin/env python3
"""Writes flat ODP presentations for the benchmarks and the cluster test.

usage: flat-decks.py FOLDER NAME:SLIDES...
Each NAME.fodp gets SLIDES slides, each with one line of text, "NAME slide N".
"""
import sys

HEAD = ('<?xml version="1.0" encoding="UTF-8"?><office:document '
        'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
        'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
        'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
        'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" '
        'office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation>')
TAIL = "</office:presentation></office:body></office:document>"

folder = sys.argv[1]
for deck in sys.argv[2:]:
    name, slides = deck.rsplit(":", 1)
    pages = "".join(f'<draw:page draw:name="s{i}"><draw:frame svg:x="2cm" svg:y="3cm" svg:width="22cm" '
                    f'svg:height="4cm"><draw:text-box><text:p>{name} slide {i}</text:p></draw:text-box>'
                    '</draw:frame></draw:page>' for i in range(1, int(slides) + 1))
    with open(f"{folder}/{name}.fodp", "w", encoding="utf-8") as f:
        f.write(HEAD + pages + TAIL)
