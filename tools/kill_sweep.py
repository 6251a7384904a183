#!/usr/bin/env python3
"""Kills a send or a receive of dalimor-cli with SIGKILL at every call of
chosen system calls (strace fault injection), lets the next command recover,
and checks that the folder the run writes is exactly as before the run or
holds exactly the rows of a whole run -- never anything between.

    tools/kill_sweep.py DALIMOR_CLI [--calls rename,unlinkat,...] [--every N]

Prints, per run and system call, the kill points tried and how many came
back whole.  Needs strace.
"""
import argparse
import csv
import hashlib
import io
import os
import shutil
import subprocess
import sys
import tempfile

BRANCH, HEAD = "Pobočka Brno", "Centrála Praha"
AGENDAS = ["--agenda", "PF", "--agenda", "Banka", "--agenda", "VF", "--agenda", "Cenik"]


def run(cli, args, env, check=True):
    p = subprocess.run([cli] + args, env=env, stdin=subprocess.DEVNULL, capture_output=True)
    if check and p.returncode != 0:
        sys.exit(f"{' '.join(args)} failed: {p.stdout.decode()} {p.stderr.decode()}")
    return p.returncode


def files(folder):
    out = {}
    for root, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if d != ".dalimor-journal"]
        for n in names:
            if n == ".dalimor-lock":
                continue
            p = os.path.join(root, n)
            with open(p, "rb") as f:
                out[os.path.relpath(p, folder)] = hashlib.sha256(f.read()).hexdigest()
    return out


def rows(cli, folder, env):
    """The rows of every table, without Zmeneno (the time a row was processed)."""
    out = {}
    for name in sorted(files(folder)):
        if not name.upper().endswith(".DB"):
            continue
        p = subprocess.run([cli, "dump", os.path.join(folder, name)], env=env, capture_output=True)
        table = list(csv.reader(io.StringIO(p.stdout.decode())))
        if table and "Zmeneno" in table[0]:
            i = table[0].index("Zmeneno")
            table = [r[:i] + r[i + 1:] for r in table]
        out[name] = table
    return out


def count_calls(cli, args, env, call):
    with tempfile.NamedTemporaryFile() as trace:
        subprocess.run(["strace", "-f", "-qq", "-o", trace.name, "-e", f"trace={call}", cli] + args,
                       env=env, stdin=subprocess.DEVNULL, capture_output=True)
        return sum(1 for line in open(trace.name) if f"{call}(" in line)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("--calls", default="rename,unlink,unlinkat,fsync,ftruncate,pwrite64")
    ap.add_argument("--every", type=int, default=1, help="try every N-th call")
    a = ap.parse_args()
    cli = os.path.abspath(a.cli)
    work = tempfile.mkdtemp(prefix="kill-sweep-")
    env = dict(os.environ, DALIMOR_ENGINE_CONFIG=os.path.join(work, "engine.cfg"))
    pristine, kalmeo, batch = (os.path.join(work, n) for n in ("pristine", "kalmeo", "davka"))
    run(cli, ["demo", pristine], env)
    os.mkdir(batch)
    common = lambda company, inst: ["--installation", inst, "--company", company, "--folder", batch]
    run(cli, ["init"] + common(BRANCH, pristine) + ["--yes"], env)
    run(cli, ["send"] + common(BRANCH, pristine) + AGENDAS + ["--price-all", "--yes"], env)
    batch_sent = os.path.join(work, "davka-sent")
    shutil.copytree(batch, batch_sent)

    phases = {
        "receive": (["receive"] + common(HEAD, kalmeo) + AGENDAS + ["--overwrite", "--price-all", "--yes"],
                    lambda: os.path.join(kalmeo, "DATA", "PRAHA"), HEAD),
        "send": (["send"] + common(BRANCH, kalmeo) + AGENDAS + ["--overwrite", "--price-all", "--yes"],
                 lambda: batch, BRANCH),
    }
    failures = 0
    for phase, (args, target, company) in phases.items():
        def reset():
            shutil.rmtree(kalmeo, ignore_errors=True)
            shutil.copytree(pristine, kalmeo, symlinks=True)
            shutil.rmtree(batch, ignore_errors=True)
            shutil.copytree(batch_sent, batch, symlinks=True)
        reset()
        before = files(target())
        run(cli, args, env)
        after = rows(cli, target(), env)
        for call in a.calls.split(","):
            reset()
            total = count_calls(cli, args, env, call)
            tried = whole = 0
            for n in range(1, total + 1, a.every):
                reset()
                subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                f"inject={call}:signal=SIGKILL:when={n}", cli] + args,
                               env=env, stdin=subprocess.DEVNULL, capture_output=True)
                run(cli, ["recover"] + common(company, kalmeo), env, check=False)
                tried += 1
                now = files(target())
                left = os.path.exists(os.path.join(target(), ".dalimor-journal"))
                if not left and (now == before or rows(cli, target(), env) == after):
                    whole += 1
                else:
                    failures += 1
                    print(f"  {phase} killed at {call} #{n}: neither before nor after", flush=True)
            print(f"{phase:8} {call:10} kill points tried {tried:4}, came back whole {whole:4}", flush=True)
    shutil.rmtree(work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
