#!/usr/bin/env python3
"""The English catalog, po/en.po, and what is made of it or checked against it.

usage: po_tool.py rc CATALOG OUT_RC OUT_IDS
       po_tool.py table CATALOG OUT
       po_tool.py check CATALOG TEMPLATE [RESOURCE_SCRIPT...]

rc     writes the Windows programs' string tables (both languages, one identifier per
       text, from 2000 on in the catalog's order) and the sorted table of identifiers
       the programs look their texts up in (an include file of C++ initializers).
table  writes every text and its English as C++ initializers sorted by the text's bytes
       (the browser build's catalog, built into the engine).
check  fails unless every text of TEMPLATE (xgettext's extraction from the sources) has
       an English translation in CATALOG and CATALOG holds no text the sources lack; for
       each RESOURCE_SCRIPT, the texts of every English dialog template must be the
       catalog's translations of the Korean template's texts, in the same order; and
       each English text must hold the conversions of its Korean text (printf's, as
       %s and %u, in the same order; named ones, as {name}, in any order).
"""

import re
import sys

FIRST_ID = 2000


def unquote(text):
    out, i = [], 0
    escapes = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append(escapes.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse(path):
    """[(original, translation, fuzzy)] in file order, the header left out."""
    entries, current, field, fuzzy = [], None, None, False
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines() + [""]
    for line in lines:
        line = line.strip()
        if line.startswith("#,") and "fuzzy" in line:
            fuzzy = True
        if not line or line.startswith("#"):
            if current is not None and field == "msgstr":
                entries.append((current["msgid"], current["msgstr"], fuzzy))
                current, field, fuzzy = None, None, False
            continue
        m = re.match(r'^(msgid|msgstr)\s+"(.*)"$', line)
        if m:
            if m.group(1) == "msgid":
                if current is not None and field == "msgstr":
                    entries.append((current["msgid"], current["msgstr"], fuzzy))
                    fuzzy = False
                current = {"msgid": "", "msgstr": ""}
            field = m.group(1)
            current[field] = unquote(m.group(2))
        elif line.startswith('"') and current is not None:
            current[field] += unquote(line[1:-1])
    return [e for e in entries if e[0] != ""]


def c_string(text):
    return '"' + "".join({"\\": "\\\\", '"': '\\"', "\n": "\\n", "\r": "\\r", "\t": "\\t"}.get(c, c)
                         for c in text) + '"'


def rc_string(text):
    return '"' + "".join({"\\": "\\\\", '"': '""', "\n": "\\n", "\r": "\\r", "\t": "\\t"}.get(c, c)
                         for c in text) + '"'


def write_rc(catalog, out_rc, out_ids):
    entries = parse(catalog)
    ids = {original: FIRST_ID + i for i, (original, _, _) in enumerate(entries)}
    with open(out_rc, "w", encoding="utf-8", newline="\n") as f:
        f.write("// Made from po/en.po by po/po_tool.py; not to be edited.\n#pragma code_page(65001)\n")
        for language, pick in (("LANG_KOREAN, SUBLANG_DEFAULT", 0), ("LANG_ENGLISH, SUBLANG_ENGLISH_US", 1)):
            f.write("\nLANGUAGE %s\nSTRINGTABLE\nBEGIN\n" % language)
            for entry in entries:
                f.write("  %d, %s\n" % (ids[entry[0]], rc_string(entry[pick])))
            f.write("END\n")
    with open(out_ids, "w", encoding="utf-8", newline="\n") as f:
        f.write("// Made from po/en.po by po/po_tool.py; not to be edited. Sorted by the texts' bytes.\n")
        for original in sorted(ids, key=lambda t: t.encode("utf-8")):
            f.write("{%s, %d},\n" % (c_string(original), ids[original]))


def write_table(catalog, out):
    entries = sorted(parse(catalog), key=lambda e: e[0].encode("utf-8"))
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write("// Made from po/en.po by po/po_tool.py; not to be edited. Sorted by the texts' bytes.\n")
        for original, translation, fuzzy in entries:
            f.write("{%s, %s},\n" % (c_string(original), c_string("" if fuzzy else translation)))


def dialog_texts(script):
    """{(language, dialog id): [texts]} of the DIALOGEX blocks, font names left out."""
    texts, language, dialog = {}, None, None
    with open(script, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\s*LANGUAGE\s+(\w+)", line)
            if m:
                language = m.group(1)
            m = re.match(r"^(\w+)\s+DIALOGEX\b", line)
            if m:
                dialog = (language, m.group(1))
                texts[dialog] = []
                continue
            if dialog and re.match(r"^\s*END\b", line):
                dialog = None
            elif dialog and not re.match(r"^\s*FONT\b", line):
                texts[dialog] += [unquote(t) for t in re.findall(r'"((?:[^"\\]|\\.)*)"', line)]
    return texts


# printf's conversions ("%%" included: a lone "%" in a format is a fault) and named
# placeholders.
PRINTF = re.compile(r"%(?:\d+\$)?[-+ #0']*(?:\d+|\*)?(?:\.(?:\d+|\*))?(?:hh|h|ll|l|j|z|t|L)?[diouxXeEfFgGaAcspn%]")
NAMED = re.compile(r"\{[A-Za-z_][A-Za-z0-9_]*\}")


def conversions(text):
    """What a text hands to its formatter: printf's conversions in order, named ones sorted."""
    return PRINTF.findall(text), sorted(NAMED.findall(text))


def check(catalog, template, scripts):
    problems = []
    entries = parse(catalog)
    translated = {o: t for o, t, fuzzy in entries if t and not fuzzy}
    wanted = {o for o, _, _ in parse(template)}
    for original in sorted(wanted - set(translated)):
        problems.append("no English text for %r" % original)
    for original in sorted(set(o for o, _, _ in entries) - wanted):
        problems.append("the catalog holds %r, which no source uses" % original)
    for original, translation in sorted(translated.items()):
        if conversions(original) != conversions(translation):
            problems.append("%r and its English %r do not hold the same conversions (%s against %s)"
                            % (original, translation, conversions(original), conversions(translation)))
    seen = set()
    for original, _, _ in entries:
        if original in seen:
            problems.append("%r is in the catalog twice" % original)
        seen.add(original)
    for script in scripts:
        texts = dialog_texts(script)
        for (language, dialog), korean in texts.items():
            if language != "LANG_KOREAN":
                continue
            english = texts.get(("LANG_ENGLISH", dialog))
            if english is None:
                problems.append("%s: dialog %s has no English template" % (script, dialog))
                continue
            if len(english) != len(korean):
                problems.append("%s: dialog %s has %d texts in Korean, %d in English"
                                % (script, dialog, len(korean), len(english)))
                continue
            for k, e in zip(korean, english):
                if k != e and translated.get(k) != e:
                    problems.append("%s: dialog %s: %r is not the catalog's English for %r (%r)"
                                    % (script, dialog, e, k, translated.get(k)))
    for p in problems:
        print("po_tool: " + p, file=sys.stderr)
    print("po_tool: %d texts, %d translated, %d problems" % (len(wanted), len(wanted & set(translated)),
                                                              len(problems)))
    return 1 if problems else 0


def main(argv):
    if len(argv) == 5 and argv[1] == "rc":
        write_rc(argv[2], argv[3], argv[4])
        return 0
    if len(argv) == 4 and argv[1] == "table":
        write_table(argv[2], argv[3])
        return 0
    if len(argv) >= 4 and argv[1] == "check":
        return check(argv[2], argv[3], argv[4:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
