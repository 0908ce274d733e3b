#!/usr/bin/python3
"""Another program on kivom's line, as Linux's own serial programs use it (python3-serial).

  serial_client.py hold DEVICE          pyserial's exclusive=True open (flock), held until killed
  serial_client.py hold-excl DEVICE     a plain open with TIOCEXCL, held until killed
  serial_client.py hold-picocom DEVICE  picocom in a terminal of its own, held until killed
  serial_client.py during DEVICE        waits until kivom holds DEVICE (its lock file, written once
                                        it has taken the device), then tries pyserial's exclusive
                                        open and picocom; then waits until kivom lets go and tries
                                        pyserial again

"held" on standard output once a hold is taken; one line "WHEN WHO granted|refused: ERROR" per
try; every wait has a deadline and says what it awaited.
"""
import fcntl
import os
import signal
import subprocess
import sys
import termios
import time

import serial

WAIT_SECONDS = 30
POLL_SECONDS = 0.001


def say(line):
    print(line, flush=True)


def hold_until_killed():
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGTERM, signal.SIGINT])
    say("held")
    signal.sigwait([signal.SIGTERM, signal.SIGINT])


def lock_file(device):
    """The UUCP lock file of a device: /run/lock/LCK..NAME, NAME its real path below /dev."""
    name = os.path.realpath(device).removeprefix("/dev/").replace("/", "_")
    return f"/run/lock/LCK..{name}"


def await_lock(path, wanted, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while os.path.exists(path) != wanted:
        if time.monotonic() > deadline:
            sys.exit(f"awaited {what} for {WAIT_SECONDS} s; {path} {'never came' if wanted else 'stayed'}")
        time.sleep(POLL_SECONDS)


def try_pyserial(device):
    try:
        serial.Serial(device, exclusive=True).close()
        return "granted"
    except (serial.SerialException, OSError) as error:
        return f"refused: {error}"


def start_picocom(device):
    """picocom in a terminal of its own: "Terminal ready" once it has the line, or it ends.
    Returns the process while it holds the line, else None and what it said."""
    command = f"picocom --baud 9600 {device}"
    process = subprocess.Popen(["script", "-qfec", command, "/dev/null"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, start_new_session=True)
    output = b""
    deadline = time.monotonic() + WAIT_SECONDS
    while b"Terminal ready" not in output and time.monotonic() < deadline:
        chunk = os.read(process.stdout.fileno(), 4096)
        if not chunk:
            process.wait()
            text = output.decode(errors="replace").replace("\r", " ").replace("\n", " ")
            return None, " ".join(text.split()[-12:])
        output += chunk
    if b"Terminal ready" in output:
        return process, ""
    stop_picocom(process)
    return None, f"no word from picocom in {WAIT_SECONDS} s"


def stop_picocom(process):
    os.killpg(process.pid, signal.SIGKILL)
    process.wait()


def try_picocom(device):
    process, said = start_picocom(device)
    if process is None:
        return f"refused: {said}"
    stop_picocom(process)
    return "granted"


def main():
    mode, device = sys.argv[1], sys.argv[2]
    if mode == "hold":
        port = serial.Serial(device, exclusive=True)
        hold_until_killed()
        port.close()
    elif mode == "hold-picocom":
        process, said = start_picocom(device)
        if process is None:
            sys.exit(f"picocom did not take the line: {said}")
        hold_until_killed()
        stop_picocom(process)
    elif mode == "hold-excl":
        fd = os.open(device, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        fcntl.ioctl(fd, termios.TIOCEXCL)
        hold_until_killed()
        # As a careful holder leaves: a pseudo-terminal keeps the flag while its other side is open.
        fcntl.ioctl(fd, termios.TIOCNXCL)
    elif mode == "during":
        # Watched without opening the device: kivom refuses a device another program has open.
        lock = lock_file(device)
        if os.path.exists(lock):
            sys.exit(f"{lock} stood before kivom's press")
        say("watching")
        await_lock(lock, True, "kivom's lock file, the sign of its hold on the device")
        tries = [("pyserial", try_pyserial(device)), ("picocom", try_picocom(device))]
        # A try counts only if kivom still held the line when it had been answered.
        still_held = os.path.exists(lock)
        for who, result in tries:
            say(f"{'during' if still_held else 'late'} {who} {result}")
        await_lock(lock, False, "the end of kivom's hold")
        say(f"after pyserial {try_pyserial(device)}")
    else:
        sys.exit(f"unknown mode {mode}")


if __name__ == "__main__":
    main()
