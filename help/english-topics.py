#!/usr/bin/env python3
"""Writes the help topics for the English catalog: the topics as they are, with each notice they
quote in Japanese (「…」 and its English gloss in brackets: what a listener without a catalog sees)
replaced by the notice's English text from the catalog, and the few Japanese words they mention
inline given in English. Fails if a quoted notice is not in the catalog or any Japanese is left.

    english-topics.py SOURCE_DIR CATALOG.po OUTPUT_DIR
"""
import json
import os
import re
import shutil
import sys

TOPICS = ["index.htm", "range.htm", "interval.htm", "question.htm", "results.htm"]
# Japanese the topics mention inside a sentence, as the English catalog's listener reads it.
INLINE = {
    "1回 to 5回 (回 means &quot;times&quot;)": "1 time to 5 times",
    "the button reads 終了 (finish)": "the button reads <b>Finish</b>",
    "the answer as the list shows it (3回, Later sound, no sound, ...);":
        "the answer as the list shows it without a catalog, the same in every language (for the range "
        "check the count with the Japanese word for &quot;times&quot;; Later sound, no sound, ...);",
}
JAPANESE = re.compile("[\u3000-\u30ff\u3400-\u9fff\uff00-\uffef]")


def catalog(path):
    """msgid → msgstr of a .po file."""
    entries, current, field = {}, None, None
    for line in open(path, encoding="utf-8").read().splitlines() + [""]:
        if line.startswith("msgid "):
            current, field = {"msgid": json.loads(line[6:]), "msgstr": ""}, "msgid"
        elif line.startswith("msgstr "):
            current["msgstr"], field = json.loads(line[7:]), "msgstr"
        elif line.startswith('"') and current is not None:
            current[field] += json.loads(line)
        elif not line.strip():
            if current is not None and current["msgid"]:
                entries[current["msgid"]] = current["msgstr"]
            current = None
    return entries


def main():
    source, po, output = sys.argv[1:4]
    english = catalog(po)
    os.makedirs(output, exist_ok=True)
    problems = []
    for name in TOPICS:
        with open(os.path.join(source, name), encoding="utf-8") as f:
            page = f.read()

        def notice(match):
            msgid = match.group(1).replace("<br>\n", "\n")
            if msgid not in english:
                problems.append(f"{name}: not in the catalog: {msgid}")
                return match.group(0)
            return "&quot;" + english[msgid].replace("\n", "<br>\n") + "&quot;"

        page = re.sub(r"「([^」]*)」<br>\n\([^)]*\)", notice, page)
        # The English notice ends its own sentence: the full stop after the gloss goes.
        page = re.sub(r"([.?])&quot;\.", r"\1&quot;", page)
        for japanese, words in INLINE.items():
            page = page.replace(japanese, words)
        for number, line in enumerate(page.splitlines(), 1):
            if JAPANESE.search(line):
                problems.append(f"{name}:{number}: Japanese left: {line}")
        with open(os.path.join(output, name), "w", encoding="utf-8") as f:
            f.write(page)
    shutil.copy(os.path.join(source, "Tonvale.hhp"), output)
    for problem in problems:
        print("english-topics.py: " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
