#!/usr/bin/env python3
"""One-line mutants of chosen source files against their unit test program.

    scripts/mutate.py congestion video/loop [--build build/linux] [--max 60] [--seed 1]
    scripts/mutate.py --list

Each mutant changes one line (a comparison or arithmetic operator, a
constant, a removed statement, a negated condition), rebuilds only the test
program of its subsystem, runs it, and counts as killed when the program
fails or times out. The file is restored after every mutant, also on Ctrl-C.
Prints per file the killed fraction and the survivors, and a table at the end.
Slow (a rebuild per mutant), so not part of the test command.
"""
import argparse
import pathlib
import random
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Subsystem part -> (source files, test program target, gtest filter).
TARGETS = {
    "congestion": ("src/congestion/*.cpp", "congestion_tests", "*"),
    "video/loop": ("src/video/encode_loop.cpp src/video/encoder_config.cpp", "video_tests", "*"),
    "video/sender": ("src/video/video_sender.cpp", "video_tests", "*"),
    "capture": ("src/capture/acquisition.h src/capture/frame_brightness.cpp", "capture_tests", "*"),
    "input": ("src/input/key_tables.cpp src/input/input_messages.cpp", "input_tests", "*"),
    "relay": ("src/relay/pipe_format.cpp", "relay_tests", "*"),
    "files": ("src/files/file_transfer.cpp src/files/paths.cpp", "files_tests", "*"),
    "clipboard": ("src/clipboard/clipboard_state.cpp src/clipboard/dib.cpp src/clipboard/png_header.cpp",
                  "clipboard_tests", "*"),
    "rtc/wire": ("src/rtc/rtp_header.cpp src/rtc/rtcp_packet.cpp src/rtc/packet_kind.cpp src/rtc/rtcpnackresponder.cpp",
                 "rtc_tests", "*"),
    "rtc/sdp": ("src/rtc/sdp_text.cpp src/rtc/description.cpp", "rtc_tests", "*"),
}

COMPARISONS = [("<=", "<"), ("<", "<="), (">=", ">"), (">", ">="), ("==", "!="), ("!=", "==")]
ARITHMETIC = [(" + ", " - "), (" - ", " + "), (" * ", " / "), (" / ", " * ")]
LOGIC = [(" && ", " || "), (" || ", " && ")]
SKIP = re.compile(r"^\s*(#|//|\*|/\*|static_assert|using |namespace |\}|\{|case |default:|return;$)|\blog\(|<<")


def code_spans(line):
    """Index ranges of the line outside string and character literals and comments."""
    spans, start, i, quote = [], 0, 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote, start = None, i + 1
        elif c == "'" and line[i - 1:i].isalnum() and line[i + 1:i + 2].isalnum():
            pass  # a digit separator
        elif c in "\"'":
            spans.append((start, i))
            quote = c
        elif line.startswith("//", i):
            break
        i += 1
    if not quote:
        spans.append((start, i))
    return spans


def mutants_of(line):
    """(description, mutated line) for one source line."""
    if SKIP.search(line) or not line.strip():
        return []
    out = []
    for begin, end in code_spans(line):
        part = line[begin:end]
        for table in (COMPARISONS, ARITHMETIC, LOGIC):
            for old, new in table:
                for m in re.finditer(re.escape(old), part):
                    at = begin + m.start()
                    # Not part of a longer operator, a template or a stream.
                    before, after = line[at - 1:at], line[at + len(old):at + len(old) + 1]
                    if old in ("<", ">") and (before in "<>-=" or after in "<>=" or "template" in line):
                        continue
                    if old in ("<", ">", "<=", ">=") and re.search(r"\w<[\w:]", line):
                        continue  # a template's brackets on this line: leave its comparisons be
                    if old == "<=" and (before == "<" or after == ">"):
                        continue
                    out.append((f"{old.strip()} -> {new.strip()}", line[:at] + new + line[at + len(old):]))
        for m in re.finditer(r"(?<![\w.'])(\d[\d']*)(?![\w.'])", part):
            at = begin + m.start()
            value = int(m.group(1).replace("'", ""))
            out.append((f"{m.group(1)} -> {value + 1}", line[:at] + str(value + 1) + line[at + len(m.group(1)):]))
        for m in re.finditer(r"\b(if|while) \(", part):
            at = begin + m.end()
            depth, j = 1, at
            while j < len(line) and depth:
                depth += {"(": 1, ")": -1}.get(line[j], 0)
                j += 1
            if depth == 0:
                out.append((f"negate {m.group(1)}", line[:at] + "!(" + line[at:j - 1] + ")" + line[j - 1:]))
    stripped = line.strip()
    # A statement that does something: a call or an assignment, not a
    # declaration (a type name followed by a name).
    declaration = re.match(r"^[A-Za-z_][\w:]*(<[^;]*>)?[*&]*\s+[*&]?[A-Za-z_]", stripped)
    if stripped.endswith(";") and not declaration and not stripped.startswith(("return", "break", "continue", "throw")):
        out.append(("remove statement", re.sub(r"\S.*", "(void)0;", line)))
    return out


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, cwd=ROOT, capture_output=True, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("parts", nargs="*", help="subsystem parts (see --list)")
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--max", type=int, default=0, help="at most this many mutants per file, sampled")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    if args.list or not args.parts:
        for name, (files, target, _) in TARGETS.items():
            print(f"{name:14} {target:18} {files}")
        return 0
    table = []
    for part in args.parts:
        patterns, target, gfilter = TARGETS[part]
        files = sorted({p for pattern in patterns.split() for p in ROOT.glob(pattern)})
        subsystem = target.removesuffix("_tests")
        program = ROOT / args.build / "tests" / subsystem / target
        if run(["cmake", "--build", args.build, "--target", target], 1800) != 0:
            print(f"{target} does not build", file=sys.stderr)
            return 1
        for path in files:
            original = path.read_text()
            lines = original.split("\n")
            candidates = [(n, d, m) for n, line in enumerate(lines) for d, m in mutants_of(line)]
            if args.max and len(candidates) > args.max:
                candidates = sorted(random.Random(args.seed).sample(candidates, args.max))
            killed, stillborn, survivors, started = 0, 0, [], time.time()
            try:
                for n, description, mutated in candidates:
                    path.write_text("\n".join(lines[:n] + [mutated] + lines[n + 1:]))
                    if run(["cmake", "--build", args.build, "--target", target], 600) != 0:
                        stillborn += 1  # does not compile: no mutant at all
                        continue
                    if run([str(program), f"--gtest_filter={gfilter}"], 30) != 0:  # a hang counts as killed
                        killed += 1
                    else:
                        survivors.append(f"  {path.relative_to(ROOT)}:{n + 1}: {description}: {mutated.strip()}")
            finally:
                path.write_text(original)
            total = len(candidates) - stillborn
            rel = path.relative_to(ROOT)
            print(f"{rel}: {killed}/{total} killed ({100 * killed / max(total, 1):.0f} %), {stillborn} did not compile, in {time.time() - started:.0f} s")
            for s in survivors:
                print(s)
            table.append((part, str(rel), killed, total))
            sys.stdout.flush()
        run(["cmake", "--build", args.build, "--target", target], 1800)
    print("\n| part | file | killed | mutants | score |\n|---|---|---|---|---|")
    for part, rel, killed, total in table:
        print(f"| {part} | {rel} | {killed} | {total} | {100 * killed / max(total, 1):.0f} % |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
