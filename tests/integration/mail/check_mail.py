#!/usr/bin/python3
"""Reads one received mail with Python's email package and prints one JSON line:
headers (names in order, "|"-joined), the decoded text part, the attachments' names and
content types, and for each attachment path given whether its decoded bytes equal that file.

Usage: check_mail.py MAIL.eml [ORIGINAL ...]
"""
import email
import email.policy
import json
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.compat32)
    text = None
    names, types, same = [], [], []
    originals = sys.argv[2:]
    attachments = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_content_type() == "text/plain" and part.get_filename() is None:
            raw = part.get_payload(decode=True)
            text = raw.decode(part.get_content_charset() or "latin-1")
        else:
            attachments.append(part)
    for i, part in enumerate(attachments):
        names.append(part.get_filename() or "")
        types.append(part.get_content_type())
        if i < len(originals):
            with open(originals[i], "rb") as f:
                same.append("same" if f.read() == part.get_payload(decode=True) else "differs")
    print(json.dumps({
        "headers": "|".join(msg.keys()),
        "to": msg.get("To", ""),
        "cc": msg.get("Cc", ""),
        "subject": msg.get("Subject", ""),
        "xmailer": msg.get("X-Mailer", ""),
        "defects": len(msg.defects),
        "text": text if text is not None else "",
        "names": "|".join(names),
        "types": "|".join(types),
        "same": "|".join(same),
    }, separators=(",", ":")))


if __name__ == "__main__":
    main()
