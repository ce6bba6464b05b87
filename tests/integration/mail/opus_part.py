#!/usr/bin/python3
"""Reads one received mail with Python's email package and prints one JSON line: how many
leaf parts it has, whether its first attachment equals ORIGINAL byte for byte, and the
content type, parameters and file name of its Ogg Opus part, whose decoded bytes are
written to OUT.

Usage: opus_part.py MAIL.eml ORIGINAL OUT
"""
import email
import email.policy
import json
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.compat32)
    leaves = [p for p in msg.walk() if not p.is_multipart()]
    attachments = [p for p in leaves if p.get_filename() is not None]
    with open(sys.argv[2], "rb") as f:
        original = f.read()
    result = {"parts": len(leaves), "defects": len(msg.defects), "same": "", "type": "",
              "codecs": "", "filename": "", "encoding": ""}
    if attachments:
        result["same"] = "same" if attachments[0].get_payload(decode=True) == original else "differs"
    opus = [p for p in attachments if p.get_content_type() == "audio/ogg"]
    if opus:
        part = opus[0]
        result["type"] = part.get_content_type()
        result["codecs"] = part.get_param("codecs") or ""
        result["filename"] = part.get_filename()
        result["encoding"] = part.get("Content-Transfer-Encoding", "")
        result["last"] = "yes" if part is leaves[-1] else "no"
        with open(sys.argv[3], "wb") as f:
            f.write(part.get_payload(decode=True))
    print(json.dumps(result, separators=(",", ":")))


if __name__ == "__main__":
    main()
