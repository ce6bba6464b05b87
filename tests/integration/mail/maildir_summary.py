#!/usr/bin/python3
"""Reads a Maildir++ store the way mail readers do (Python's mailbox module) and prints one
JSON line: the subfolders, and for the Inbox and each subfolder its messages' subjects and
flags.

Usage: maildir_summary.py ROOT
"""
import json
import mailbox
import sys


def main():
    root = mailbox.Maildir(sys.argv[1], factory=None, create=False)
    out = {"folders": sorted(root.list_folders())}
    for name, box in [("Inbox", root)] + [(f, root.get_folder(f)) for f in root.list_folders()]:
        out[name] = [{"subject": m.get("Subject", ""), "flags": m.get_flags()} for m in box]
    print(json.dumps(out, sort_keys=True))


if __name__ == "__main__":
    main()
