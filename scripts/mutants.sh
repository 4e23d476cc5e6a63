#!/usr/bin/env bash
# A deterministic mutation run over the module and the companions: a fixed seed picks N
# mutants (default 60) from simple operator changes in their sources (a comparison
# flipped, a bound moved by one, a call to delete, rename, close or flush dropped, a
# condition negated, a constant changed). Each is built incrementally with the linux
# preset and judged by the whole test suite: killed when some test fails. Prints
# "killed K of N" and the surviving mutants with file and line.
# The same sources and seed give the same mutants, so two test suites can be compared.
# Usage: scripts/mutants.sh [N] [SEED]   (works on a copy of the tree in build/mutants)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-60}
seed=${2:-2026}
root=$PWD
copy=$root/build/mutants/tree
mkdir -p "$copy"
# The tree as committed plus the work in progress, without build folders. The copy keeps
# its own build folder, so that later runs build incrementally: a file is written only
# when its bytes differ, with a new time, so that an interrupted run's mutant is rebuilt.
git ls-files -z --cached --others --exclude-standard | python3 -c '
import os, sys
copy = sys.argv[1]
names = [n for n in sys.stdin.buffer.read().decode().split("\0") if n and os.path.isfile(n)]
keep = {os.path.normpath(n) for n in names}
for n in names:
    data = open(n, "rb").read()
    target = os.path.join(copy, n)
    try:
        same = open(target, "rb").read() == data
    except OSError:
        same = False
    if not same:
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        open(target, "wb").write(data)
    os.chmod(target, os.stat(n).st_mode & 0o777)
for root, dirs, files in os.walk(copy):
    rel = os.path.relpath(root, copy)
    if rel == "build" or rel.startswith("build" + os.sep):
        dirs[:] = []
        continue
    for f in files:
        name = os.path.normpath(os.path.join(rel, f))
        if name not in keep:
            os.remove(os.path.join(root, f))
' "$copy"
cd "$copy"
# The linux preset's build, with less optimisation and no debug information, linked by lld
# when there is one: each mutant relinks every test program, and that is most of its time.
linker=()
command -v ld.lld >/dev/null && linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld)
cmake --preset linux -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -DNDEBUG" \
  ${linker[@]+"${linker[@]}"} >/dev/null
cmake --build --preset linux >/dev/null
python3 - "$count" "$seed" <<'PY'
import random, re, signal, subprocess, sys

count, seed = int(sys.argv[1]), int(sys.argv[2])
# Stopped from outside, the mutated file is still put back (the finally clause below).
signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
files = sorted(subprocess.check_output(
    ["find", "src", "companions", "-name", "*.cpp", "-not", "-path", "*/win32/*", "-not", "-name", "*Wic*",
     "-not", "-name", "PdfNone.cpp", "-not", "-name", "FaultInjection.cpp"], text=True).split())

def in_text(code, at):
    # Inside a string or character literal: changing the words of a text is no mutant.
    return code[:at].count('"') % 2 == 1 or code[:at].count("'") % 2 == 1

def candidates(path):
    out = []
    lines = open(path, encoding="utf-8").read().split("\n")
    for n, line in enumerate(lines):
        code = line.split("//")[0]
        stripped = code.strip()
        if not stripped or stripped.startswith("#") or stripped.startswith("static_assert"):
            continue
        for op, to in (("==", "!="), ("!=", "=="), ("<=", "<"), (">=", ">"), (" < ", " <= "), (" > ", " >= ")):
            for m in re.finditer(re.escape(op), code):
                if in_text(code, m.start()):
                    continue
                if op in ("<=", ">=") and code[m.start() - 1:m.start()] in "<>":
                    continue
                if op in (" < ", " > ") and ("template" in code or "<<" in code or ">>" in code or "->" in code):
                    continue
                out.append((path, n, "comparison " + op.strip() + " -> " + to.strip(), m.start(), op, to))
        m = re.search(r"\bif \((.*)\) ?(\{|return|[A-Za-z])", code)
        if m and "&&" not in m.group(1) and "||" not in m.group(1):
            out.append((path, n, "condition negated", m.start(1), m.group(1), "!(" + m.group(1) + ")"))
        if re.match(r"\s*(\w+(\.|->))?(DeleteFile|RemoveFolder|Move|Close|Flush|fflush|CloseFolder|SetAttributes)\w*\(.*\);\s*$", code):
            out.append((path, n, "call dropped", 0, code, "(void)0;"))
        for m in re.finditer(r"(?<![\w.])([1-9][0-9]*)(?![\w.'])", code):
            if "case " in code or "[" in code[:m.start()][-2:] or in_text(code, m.start()):
                continue
            out.append((path, n, "constant " + m.group(1) + " -> " + str(int(m.group(1)) + 1), m.start(), m.group(1),
                        str(int(m.group(1)) + 1)))
    return out

pool = [c for f in files for c in candidates(f)]
rng = random.Random(seed)
rng.shuffle(pool)

def run(cmd, timeout):
    try:
        return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1

killed, judged, survivors = 0, 0, []
for path, n, what, col, old, new in pool:
    if judged == count:
        break
    text = open(path, encoding="utf-8").read()
    lines = text.split("\n")
    line = lines[n]
    lines[n] = line[:col] + line[col:].replace(old, new, 1) if what != "call dropped" else new
    open(path, "w", encoding="utf-8").write("\n".join(lines))
    try:
        # A mutant that does not compile is no mutant: the next one is taken. Only .cpp files
        # change, so what fails to build is the mutated file itself, never a test.
        if run(["cmake", "--build", "--preset", "linux"], 1800) != 0:
            continue
        judged += 1
        tested = run(["ctest", "--preset", "linux", "--stop-on-failure", "--timeout", "300", "-j2"], 2400) == 0
        if tested:
            survivors.append(f"{path}:{n + 1}: {what}: {line.strip()}")
            print(f"[{judged}/{count}] survived {path}:{n + 1} {what}", flush=True)
        else:
            killed += 1
            print(f"[{judged}/{count}] killed   {path}:{n + 1} {what}", flush=True)
    finally:
        open(path, "w", encoding="utf-8").write(text)
print(f"killed {killed} of {judged}")
for s in survivors:
    print("  survived " + s)
PY
# Leave the copy built as the tree is.
cmake --build --preset linux >/dev/null
