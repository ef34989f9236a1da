#!/usr/bin/env python3
"""tavrin-cli's options for the tools that import its output, read back the
way those tools read it: every output through Python's csv module, every row
checked.

Usage: import_options_test.py TAVRIN_CLI"""

import csv
import io
import subprocess
import sys
import tempfile
from pathlib import Path

OUTLOOK = '"Smith, Alice" <alice@alpha.com>; "Jones, Bob" <bob@alpha.com>; Reinman, Andris <andris.reinman@gmail.com>\r\n'
SUFFIX = '"Tiptree, James, Jr." <jt@example.org>, plain@example.org\r\n'
FORMULA = "\"=cmd|' /C calc'!A0\" <x@example.com>, +1@example.com, -dash@example.com, @at@example.com\r\n"
TWICE = 'Alice@g.com , alice@g.com, "Bob" <BOB@g.com>, "Robert" <bob@g.com>, \u00c4li@x.de, \u00e4li@x.de\r\n'
QUOTED = '"say ""hi""" <q@example.org>, "a;b" <c@example.org>\r\n'

# name, input, options, the rows read back (the header first), what standard
# error must hold.
CASES = [
    ("an Outlook paste, separator from the input", OUTLOOK, ["-u", "-s", "auto", "--csv"],
     [["DisplayName", "EMail1"], ["Alice Smith", "alice@alpha.com"], ["Bob Jones", "bob@alpha.com"],
      ["Andris  Reinman", "andris.reinman@gmail.com"]],
     'tavrin-cli: separator ";" (from line 2)\n'),
    ("an Outlook paste in plain mode keeps each recipient one field", OUTLOOK, ["--separator=auto", "--csv"],
     [["EMail1"], ['"Smith, Alice" <alice@alpha.com>'], ['"Jones, Bob" <bob@alpha.com>'],
      ["Reinman, Andris <andris.reinman@gmail.com>"]], 'separator ";"'),
    ("a ; between quotes chooses no separator", QUOTED, ["-s", "auto", "-u", "--csv"],
     [["DisplayName", "EMail1"], ["say ", 'hi""" <q@example.org'], ["a;b", "c@example.org"]], 'separator ","'),
    ("a comma left in a name stays in its field", SUFFIX, ["-u", "--csv"],
     [["DisplayName", "EMail1"], ["James, Jr. Tiptree", "jt@example.org"], ["Partner", "plain@example.org"]],
     ""),
    ("formulas stay text", FORMULA, ["-u", "--csv"],
     [["DisplayName", "EMail1"], ["'=cmd|' /C calc'!A0", "x@example.com"], ["Partner", "'+1@example.com"],
      ["Partner", "'-dash@example.com"], ["Partner", "'@at@example.com"]], ""),
    ("formulas stay text in plain mode", FORMULA, ["--csv"],
     [["EMail1"], ["\"=cmd|' /C calc'!A0\" <x@example.com>"], ["'+1@example.com"], ["'-dash@example.com"],
      ["'@at@example.com"]], ""),
    ("an address once, in any letter case", TWICE, ["-u", "--unique"],
     [["DisplayName", "EMail1"], ["Partner", "Alice@g.com"], ["Bob", "BOB@g.com"], ["Partner", "\u00c4li@x.de"]], ""),
    ("a plain recipient once, in any letter case", TWICE, ["--unique", "--csv", "--summary"],
     [["EMail1"], ["Alice@g.com"], ['"Bob" <BOB@g.com>'], ['"Robert" <bob@g.com>'], ["\u00c4li@x.de"]],
     'tavrin-cli: 4 records written to "\u2068out.csv\u2069"; 2 duplicates left out\n'),
    ("the summary counts", "a@b.org, nobody, =x\r\n\"open\r\n", ["--summary", "--on-line-error=continue"],
     [["EMail1"], ["a@b.org"], ["nobody"], ["=x"]],
     'tavrin-cli: 3 records written to "\u2068out.csv\u2069"; 1 line reported; 2 without an address\n'),
]


def run(cli, folder, text, options, encoding="utf-8"):
    source = folder / "in.txt"
    source.write_bytes(text.encode(encoding))
    output = folder / "out.csv"
    done = subprocess.run([cli, "-q", *options, "in.txt", "out.csv"], cwd=folder, capture_output=True, timeout=30)
    return done, output.read_bytes()


def main():
    cli = str(Path(sys.argv[1]).resolve())
    failures = []
    with tempfile.TemporaryDirectory() as name:
        folder = Path(name)
        for title, text, options, rows, said in CASES:
            # A blank first line: the separator comes from the first that is not.
            auto = any(option.endswith("auto") for option in options)
            done, written = run(cli, folder, "  \r\n" + text if auto else text, options)
            read = list(csv.reader(io.StringIO(written.decode("utf-8-sig"), newline="")))
            err = done.stderr.decode("utf-8", "replace")
            width = len(rows[0])
            if read != rows or any(len(row) != width for row in read) or said not in err:
                failures.append(f"{title}: {options} read back as {read}, said {err!r}")
        # A UTF-8 output starts with a byte order mark only when asked; a UTF-16 one always has its own.
        for options, encoding, start in [([], "utf-8", b"EMail1"), (["--bom"], "utf-8", b"\xef\xbb\xbfEMail1"),
                                         (["--bom"], "utf-16", "\ufeffEMail1".encode("utf-16-le"))]:
            _, written = run(cli, folder, "\ufeffa@b.org\r\n" if encoding == "utf-16" else "a@b.org\r\n",
                             options, encoding)
            if not written.startswith(start):
                failures.append(f"{options} on {encoding}: the output starts {written[:12]!r}")
    for failure in failures:
        print(failure)
    print(f"{len(CASES) + 3 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
