#!/usr/bin/env python3
"""Unbuild mode as a user might write it with the standard address-list parser.

Usage: python_address_unbuild.py INPUT OUTPUT. Parses every line with
email.utils.getaddresses and writes "Name,EMail" records under the header
"DisplayName,EMail1" with Tavrin's display-name rules: a parenthesised tail
goes, a company, a missing name or one that repeats the address becomes
"Partner", and "Last, First" becomes "First Last".
"""

import sys
from email.utils import getaddresses

COMPANY_ENDINGS = ("inc", "inc.", "corp", "corp.")


def tidy(name, address):
    name = name.split("(", 1)[0].strip(" ")
    if name.lower().endswith(COMPANY_ENDINGS) or not name.strip(" ") or name.lower() == address.lower():
        return "Partner"
    last, comma, first = name.partition(",")
    return f"{first} {last}".strip(" ") if comma else name


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source, newline="", encoding="utf-8", errors="surrogateescape") as lines, \
            open(target, "w", newline="", encoding="utf-8", errors="surrogateescape") as out:
        header = "DisplayName,EMail1\r\n"
        for line in lines:
            for name, address in getaddresses([line]):
                if name or address:
                    out.write(f"{header}{tidy(name, address)},{address}\r\n")
                    header = ""
    return 0


if __name__ == "__main__":
    sys.exit(main())
