#!/usr/bin/env python3
"""Writes seeded recipient files for the benchmark.

Realistic files hold lines of 1 to 20 comma-separated recipients in the forms
mail programs write, with CRLF line ends. The pathological kinds stress the
tokenizer and the reader: an unclosed quote before a million separators, one
very long line (of realistic recipients, or of bare addresses without a single
quote, or one recipient whose address is followed by angle brackets, each
after an x), and millions of empty lines. Two more kinds stress the per-line and
per-quote costs: millions of very short lines, and realistic lines whose
recipients are all quoted names with commas and doubled quotes in them.
"""

import argparse
import random
import sys

FIRST_NAMES = [
    "Anna", "Ben", "Carla", "David", "Emma", "Frank", "Grace", "Henry", "Irene", "Jack",
    "Karen", "Liam", "Maria", "Noah", "Olivia", "Paul", "Quinn", "Rita", "Sam", "Tina",
    "Ulrich", "Vera", "Walter", "Xenia", "Yusuf", "Zoe", "Mary-Jane", "Jean-Luc", "O'Neil",
]
LAST_NAMES = [
    "Smith", "Johnson", "Williams", "Brown", "Jones", "Garcia", "Miller", "Davis", "Wilson",
    "Anderson", "Taylor", "Thomas", "Moore", "Martin", "Jackson", "Thompson", "White", "Harris",
    "Clark", "Lewis", "Walker", "Young", "King", "Wright", "Scott", "Green", "Baker", "Adams",
    "van der Berg", "de la Cruz",
]
# (first, last, ASCII spelling for the address)
NON_ASCII_NAMES = [
    ("Jürgen", "Müller", "juergen.mueller"),
    ("Zoë", "Dubois", "zoe.dubois"),
    ("José", "Núñez", "jose.nunez"),
    ("Łukasz", "Wójcik", "lukasz.wojcik"),
    ("Ingrid", "Ångström", "ingrid.angstrom"),
    ("Σοφία", "Παπαδοπούλου", "sofia.papadopoulou"),
    ("Дмитрий", "Иванов", "dmitry.ivanov"),
    ("Олена", "Шевченко", "olena.shevchenko"),
    ("太郎", "山田", "taro.yamada"),
    ("美玲", "王", "meiling.wang"),
    ("Ayşe", "Çelik", "ayse.celik"),
    ("François", "Lefèvre", "francois.lefevre"),
]
COMPANIES = [
    "Acme", "Globex", "Initech", "Umbrella", "Stark Industries", "Wayne Enterprises", "Hooli",
    "Vandelay Industries", "Soylent", "Cyberdyne Systems", "Wonka", "Tyrell",
]
COMPANY_ENDINGS = [" Inc", " Inc.", " Corp", " Corp.", ", Inc."]
DEPARTMENTS = ["Sales", "Accounting", "IT", "Human Resources", "Legal", "R&D", "Support"]
DOMAINS = [
    "example.com", "example.org", "mail.example.net", "corp.example.co.uk", "example.de",
    "students.example.edu", "example.fr", "example.jp",
]
ROLE_MAILBOXES = ["info", "sales", "support", "billing", "office", "contact"]


def address(rng, local):
    return f"{local}@{rng.choice(DOMAINS)}"


def person(rng):
    """A name as (first, last, local part of the address)."""
    if rng.random() < 0.15:
        return rng.choice(NON_ASCII_NAMES)
    first, last = rng.choice(FIRST_NAMES), rng.choice(LAST_NAMES)
    local = f"{first}.{last}".lower().replace(" ", "").replace("'", "")
    if rng.random() < 0.3:
        local += str(rng.randint(1, 99))
    return first, last, local


def recipient(rng):
    kind = rng.random()
    first, last, local = person(rng)
    if kind < 0.28:
        return f'"{last}, {first}" <{address(rng, local)}>'
    if kind < 0.46:
        return f'"{first} {last}" <{address(rng, local)}>'
    if kind < 0.62:
        return address(rng, local)
    if kind < 0.76:
        return f"{first} {last} <{address(rng, local)}>"
    if kind < 0.86:
        company = rng.choice(COMPANIES)
        name = company + rng.choice(COMPANY_ENDINGS)
        mailbox = f"{rng.choice(ROLE_MAILBOXES)}@{company.split()[0].lower()}.example.com"
        return f'"{name}" <{mailbox}>' if "," in name or rng.random() < 0.5 else f"{name} <{mailbox}>"
    department = rng.choice(DEPARTMENTS)
    if rng.random() < 0.5:
        return f'"{last}, {first} ({department})" <{address(rng, local)}>'
    return f"{first} {last} ({department}) <{address(rng, local)}>"


def quoted_recipient(rng):
    first, last, local = person(rng)
    kind = rng.random()
    if kind < 0.6:
        return f'"{last}, {first}" <{address(rng, local)}>'
    if kind < 0.8:
        return f'"{last}, {first} ({rng.choice(DEPARTMENTS)})" <{address(rng, local)}>'
    return f'"{first} ""{first[:3]}"" {last}, Jr" <{address(rng, local)}>'


def recipient_pool(rng, kind, size=20000):
    # Lines are drawn from a fixed pool: building each recipient anew would
    # make a 200 MB file take minutes.
    make = {
        "bare": lambda: address(rng, person(rng)[2]),
        "quoted": lambda: quoted_recipient(rng),
        "realistic": lambda: recipient(rng),
    }[kind]
    return [make() for _ in range(size)]


def write_realistic(out, size_bytes, rng, one_line=False, kind="realistic"):
    pool = recipient_pool(rng, kind)
    written = 0
    while written < size_bytes:
        count = 2000 if one_line else rng.randint(1, 20)
        separator = ", " if rng.random() < 0.8 else ","
        text = separator.join(rng.choices(pool, k=count))
        if one_line:
            text += ", "
        else:
            text += "\r\n"
        data = text.encode("utf-8")
        out.write(data)
        written += len(data)
    if one_line:
        out.write(b"info@example.com\r\n")


def write_open_quote(out, separators):
    # The quote at the start never closes, so every separator after it extends
    # the first token: ten bytes a separator.
    out.write(b'"')
    out.write(b"x@ab.test," * separators)
    out.write(b"\r\n")


def write_empty_lines(out, lines):
    out.write(b"\r\n" * lines)


def write_short_lines(out, lines, rng):
    # One address of six or seven characters a line.
    pool = [f"{rng.choice('abcdefghij')}{rng.randint(0, 99)}@x.de\r\n".encode() for _ in range(1000)]
    block = 100_000
    for start in range(0, lines, block):
        out.write(b"".join(rng.choices(pool, k=min(block, lines - start))))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--size-mb", type=float, default=200, help="size of a realistic file (default 200)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the random choices (default 1)")
    parser.add_argument("--kind", choices=["realistic", "quote-heavy", "open-quote", "long-line", "bare-line",
                                           "separator-line", "opening-brackets-line", "closing-brackets-line",
                                           "empty-lines", "short-lines"],
                        default="realistic",
                        help="realistic lines, or a pathological input: a line with an unclosed quote "
                             "and --separators separators, one line of --size-mb (bare-line: bare "
                             "addresses only, no quote; separator-line: commas only; opening- and "
                             "closing-brackets-line: one recipient Name <a@b followed by x< or x>), "
                             "or --lines empty "
                             "or very short lines")
    parser.add_argument("--separators", type=int, default=1_000_000,
                        help="separators after the open quote (default 1000000)")
    parser.add_argument("--lines", type=int, default=10_000_000,
                        help="empty or very short lines (default 10000000)")
    parser.add_argument("--out", required=True, help="file to write")
    args = parser.parse_args()

    rng = random.Random(args.seed)
    size_bytes = int(args.size_mb * 1024 * 1024)
    with open(args.out, "wb", buffering=1 << 20) as out:
        if args.kind == "realistic":
            write_realistic(out, size_bytes, rng)
        elif args.kind == "quote-heavy":
            write_realistic(out, size_bytes, rng, kind="quoted")
        elif args.kind in ("long-line", "bare-line"):
            write_realistic(out, size_bytes, rng, one_line=True,
                            kind="bare" if args.kind == "bare-line" else "realistic")
        elif args.kind == "separator-line":
            out.write(b"," * size_bytes + b"\r\n")
        elif args.kind in ("opening-brackets-line", "closing-brackets-line"):
            bracket = b"x<" if args.kind == "opening-brackets-line" else b"x>"
            out.write(b"Name <a@b" + bracket * (size_bytes // 2) + b"\r\n")
        elif args.kind == "short-lines":
            write_short_lines(out, args.lines, rng)
        elif args.kind == "open-quote":
            write_open_quote(out, args.separators)
        else:
            write_empty_lines(out, args.lines)
    return 0


if __name__ == "__main__":
    sys.exit(main())
