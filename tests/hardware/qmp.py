#!/usr/bin/python3
"""Commands to a QEMU through its QMP socket, one after another; each must succeed.

  qmp.py SOCKET [--when FILE TEXT] COMMAND [JSON-ARGUMENTS] [-- COMMAND [JSON-ARGUMENTS]]...

--when sends the commands only once TEXT has been added to FILE (what it held at the start does
not count), looked for every millisecond on a connection made beforehand: what the guest does
next must not run on meanwhile.
Prints each reply's "return"; exit code 1 with QEMU's error, or when the socket does not answer
or TEXT does not come within the deadline.
"""
import json
import socket
import sys
import time

DEADLINE_SECONDS = 30
POLL_SECONDS = 0.001


def size(path):
    try:
        with open(path, "rb") as watched:
            return watched.seek(0, 2)
    except FileNotFoundError:
        return 0


def await_text(path, text, start):
    deadline = time.monotonic() + DEADLINE_SECONDS
    while True:
        try:
            with open(path, "rb") as watched:
                watched.seek(start)
                if text.encode() in watched.read():
                    return
        except FileNotFoundError:
            pass
        if time.monotonic() > deadline:
            sys.exit(f"qmp: awaited '{text}' in {path} for {DEADLINE_SECONDS} s; it did not come")
        time.sleep(POLL_SECONDS)


def replies(stream):
    """QMP's messages one by one; events, which may come at any time, are left out."""
    for line in stream:
        message = json.loads(line)
        if "event" not in message:
            yield message


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    words = sys.argv[2:]
    when = None
    if words[:1] == ["--when"]:
        when, words = words[1:3] + [size(words[1])], words[3:]
    commands, current = [], []
    for word in words + ["--"]:
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
            if when and name != "qmp_capabilities":
                await_text(*when)
                when = None
            monitor.sendall(json.dumps({"execute": name, "arguments": arguments}).encode() + b"\n")
            reply = next(answers)
            if "error" in reply:
                sys.exit(f"qmp: {name}: {reply['error'].get('desc', reply['error'])}")
            if name != "qmp_capabilities":
                print(json.dumps(reply.get("return")))


if __name__ == "__main__":
    main()
