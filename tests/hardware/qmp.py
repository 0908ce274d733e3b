#!/usr/bin/python3
"""Commands to a QEMU through its QMP socket, one after another; each must succeed.

  qmp.py SOCKET COMMAND [JSON-ARGUMENTS] [-- COMMAND [JSON-ARGUMENTS]]...

Prints each reply's "return"; exit code 1 with QEMU's error, or when the socket does not answer
within the deadline.
"""
import json
import socket
import sys

DEADLINE_SECONDS = 30


def replies(stream):
    """QMP's messages one by one; events, which may come at any time, are left out."""
    for line in stream:
        message = json.loads(line)
        if "event" not in message:
            yield message


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    commands, current = [], []
    for word in sys.argv[2:] + ["--"]:
        if word == "--":
            if current:
                commands.append((current[0], json.loads(current[1]) if len(current) > 1 else {}))
            current = []
        else:
            current.append(word)
    with socket.socket(socket.AF_UNIX) as monitor:
        monitor.settimeout(DEADLINE_SECONDS)
        monitor.connect(sys.argv[1])
        stream = monitor.makefile("r", encoding="utf-8")
        answers = replies(stream)
        next(answers)  # the greeting
        for name, arguments in [("qmp_capabilities", {})] + commands:
            monitor.sendall(json.dumps({"execute": name, "arguments": arguments}).encode() + b"\n")
            reply = next(answers)
            if "error" in reply:
                sys.exit(f"qmp: {name}: {reply['error'].get('desc', reply['error'])}")
            if name != "qmp_capabilities":
                print(json.dumps(reply.get("return")))


if __name__ == "__main__":
    main()
