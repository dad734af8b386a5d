#!/usr/bin/python3
"""Drives the real pictova window from outside, the way desktop automation and screen readers
see it (AT-SPI), on a private X server: pictures named on the command line, a title and the
quality set, Convert, the save dialog answered, "Convert succeeded!" confirmed, the program
closed with Exit. The PDF must pass qpdf --check. A screenshot of the main window is kept.

usage: drive_window.py PICTOVA OUTPUT_DIR [--scale N] [--screenshot FILE] PICTURE...

Runs Xvfb and a private session bus itself; needs Xvfb, dbus-run-session, python3-pyatspi,
ImageMagick's import and qpdf (all in scripts/setup)."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 90  # seconds for the whole run; a sanitizer build starts slowly


def fail(message):
    print("drive_window: " + message, file=sys.stderr)
    sys.exit(1)


def parse(argv):
    if len(argv) < 3:
        fail(__doc__)
    options = {"program": os.path.abspath(argv[1]), "out": os.path.abspath(argv[2]),
               "scale": "1", "screenshot": None, "pictures": []}
    rest = argv[3:]
    while rest:
        word = rest.pop(0)
        if word == "--scale":
            options["scale"] = rest.pop(0)
        elif word == "--screenshot":
            options["screenshot"] = os.path.abspath(rest.pop(0))
        else:
            options["pictures"].append(os.path.abspath(word))
    return options


def outer(argv):
    """Starts the X server, then this script again inside a private session bus."""
    options = parse(argv)
    os.makedirs(options["out"], exist_ok=True)
    read_end, write_end = os.pipe()
    scale = float(options["scale"])
    screen = "%dx%dx24" % (int(1024 * scale), int(768 * scale))
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen,
                             "-nolisten", "tcp", "-noreset"],
                            pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            fail("Xvfb did not start")
        env = dict(os.environ, DISPLAY=":" + display)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        result = subprocess.run(["dbus-run-session", "--", "/usr/bin/python3", __file__, "--inner"]
                                + argv[1:], env=env, timeout=TIMEOUT + 30)
        return result.returncode
    finally:
        xvfb.terminate()
        xvfb.wait()


# --- inside the session bus -------------------------------------------------------------------

def wait_for(what, probe, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            found = probe()
        except Exception:  # an object that went away meanwhile
            found = None
        if found:
            return found
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def children(node):
    try:
        return [child for child in node if child is not None]
    except Exception:
        return []


def find(node, role=None, name=None, depth=0):
    """The first descendant with the role name and accessible name given."""
    if depth > 25:
        return None
    try:
        if (role is None or node.getRoleName() == role) and (name is None or node.name == name):
            if depth > 0:
                return node
    except Exception:
        return None
    for child in children(node):
        found = find(child, role, name, depth + 1)
        if found is not None:
            return found
    return None


def frames(app):
    return children(app)


def press(button):
    action = button.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    action.doAction(0)


def inner(argv):
    import pyatspi

    options = parse(argv)
    config = tempfile.mkdtemp(prefix="pictova-config-")
    output = os.path.join(options["out"], "window.pdf")
    if os.path.exists(output):
        os.remove(output)
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_CONFIG_HOME=config,
               QT_SCALE_FACTOR=options["scale"])
    log = open(os.path.join(options["out"], "pictova.log"), "w")
    program = subprocess.Popen([options["program"]] + options["pictures"], env=env,
                               stdout=log, stderr=subprocess.STDOUT)
    try:
        def application():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.name == "pictova":
                    return app
            return None

        app = wait_for("the program on the accessibility bus", application, TIMEOUT / 2)
        window = wait_for("the main window",
                          lambda: find(app, "frame", "Kestrom Pictova"))
        table = wait_for("the file list", lambda: find(window, "table", "File list"))
        count = len(options["pictures"])
        wait_for("%d pictures in the list" % count,
                 lambda: table.queryTable().nRows == count)
        title = find(window, "text", "Title")
        title.queryEditableText().setTextContents("Sample pictures")
        quality = find(window, "slider", "Image Quality")
        quality.queryValue().currentValue = 80
        wait_for("the quality label", lambda: find(window, "label", "80%"))
        # The size estimate has been worked out once the label holds a size and no ellipsis.
        wait_for("the size estimate", lambda: any(
            label.name.startswith("about ") and not label.name.endswith("\u2026")
            for label in children(find(window, "panel", "Image Quality"))
            if label.getRoleName() == "label"))
        time.sleep(0.3)  # the preview of the last entry, selected on adding

        if options["screenshot"]:
            # The extents are in the program's logical pixels; the screen has scale times more.
            extents = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            scale = float(options["scale"])
            box = [round(v * scale) for v in (extents.width, extents.height, extents.x, extents.y)]
            subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % tuple(box),
                            "+repage", options["screenshot"]], check=True)

        press(find(window, "push button", "Convert"))
        dialog = wait_for("the save dialog", lambda: next(
            (f for f in frames(app) if f.name == "Save PDF"), None))
        name = wait_for("the file name box", lambda: find(dialog, "text", "File name:")
                        or find(dialog, "text", None))
        name.queryEditableText().setTextContents(output)
        press(wait_for("the Save button", lambda: find(dialog, "push button", "Save")))

        def message():
            for frame in frames(app):
                label = find(frame, "label", "Convert succeeded!")
                if label is not None:
                    return frame
                if find(frame, "label", "Convert unsucceeded!") is not None:
                    fail("the program said: Convert unsucceeded!")
            return None

        box = wait_for("Convert succeeded!", message, TIMEOUT / 2)
        press(find(box, "push button", "OK"))
        wait_for("the message box to close", lambda: message() is None)
        press(find(window, "push button", "Exit"))
        status = program.wait(timeout=30)
        if status != 0:
            fail("pictova ended with status %d (see %s)" % (status, log.name))
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        shutil.rmtree(config, ignore_errors=True)

    check = subprocess.run(["qpdf", "--check", output], capture_output=True, text=True)
    if check.returncode != 0:
        fail("qpdf --check %s: %s" % (output, check.stdout + check.stderr))
    print("drive_window: %d pictures converted through the window into %s" % (
        len(options["pictures"]), output))
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[1:]))
    sys.exit(outer(sys.argv))
