#!/usr/bin/env python3
"""Plain conversion as a user might write it with the csv module.

Usage: python_csv_plain.py INPUT OUTPUT. Writes every trimmed, non-blank
field on a line of its own under the header "EMail1", with CRLF line ends.
"""

import csv
import sys


def main():
    source, target = sys.argv[1], sys.argv[2]
    # surrogateescape lets bytes that are not UTF-8 pass through, as Tavrin does.
    with open(source, newline="", encoding="utf-8", errors="surrogateescape") as rows, \
            open(target, "w", newline="", encoding="utf-8", errors="surrogateescape") as out:
        header = "EMail1\r\n"
        for row in csv.reader(rows, skipinitialspace=True):
            for field in row:
                field = field.strip(" ")
                if field:
                    out.write(header + field + "\r\n")
                    header = ""
    return 0


if __name__ == "__main__":
    sys.exit(main())
