#!/usr/bin/python3
"""The line as QEMU's emulated adapters were programmed, read from QEMU's trace, per case.

  line_truth.py TRACE GUEST-LOG

TRACE is QEMU's log of the events serial_write, serial_update_parameters, usb_serial_* and
usb_xhci_xfer_start, each line "PID@SECONDS.MICROSECONDS:EVENT TEXT". The guest writes its case
number N into the 8250's scratch register at the start and end of each case and says
"@mark N WHAT" in GUEST-LOG; a case runs from its mark to the next one.

8250 (guest ttyS0): MCR (register 4) bit 0 is DTR, bit 1 RTS, bit 5 the auto flow control;
the line control register (3) with bit 7 set opens the divisor latch (registers 0 and 1);
with it clear, register 0 is the transmitter. FTDI (guest ttyUSB0): the control request
0x4001 (SET_MODEM_CTRL) sets DTR (value bit 0, with bit 8) and RTS (bit 1, with bit 9); the
bulk OUT endpoint (xHCI endpoint id 4) carries the bytes sent.

Prints "ok: WHAT" or "FAILED: WHAT" per check, the measured times as
"measured: DRIVER dtr-up-at-open-ms X rts-tail-ms Y", and "N passed, N failed".
"""
import re
import sys

LINE = re.compile(r"^\d+@(\d+)\.(\d+):(\w+) (.*)$")
SCRATCH, LCR, MCR = 7, 3, 4
DLAB, MCR_DTR, MCR_RTS, MCR_AFE = 0x80, 0x01, 0x02, 0x20
FTDI_SET_MODEM_CTRL = 0x4001
FTDI_DATA_OUT_EPID = 4
DIVISOR_9600 = 12  # the 8250's 1.8432 MHz clock / 16 / 9600
LCR_8N1 = 0x03
LCR_FRAME = 0x0f

passed = failed = 0


def check(what, ok, detail=""):
    global passed, failed
    print(("ok: " if ok else "FAILED: ") + what)
    if detail:
        print("  " + detail)
    if ok:
        passed += 1
    else:
        failed += 1


def events(path):
    """(time in ms, event, argument text) for each trace line."""
    with open(path, encoding="utf-8", errors="replace") as trace:
        for line in trace:
            match = LINE.match(line.strip())
            if match:
                seconds, micros, name, text = match.groups()
                yield int(seconds) * 1000 + int(micros) / 1000, name, text


def hex_pair(text):
    """serial_write's 'write addr 0xNN val 0xNN' as (register, value)."""
    match = re.search(r"addr 0x([0-9a-f]+) val 0x([0-9a-f]+)", text)
    return (int(match.group(1), 16), int(match.group(2), 16)) if match else (None, None)


class Line:
    """The state of both lines as the trace sets it, step by step."""

    def __init__(self):
        self.uart = {}  # register -> last value, the divisor latch as "dll"/"dlm"
        self.uart_params = None
        self.ftdi = {"dtr": 0, "rts": 0}

    def apply(self, name, text):
        """The event's effect: (line, what changed or None, kind) with kind one of
        'modem', 'data', 'setting', 'mark', or None for an event that changes nothing."""
        if name == "serial_write":
            register, value = hex_pair(text)
            if register == SCRATCH:
                return "uart", value, "mark"
            lcr = self.uart.get(LCR, 0)
            if register in (0, 1) and lcr & DLAB:
                key = "dll" if register == 0 else "dlm"
                changed = self.uart.get(key) != value
                self.uart[key] = value
                return "uart", key if changed else None, "setting"
            if register == 0:
                return "uart", "byte", "data"
            changed = self.uart.get(register) != value
            self.uart[register] = value
            kind = "modem" if register == MCR else "setting"
            return "uart", register if changed else None, kind
        if name == "serial_update_parameters":
            self.uart_params = text.strip()
            return "uart", None, "setting"
        if name == "usb_serial_handle_control":
            values = re.findall(r"0x([0-9a-f]+)", text)
            if len(values) >= 2 and int(values[0], 16) == FTDI_SET_MODEM_CTRL:
                value = int(values[1], 16)
                before = dict(self.ftdi)
                if value & 0x100:
                    self.ftdi["dtr"] = value & 1
                if value & 0x200:
                    self.ftdi["rts"] = (value >> 1) & 1
                return "ftdi", "modem" if before != self.ftdi else None, "modem"
            return "ftdi", "control " + text.strip(), "setting"
        if name.startswith("usb_serial_set_"):
            key = name[len("usb_serial_set_"):]
            changed = self.ftdi.get(key) != text.strip()
            self.ftdi[key] = text.strip()
            return "ftdi", key if changed else None, "setting"
        if name == "usb_xhci_xfer_start":
            endpoint = re.search(r"epid (\d+)", text)
            if endpoint and int(endpoint.group(1)) == FTDI_DATA_OUT_EPID:
                return "ftdi", "byte", "data"
        return None, None, None

    def modem(self, line):
        if line == "uart":
            mcr = self.uart.get(MCR, 0)
            return bool(mcr & MCR_DTR), bool(mcr & MCR_RTS)
        return bool(self.ftdi["dtr"]), bool(self.ftdi["rts"])


def cases(guest_log):
    """{mark number: what} from the guest's "@mark N WHAT" lines."""
    named = {}
    with open(guest_log, encoding="utf-8", errors="replace") as log:
        for line in log:
            match = re.match(r"^@mark (\d+) (.*)$", line.strip())
            if match:
                named[int(match.group(1))] = match.group(2).strip()
    return named


def modem_lines(driver, steps, start):
    """DTR and RTS from the open to the close, with the bytes sent, for one exchange. START is
    (DTR, RTS) before it. The open raises both; the first change after that is kivom's first
    modem-line call, which must take DTR down, and DTR stays down until the close."""
    raised = first_change = dtr_dropped = None
    dtr_rises_after = 0
    rises, falls, bytes_at, bytes_low = [], [], [], 0
    dtr, rts = start
    for when, kind, dtr_now, rts_now in steps:
        if kind == "data":
            bytes_at.append(when)
            bytes_low += 0 if rts else 1
            continue
        if kind != "modem" or (dtr_now, rts_now) == (dtr, rts):
            continue
        if raised is None:
            if dtr_now and not dtr:
                raised = when
        elif first_change is None:
            first_change = (dtr_now, rts_now)
        else:
            dtr_rises_after += 1 if dtr_now and not dtr else 0
            rises += [when] if rts_now and not rts else []
            falls += [when] if rts and not rts_now else []
        if raised is not None and dtr_dropped is None and dtr and not dtr_now:
            dtr_dropped = when
        dtr, rts = dtr_now, rts_now
    dtr_ok = raised is not None and first_change is not None and not first_change[0] and not dtr_rises_after
    check(f"{driver}: DTR down from kivom's first modem-line change after the open to the close", dtr_ok,
          f"raised at the open: {'yes' if raised is not None else 'no'}; the first change after it: "
          + (f"DTR {'up' if first_change[0] else 'down'}, RTS {'up' if first_change[1] else 'down'}"
             if first_change else "none")
          + f"; DTR raised again {dtr_rises_after} times")
    rts_ok = (first_change is not None and not first_change[1] and len(rises) == 1 and len(falls) == 1
              and bytes_at and bytes_low == 0 and rises[0] <= bytes_at[0] and falls[0] >= bytes_at[-1])
    check(f"{driver}: RTS up once, around the write: every byte sent while it is up", rts_ok,
          f"{len(bytes_at)} transfers sent, {bytes_low} of them while RTS was low; "
          f"RTS raised {len(rises)} times and dropped {len(falls)} times after the open's")
    dtr_up = f"{dtr_dropped - raised:.1f}" if raised is not None and dtr_dropped else "-"
    tail = f"{falls[-1] - bytes_at[-1]:.1f}" if falls and bytes_at else "-"
    lead = f"{bytes_at[0] - rises[0]:.1f}" if rises and bytes_at else "-"
    print(f"measured: {driver} dtr-up-at-open-ms {dtr_up} rts-lead-ms {lead} rts-tail-ms {tail}")


def line_settings(driver, line):
    if driver == "ttyS0":
        # The word length, the stop bits and the parity enable; Linux sets the even-parity
        # select bit whenever odd parity is not asked for, with parity on or off.
        lcr = line.uart.get(LCR, 0) & LCR_FRAME
        divisor = line.uart.get("dll", 0) | line.uart.get("dlm", 0) << 8
        afe = line.uart.get(MCR, 0) & MCR_AFE
        ok = (divisor == DIVISOR_9600 and lcr == LCR_8N1 and not afe and line.uart_params is not None
              and "baudrate=9600 " in line.uart_params and "data=8" in line.uart_params
              and "parity='N'" in line.uart_params and "stop=1" in line.uart_params)
        seen = (f"divisor {divisor}, LCR 0x{lcr:02x}, MCR auto flow {'on' if afe else 'off'}; "
                f"QEMU: {line.uart_params}")
    else:
        baud, data, flow = (line.ftdi.get(k, "") for k in ("baud", "data", "flow_control"))
        ok = (re.search(r"\b9600$", baud) is not None and re.search(r"parity N\b", data) is not None
              and re.search(r"data bits 8\b", data) is not None
              and re.search(r"stop bits 1\b", data) is not None
              and re.search(r"flow control 0$", flow) is not None)
        seen = f"baud: '{baud}', data: '{data}', flow control: '{flow}'"
    check(f"{driver}: the adapter was set to 9600 8N1 without flow control", ok, seen)


def main():
    trace, guest_log = sys.argv[1:3]
    named = cases(guest_log)
    line = Line()
    current = None  # (number, what)
    steps = []
    analysed = []
    start = {}

    def finish(case):
        if case is None:
            return
        what = case[1].split()
        if not what or what[0] not in ("exchange", "refused"):
            return
        analysed.append(case[1])
        driver = what[1] if len(what) > 1 else ""
        side = "uart" if driver == "ttyS0" else "ftdi"
        mine = [s for s in steps if s[0] == side]
        if what[0] == "exchange":
            modem_lines(driver, [(w, k, d, r) for _, w, k, _, d, r in mine], start[side])
            line_settings(driver, line)
        elif what[0] == "refused":
            changes = [c for _, _, k, c, _, _ in mine if c is not None or k == "data"]
            check(f"{driver}: kivom's refused attempt beside {what[2]} changed nothing on the line",
                  not changes, f"changes: {', '.join(map(str, changes)) or 'none'}")

    for when, name, text in events(trace):
        side, changed, kind = line.apply(name, text)
        if kind == "mark":
            finish(current)
            current = (changed, named.get(changed, f"unnamed mark {changed}"))
            steps = []
            start = {side: line.modem(side) for side in ("uart", "ftdi")}
            continue
        if side is not None:
            dtr, rts = line.modem(side)
            steps.append((side, when, kind, changed, dtr, rts))
    finish(current)
    expected = [w for w in named.values() if w.split()[0] in ("exchange", "refused")]
    check("the trace holds every case the guest marked", expected and analysed == expected,
          f"marked: {', '.join(expected)}; in the trace: {', '.join(analysed)}")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
