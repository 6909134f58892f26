#!/usr/bin/env python3
"""Canonical dumps of XML files for comparison with the description parser.

For every *.xml file below the given directories (sorted by path) prints

    F <path>
    S accepted | rejected | oracle-failed <reason>

and, for accepted files, one line per element in document order,

    E /root/child/element
    A name=value            (attributes in code-unit order)

Acceptance is xmllint --noout's exit status; the dump comes from expat
without namespace processing and without attributes defaulted from a DTD.
Backslash, line feed, carriage return and tab in values are written as \\\\,
\\n, \\r and \\t so that every record is one line.
"""
import os
import subprocess
import sys
import xml.parsers.expat


def escape(text):
    return (text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r").replace("\t", "\\t"))


def utf16_key(text):
    return text.encode("utf-16-be")


def dump(path, out):
    lines = []
    stack = []
    parser = xml.parsers.expat.ParserCreate()
    parser.specified_attributes = True
    parser.ordered_attributes = False

    def start(name, attributes):
        stack.append(name)
        lines.append("E /" + escape("/".join(stack)))
        for key in sorted(attributes, key=utf16_key):
            lines.append("A " + escape(key) + "=" + escape(attributes[key]))

    def end(name):
        stack.pop()

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    with open(path, "rb") as f:
        parser.ParseFile(f)
    out.extend(lines)


def lint(paths):
    """xmllint --noout's verdict on each path: a batch at a time, file by file
    only where a batch fails."""
    accepted = set()
    for i in range(0, len(paths), 100):
        batch = paths[i:i + 100]
        if run_lint(batch):
            accepted.update(batch)
        else:
            accepted.update(p for p in batch if run_lint([p]))
    return accepted


def run_lint(paths):
    return subprocess.run(["xmllint", "--noout", "--nonet"] + paths, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def main():
    out = sys.stdout
    paths = []
    for root in sys.argv[1:]:
        for directory, _, files in os.walk(root):
            paths.extend(os.path.join(directory, f) for f in files if f.endswith(".xml"))
    paths = sorted(p for p in paths if os.path.isfile(p))
    accepted = lint(paths)
    for path in paths:
        out.write("F " + path + "\n")
        if path not in accepted:
            out.write("S rejected\n")
            continue
        lines = []
        try:
            dump(path, lines)
        except Exception as error:  # the oracle itself failed: say why
            out.write("S oracle-failed " + escape(str(error)) + "\n")
            continue
        out.write("S accepted\n")
        for line in lines:
            out.write(line + "\n")


if __name__ == "__main__":
    main()
