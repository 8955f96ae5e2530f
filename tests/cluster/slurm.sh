#!/usr/bin/env bash
# The example Slurm array script on a real one-machine cluster: Slurm and
# munge from Debian's packages, a controller and a node daemon on this
# machine with a configuration, key and sockets of their own (nothing in
# /etc/slurm is used or changed), and the example submitted as an array of 3
# tasks over a folder of decks. Every deck must then have exactly one PDF,
# with one page per slide, and the tasks' reports together must name every
# deck exactly once, as written.
# usage: tests/cluster/slurm.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)

# The daemons run as root, as on a real cluster; the job runs as this user.
sudo=
[ "$(id -u)" -ne 0 ] && sudo=sudo
missing=()
for p in slurm-wlm munge; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

work=$(mktemp -d /tmp/pradelux-slurm-XXXXXX)
chmod 755 "$work"
pids=()
finish() {
  for pid in "${pids[@]}"; do $sudo kill "$pid" 2>/dev/null || true; done
  sleep 1
  $sudo rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "slurm test: $*" >&2
  for log in "$work"/*.log "$work"/submit/*.log; do [ -f "$log" ] && { echo "== $log"; tail -20 "$log"; } >&2; done
  exit 1
}

# munge, with a key and socket of this test's own.
mkdir -p "$work/munge"
chmod 755 "$work/munge"
$sudo mungekey --create --keyfile="$work/munge/key" >/dev/null
$sudo munged --force --socket="$work/munge/socket" --key-file="$work/munge/key" --pid-file="$work/munge/pid" \
  --log-file="$work/munge.log" --seed-file="$work/munge/seed"
pids+=("$($sudo cat "$work/munge/pid")")

# The cluster: this machine is controller and its only node.
node=$(hostname -s)
cpus=$(nproc)
memory=$(awk '/MemTotal/ {print int($2 / 1024 / 2)}' /proc/meminfo)
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<CONF
ClusterName=pradelux-test
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$work/slurm.conf
$sudo slurmctld -f "$SLURM_CONF" -i
$sudo slurmd -f "$SLURM_CONF"
for pidfile in slurmctld slurmd; do
  for _ in $(seq 50); do [ -s "$work/$pidfile.pid" ] && break; sleep 0.2; done
  [ -s "$work/$pidfile.pid" ] || fail "$pidfile did not start"
  pids+=("$(cat "$work/$pidfile.pid")")
done
for _ in $(seq 100); do
  sinfo -h -N -o '%T' 2>/dev/null | grep -q '^idle' && break
  sleep 0.2
done
sinfo -h -N -o '%T' | grep -q '^idle' || fail "the node did not become idle: $(sinfo -h -N -o '%T %E' 2>&1)"

# The decks: seven, of 1 to 9 slides, as .odp, .pptx, .ppt and .fodp, some
# in a subfolder, with a file that is not a presentation beside them.
mkdir -p "$work/decks/term 2" "$work/flat" "$work/out" "$work/reports" "$work/submit"
python3 "$repo/scripts/flat-decks.py" "$work/flat" lecture0-1:1 lecture1-2:2 lecture2-3:3 lecture3-4:4 \
  lecture4-5:5 lecture5-7:7 lecture6-9:9
convert() { # FORMAT FOLDER FILES...
  local format=$1 folder=$2; shift 2
  soffice --headless -env:UserInstallation="file://$work/convert-profile" --convert-to "$format" \
    --outdir "$folder" "$@" >/dev/null 2>&1
}
convert odp "$work/decks" "$work/flat/lecture0-1.fodp" "$work/flat/lecture1-2.fodp"
convert pptx "$work/decks/term 2" "$work/flat/lecture2-3.fodp" "$work/flat/lecture3-4.fodp"
convert ppt "$work/decks" "$work/flat/lecture4-5.fodp" "$work/flat/lecture5-7.fodp"
cp "$work/flat/lecture6-9.fodp" "$work/decks/term 2/"
echo "not a presentation" >"$work/decks/notes.txt"
[ "$(find "$work/decks" -name 'lecture*' | wc -l)" -eq 7 ] || fail "the decks were not made"

# The example, as a user submits it: from a folder of their own, an array of 3.
job=$(cd "$work/submit" && PRADELUX="$build/bin/pradelux" PRADELUX_PRINTER="$build/bin/pradelux-printer" \
  sbatch --parsable --array=1-3 --wait --time=15 "$repo/examples/pradelux-slurm-array.sbatch" \
  "$work/decks" "$work/out" "$work/reports") || fail "the array job failed"
job=${job%%;*}

python3 - "$work/decks" "$work/out" "$work/reports" "$job" <<'PY' || fail "the results are wrong"
import glob, json, os, re, subprocess, sys
decks, out, reports, job = sys.argv[1:]
expected = {}
for root, _, files in os.walk(decks):
    for name in files:
        m = re.match(r"lecture\d-(\d+)\.", name)
        if m:
            expected[os.path.join(root, name)] = int(m.group(1))
# --keep-folders: each PDF in its deck's folder below the output folder.
def pdf_of(deck):
    return os.path.join(out, re.sub(r"\.[^.]+$", ".pdf", os.path.relpath(deck, decks)))
pdfs = sorted(os.path.join(root, name) for root, _, files in os.walk(out) for name in files)
wanted = sorted(pdf_of(p) for p in expected)
assert pdfs == wanted, f"PDFs {pdfs}, wanted {wanted}"
for deck, slides in expected.items():
    pdf = pdf_of(deck)
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
    pages = int(re.search(r"^Pages:\s+(\d+)", info, re.M).group(1))
    assert pages == slides, f"{pdf}: {pages} pages, {slides} slides"
files = sorted(glob.glob(os.path.join(reports, f"pradelux-{job}-*-of-3.jsonl")))
assert len(files) == 3, f"reports: {files}"
named = {}
for f in files:
    for line in open(f, encoding="utf-8"):
        row = json.loads(line)
        assert row["presentation"] not in named, f"{row['presentation']} is named twice"
        named[row["presentation"]] = row
assert set(named) == set(expected), f"reports name {sorted(named)}, the decks are {sorted(expected)}"
for deck, row in named.items():
    assert row["status"] == "written" and row["pages"] == expected[deck], row
shares = [sum(1 for _ in open(f)) for f in files]
print(f"slurm test: 3 tasks took {shares} of {len(expected)} decks; each PDF once, with its page count")
PY
