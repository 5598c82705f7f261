#!/usr/bin/env bash
# Non-blank, non-comment lines of C++, JavaScript, Python, shell, HTML and CSS
# under src/ and tests/, and the share the tests make of the code.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 - "$@" <<'PY'
import pathlib, re, sys

KINDS = {
    ".cpp": "c", ".cc": "c", ".h": "c", ".hpp": "c", ".js": "c", ".css": "c",
    ".py": "hash", ".sh": "hash", ".html": "html",
}

def lines(path):
    kind = KINDS[path.suffix]
    text = path.read_text(errors="replace")
    if kind == "c":
        text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
        comment = re.compile(r"^\s*//")
    elif kind == "html":
        text = re.sub(r"<!--.*?-->", "", text, flags=re.S)
        comment = re.compile(r"^\s*//")
    else:
        comment = re.compile(r"^\s*#")
    return sum(1 for line in text.splitlines() if line.strip() and not comment.match(line))

def count(folder):
    files = [p for p in pathlib.Path(folder).rglob("*") if p.suffix in KINDS and p.is_file()
             and "node_modules" not in p.parts]
    return sum(lines(p) for p in files)

src, tests = count("src"), count("tests")
print(f"src {src}  tests {tests}  tests/src {tests / src:.2f}")
PY
