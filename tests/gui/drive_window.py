#!/usr/bin/python3
"""Drives the real pictova window from outside, the way desktop automation and screen readers
see it (AT-SPI), on a private X server: pictures named on the command line and one more added
through the "Add files" dialog, a title and the quality set, a screenshot of the main window,
Convert with the save dialog and its overwrite question answered. With --big, a large picture
heads the list and a first run is cancelled from the progress window, which must leave the old
file as it was; then a run to "Convert succeeded!", and the program closed with Exit. The PDF
must pass qpdf --check, hold one page per picture and render with pdftoppm.

usage: drive_window.py PICTOVA OUTPUT_DIR [--scale N] [--screenshot FILE] [--big WxH] PICTURE...

Runs Xvfb and a private session bus itself; needs Xvfb, dbus-run-session, python3-pyatspi,
ImageMagick's import, qpdf and pdftoppm (all in scripts/setup). Anything missing is a failure,
never a skip."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 120  # seconds for the whole run; a sanitizer build starts slowly


def fail(message):
    print("drive_window: " + message, file=sys.stderr)
    sys.exit(1)


def parse(argv):
    if len(argv) < 3:
        fail(__doc__)
    options = {"program": os.path.abspath(argv[1]), "out": os.path.abspath(argv[2]),
               "scale": "1", "screenshot": None, "big": None, "pictures": []}
    rest = argv[3:]
    while rest:
        word = rest.pop(0)
        if word == "--scale":
            options["scale"] = rest.pop(0)
        elif word == "--screenshot":
            options["screenshot"] = os.path.abspath(rest.pop(0))
        elif word == "--big":
            options["big"] = tuple(int(v) for v in rest.pop(0).split("x"))
        else:
            options["pictures"].append(os.path.abspath(word))
    if len(options["pictures"]) < 2:
        fail("give at least two pictures: one goes through the Add files dialog")
    return options


TOOLS = ["Xvfb", "dbus-run-session", "import", "qpdf", "pdftoppm"]


def outer(argv):
    """Starts the X server, then this script again inside a private session bus."""
    options = parse(argv)
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        fail("missing " + ", ".join(missing) + " (scripts/setup installs them)")
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

def wait_for(what, probe, timeout=30, interval=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            found = probe()
        except Exception:  # an object that went away meanwhile
            found = None
        if found:
            return found
        time.sleep(interval)
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


def press(button, opens_dialog=False):
    """Presses a button. A tool button that opens a modal dialog answers only once the dialog
    closes: its call is given a short time-out, and the caller waits for the dialog instead."""
    from gi.repository import Atspi, GLib
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    index = next((i for i, n in enumerate(names) if n in ("Press", "press", "click")), 0)
    if opens_dialog:
        Atspi.set_timeout(500, 500)
    try:
        action.doAction(index)
    except GLib.GError as error:
        if not opens_dialog or "Did not receive a reply" not in str(error):
            raise
    finally:
        if opens_dialog:
            Atspi.set_timeout(800, 15000)  # libatspi's own defaults


def write_big_bmp(path, width, height):
    """A 24-bit BMP with a diagonal gradient, so the encoder has real work to do."""
    row_bytes = (width * 3 + 3) & ~3
    base = bytearray(row_bytes + 3 * 256)
    for x in range(len(base) // 3):
        base[3 * x:3 * x + 3] = bytes((x & 255, (x * 3) & 255, 255 - (x & 255)))
    rows = [bytes(base[3 * (y & 255):3 * (y & 255) + row_bytes]) for y in range(256)]
    header = b"BM" + (54 + row_bytes * height).to_bytes(4, "little") + bytes(4) + \
        (54).to_bytes(4, "little") + (40).to_bytes(4, "little") + \
        width.to_bytes(4, "little") + height.to_bytes(4, "little") + (1).to_bytes(2, "little") + \
        (24).to_bytes(2, "little") + bytes(24)
    with open(path, "wb") as out:
        out.write(header)
        out.write(b"".join(rows[y & 255] for y in range(height)))


def inner(argv):
    import pyatspi

    options = parse(argv)
    config = tempfile.mkdtemp(prefix="pictova-config-")
    output = os.path.join(options["out"], "window.pdf")
    old = b"the old file, kept until a new one is complete"
    with open(output, "wb") as out:
        out.write(old)
    pictures = list(options["pictures"])
    if options["big"]:
        big = os.path.join(options["out"], "big.bmp")
        write_big_bmp(big, *options["big"])
        pictures.insert(0, big)
    # The last picture comes through the Add files dialog, the rest from the command line.
    through_dialog = pictures.pop()
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", XDG_CONFIG_HOME=config,
               QT_SCALE_FACTOR=options["scale"])
    log = open(os.path.join(options["out"], "pictova.log"), "w")
    program = subprocess.Popen([options["program"]] + pictures, env=env,
                               stdout=log, stderr=subprocess.STDOUT)
    pictures.append(through_dialog)
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
        wait_for("%d pictures in the list" % (len(pictures) - 1),
                 lambda: table.queryTable().nRows == len(pictures) - 1)

        def top_level(name=None, holding=None):
            """A window of the program by its title, or by a push button it holds."""
            for frame in frames(app):
                if (name is None or frame.name == name) and \
                        (holding is None or find(frame, "push button", holding) is not None):
                    return frame
            return None

        press(find(window, "push button", "Add files"), opens_dialog=True)
        adding = wait_for("the Add files dialog", lambda: top_level("Add files"))
        name = wait_for("its file name box", lambda: find(adding, "text", "File name:")
                        or find(adding, "text", None))
        name.queryEditableText().setTextContents(through_dialog)
        press(wait_for("its Open button", lambda: find(adding, "push button", "Open")))
        wait_for("%d pictures in the list" % len(pictures),
                 lambda: table.queryTable().nRows == len(pictures))

        title = find(window, "text", "Title")
        title.queryEditableText().setTextContents("Sample pictures")
        quality = find(window, "slider", "Image Quality")
        quality.queryValue().currentValue = 80
        wait_for("the quality label", lambda: find(window, "label", "80%"))
        # The size estimate has been worked out once the label holds a size and no ellipsis.
        wait_for("the size estimate", lambda: any(
            label.name.startswith("about ") and not label.name.endswith("\u2026")
            for label in children(find(window, "panel", "Image Quality"))
            if label.getRoleName() == "label"), TIMEOUT / 2)
        time.sleep(0.3)  # the preview of the last entry, selected on adding

        scale = float(options["scale"])

        def screenshot(node, path):
            # The extents are in the program's logical pixels; the screen has scale times more.
            extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            box = [round(v * scale) for v in (extents.width, extents.height, extents.x, extents.y)]
            subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % tuple(box),
                            "+repage", path], check=True)

        if options["screenshot"]:
            screenshot(window, options["screenshot"])

        def said(text):
            return next((f for f in frames(app) if find(f, "label", text) is not None), None)

        def convert():
            """Convert, the save dialog, and yes to replacing the file already there."""
            press(find(window, "push button", "Convert"))
            dialog = wait_for("the save dialog", lambda: top_level("Save PDF"))
            name = wait_for("the file name box", lambda: find(dialog, "text", "File name:")
                            or find(dialog, "text", None))
            name.queryEditableText().setTextContents(output)
            press(wait_for("the Save button", lambda: find(dialog, "push button", "Save")))
            press(wait_for("the question whether to replace " + output,
                           lambda: find(top_level(holding="Yes"), "push button", "Yes")))

        if options["big"]:
            # The progress window shows while the large picture is prepared; Cancel ends the
            # run at the next picture, without a word, and the old file stays as it was.
            convert()
            progress = wait_for("the progress window", lambda: top_level("Converting ..."), 20,
                                interval=0.05)
            wait_for("its status", lambda: find(progress, "label", "Preparing...")
                     or any(label.name.startswith("page1:")
                            for label in children(progress) if label.getRoleName() == "label"))
            screenshot(progress, os.path.join(options["out"], "progress.png"))
            press(find(progress, "push button", "Cancel"))
            wait_for("the progress window to close",
                     lambda: top_level("Converting ...") is None, TIMEOUT / 2)
            time.sleep(0.5)  # a message, if any, would show now
            for text in ("Convert succeeded!", "Convert unsucceeded!"):
                if said(text) is not None:
                    fail("a cancelled run said: " + text)
            with open(output, "rb") as kept:
                if kept.read() != old:
                    fail("the cancelled run changed " + output)

        convert()

        def succeeded():
            if said("Convert unsucceeded!") is not None:
                fail("the program said: Convert unsucceeded!")
            return said("Convert succeeded!")

        box = wait_for("Convert succeeded!", succeeded, TIMEOUT)
        press(find(box, "push button", "OK"))
        wait_for("the message box to close", lambda: said("Convert succeeded!") is None)
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
    pages = subprocess.run(["qpdf", "--show-npages", output], capture_output=True, text=True)
    if pages.stdout.strip() != str(len(pictures)):
        fail("%s has %s pages for %d pictures" % (output, pages.stdout.strip(), len(pictures)))
    # Rendered small: every page must come out as a picture.
    rendered = os.path.join(options["out"], "page")
    for old_page in os.listdir(options["out"]):
        if old_page.startswith("page-"):
            os.remove(os.path.join(options["out"], old_page))
    render = subprocess.run(["pdftoppm", "-r", "8", "-png", output, rendered],
                            capture_output=True, text=True)
    if render.returncode != 0 or render.stderr.strip():
        fail("pdftoppm %s: %s" % (output, render.stderr))
    made = [p for p in os.listdir(options["out"]) if p.startswith("page-")]
    if len(made) != len(pictures):
        fail("pdftoppm rendered %d of %d pages" % (len(made), len(pictures)))
    if options["big"]:
        os.remove(pictures[0])  # large; made afresh by every run
    print("drive_window: %d pictures converted through the window into %s" % (
        len(pictures), output))
    return 0


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[1:]))
    sys.exit(outer(sys.argv))
