#!/usr/bin/env python3
"""Mutation testing of the renderer's unit tests.

Applies one small textual fault at a time to a fixed, seeded sample of source
lines (a relational or arithmetic operator swapped, an integer constant moved
by one, a condition negated, a statement deleted), rebuilds the unit tests
and runs them. A mutant is killed when a test fails, crashes or hangs; one
that does not compile is not counted. Prints killed / total per module and
every surviving mutant.

    tools/mutate.py BUILD-FOLDER [--lines N] [--seed S] [--sample FILE] [--save FILE [--save-only]]

--save writes the sample (file, line text, mutation) so that a later run can
take the same lines with --sample: each is looked up by its text in its
module, wherever it has moved, and left out where it no longer exists.
"""

import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODULES = ["geometry", "images", "render", "scenery", "tga"]
TEST_TARGETS = ["geometry_test", "images_test", "render_test", "scenery_test", "tga_test"]
TEST_TIMEOUT = 120  # seconds per test program; a mutant may loop forever

# Each operator: name, pattern, replacement. The pattern must not touch
# "<<", "->", "++", "+=" and the like, nor template brackets.
OPERATORS = [
    ("< to <=", r"(?<![<\-])<(?![<=])(?=\s)", "<="),
    ("<= to <", r"<=(?=\s)", "<"),
    ("> to >=", r"(?<=\s)>(?![>=])", ">="),
    (">= to >", r"(?<=\s)>=", ">"),
    ("== to !=", r"==", "!="),
    ("!= to ==", r"!=", "=="),
    ("+ to -", r"(?<=\s)\+(?=\s)", "-"),
    ("- to +", r"(?<=\s)-(?=\s)", "+"),
    ("* to /", r"(?<=\s)\*(?=\s)", "/"),
    ("/ to *", r"(?<=\s)/(?=\s)", "*"),
    ("&& to ||", r"&&", "||"),
    ("|| to &&", r"\|\|", "&&"),
]
CONSTANT = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
CONDITION = re.compile(r"^(\s*(?:\}\s*else\s+)?(?:if|while)\s*)\((.*)\)(\s*(?:\{|return\b.*|[\w>.\-\[\]]+.*;)?\s*)$")


def source_lines(module):
    """(path relative to ROOT, line number, text) of every candidate line."""
    folder = os.path.join(ROOT, "src", module)
    result = []
    for name in sorted(os.listdir(folder)):
        # The vector layer's portable half is not compiled in the build the
        # tests run in; the test command compares it frame for frame instead.
        if not name.endswith((".cpp", ".h")) or name == "simd.h":
            continue
        path = os.path.join("src", module, name)
        in_block_comment = False
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            for number, text in enumerate(f, 1):
                stripped = text.strip()
                if in_block_comment:
                    in_block_comment = "*/" not in stripped
                    continue
                if stripped.startswith("/*"):
                    in_block_comment = "*/" not in stripped
                    continue
                if not stripped or stripped.startswith(("//", "#", "static_assert", "Q_")):
                    continue
                if mutations_of(text):
                    result.append((path, number, text.rstrip("\n")))
    return result


def code_part(text):
    """The line without a trailing // comment or string literals' contents."""
    code = re.sub(r'"(\\.|[^"\\])*"', '""', text)
    return code.split("//")[0]


def mutations_of(text):
    """Every (name, mutated line) one operator gives for this line."""
    code = code_part(text)
    comment = text[len(code):] if text.startswith(code) else ""
    found = []
    for name, pattern, replacement in OPERATORS:
        match = re.search(pattern, code)
        if match:
            found.append((name, code[: match.start()] + replacement + code[match.end():] + comment))
    for match in CONSTANT.finditer(code):
        value = int(match.group(1))
        found.append((f"{value} to {value + 1}", code[: match.start()] + str(value + 1) + code[match.end():] + comment))
        break
    condition = CONDITION.match(code)
    if condition:
        head, inner, tail = condition.groups()
        found.append(("condition negated", f"{head}(!({inner})){tail}{comment}"))
    stripped = code.strip()
    if (stripped.endswith(";") and not stripped.startswith(("return", "case", "default", "using", "namespace",
                                                             "class", "struct", "enum", "template", "typedef",
                                                             "friend", "public", "private", "protected"))
            and "(" in stripped and "{" not in stripped and "}" not in stripped and not re.match(
                r"^[\w:<>,\s*&]+\s+[\w]+\s*[=({]", stripped)):
        indent = text[: len(text) - len(text.lstrip())]
        found.append(("statement deleted", indent + ";"))
    return found


def module_of(path):
    return path.split("/")[1]


def choose_sample(count, seed):
    rng = random.Random(seed)
    per_module = {m: source_lines(m) for m in MODULES}
    everything = [line for m in MODULES for line in per_module[m]]
    chosen = rng.sample(everything, min(count, len(everything)))
    sample = []
    for path, number, text in sorted(chosen):
        name, _ = rng.choice(mutations_of(text))
        sample.append({"file": path, "text": text, "mutation": name})
    return sample


def locate(entry):
    """Where the sampled line stands now: (path, line number) or None."""
    module = module_of(entry["file"])
    candidates = [(p, n) for p, n, t in source_lines(module) if t.strip() == entry["text"].strip()]
    same_file = [c for c in candidates if c[0] == entry["file"]]
    return (same_file or candidates or [None])[0]


def build(folder):
    result = subprocess.run(["cmake", "--build", folder, "--target", *TEST_TARGETS], capture_output=True, text=True)
    return result.returncode == 0


def tests_pass(folder, first_module=None):
    """Runs the unit test programs, the mutated module's own first (it is
    the likeliest to fail, which ends the run early)."""
    order = sorted(zip(MODULES, TEST_TARGETS), key=lambda pair: pair[0] != first_module)
    for module, target in order:
        program = os.path.join(folder, "tests", module, target)
        try:
            result = subprocess.run([program, "--gtest_brief=1", "--gtest_fail_fast"], capture_output=True,
                                    timeout=TEST_TIMEOUT, cwd=os.path.dirname(program))
        except subprocess.TimeoutExpired:
            return False
        if result.returncode != 0:
            return False
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", help="configured build folder (no link-time optimisation)")
    parser.add_argument("--lines", type=int, default=220)
    parser.add_argument("--seed", type=int, default=20261206)
    parser.add_argument("--sample", help="take the lines of an earlier run's saved sample")
    parser.add_argument("--save", help="write the sample to this file")
    parser.add_argument("--save-only", action="store_true",
                        help="write the sample (--save) and stop, e.g. to score a later commit on an earlier one's lines")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    # A run stopped from outside must still put the mutated file back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))

    if args.sample:
        with open(args.sample, encoding="utf-8") as f:
            sample = json.load(f)
    else:
        sample = choose_sample(args.lines, args.seed)
    if args.save:
        with open(args.save, "w", encoding="utf-8") as f:
            json.dump(sample, f, indent=1)
    if args.save_only:
        return

    if not build(args.build) or not tests_pass(args.build):
        sys.exit("the unmutated tree does not build or its unit tests fail")

    killed = {m: 0 for m in MODULES}
    total = {m: 0 for m in MODULES}
    survivors, missing, not_compiling = [], 0, 0
    started = time.time()
    for index, entry in enumerate(sample, 1):
        place = locate(entry)
        mutants = dict(mutations_of(entry["text"])) if place else {}
        if entry["mutation"] not in mutants:
            missing += 1
            continue
        path, number = place
        full = os.path.join(ROOT, path)
        with open(full, encoding="utf-8") as f:
            original = f.read()
        lines = original.split("\n")
        lines[number - 1] = mutants[entry["mutation"]]
        try:
            with open(full, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            if not build(args.build):
                not_compiling += 1
                outcome = "does not compile"
            else:
                module = module_of(path)
                total[module] += 1
                if tests_pass(args.build, module):
                    survivors.append(f"{path}:{number}: {entry['mutation']}: {entry['text'].strip()}")
                    outcome = "SURVIVED"
                else:
                    killed[module] += 1
                    outcome = "killed"
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        print(f"[{index}/{len(sample)} {time.time() - started:.0f} s] {path}:{number} {entry['mutation']}: {outcome}",
              flush=True)
    build(args.build)

    print("\nmodule      killed / total")
    for m in MODULES:
        print(f"{m:<11} {killed[m]:>6} / {total[m]}")
    print(f"{'all':<11} {sum(killed.values()):>6} / {sum(total.values())}"
          f"  ({not_compiling} not compiling, {missing} lines no longer in the sources)")
    print("\nSurvivors:")
    for s in survivors:
        print("  " + s)


if __name__ == "__main__":
    main()
