#!/usr/bin/env python3
"""Prints the text of every message box in a Wine +msgbox trace, one per line
(line feeds inside a text shown as \\n), decoded from Wine's escaped UTF-16.
Wine cuts a long text short in its trace, ending it with "..." after the
closing quote: such a text is printed as far as it goes."""
import re
import sys

ESCAPE = re.compile(r"\\([0-9a-fA-F]{4})|\\n|\\r|\\t|\\\\|\\\"")


def decode(body):
    def replace(match):
        token = match.group(0)
        if match.group(1):
            return chr(int(match.group(1), 16))
        return {"\\n": "\\n", "\\r": "\\r", "\\t": "\t", "\\\\": "\\", '\\"': '"'}[token]
    return ESCAPE.sub(replace, body)


for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    match = re.search(r'MSGBOX_OnInit L"(.*)"(?:\.\.\.)?\s*$', line)
    if match:
        print(decode(match.group(1)))
