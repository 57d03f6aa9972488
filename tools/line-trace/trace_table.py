#!/usr/bin/env python3
"""Turns a line trace into a table of transactions: each frame the panel sent, the answer, how
long the monitor took, and the result as the panel's transaction classifies it (ACK, NAK, no
answer, partial).

  trace_table.py TRACE        (TRACE may be - for standard input)
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import linetrace  # noqa: E402


def transactions(text_lines):
    """The transactions of a trace, decided from its lines alone."""
    tracker = linetrace.Tracker()
    for line in linetrace.read_trace(text_lines):
        tracker.line(line)
    tracker.finish()
    return tracker.closed


def table(closed):
    """The table's rows as text lines, with a heading and a count at the end."""
    rows = [("time", "frame", "answer", "after", "result", "note")]
    for transaction in closed:
        answer = linetrace.show_bytes(transaction.answer) or "-"
        after = ("%d ms" % (transaction.parts[0][0] - transaction.frame.time)
                 if transaction.parts else "-")
        note = transaction.note
        if transaction.late:
            note = "; ".join(n for n in (note, "then %s unread"
                                         % linetrace.show_bytes(transaction.late)) if n)
        rows.append((linetrace.format_time(transaction.frame.time).strip(),
                     linetrace.show_bytes(transaction.frame.data), answer, after,
                     transaction.result, note))
    widths = [max(len(row[i]) for row in rows) for i in range(5)]
    lines = ["  ".join(cell.ljust(width) if i != 3 else cell.rjust(width)
                       for i, (cell, width) in enumerate(zip(row, widths + [0]))).rstrip()
             for row in rows]
    counts = {}
    for transaction in closed:
        counts[transaction.result] = counts.get(transaction.result, 0) + 1
    summary = ", ".join("%d %s" % (counts[r], r)
                        for r in ("ACK", "NAK", "no answer", "partial") if r in counts)
    lines.append("%d transactions%s" % (len(closed), ": " + summary if summary else ""))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("trace", help="a trace written by line_relay.py, or - to read stdin")
    options = parser.parse_args()
    if options.trace == "-":
        text_lines = sys.stdin.readlines()
    else:
        with open(options.trace, encoding="ascii", errors="replace") as trace:
            text_lines = trace.readlines()
    print("\n".join(table(transactions(text_lines))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
