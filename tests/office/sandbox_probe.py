"""What code running where LibreOffice runs can reach. Run inside the
sandbox; prints one line per attempt: NAME reached|blocked.

Arguments: a JSON object with the paths and numbers to try (see the test)."""
import errno, json, os, socket, sys

given = json.loads(sys.argv[1])


def attempt(name, action):
    try:
        result = action()
        print(name, "blocked" if result is False else "reached")
    except OSError:
        print(name, "blocked")


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


def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return line.split()[1]


attempt("presentation", lambda: read(given["presentation"]))
attempt("beside", lambda: read(given["beside"]) if given.get("beside") else False)
attempt("hidden-folder", lambda: read(given["hidden"]) if given.get("hidden") else False)
attempt("outside", lambda: read(given["outside"]))
attempt("write-shown-folder", lambda: write(given["shownWrite"]))
attempt("write-out-folder", lambda: write(given["outWrite"]))
attempt("socket-beside", lambda: connect_unix(given["socket"]) if given.get("socket") else False)
attempt("fifo-beside", lambda: open_fifo(given["fifo"]) if given.get("fifo") else False)
attempt("runtime-socket", lambda: connect_unix(given["runtimeSocket"]))
attempt("session-bus", lambda: connect_unix(given["bus"]))
attempt("network", lambda: connect_tcp(given["port"]))
attempt("other-process", lambda: os.kill(given["pid"], 0))
attempt("host-shm", lambda: read(given["shm"]))
attempt("proc-sys", lambda: write("/proc/sys/kernel/hostname"))
attempt("root-only-file", lambda: read("/etc/shadow"))
attempt("many-processes", lambda: len([p for p in os.listdir("/proc") if p.isdigit()]) > 10 or False)
attempt("extra-devices", lambda: bool(set(os.listdir("/dev")) - {"null", "zero", "full", "random", "urandom", "tty",
                                                                "shm", "pts", "ptmx", "fd", "stdin", "stdout",
                                                                "stderr", "core"}) or False)
attempt("root-user", lambda: os.getuid() == 0 or False)
attempt("capabilities", lambda: int(status("CapEff"), 16) != 0 or False)
attempt("new-privileges", lambda: status("NoNewPrivs") != "1" or False)
attempt("user-namespace", lambda: os.unshare(os.CLONE_NEWUSER) if hasattr(os, "unshare") else
        __import__("ctypes").CDLL(None, use_errno=True).unshare(0x10000000) == 0 or False)
attempt("vsock", lambda: socket.socket(40, socket.SOCK_STREAM).close())
attempt("host-environment", lambda: any(v in os.environ for v in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR",
                                                                  "DISPLAY", "SSH_AUTH_SOCK")) or False)
