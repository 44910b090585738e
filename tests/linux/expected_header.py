"""Writes the Windows journey's hand-written expectations (tests/ui/expected.py) as a C++ header
for the Linux journey, so that both editions are held to one list of texts and positions.
Usage: expected_header.py OUTPUT"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui"))
import expected as E  # noqa: E402


def literal(text):
    return json.dumps(text, ensure_ascii=False)


lines = ["// Written by tests/linux/expected_header.py from tests/ui/expected.py.", "#pragma once",
         "struct ExpectedText { const char* key; const char* english; const char* russian; };",
         "inline constexpr ExpectedText expectedTexts[] = {"]
for key, (english, russian) in E.TEXTS.items():
    lines.append("    {%s, %s, %s}," % (literal(key), literal(english), literal(russian)))
lines.append("};")
lines.append("struct ExpectedControl { const char* role; const char* textKey; int x, y, width, height; };")
lines.append("inline constexpr ExpectedControl expectedControls[] = {")
for role, _cls, key, _id, x, y, w, h, _style, _ex in E.CONTROLS:
    lines.append("    {%s, %s, %d, %d, %d, %d}," % (literal(role), literal(key) if key else "nullptr",
                                                  x, y, w, h))
lines.append("};")
lines.append("inline constexpr const char* expectedAppTitle = %s;" % literal(E.APP_TITLE))
lines.append("inline constexpr const char* expectedNameSeparator = %s;" % literal(E.NAME_SEPARATOR))
lines.append("inline constexpr const char* expectedEntrySeparator = %s;" % literal(E.ENTRY_SEPARATOR))
with open(sys.argv[1], "w", encoding="utf-8") as out:
    out.write("\n".join(lines) + "\n")
