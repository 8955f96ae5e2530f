"""The escape kit: runs where LibreOffice runs, as a LibreOffice taken over by
its file would, and tries every reach. It answers with the PDF it was asked
for, one page, whose comment lines say for each attempt: % NAME reached|blocked.

Started as probe.py --inside PRESENTATION PDF by the kit's library, which is
preloaded into the real LibreOffice (soffice.bin, kept or started afresh) and
runs it once LibreOffice has written the PDF: the report is added to that
PDF. Or as probe.py --outside PRESENTATION PDF: the same attempts outside any
sandbox, for comparison, in a PDF of its own. What to try is in targets.json
beside this file, by presentation."""
import glob, json, os, socket, stat, sys, time
from urllib.parse import unquote, urlparse

here = os.path.dirname(os.path.abspath(__file__))
args = sys.argv[1:]
# The run that makes LibreOffice's profile template prints a blank
# presentation of the program's own, no stranger's deck.
if args[0] != "--inside" and args[0] != "--outside" or args[1].endswith("/pradelux-blank.fodp"):
    sys.exit(0)
# LibreOffice's profile, as LibreOffice (the parent) was told it.
profile = ""
try:
    for a in open("/proc/%d/cmdline" % os.getppid(), "rb").read().decode(errors="replace").split("\0"):
        if a.startswith("-env:UserInstallation="):
            profile = unquote(urlparse(a.split("=", 1)[1]).path)
except OSError:
    pass
presentation, pdf = args[1:3]
with open(os.path.join(here, "targets.json")) as f:
    targets = json.load(f)
given = dict(targets["common"], **targets["rows"][presentation])
report = []


def attempt(name, action):
    try:
        result = action()
        report.append((name, "blocked" if result is False else "reached"))
    except OSError:
        report.append((name, "blocked"))


def read(path):
    with open(path, "rb") as f:
        f.read(1)


def write(path):
    with open(path, "wb") as f:
        f.write(b"probe")


def connect_unix(path):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(path)


def connect_tcp(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.settimeout(2)
        s.connect(("127.0.0.1", port))


def open_fifo(path):
    os.close(os.open(path, os.O_WRONLY | os.O_NONBLOCK))


# The renderer's own service, asked to print with its PDF folder at a secret
# folder of the user's: reached when it takes the request (answers, or ends
# the connection in order) rather than refusing it.
def ask_service(folder):
    taken = False
    for path in glob.glob(os.path.join(folder, "pradelux-render-*")):
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.settimeout(5)
                s.connect(path)
                s.sendall((json.dumps({"presentation": presentation, "pdf": given["homeSecret"] + ".pdf",
                                       "filter": "", "alone": False}) + "\n").encode())
                s.recv(4096)
                taken = True
        except socket.timeout:
            taken = True  # at work on it
        except OSError:
            pass
    return taken


# What an earlier row of this LibreOffice left running says: that row's
# presentation, learnt through the descriptor of its folder it kept.
earlier = []


def ask_earlier():
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(2)
        s.connect("\0pradelux-kit-earlier")
        earlier.append(s.recv(4096).decode(errors="replace"))


# Left running by each row for 30 s, in a session of its own, holding its
# row's folder open, and answering every later row that asks.
def linger():
    listening, told = os.pipe()
    if os.fork() != 0:
        # On once it answers.
        os.close(told)
        os.read(listening, 1)
        os.close(listening)
        return
    os.close(listening)
    os.setsid()
    if os.fork() != 0:
        os._exit(0)
    try:
        folder = os.open(os.path.dirname(presentation), os.O_RDONLY | os.O_DIRECTORY)
        null = os.open("/dev/null", os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.bind("\0pradelux-kit-earlier")
        server.listen(8)
        server.settimeout(30)
        os.close(told)
        while True:
            client, _ = server.accept()
            # The service, reached through the folder it kept open, as the
            # later row asks.
            try:
                service = "service answered" if ask_service("/proc/self/fd/%d" % folder) else "no service"
            except OSError:
                service = "no service"
            client.sendall(("earlier row: %s, its folder holds %s, %s" %
                            (presentation, sorted(os.listdir(folder)), service)).encode())
            client.close()
    except OSError:
        pass
    os._exit(0)


def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return line.split()[1]


attempt("presentation", lambda: read(presentation))
attempt("beside", lambda: read(given["beside"]) if given.get("beside") else False)
attempt("hidden-folder", lambda: read(given["hidden"]) if given.get("hidden") else False)
attempt("home-secret", lambda: read(given["homeSecret"]))
attempt("outside", lambda: read(given["outside"]))
attempt("write-shown-folder", lambda: write(given["shownWrite"]))
attempt("write-home", lambda: write(given["homeWrite"]))
attempt("write-pdf-folder", lambda: write(pdf + ".probe"))
attempt("socket-beside", lambda: connect_unix(given["socket"]) if given.get("socket") else False)
attempt("fifo-beside", lambda: open_fifo(given["fifo"]) if given.get("fifo") else False)
attempt("runtime-socket", lambda: connect_unix(given["runtimeSocket"]))
attempt("session-bus", lambda: connect_unix(given["bus"]))
attempt("network", lambda: connect_tcp(given["port"]))
attempt("other-process", lambda: os.kill(given["pid"], 0))
attempt("host-shm", lambda: read(given["shm"]))
attempt("host-tmp", lambda: read(given["hostTmp"]))
attempt("proc-sys", lambda: write("/proc/sys/kernel/hostname"))
attempt("root-only-file", lambda: read("/etc/shadow"))
attempt("planted-profile", lambda: os.path.exists(os.path.join(profile, "user", "planted")) or False)
attempt("earlier-process", lambda: ask_earlier())
attempt("earlier-file", lambda: any(os.path.exists(os.path.join(d, "pradelux-kit-earlier"))
                                    for d in ("/tmp", os.environ.get("HOME", "/"))) or False)
attempt("write-template", lambda: write(given["template"] + "/user/planted"))
attempt("many-processes", lambda: len([p for p in os.listdir("/proc") if p.isdigit()]) > 10 or False)
attempt("extra-devices", lambda: bool(set(os.listdir("/dev")) - {"null", "zero", "full", "random", "urandom", "tty",
                                                                "shm", "pts", "ptmx", "fd", "stdin", "stdout",
                                                                "stderr", "core"}) or False)
attempt("root-user", lambda: os.getuid() == 0 or False)
attempt("capabilities", lambda: int(status("CapEff"), 16) != 0 or False)
attempt("new-privileges", lambda: status("NoNewPrivs") != "1" or False)
attempt("user-namespace", lambda: __import__("ctypes").CDLL(None, use_errno=True).unshare(0x10000000) == 0 or False)
attempt("vsock", lambda: socket.socket(40, socket.SOCK_STREAM).close())
attempt("service-socket", lambda: ask_service(given["runtimeSocket"].rsplit("/", 1)[0]))
attempt("earlier-service", lambda: any("service answered" in e for e in earlier) or False)
attempt("earlier-pdf", lambda: read(given["earlierPdf"]) if given.get("earlierPdf") else False)
# A file the deck links that is a hard link to a secret elsewhere.
attempt("linked-hard-link", lambda: read(given["hardLink"]) if given.get("hardLink") else False)
# Memory that no process holds, which the watch of its memory cannot count.
attempt("uncounted-memory", lambda: os.memfd_create("pradelux-kit") >= 0)
attempt("host-environment", lambda: any(v in os.environ for v in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR",
                                                                  "DISPLAY", "SSH_AUTH_SOCK")) or False)
if os.path.exists(pdf + ".probe"):
    os.remove(pdf + ".probe")
for d in ("/tmp", os.environ.get("HOME", "/")):
    try:
        write(os.path.join(d, "pradelux-kit-earlier"))
    except OSError:
        pass
# Code for every later start that uses the same profile.
if profile:
    os.makedirs(os.path.join(profile, "user"), exist_ok=True)
    write(os.path.join(profile, "user", "planted"))


def fork_many(count):
    children = []
    try:
        for _ in range(count):
            children.append(os.posix_spawn("/bin/sleep", ["sleep", "30"], {}))
        return True
    finally:
        for pid in children:
            os.kill(pid, 9)
            os.waitpid(pid, 0)


if given.get("forkBomb"):
    attempt("fork-300", lambda: fork_many(300))
# Its standard output and error flooded.
if given.get("flood"):
    chunk = b"flood " * 10000 + b"\n"
    for _ in range(1700):
        os.write(1, chunk)
        os.write(2, chunk)
# Memory taken as files in its private home, and files written beside its
# PDF, in a subfolder and under names that are no PDF's.
if given.get("fillHome"):
    with open(os.path.join(os.environ["HOME"], "fill"), "wb") as f:
        for _ in range(700):
            f.write(b"\0" * (1 << 20))
    time.sleep(5)
if given.get("fillFolder"):
    try:
        os.makedirs(os.path.join(os.path.dirname(pdf), "sub"), exist_ok=True)
        with open(os.path.join(os.path.dirname(pdf), "sub", ".fill"), "wb") as f:
            for _ in range(20):
                f.write(os.urandom(1 << 20))
    except OSError:
        pass

# Held while the test looks at the sandbox from outside, until it says so
# (in the kept renderer, whose PDF is deck.pdf: the test reaches its /tmp).
if given.get("waitFor") and os.path.basename(pdf) == "deck.pdf":
    deadline = time.time() + 60
    while not os.path.exists(given["waitFor"]) and time.time() < deadline:
        time.sleep(0.05)

lines = ("".join("%% %s %s\n" % r for r in report) + "".join("%% %s\n" % e for e in earlier)).encode()
if args[0] != "--outside":
    linger()
if args[0] == "--outside":
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
    body = b"%PDF-1.4\n"
    offsets = []
    for number, o in enumerate(objects, 1):
        offsets.append(len(body))
        body += b"%d 0 obj\n%s\nendobj\n" % (number, o)
    xref = len(body)
    body += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    body += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    body += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
else:
    with open(pdf, "rb") as f:
        body = f.read()
# The report follows the PDF that LibreOffice wrote, as comment lines.
body += b"\n" + lines
with open(pdf, "wb") as f:
    # A PDF cut short, while it says on every stream it has that it made a
    # whole one.
    f.write(body[:len(body) // 2] if given.get("lie") else body)
if given.get("lie"):
    os.write(1, b"pages 1\n")
# A PDF that claims gigabytes on a few blocks.
if given.get("sparse"):
    os.truncate(pdf, given["sparse"])

# The PDF swapped for a link to a secret of the user's: in the sandbox's
# private home a real PDF stands at the secret's path, so that a check of
# the PDF inside passes; outside, the same path is the secret.
if given.get("swap"):
    secret = given["swap"]
    try:
        os.makedirs(os.path.dirname(secret), exist_ok=True)
        with open(secret, "wb") as f:
            f.write(body)
    except OSError:
        pass
    os.remove(pdf)
    os.symlink(secret, pdf)

# Answers nobody asked for, on every socket it holds (were the kept
# renderer's line to the part outside among them, the row would fail).
if given.get("answerTwice"):
    for fd in os.listdir("/proc/self/fd"):
        try:
            if stat.S_ISSOCK(os.fstat(int(fd)).st_mode):
                os.write(int(fd), b'{"id":1,"result":"printed"}\n{"id":1,"result":"printed"}\n')
        except OSError:
            pass
