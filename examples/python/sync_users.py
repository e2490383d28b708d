#!/usr/bin/env python3
"""Makes a node's users match a CSV file, then downloads its marks into another CSV.

    sync_users.py 192.0.2.10:3001 users.csv marks.csv [--node 1] [--protocol 2] [--prune]

users.csv has a header line and the columns id, psw, name (text1) and, optionally, note
(text2).  Users missing on the node are added, users whose password or texts differ are
edited (protocol 2) or replaced (protocol 1), and with --prune users the file does not
list are deleted.  marks.csv gets one line per mark: id, time, event, direction, index.
"""

import argparse
import csv
import logging
import sys

import vedodiroz as nax


def read_users(path):
    with open(path, newline="", encoding="utf-8") as f:
        return [
            nax.User(id=int(row["id"]), psw=int(row.get("psw") or 0), text1=row.get("name") or "",
                     text2=row.get("note") or "")  # fmt: skip
            for row in csv.DictReader(f)
        ]


def send_in_batches(send, users):
    """Sends users in batches that fit one request, halving a batch the library refuses."""
    done = 0
    pending = [users[i : i + 8] for i in range(0, len(users), 8)]
    while pending:
        batch = pending.pop(0)
        try:
            done += send(batch)
        except nax.LinkError as e:
            if e.status != nax.Status.ERR_INVALID_ARG or len(batch) == 1:
                raise
            half = len(batch) // 2
            pending[:0] = [batch[:half], batch[half:]]
    return done


def sync(link, node, wanted, prune):
    on_node = {u.id: u for u in link.users(node)}

    def fields(user):  # what the link's protocol carries: protocol 1 has no texts
        if link.protocol == 1:
            return (user.psw,)
        return (user.psw, user.text1 or "", user.text2 or "")

    missing = [u for u in wanted if u.id not in on_node]
    changed = [u for u in wanted if u.id in on_node and fields(on_node[u.id]) != fields(u)]
    listed = {u.id for u in wanted}
    stale = [i for i in on_node if i not in listed] if prune else []
    if link.protocol == 1:  # no edit command: replace
        link.del_users(node, [u.id for u in changed])
        missing, changed = missing + changed, []
    added = send_in_batches(lambda b: link.add_users(node, b), missing)
    edited = send_in_batches(lambda b: link.edit_users(node, b), changed) if changed else 0
    deleted = send_in_batches(lambda b: link.del_users(node, b), stale) if stale else 0
    return added, edited, deleted


def download_marks(link, node, path):
    count = 0
    with open(path, "w", newline="", encoding="utf-8") as f:
        out = csv.writer(f)
        out.writerow(["id", "time", "event", "direction", "index"])
        for mark in link.marks(node):
            when = mark.time.isoformat(sep=" ") if mark.time else ""
            out.writerow([mark.id, when, f"0x{int(mark.event or 0):02X}",
                          int(mark.direction or 0), mark.index])  # fmt: skip
            count += 1
    return count


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("conn", help='connection string, e.g. "192.0.2.10:3001"')
    parser.add_argument("users_csv")
    parser.add_argument("marks_csv")
    parser.add_argument("--node", type=int, default=1)
    parser.add_argument("--protocol", type=int, default=2, choices=(1, 2))
    parser.add_argument("--prune", action="store_true", help="delete users not in the file")
    parser.add_argument("--log", default="host.log", help="library log file (level 3)")
    args = parser.parse_args(argv)
    logging.basicConfig(level=logging.INFO, format="%(message)s")

    wanted = read_users(args.users_csv)
    try:
        with nax.Library(log_path=args.log, log_level=3):
            with nax.open(args.conn, protocol=args.protocol) as link:
                added, edited, deleted = sync(link, args.node, wanted, args.prune)
                logging.info("users: %d added, %d edited, %d deleted", added, edited, deleted)
                count = download_marks(link, args.node, args.marks_csv)
                logging.info("marks: %d written to %s", count, args.marks_csv)
    except nax.Error as e:
        logging.error("%s", e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
