#!/usr/bin/env python3
"""Checks the catalogs against the code.

- Every text the program shows passes through the catalog: a string literal with a character
  outside ASCII, or a literal handed straight to a call that shows it, must sit inside Translate,
  TranslateFormat, TR_NOOP or _() (the server's page, the wire encoding and the comments excepted).
- Every msgid the code and the dialog templates hold (xgettext over the sources, wxrc -g over
  res/*.xrc) is in each po/<language>.po, translated and not fuzzy.
Prints what is wrong and exits 1; exits 0 when all is well.
"""
import os
import re
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The folders whose texts reach the listener. survey/ is the wire (its values never change with
# the language), chart/ and server/ draw the survey server's page, which stays English.
FOLDERS = ["app", "ui", "help", "audio", "synth", "results", "checklog", "questionnaire", "report", "diagnoses"]
WRAPPERS = {"Translate", "TranslateFormat", "TR_NOOP", "_", "wxTRANSLATE"}
# Calls whose string argument is shown as it stands.
SHOWN = {"ShowMessage", "AppMessageBox", "wxMessageBox", "SetLabel", "SetLabelText", "SetTitle",
         "SetControlLabel", "SetControlText", "SetAccessibleName", "SetToolTip", "SetStatusText",
         "Append", "ChangeValue", "SetValue"}
KEYWORDS = ["Translate", "TranslateFormat", "TR_NOOP", "_", "wxTRANSLATE"]


def sources():
    for folder in FOLDERS:
        for root, _dirs, files in os.walk(os.path.join(TOP, folder)):
            for name in sorted(files):
                if name.endswith((".cpp", ".h")):
                    yield os.path.join(root, name)


def strip_comments(text):
    """Blanks comments (keeping line breaks and literals) so that positions stay as they were."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("".join(ch if ch == "\n" else " " for ch in text[i:j]))
            i = j
        elif c == '"' or c == "'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


LITERAL = re.compile(r'(?<![\w\'])(u8|R)?"((?:[^"\\\n]|\\.)*)"')


def enclosing_calls(code, pos):
    """The names of the calls whose parentheses hold `pos` within its statement, innermost first."""
    calls = []
    depth = 0
    i = pos - 1
    while i >= 0:
        c = code[i]
        if c == ")":
            depth += 1
        elif c == "(":
            if depth == 0:
                m = re.search(r"([A-Za-z_]\w*)\s*$", code[:i])
                calls.append(m.group(1) if m else "")
            else:
                depth -= 1
        elif c in ";{}" and depth == 0:
            break
        i -= 1
    return calls


def bypassing_literals():
    problems = []
    for path in sources():
        with open(path, encoding="utf-8") as f:
            code = strip_comments(f.read())
        for m in LITERAL.finditer(code):
            text = m.group(2)
            if code[:m.start()].rstrip().endswith("#include"):
                continue
            line = code.count("\n", 0, m.start()) + 1
            calls = enclosing_calls(code, m.start())
            direct = bool(calls) and calls[0] in SHOWN
            foreign = any(ord(ch) > 127 for ch in text)
            wrapped = any(call in WRAPPERS for call in calls)
            if (foreign or (direct and re.search(r"[A-Za-z]{2}", text))) and not wrapped:
                problems.append(f"{os.path.relpath(path, TOP)}:{line}: shown without the catalog: \"{text}\"")
    return problems


def template(directory):
    xrc = os.path.join(directory, "templates.cpp")
    with open(xrc, "w", encoding="utf-8") as f:
        f.write(subprocess.run(["wxrc", "-g"] + sorted(
            os.path.join("res", n) for n in os.listdir(os.path.join(TOP, "res")) if n.endswith(".xrc")),
            check=True, capture_output=True, text=True, cwd=TOP).stdout)
    pot = os.path.join(directory, "tonvale.pot")
    subprocess.run(["xgettext", "--from-code=UTF-8", "--language=C++", "--no-wrap", "--sort-output",
                    "--add-comments=TRANSLATORS", "-o", pot] + [f"--keyword={k}" for k in KEYWORDS] +
                   [os.path.relpath(p, TOP) for p in sources()] + [xrc], check=True, cwd=TOP)
    return pot


def msgids(po_text):
    """The msgids of a catalog's text, each joined into one line."""
    ids, current = [], None
    for line in po_text.splitlines() + [""]:
        if line.startswith("msgid "):
            current = line[6:].strip('"')
        elif current is not None and line.startswith('"'):
            current += line.strip('"')
        elif current is not None:
            if current:
                ids.append(current)
            current = None
    return ids


def catalog_problems(pot):
    problems = []
    for name in sorted(os.listdir(os.path.join(TOP, "po"))):
        if not name.endswith(".po"):
            continue
        po = os.path.join(TOP, "po", name)
        check = subprocess.run(["msgfmt", "--check", "-o", os.devnull, po], capture_output=True, text=True)
        if check.returncode != 0:
            problems.append(f"po/{name}: {check.stderr.strip()}")
            continue
        # Merged with the code's template, a msgid the catalog lacks shows as untranslated.
        merged = subprocess.run(["msgmerge", "--quiet", "--no-fuzzy-matching", "--no-wrap", po, pot],
                                capture_output=True, text=True, check=True).stdout
        if name == "en.po":
            # An English text keeps no Japanese (kana, kanji, full- and half-width forms).
            japanese = re.compile("[\u3000-\u30ff\u3400-\u9fff\uff00-\uffef]")
            in_msgstr = False
            for line in open(po, encoding="utf-8"):
                if line.startswith(("msgid", "msgctxt", "#")) or not line.strip():
                    in_msgstr = False
                elif line.startswith("msgstr"):
                    in_msgstr = True
                if in_msgstr and japanese.search(line):
                    problems.append(f"po/{name}: Japanese in an English text: {line.strip()}")
        for flag, what in (("--untranslated", "untranslated or missing"), ("--only-fuzzy", "fuzzy")):
            left = subprocess.run(["msgattrib", flag, "--no-obsolete", "--no-wrap", "-"], input=merged,
                                  capture_output=True, text=True, check=True).stdout
            for msgid in msgids(left):
                problems.append(f"po/{name}: {what}: \"{msgid}\"")
    return problems


def main():
    problems = bypassing_literals()
    with tempfile.TemporaryDirectory() as directory:
        pot = template(directory)
        if len(sys.argv) > 2 and sys.argv[1] == "--template":
            subprocess.run(["cp", pot, sys.argv[2]], check=True)
        problems += catalog_problems(pot)
    for problem in problems:
        print(problem)
    print(f"catalogs: {len(problems)} problem(s)" if problems else "catalogs: every shown text is in every catalog")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
