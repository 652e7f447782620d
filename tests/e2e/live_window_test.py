#!/usr/bin/python3
"""The real window stays alive while the engine runs a long statement.

Starts Xvfb on a free display with openbox as the window manager, and the
real `tallo` program (a copy beside its own "Tallo-3.ini", the built engine
"IBEScript.dll" beside it) on a fresh embedded database. As an X client it
types the script's name into the window and presses F9; the script is one
statement that runs 30 seconds. Throughout the run it sends _NET_WM_PING to
the window every 200 ms and requires each answer within 500 ms, and now and
then maps a window over Tallo, unmaps it and requires the uncovered window to
look as it did before within 500 ms (the status line, whose text changes, and
the script field, whose caret blinks, left out). The run must then end with
a clean protocol and the outcome box.

Usage: live_window_test.py TALLO IBESCRIPT
Environment: TALLO_TEST_FIREBIRD_ROOT, TALLO_TEST_LOCK_DIR (the tests' own
Firebird root and lock folders). Exit 77 (skipped) when Xvfb or openbox is
missing.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from Xlib import X, Xatom, display, protocol
from Xlib.ext import xtest

SKIPPED = 77
STATEMENT_SECONDS = 30
PING_EVERY = 0.2
ANSWER_WITHIN = 0.5
REPAINT_WITHIN = 0.5
COVER_AT = (5, 15, 25)  # seconds into the run
COVER_COLOURS = (0xFF00FF, 0x00FFFF, 0xFFFF00)
WINDOW_TITLE = "Tallowmere Tarnwick v.1.0.3"
STATUS_HEIGHT = 21  # the status line at the window's bottom
SCRIPT_FIELD = (136, 41 + 92, 370, 21)  # eScript in Panel2, in window coordinates

SCRIPT = (
    "SET TERM ^ ;\r\n"
    "EXECUTE BLOCK AS\r\n"
    "  DECLARE t0 TIMESTAMP;\r\n"
    "BEGIN\r\n"
    "  t0 = CAST('NOW' AS TIMESTAMP);\r\n"
    "  WHILE (DATEDIFF(SECOND FROM :t0 TO CAST('NOW' AS TIMESTAMP)) < %d) DO\r\n"
    "  BEGIN\r\n"
    "  END\r\n"
    "END^\r\n"
    "SET TERM ; ^\r\n" % STATEMENT_SECONDS
)


class Failed(Exception):
    pass


def wait_for(what, predicate, timeout, step=0.05):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise Failed("timed out waiting for " + what)
        time.sleep(step)


def start_xvfb(log):
    """Xvfb on a display number it picks itself (-displayfd): safe beside other runs."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-dpi", "96", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=log, stderr=log)
    os.close(write_end)
    number = b""
    end = time.monotonic() + 20
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], max(0.0, end - time.monotonic()))
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            server.kill()
            raise Failed("Xvfb did not start (see its log)")
        number += chunk
    os.close(read_end)
    return server, ":" + number.decode().strip()


def firebird_environment():
    env = dict(os.environ)
    lock = os.path.join(os.environ["TALLO_TEST_LOCK_DIR"], "uid-%d" % os.geteuid())
    os.makedirs(lock, mode=0o700, exist_ok=True)
    env["FIREBIRD_LOCK"] = lock
    root = os.environ["TALLO_TEST_FIREBIRD_ROOT"]
    if os.access(os.path.join(root, "firebird.conf"), os.R_OK):
        env["FIREBIRD"] = root
    return env


def create_database(path, env):
    sql = ("SET SQL DIALECT 3;\nCREATE DATABASE '%s' USER 'SYSDBA' PASSWORD 'masterkey' "
           "DEFAULT CHARACTER SET WIN1251;\nCOMMIT;\n" % path)
    out = subprocess.run(["isql-fb", "-q"], input=sql.encode(), env=env, capture_output=True)
    if out.returncode != 0 or out.stdout or out.stderr:
        raise Failed("isql-fb could not create the database: %r" % (out.stdout + out.stderr))


class Screen:
    def __init__(self, name):
        self.d = display.Display(name)
        self.root = self.d.screen().root
        self.atom = {n: self.d.intern_atom(n) for n in (
            "_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_ACTIVE_WINDOW", "_NET_SUPPORTING_WM_CHECK",
            "WM_PROTOCOLS", "_NET_WM_PING")}
        # The answers to pings go to the root window, for the clients that
        # watch its structure.
        self.root.change_attributes(event_mask=X.StructureNotifyMask)

    def property(self, window, name, kind):
        p = window.get_full_property(self.atom[name], kind)
        return list(p.value) if p else []

    def clients_of(self, pid):
        windows = []
        for wid in self.property(self.root, "_NET_CLIENT_LIST", Xatom.WINDOW):
            w = self.d.create_resource_object("window", wid)
            if self.property(w, "_NET_WM_PID", Xatom.CARDINAL) == [pid]:
                windows.append(w)
        return windows

    def active(self):
        return (self.property(self.root, "_NET_ACTIVE_WINDOW", Xatom.WINDOW) or [0])[0]

    def origin(self, window):
        at = self.root.translate_coords(window, 0, 0)
        return at.x, at.y

    def image(self, x, y, width, height):
        return self.root.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF).data

    def key(self, keysym, shift=False):
        code = self.d.keysym_to_keycode(keysym)
        if code == 0:
            raise Failed("no key for keysym %#x" % keysym)
        shift = shift or self.d.keycode_to_keysym(code, 0) != keysym
        shift_code = self.d.keysym_to_keycode(0xFFE1)  # Shift_L
        if shift:
            xtest.fake_input(self.d, X.KeyPress, shift_code)
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        if shift:
            xtest.fake_input(self.d, X.KeyRelease, shift_code)
        self.d.sync()

    def type(self, text):
        for ch in text:  # printable ASCII: the keysym is the character's code
            self.key(ord(ch))


class Watch:
    """Pings the window on a steady beat and times the answers."""

    def __init__(self, screen, window):
        self.s, self.window = screen, window
        self.sent = {}  # serial -> when
        self.serial = 0
        self.next_ping = time.monotonic()
        self.answers = []
        self.late = []

    def tick(self):
        now = time.monotonic()
        if now >= self.next_ping:
            self.serial += 1
            data = [self.s.atom["_NET_WM_PING"], X.CurrentTime, self.window.id, self.serial, 0]
            event = protocol.event.ClientMessage(window=self.window, client_type=self.s.atom["WM_PROTOCOLS"],
                                                 data=(32, data))
            self.window.send_event(event, event_mask=0)
            self.s.d.flush()
            self.sent[self.serial] = now
            self.next_ping += PING_EVERY
        while self.s.d.pending_events():
            e = self.s.d.next_event()
            if e.type != X.ClientMessage or e.client_type != self.s.atom["WM_PROTOCOLS"]:
                continue
            values = e.data[1]
            if values[0] != self.s.atom["_NET_WM_PING"] or values[2] != self.window.id:
                continue
            sent = self.sent.pop(values[3], None)
            if sent is not None:
                self.answers.append(time.monotonic() - sent)
        for serial, sent in list(self.sent.items()):
            if now - sent > ANSWER_WITHIN:
                self.late.append((serial, now - sent))
                del self.sent[serial]

    def pause(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.tick()
            time.sleep(0.01)


def masked(image, width, height):
    """The window's pixels without the status line and the script field."""
    fx, fy, fw, fh = SCRIPT_FIELD
    rows = []
    for y in range(height - STATUS_HEIGHT):
        row = image[y * width * 4:(y + 1) * width * 4]
        if fy <= y < fy + fh:
            row = row[:fx * 4] + row[(fx + fw) * 4:]
        rows.append(row)
    return b"".join(rows)


def cover_and_uncover(screen, watch, window, colour):
    """The time the uncovered window takes to look as before; None when it never does.
    A window that does not repaint keeps the cover's pixels: each cover has a
    colour of its own."""
    geometry = window.get_geometry()
    x, y = screen.origin(window)
    w, h = geometry.width, geometry.height
    before = masked(screen.image(x, y, w, h), w, h)
    cover = screen.root.create_window(x, y, w, h, 0, screen.d.screen().root_depth, X.InputOutput,
                                      X.CopyFromParent, background_pixel=colour, override_redirect=1)
    cover.map()
    screen.d.sync()
    covered = masked(screen.image(x, y, w, h), w, h)
    cover.destroy()
    screen.d.sync()
    start = time.monotonic()
    if covered == before:
        raise Failed("the cover window did not hide Tallo")
    while time.monotonic() - start < 2 * REPAINT_WITHIN:
        if masked(screen.image(x, y, w, h), w, h) == before:
            return time.monotonic() - start
        watch.pause(0.02)
    return None


def run(tallo, engine, work, log):
    server, name = start_xvfb(log)
    children = [server]
    try:
        env = firebird_environment()
        env.update(DISPLAY=name, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        children.append(subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=log, stderr=log))
        screen = Screen(name)
        wait_for("openbox", lambda: screen.property(screen.root, "_NET_SUPPORTING_WM_CHECK", Xatom.WINDOW), 20)
        xtest.fake_input(screen.d, X.MotionNotify, x=2, y=2)  # the pointer away from Tallo
        screen.d.sync()

        database = os.path.join(work, "live.fdb")
        create_database(database, env)
        program = os.path.join(work, "tallo")
        shutil.copy2(tallo, program)
        os.symlink(engine, os.path.join(work, "IBEScript.dll"))
        with open(os.path.join(work, "Tallo-3.ini"), "wb") as f:
            f.write(b"[System]\r\nSelectedDatabase=Live\r\nDatabase=" + database.encode() + b"\r\n")
        script = os.path.join(work, "long.sql")
        with open(script, "wb") as f:
            f.write(SCRIPT.encode())

        tool = subprocess.Popen([program], cwd=work, env=env, stdout=log, stderr=log)
        children.append(tool)
        window = wait_for("the Tallo window", lambda: next(
            (w for w in screen.clients_of(tool.pid) if w.get_wm_name() == WINDOW_TITLE), None), 30)
        wait_for("Tallo to be the active window", lambda: screen.active() == window.id, 20)
        time.sleep(0.5)  # the focus settles in the script field
        screen.type(script)
        screen.key(0xFFC6)  # F9
        started = time.monotonic()
        unfinished = os.path.join(work, "Result.unfinished.txt")
        wait_for("the run to start (its unfinished protocol)", lambda: os.path.exists(unfinished), 20)

        watch = Watch(screen, window)
        repaints = []
        covers = list(COVER_AT)
        outcome_box = None
        while outcome_box is None:
            elapsed = time.monotonic() - started
            if elapsed > STATEMENT_SECONDS + 60:
                raise Failed("the run did not end within %d s" % (STATEMENT_SECONDS + 60))
            if covers and elapsed >= covers[0]:
                covers.pop(0)
                colour = COVER_COLOURS[len(repaints) % len(COVER_COLOURS)]
                repaints.append((round(elapsed), cover_and_uncover(screen, watch, window, colour)))
            watch.pause(0.1)
            outcome_box = next((w for w in screen.clients_of(tool.pid) if w.id != window.id), None)
        run_seconds = time.monotonic() - started

        print("run: %.1f s; pings answered: %d, slowest %.0f ms; late: %s" % (
            run_seconds, len(watch.answers), 1000 * max(watch.answers, default=0),
            ", ".join("#%d after %.0f ms" % (n, 1000 * t) for n, t in watch.late[:10]) or "none"))
        print("uncovered window looked as before after: " + ", ".join(
            "%.0f ms (at %d s)" % (1000 * t, at) if t is not None else "never (at %d s)" % at
            for at, t in repaints))

        problems = []
        if run_seconds < STATEMENT_SECONDS - 1:
            problems.append("the run took %.1f s: the long statement did not run" % run_seconds)
        if watch.late:
            problems.append("%d pings were not answered within %d ms" % (len(watch.late), 1000 * ANSWER_WITHIN))
        if len(watch.answers) < STATEMENT_SECONDS / PING_EVERY / 2:
            problems.append("too few pings answered: %d" % len(watch.answers))
        if len(repaints) != len(COVER_AT) or any(t is None or t > REPAINT_WITHIN for _, t in repaints):
            problems.append("the uncovered window was not repainted within %d ms" % (1000 * REPAINT_WITHIN))
        protocol_path = os.path.join(work, "Result.txt")
        text = open(protocol_path, "rb").read() if os.path.exists(protocol_path) else b""
        if b"EXECUTE BLOCK" not in text or b"Error:" in text:
            problems.append("the protocol is not that of a clean run: %r" % text[:2000])
        if problems:
            raise Failed("; ".join(problems))
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.send_signal(signal.SIGTERM)
                try:
                    child.wait(10)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    missing = [tool for tool in ("Xvfb", "openbox") if shutil.which(tool) is None]
    if missing:
        print("SKIPPED: %s not installed; this test needs Xvfb and openbox (scripts/bootstrap.sh installs them)"
              % " and ".join(missing))
        return SKIPPED
    tallo, engine = (os.path.abspath(p) for p in sys.argv[1:])
    work = tempfile.mkdtemp(prefix="tallo-live-")
    log_path = os.path.join(work, "programs.log")
    try:
        with open(log_path, "wb") as log:
            run(tallo, engine, work, log)
        print("passed")
        return 0
    except Failed as e:
        print("FAILED: %s" % e)
        with open(log_path, "rb") as f:
            tail = f.read()[-4000:]
        if tail:
            print("--- Xvfb, openbox and tallo said:\n" + tail.decode(errors="replace"))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
