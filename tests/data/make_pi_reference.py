#!/usr/bin/env python3
"""Reference decimals of pi for the tests, computed independently of the program.

The program under test uses Gauss's arctangent formula, so the reference must
not: a shared formula could hide a shared mistake.  This script therefore uses

  * generation: the Chudnovsky series
        1/pi = 12 * sum_k (-1)^k (6k)! (13591409 + 545140134 k)
                              / ((3k)! (k!)^3 640320^(3k + 3/2))
    summed exactly by binary splitting (P, Q, T are exact integers held in
    `decimal` at maximal precision, so libmpdec's number-theoretic-transform
    multiplication does the heavy lifting), then one division and one square
    root at N + GUARD digits;
  * check (--check): the Gauss-Legendre (Brent-Salamin) AGM iteration, which
    shares nothing with the series except the big-number multiply, with its own
    Newton square root instead of Decimal.sqrt.  The two results must agree on
    every digit of the file, and the file must show the well-known first 50
    decimals and the six 9s at decimals 762-767.

Digits are truncated, not rounded.  Truncation is refused when the guard digits
are all 0s or all 9s, since then the last kept digit would be ambiguous.

  python3 tests/data/make_pi_reference.py            # writes pi_decimals.txt.gz
  python3 tests/data/make_pi_reference.py --check    # verifies it

A file name ending in .gz is written and read through gzip (the digits take
half the room); any other name is plain text.
"""
import argparse
import decimal
import gzip
import io
import math
import os
import sys
import time
from decimal import Decimal as D

DIGITS = 4_000_000
GUARD = 30
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pi_decimals.txt.gz")
FIRST_50 = "14159265358979323846264338327950288419716939937510"

# Exact integer arithmetic: maximal precision, and any rounding is an error.
EXACT = decimal.Context(prec=decimal.MAX_PREC, Emax=decimal.MAX_EMAX,
                        Emin=decimal.MIN_EMIN,
                        traps=[decimal.Inexact, decimal.Rounded,
                               decimal.InvalidOperation, decimal.Overflow])


def working_context(digits):
    return decimal.Context(prec=digits, Emax=decimal.MAX_EMAX, Emin=decimal.MIN_EMIN)


def split(a, b):
    """P, Q, T of the Chudnovsky terms a..b-1 (exact), T carrying the signs."""
    if b - a == 1:
        if a == 0:
            p = q = 1
        else:
            p = (6 * a - 5) * (2 * a - 1) * (6 * a - 1)
            q = a * a * a * 10939058860032000  # 640320^3 / 24
        t = p * (13591409 + 545140134 * a)
        return D(p), D(q), D(-t if a & 1 else t)
    m = (a + b) // 2
    p1, q1, t1 = split(a, m)
    p2, q2, t2 = split(m, b)
    return p1 * p2, q1 * q2, t1 * q2 + p1 * t2


def pi_chudnovsky(digits):
    terms = digits // 14 + 2  # each term adds log10(640320^3/1728) ~ 14.18 digits
    decimal.setcontext(EXACT)
    _, q, t = split(0, terms)
    decimal.setcontext(working_context(digits))
    return D(426880) * D(10005).sqrt() * (+q) / (+t)


def sqrt_newton(x, digits):
    """sqrt(x) via Newton on 1/sqrt(x), doubling the precision at each step."""
    precs = [digits]
    while precs[-1] > 28:            # a float seed is good to ~15 digits
        precs.append(precs[-1] // 2 + 5)
    y = D(1 / math.sqrt(float(x)))
    for p in reversed(precs):
        with decimal.localcontext(working_context(p)):
            y = y + y * (1 - x * y * y) / 2
    with decimal.localcontext(working_context(digits)):
        return x * y


def pi_agm(digits):
    decimal.setcontext(working_context(digits))
    a, b, t, p = D(1), 1 / sqrt_newton(D(2), digits), D("0.25"), 1
    eps = D(10) ** -(digits // 2 + 5)  # once |a-b| is this small, (a-b)^2 is below an ulp
    while True:
        an = (a + b) / 2
        b = sqrt_newton(a * b, digits)
        t -= p * (a - an) ** 2
        a, p = an, 2 * p
        if abs(a - b) < eps:
            break
    return (a + b) ** 2 / (4 * t)


def decimals(x, digits):
    """The first `digits` decimals of x (truncated), with x good to about GUARD-5 more."""
    s = str(x)
    assert s.startswith("3.") and len(s) >= 2 + digits + GUARD - 5, s[:20]
    guard = s[2 + digits:2 + digits + GUARD - 5]
    if guard.strip("0") == "" or guard.strip("9") == "":
        sys.exit(f"guard digits {guard} make truncation ambiguous; raise GUARD")
    return s[2:2 + digits]


def open_text(path, mode):
    if path.endswith(".gz"):
        # mtime=0 keeps the compressed file the same from run to run.
        if mode == "w":
            return io.TextIOWrapper(gzip.GzipFile(path, "wb", mtime=0), newline="\n")
        return io.TextIOWrapper(gzip.open(path, "rb"), newline="")
    return open(path, mode, newline="\n" if mode == "w" else "")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--check", action="store_true", help="verify the file by the AGM")
    ap.add_argument("--digits", type=int, default=DIGITS)
    ap.add_argument("--file", default=OUT)
    args = ap.parse_args()
    n = args.digits
    start = time.time()

    if not args.check:
        text = "3." + decimals(pi_chudnovsky(n + GUARD), n) + "\n"
        with open_text(args.file, "w") as f:
            f.write(text)
        print(f"wrote {args.file}: {n} decimals in {time.time() - start:.1f} s")
        return

    with open_text(args.file, "r") as f:
        text = f.read()
    body = text[2:-1]
    assert text.startswith("3.") and text.endswith("\n"), "bad framing"
    assert len(body) == n and body.isdigit(), "expected exactly %d digits" % n
    assert body[:50] == FIRST_50, "first 50 decimals wrong"
    if n >= 767:
        assert body[761:767] == "999999", "six 9s at decimals 762-767 missing"
    ref = decimals(pi_agm(n + GUARD), n)
    if ref != body:
        i = next(i for i in range(n) if ref[i] != body[i])
        sys.exit(f"MISMATCH at decimal {i + 1}: file {body[i:i+10]} vs AGM {ref[i:i+10]}")
    print(f"{args.file}: all {n} decimals agree with the AGM ({time.time() - start:.1f} s)")


if __name__ == "__main__":
    main()
