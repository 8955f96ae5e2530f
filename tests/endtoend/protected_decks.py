#!/usr/bin/python3
"""A presentation protected by a password, as LibreOffice saves it: an
OpenDocument presentation whose parts are encrypted.

Usage: protected_decks.py DECK PASSWORD OUTDIR
Writes OUTDIR/protected.odp from DECK.

LibreOffice 7.4 saves a PowerPoint package with a password unencrypted, and
Debian 12's msoffcrypto-tool cannot encrypt, so protected.pptx beside this
script is kept as it was made, in Debian 13, from the three-slide test deck:
  msoffcrypto-tool -e -p "Kestrel 2026 ü" three-slides-one-hidden.pptx protected.pptx
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue

deck, password, out = os.path.abspath(sys.argv[1]), sys.argv[2], os.path.abspath(sys.argv[3])
os.makedirs(out, exist_ok=True)


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


with tempfile.TemporaryDirectory() as profile:
    pipe = "pradelux-protected-%d" % os.getpid()
    # A group of its own, ended whole: LibreOffice's launcher leaves
    # soffice.bin running behind it, holding the test's output open.
    office = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore",
                               "-env:UserInstallation=" + uno.systemPathToFileUrl(profile),
                               "--accept=pipe,name=%s;urp;" % pipe],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        remote = None
        for _ in range(600):
            try:
                remote = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                time.sleep(0.1)
        desktop = remote.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", remote)
        document = desktop.loadComponentFromURL(uno.systemPathToFileUrl(deck), "_blank", 0, (prop("Hidden", True),))
        document.storeToURL(uno.systemPathToFileUrl(os.path.join(out, "protected.odp")),
                            (prop("FilterName", "impress8"), prop("Password", password)))
        document.close(True)
    finally:
        try:
            os.killpg(office.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        office.wait()
        # Until soffice.bin, in the same group, has gone too.
        for _ in range(100):
            try:
                os.killpg(office.pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.05)
