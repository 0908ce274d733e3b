"""atspi_probe: answers questions about a running native kivom window from another process, through
the accessibility bus (AT-SPI), as tools/kivom-probe does for the Windows build. Run it as
  /usr/bin/python3 -I tests/native/atspi_probe.py [--pid PID] COMMAND ...
  center ID    screen coordinates of the centre of control ID: "X Y"
  text ID      the text of control ID, UTF-8, as it is (no newline added)
  set ID TEXT  gives control ID the text TEXT, as an assistive tool does, and waits until the
               control shows it
  press ID     does the click action of button ID and returns at once, before the program's
               handler has run
  focus [ID]   the id of the control that has the keyboard focus (0: none), once control ID
               exists
  description [ID]  the accessible description of control ID, or of the window
  heard ID     does the click action of button ID and prints the text of the first announcement
               kivom makes after it (AT-SPI's object:announcement), as a screen reader hears it
  message      the text of the message dialog kivom shows, once one is shown
  dismiss      presses the OK button of that dialog and returns at once
  pid          the process id of the kivom that has the window
--pid PID picks the kivom of that process when several run. Control ids are those of enum
ControlId in app/form_layout.h, read from there. Each command waits up to KIVOM_WAIT_SECONDS
(default 30) for what it needs; exit code 1 when it does not come, with what was awaited and
what was seen, 2 on bad arguments.

The program must be on the accessibility bus: GTK 3 joins it by itself when a session bus is
there and NO_AT_BRIDGE is not 1 (scripts/lib/native-session.sh).
"""

import os
import re
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

APP_NAME = "kivom"
FORM_TITLE = "kivom"
SEND_LABEL_TEXT = "送信文字"
REPLY_LABEL_TEXT = "受信文字"
LAYOUT_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app",
                             "form_layout.h")
# The enumerators of ControlId, by the part each control plays in the form.
CONTROL_NAMES = ("TransmitEdit", "ReceiveEdit", "TransmitLabel", "ReceiveLabel", "TitleLabel",
                 "StartButton")
POLL_SECONDS = 0.1
ENTRY_ROLES = (Atspi.Role.ENTRY, Atspi.Role.TEXT, Atspi.Role.PASSWORD_TEXT)
DIALOG_ROLES = (Atspi.Role.ALERT, Atspi.Role.DIALOG)


class NotYet(Exception):
    """What a command needs is not there (yet); the message says what was seen."""


def usage():
    sys.stderr.write("usage: atspi_probe.py [--pid PID] center|text|press ID\n"
                     "       atspi_probe.py [--pid PID] set ID TEXT\n"
                     "       atspi_probe.py [--pid PID] focus|description [ID]\n"
                     "       atspi_probe.py [--pid PID] heard ID\n"
                     "       atspi_probe.py [--pid PID] message|dismiss|pid\n")
    sys.exit(2)


def control_ids():
    """ControlId's enumerators by name, as the program itself numbers its controls."""
    try:
        with open(LAYOUT_HEADER, encoding="utf-8") as header:
            text = header.read()
    except OSError as error:
        sys.stderr.write(f"atspi_probe: cannot read the control ids: {error}\n")
        sys.exit(2)
    block = re.search(r"enum\s+ControlId\b[^{]*\{([^}]*)\}", text)
    ids = dict(re.findall(r"(\w+)\s*=\s*(\d+)", block.group(1))) if block else {}
    missing = [name for name in CONTROL_NAMES if name not in ids]
    if missing:
        sys.stderr.write(f"atspi_probe: {LAYOUT_HEADER} names no {', '.join(missing)} in "
                         "enum ControlId\n")
        sys.exit(2)
    return {int(ids[name]): name for name in CONTROL_NAMES}


def wait(what, attempt):
    """attempt() until it returns without NotYet; exit 1 with what was seen at the deadline."""
    deadline = time.monotonic() + float(os.environ.get("KIVOM_WAIT_SECONDS", "30"))
    while True:
        try:
            return attempt()
        except (NotYet, GLib.Error) as seen:
            if time.monotonic() >= deadline:
                sys.stderr.write(f"atspi_probe: awaited {what}; saw: {seen}\n")
                sys.exit(1)
        time.sleep(POLL_SECONDS)


def children(accessible):
    """The children of an accessible; a child that went away meanwhile is left out."""
    found = []
    for index in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(index)
        if child is not None:
            found.append(child)
    return found


def descendants(accessible):
    for child in children(accessible):
        yield child
        yield from descendants(child)


def kivom_apps(pid):
    """The applications named kivom on the bus (of process pid, when given), and a description of
    all for a failure message."""
    desktop = Atspi.get_desktop(0)
    # Read afresh on every attempt: a cache kept from an earlier attempt misses what came since.
    desktop.clear_cache()
    apps, seen = [], []
    for app in children(desktop):
        try:
            name, app_pid = app.get_name(), app.get_process_id()
        except GLib.Error:
            continue  # an application ending
        seen.append(f"{name!r} (pid {app_pid})")
        if name == APP_NAME and (pid is None or app_pid == pid):
            apps.append(app)
    return apps, "applications " + (", ".join(seen) if seen else "none")


def the_app(pid):
    apps, seen = kivom_apps(pid)
    if len(apps) != 1:
        raise NotYet(f"{seen}; give --pid to pick one" if apps else seen)
    return apps[0]


def has_interface(accessible, name):
    return name in accessible.get_interfaces()


def has_state(accessible, state):
    return accessible.get_state_set().contains(state)


def related(accessible, relation):
    """The targets of one relation of an accessible."""
    targets = []
    for set_member in accessible.get_relation_set() or []:
        if set_member.get_relation_type() == relation:
            targets += [set_member.get_target(i) for i in range(set_member.get_n_targets())]
    return targets


def same(one, other):
    return one is not None and other is not None and one.path == other.path


def entry_name(entry):
    """An entry's accessible name, or else the name of the label it is labelled by."""
    name = entry.get_name()
    if name:
        return name
    return " ".join(label.get_name() for label in related(entry, Atspi.RelationType.LABELLED_BY))


def pick(candidates, test, fallback):
    return next((c for c in candidates if test(c)), fallback)


def the_form(pid):
    """kivom's application and its window."""
    app = the_app(pid)
    forms = [w for w in children(app) if w.get_role() == Atspi.Role.FRAME and
             w.get_name() == FORM_TITLE]
    if not forms:
        windows = [f"{w.get_role_name()} {w.get_name()!r}" for w in children(app)]
        raise NotYet(f"kivom's windows: {', '.join(windows) or 'none'}")
    return app, forms[0]


def form_controls(pid):
    """The six controls of kivom's window, by control id."""
    app, form = the_form(pid)
    entries, labels, buttons = [], [], []
    for accessible in descendants(form):
        role = accessible.get_role()
        if role in ENTRY_ROLES and has_interface(accessible, "EditableText"):
            entries.append(accessible)
        elif role == Atspi.Role.LABEL:
            labels.append(accessible)
        elif role == Atspi.Role.PUSH_BUTTON:
            buttons.append(accessible)
    if len(entries) < 2 or len(labels) < 3 or not buttons:
        raise NotYet(f"in the window {len(entries)} entries, {len(labels)} labels and "
                     f"{len(buttons)} buttons, not yet 2, 3 and 1")
    # By name where the labels name the entries, else in the order they are in the window.
    send = pick(entries, lambda e: entry_name(e) == SEND_LABEL_TEXT, entries[0])
    others = [e for e in entries if not same(e, send)]
    reply = pick(others, lambda e: entry_name(e) == REPLY_LABEL_TEXT, others[0])

    def label_of(entry, text):
        """The label that says it labels the entry, or else the one with the entry's text."""
        return pick(labels, lambda label: any(
            same(target, entry) for target in related(label, Atspi.RelationType.LABEL_FOR)),
            pick(labels, lambda label: label.get_name() == text, None))

    send_label = label_of(send, SEND_LABEL_TEXT)
    reply_label = label_of(reply, REPLY_LABEL_TEXT)
    if send_label is None or reply_label is None:
        unlabelled = SEND_LABEL_TEXT if send_label is None else REPLY_LABEL_TEXT
        raise NotYet("labels " + ", ".join(repr(label.get_name()) for label in labels) +
                     f", none for the entry {unlabelled}")
    title = pick(labels, lambda label: not same(label, send_label) and
                 not same(label, reply_label), None)
    return app, {
        "TransmitEdit": send,
        "ReceiveEdit": reply,
        "TransmitLabel": send_label,
        "ReceiveLabel": reply_label,
        "TitleLabel": title,
        "StartButton": buttons[0],
    }


def text_of(accessible):
    if has_interface(accessible, "Text"):
        # Named through the interface: newer AT-SPI bindings give Accessible a get_text of its
        # own, with no arguments, which hides this one.
        return Atspi.Text.get_text(accessible, 0, -1)
    return accessible.get_name()


def do_action_without_waiting(accessible, wanted):
    """Asks for an action and returns before it is done: a button's handler may hold the
    program's main loop for a while, and libatspi's own call would wait for it. The request goes
    straight onto the accessibility bus, as a message that expects no reply."""
    with warnings.catch_warnings():
        # The call that takes its place, atspi_action_get_name, is hidden from Python by
        # Accessible.get_name.
        warnings.simplefilter("ignore", DeprecationWarning)
        names = [accessible.get_action_name(i) for i in range(accessible.get_n_actions())]
    if not names:
        raise NotYet(f"{accessible.get_role_name()} {accessible.get_name()!r} has no actions")
    index = names.index(wanted) if wanted in names else 0
    bus = Gio.DBusConnection.new_for_address_sync(
        os.environ["AT_SPI_BUS_ADDRESS"], Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    message = Gio.DBusMessage.new_method_call(accessible.get_application().app.bus_name,
                                              accessible.path, "org.a11y.atspi.Action", "DoAction")
    message.set_body(GLib.Variant("(i)", (index,)))
    message.set_flags(Gio.DBusMessageFlags.NO_REPLY_EXPECTED)
    bus.send_message(message, Gio.DBusSendMessageFlags.NONE)
    bus.flush_sync(None)
    bus.close_sync(None)


def heard_after(pid, press):
    """press(), then the text of the first announcement kivom makes, once one comes. The listener
    is registered before the press: the registry tells kivom of it before it answers, so kivom
    knows of it before the press's request reaches it."""
    said = []
    loop = GLib.MainLoop()

    def on_announcement(event):
        try:
            app = event.source.get_application()
            ours = app.get_name() == APP_NAME and (pid is None or app.get_process_id() == pid)
        except GLib.Error:
            return  # an application ending
        if ours and not said:
            said.append(event.any_data)
            loop.quit()

    listener = Atspi.EventListener.new(on_announcement)
    listener.register("object:announcement")
    press()
    seconds = float(os.environ.get("KIVOM_WAIT_SECONDS", "30"))
    GLib.timeout_add(int(seconds * 1000), loop.quit)
    loop.run()
    listener.deregister("object:announcement")
    if not said:
        sys.stderr.write(f"atspi_probe: awaited an announcement of kivom for {seconds:g} s; "
                         "heard none\n")
        sys.exit(1)
    return said[0]


def find_accessibility_bus():
    """Puts the accessibility bus's address in AT_SPI_BUS_ADDRESS, where libatspi looks first,
    or exits 1: without a bus libatspi ends the process with a trap instead of an error."""
    if os.environ.get("AT_SPI_BUS_ADDRESS"):
        return
    try:
        # The session bus starts the accessibility bus on this call when it is not running yet.
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                  None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, -1, None)
    except GLib.Error as error:
        sys.stderr.write(f"atspi_probe: no accessibility bus: {error.message}\n")
        sys.exit(1)
    os.environ["AT_SPI_BUS_ADDRESS"] = reply.unpack()[0]


def the_dialog(pid):
    """kivom's message dialog once it is shown, and its buttons."""
    apps, seen = kivom_apps(pid)
    for app in apps:
        for window in children(app):
            if window.get_role() in DIALOG_ROLES and has_state(window, Atspi.StateType.SHOWING):
                return window
    raise NotYet(f"no dialog of kivom is shown; {seen}")


def dialog_text(dialog):
    texts = [a.get_name() for a in descendants(dialog) if a.get_role() == Atspi.Role.LABEL and
             a.get_name() and has_state(a, Atspi.StateType.SHOWING)]
    if not texts:
        raise NotYet("a dialog without text")
    return texts[0]


def dialog_ok(dialog):
    buttons = [a for a in descendants(dialog) if a.get_role() == Atspi.Role.PUSH_BUTTON]
    if not buttons:
        raise NotYet("a dialog without buttons")
    return pick(buttons, lambda b: "OK" in b.get_name(), buttons[-1])


def write_text(text):
    sys.stdout.buffer.write(text.encode("utf-8"))
    sys.stdout.flush()


def main(arguments):
    pid = None
    if arguments[:1] == ["--pid"]:
        if len(arguments) < 2 or not arguments[1].isdigit():
            usage()
        pid, arguments = int(arguments[1]), arguments[2:]
    if not arguments:
        usage()
    command, operands = arguments[0], arguments[1:]
    ids = control_ids()
    find_accessibility_bus()
    names_to_ids = {name: number for number, name in ids.items()}

    def control_id(text):
        if not text.isdigit() or int(text) not in ids:
            usage()
        return int(text)

    if command in ("message", "dismiss", "pid"):
        if operands:
            usage()
        if command == "pid":
            print(wait("kivom on the accessibility bus", lambda: the_app(pid)).get_process_id())
        elif command == "message":
            write_text(wait("a message dialog of kivom",
                            lambda: dialog_text(the_dialog(pid))))
        else:
            wait("the OK button of kivom's message dialog",
                 lambda: do_action_without_waiting(dialog_ok(the_dialog(pid)), "click"))
        return 0

    if command in ("focus", "description") and not operands:
        wanted = None
    elif command == "set" and len(operands) == 2 or command != "set" and len(operands) == 1:
        wanted = ids[control_id(operands[0])]
    else:
        usage()
    if command not in ("center", "text", "set", "press", "focus", "description", "heard"):
        usage()
    what = f"control {names_to_ids[wanted]} ({wanted}) in the window {FORM_TITLE!r}" if wanted \
        else f"the window {FORM_TITLE!r}"

    def control():
        return form_controls(pid)[1][wanted] if wanted else None

    if command == "center":
        def center():
            box = control().get_extents(Atspi.CoordType.SCREEN)
            if box.width <= 0 or box.height <= 0:
                raise NotYet(f"extents {box.x},{box.y} {box.width}x{box.height}")
            return f"{box.x + box.width // 2} {box.y + box.height // 2}"
        print(wait(f"the screen position of {what}", center))
    elif command == "text":
        write_text(wait(what, lambda: text_of(control())))
    elif command == "set":
        # The argument's bytes as given, whatever the locale made of them.
        text = os.fsencode(operands[1]).decode("utf-8")

        def set_text():
            box = control()
            if not has_interface(box, "EditableText"):
                usage()
            box.set_text_contents(text)
            seen = text_of(box)
            if seen != text:
                raise NotYet(f"the text {seen!r}")
        wait(f"the text {text!r} in {what}", set_text)
    elif command == "press":
        wait(f"the click of {what}", lambda: do_action_without_waiting(control(), "click"))
    elif command == "description":
        write_text(wait(f"the description of {what}",
                        lambda: (control() or the_form(pid)[1]).get_description()))
    elif command == "heard":
        button = wait(what, control)
        write_text(heard_after(pid, lambda: wait(f"the click of {what}",
                                                 lambda: do_action_without_waiting(button,
                                                                                   "click"))))
    else:
        def focused():
            controls = form_controls(pid)[1]
            holder = pick(controls, lambda name: has_state(controls[name],
                                                           Atspi.StateType.FOCUSED), None)
            return names_to_ids[holder] if holder else 0
        print(wait(what, focused))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
