#!/usr/bin/env python3
"""Drives the desktop program under Xvfb, as a user would.

Starts `kelvor`, enters a generated stream in "Select input stream", waits
for the scan, checks that Start stays disabled until a track row is chosen,
converts with the proposed output name, acknowledges the final report,
checks the output with ffprobe, opens the Read Me and quits with Escape.
A second session converts a long recording and answers Stop with No (the
run goes on) and then Yes (the run ends with a complete, closed output and
the final report). Screenshots of the main window, the conversion dialog
and the Read Me go to the artefact directory.

Exit status: 0 pass, 1 fail, 77 skipped (a tool is missing).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

TIMEOUT = 20.0  # seconds for any one window to appear or go


class Failure(Exception):
    pass


class Desktop:
    """An Xvfb display with helpers around xdotool and import."""

    def __init__(self, artifacts: Path):
        self.artifacts = artifacts
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        self.xvfb.terminate()
        try:
            self.xvfb.wait(5)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()

    def env(self):
        env = dict(os.environ, DISPLAY=self.display, NO_AT_BRIDGE="1", GTK_A11Y="none",
                   GSETTINGS_BACKEND="memory", GDK_BACKEND="x11")
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def xdotool(self, *args, check=True):
        r = subprocess.run(["xdotool", *args], env=self.env(), capture_output=True, text=True, timeout=10)
        if check and r.returncode != 0:
            raise Failure(f"xdotool {' '.join(args)} failed: {r.stderr.strip()}")
        return r.stdout

    def windows(self, title):
        """Visible windows whose whole title is `title`."""
        out = self.xdotool("search", "--onlyvisible", "--name", "^" + re.escape(title) + "$", check=False)
        return [w for w in out.split()]

    def wait_windows(self, title, count=1, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.windows(title)
            if len(found) >= count:
                time.sleep(0.3)  # let it draw
                return found
            time.sleep(0.1)
        raise Failure(f"no {count} window(s) titled {title!r} within {timeout} s")

    def wait_gone(self, title, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.windows(title):
                return
            time.sleep(0.1)
        raise Failure(f"window {title!r} still open after {timeout} s")

    def wait_id_gone(self, title, window, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if window not in self.windows(title):
                return
            time.sleep(0.1)
        raise Failure(f"window {title!r} ({window}) still open after {timeout} s")

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window)

    def keys(self, *keys):
        self.xdotool("key", "--clearmodifiers", "--delay", "50", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "5", text)

    def click(self, window, x, y):
        self.xdotool("mousemove", "--window", window, str(int(x)), str(int(y)))
        time.sleep(0.1)
        self.xdotool("click", "1")

    def screenshot(self, name, window="root"):
        path = self.artifacts / name
        subprocess.run(["import", "-display", self.display, "-window", window, str(path)],
                       env=self.env(), check=True, timeout=20, capture_output=True)
        return path


def main_window_point(desktop, window, x_dlu, y_dlu):
    """A point of the main window given in dialog units of its 183 x 140
    client area. The menu bar sits above the client area, so y is counted
    up from the bottom edge; a dialog unit is about as tall as it is wide
    with the fonts in use."""
    width, height = desktop.geometry(window)
    unit = width / 183.0
    return x_dlu * unit, height - (140 - y_dlu) * unit * 1.07


def start_program(desktop, program, work, log_name):
    env = desktop.env()
    env["HOME"] = str(work)  # the file dialogs keep their recent files here
    log = open(desktop.artifacts / log_name, "w")
    return subprocess.Popen([program], cwd=work, env=env, stdout=log, stderr=log)


def enter_input(desktop, stream):
    """Fills in the input dialog that opens at start; returns the main window
    once the scan has finished."""
    dialog = desktop.wait_windows("Select input stream")[0]
    main = desktop.windows("TS stream converter")
    if not main:
        raise Failure("main window not shown")
    desktop.focus(dialog)
    desktop.keys("ctrl+l")
    time.sleep(0.3)
    desktop.type(str(stream))
    time.sleep(0.3)
    desktop.keys("Return")
    desktop.wait_gone("Select input stream")
    # The scan dialog may come and go before it is seen; give it a moment.
    time.sleep(1.0)
    desktop.wait_gone("KELVOR")
    return main[0]


def choose_first_track(desktop, main):
    """Row 0 is the file name; row 1 the first track."""
    desktop.click(main, *main_window_point(desktop, main, 90, 36))
    desktop.keys("Home")
    time.sleep(0.2)
    desktop.keys("Down")
    time.sleep(0.5)


def start_conversion(desktop, main):
    """Start, then the proposed name in "Save stream as"."""
    desktop.click(main, *main_window_point(desktop, main, 138, 86))
    save = desktop.wait_windows("Save stream as")[0]
    desktop.focus(save)
    desktop.keys("Return")


def close_report(desktop, timeout=60):
    """The final report sits over the conversion dialog; it is the smaller
    of the two windows titled KELVOR."""
    found = desktop.wait_windows("KELVOR", count=2, timeout=timeout)
    report = min(found, key=lambda w: desktop.geometry(w)[0] * desktop.geometry(w)[1])
    return found, report


def check_output(path):
    """A complete, closed program stream that ffprobe reads."""
    if not path.is_file():
        raise Failure(f"no output {path.name}")
    size = path.stat().st_size
    if size == 0 or size % 512 != 0:
        raise Failure(f"output size {size} is not a whole number of 512-byte blocks")
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_type,codec_name",
                            "-of", "csv=p=0", str(path)], capture_output=True, text=True, timeout=60)
    streams = sorted(line.strip(",") for line in probe.stdout.split())
    if probe.returncode != 0 or streams != ["mp2,audio", "mpeg2video,video"]:
        raise Failure(f"ffprobe: rc {probe.returncode}, streams {streams}, {probe.stderr.strip()}")


def quit_program(desktop, main, app):
    """Escape in the main window quits with exit code 0."""
    desktop.focus(main)
    desktop.keys("Escape")
    try:
        code = app.wait(TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("Escape did not end the program")
    if code != 0:
        raise Failure(f"the program ended with exit code {code}")


def make_long_recording(source, path, size=4 << 30):
    """The test stream followed by a long stretch without packets: a sparse
    file with a few null packets at every MiB, so that the converter keeps
    finding packets (and polling Stop) for tens of seconds."""
    null_packets = (b"\x47\x1f\xff\x10" + b"\xff" * 184) * 8
    with open(source, "rb") as f:
        data = f.read()
    with open(path, "wb") as f:
        f.write(data)
        offset = (len(data) + (1 << 20)) & ~((1 << 20) - 1)
        while offset + len(null_packets) < size:
            f.seek(offset)
            f.write(null_packets)
            offset += 1 << 20
        f.truncate(size)


def run(args):
    artifacts = Path(args.artifacts).resolve()
    shutil.rmtree(artifacts, ignore_errors=True)
    work = artifacts / "work"
    work.mkdir(parents=True)
    source = Path(args.fixtures).resolve() / "mpeg2_mp2_ac3.ts"
    if not source.exists():
        raise Failure(f"missing test stream {source}")
    stream = work / source.name
    stream.symlink_to(source)
    program = str(Path(args.program).resolve())

    desktop = Desktop(artifacts)
    app = None
    try:
        app = start_program(desktop, program, work, "kelvor.log")
        main = enter_input(desktop, stream)

        # Start is disabled until a track row is chosen.
        desktop.click(main, *main_window_point(desktop, main, 138, 86))
        time.sleep(1.5)
        if desktop.windows("Save stream as"):
            raise Failure("Start was enabled before a track was chosen")
        choose_first_track(desktop, main)
        desktop.screenshot("main_window.png", main)

        start_conversion(desktop, main)
        _, report = close_report(desktop)
        desktop.screenshot("conversion.png")
        desktop.focus(report)
        desktop.keys("Return")
        desktop.wait_gone("KELVOR")

        outputs = sorted(p.name for p in work.iterdir() if p.name.startswith("mpeg2_mp2_ac3.")
                         and p.is_file() and not p.is_symlink())
        if outputs != ["mpeg2_mp2_ac3.MPG"]:
            raise Failure(f"expected the output mpeg2_mp2_ac3.MPG, found {outputs}")
        check_output(work / "mpeg2_mp2_ac3.MPG")

        # Help / Read Me from the keyboard: F10 opens File, Right moves to Help.
        desktop.focus(main)
        desktop.keys("F10")
        time.sleep(0.4)
        desktop.keys("Right")
        time.sleep(0.3)
        desktop.keys("Down", "Return")
        readme = desktop.wait_windows("KELVOR Read Me")[0]
        desktop.screenshot("readme.png", readme)
        desktop.focus(readme)
        desktop.keys("Return")
        desktop.wait_gone("KELVOR Read Me")

        # Help / About: the one window without a title.
        before = set(desktop.xdotool("search", "--onlyvisible", "--name", "^$", check=False).split())
        desktop.focus(main)
        desktop.keys("F10")
        time.sleep(0.4)
        desktop.keys("Right")
        time.sleep(0.3)
        desktop.keys("Down", "Down", "Return")
        time.sleep(1.0)
        after = set(desktop.xdotool("search", "--onlyvisible", "--name", "^$", check=False).split())
        if not after - before:
            raise Failure("About dialog not found")
        # Menus are untitled too; the dialog is the largest new window.
        about = max(after - before, key=lambda w: desktop.geometry(w)[0] * desktop.geometry(w)[1])
        desktop.screenshot("about.png", about)
        desktop.focus(about)
        desktop.keys("Return")
        time.sleep(0.5)
        if about in desktop.xdotool("search", "--onlyvisible", "--name", "^$", check=False).split():
            raise Failure("OK did not close the About dialog")

        quit_program(desktop, main, app)
        app = None

        # Second session: Stop on a long recording.
        long_stream = work / "long_recording.ts"
        make_long_recording(source, long_stream)
        app = start_program(desktop, program, work, "kelvor_stop.log")
        main = enter_input(desktop, long_stream)
        choose_first_track(desktop, main)
        start_conversion(desktop, main)
        conversion = desktop.wait_windows("KELVOR")[0]
        time.sleep(1.0)
        desktop.screenshot("conversion_running.png", conversion)
        width, height = desktop.geometry(conversion)
        stop = (80 * width / 160.0, 72 * height / 90.0)  # Stop, in the 160 x 90 dialog

        desktop.click(conversion, *stop)
        question = [w for w in desktop.wait_windows("KELVOR", count=2) if w != conversion][0]
        desktop.focus(question)
        desktop.keys("Return")  # No is the default
        desktop.wait_id_gone("KELVOR", question)
        time.sleep(1.5)
        if desktop.windows("KELVOR") != [conversion]:
            raise Failure("answering No did not leave the conversion running")

        desktop.click(conversion, *stop)
        question = [w for w in desktop.wait_windows("KELVOR", count=2) if w != conversion][0]
        desktop.focus(question)
        desktop.keys("alt+y")
        desktop.wait_id_gone("KELVOR", question)
        # Well before the end of the recording, which takes far longer.
        _, report = close_report(desktop, timeout=10)
        desktop.screenshot("conversion_stopped.png")
        desktop.focus(report)
        desktop.keys("Return")
        desktop.wait_gone("KELVOR")
        check_output(work / "long_recording.MPG")
        quit_program(desktop, main, app)
        app = None
        long_stream.unlink()
    finally:
        if app is not None:
            try:
                desktop.screenshot("failure.png")
            except Exception:
                pass
            app.kill()
            app.wait()
        desktop.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()
    missing = [t for t in ("Xvfb", "xdotool", "import", "ffprobe") if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    try:
        run(args)
    except Failure as e:
        print(f"FAIL: {e}")
        return 1
    print(f"PASS; screenshots in {args.artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
