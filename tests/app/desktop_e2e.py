#!/usr/bin/env python3
"""Drives the desktop program under Xvfb, as a user would.

Starts `kelvor`, enters a generated stream in "Select input stream", waits
for the scan, checks that Start stays disabled until a track row is chosen,
chooses the AC-3 track and ticks "Convert AC3 to MPEG audio", converts with
the proposed output name, acknowledges the final report, checks with ffprobe
that the output's one audio track is the converted MPEG audio, sees the final
report open on the main window once the conversion dialog has closed, checks
that Escape in an open menu only closes it, opens the Read Me and quits with
Escape.
A second session converts a long recording and answers Stop with No (the
run goes on) and then Yes (the run ends with a complete, closed output and
the final report). Two more sessions scan a stream with five MPEG audio
tracks: one to the end, and one verbose, where the warning about the fifth
track holds the scan while Abort is pressed in the scan dialog; once the
warning is closed the scan ends at once and lists the same rows as the
full scan; at twice the scale every row can still be reached. Screenshots of the main window, the dialogs and the Read Me go
to the artefact directory.

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
        # Scroll bars that fade in and out would make pictures differ.
        env = dict(os.environ, DISPLAY=self.display, NO_AT_BRIDGE="1", GTK_A11Y="none",
                   GSETTINGS_BACKEND="memory", GDK_BACKEND="x11", GTK_OVERLAY_SCROLLING="0")
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


def start_program(desktop, program, work, log_name, *args, scale=1):
    """Starts the program and waits for its main window. Now and then the
    virtual display drops a new connection during its setup; the toolkit
    then cannot start, and the start is repeated. `scale`: the toolkit's
    window scale (2 as on a HiDPI screen)."""
    env = desktop.env()
    env["GDK_SCALE"] = str(scale)
    env["HOME"] = str(work)  # the file dialogs keep their recent files here
    path = desktop.artifacts / log_name
    for _ in range(3):
        with open(path, "w") as log:
            app = subprocess.Popen([program, *args], cwd=work, env=env, stdout=log, stderr=log)
        deadline = time.monotonic() + TIMEOUT
        while app.poll() is None and not desktop.windows("TS stream converter"):
            if time.monotonic() > deadline:
                raise Failure("main window not shown")
            time.sleep(0.1)
        if app.poll() is None:
            return app
        if "Unable to initialize GTK" not in path.read_text():
            raise Failure(f"the program ended at start with exit code {app.returncode}")
    raise Failure("the program could not connect to the display")


def type_input(desktop, stream):
    """Fills in the input dialog that opens at start; returns the main window
    as soon as the dialog has gone and the scan has begun."""
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
    return main[0]


def enter_input(desktop, stream):
    """type_input, then waits for the scan to finish."""
    main = type_input(desktop, stream)
    # The scan dialog may come and go before it is seen; give it a moment.
    time.sleep(1.0)
    desktop.wait_gone("KELVOR")
    return main


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


def close_report(desktop, main, timeout=60):
    """The final report opens on the main window once the conversion dialog
    has closed: two windows titled KELVOR at once (the report over the
    dialog) fail. The report is told from the 160 x 90 dialog by its size."""
    width, _ = desktop.geometry(main)
    unit = width / 183.0
    dialog_area = 160 * unit * 90 * unit
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = desktop.windows("KELVOR")
        if len(found) > 1:
            desktop.screenshot("report_over_dialog.png")
            raise Failure("the final report opened while the conversion dialog was up")
        if found:
            w, h = desktop.geometry(found[0])
            if w * h < 0.7 * dialog_area and transient_for(desktop, found[0]) == main:
                return found, found[0]
        time.sleep(0.1)
    raise Failure("no final report on the main window")


def choose_ac3_track_converted(desktop, main):
    """Row 2 is the AC-3 track; then a tick in "Convert AC3 to MPEG audio"."""
    choose_first_track(desktop, main)
    desktop.keys("Down")
    time.sleep(0.5)
    desktop.click(main, *main_window_point(desktop, main, 14, 115))
    time.sleep(0.5)


def check_output(path, audio_bit_rate=None):
    """A complete, closed program stream that ffprobe reads; `audio_bit_rate`:
    that of its one audio track (384000 for MPEG audio converted from AC-3)."""
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
    if audio_bit_rate is not None:
        rate = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=bit_rate",
                               "-of", "csv=p=0", str(path)], capture_output=True, text=True, timeout=60)
        if rate.stdout.strip() != str(audio_bit_rate):
            raise Failure(f"audio at {rate.stdout.strip()} bit/s, not {audio_bit_rate}")


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


def transient_for(desktop, window):
    """The window that `window` belongs to (its WM_TRANSIENT_FOR), or None."""
    out = subprocess.run(["xprop", "-display", desktop.display, "-id", window, "WM_TRANSIENT_FOR"],
                         capture_output=True, text=True, timeout=10).stdout
    found = re.search(r"window id # (0x[0-9a-fA-F]+)", out)
    return str(int(found.group(1), 16)) if found else None


def warning_over_scan(desktop):
    """The scan dialog and the warning box that a verbose scan shows over it;
    both are titled KELVOR, and the box belongs to the scan dialog."""
    found = desktop.wait_windows("KELVOR", count=2)
    for box in found:
        owner = transient_for(desktop, box)
        if owner in found:
            return owner, box
    raise Failure(f"no warning box over the scan dialog among {found}")


def gray_image(desktop, window):
    """The window's pixels as (width, height, bytes), one grey byte each."""
    data = subprocess.run(["import", "-display", desktop.display, "-window", window, "-depth", "8", "pgm:-"],
                          env=desktop.env(), check=True, timeout=20, capture_output=True).stdout
    fields = data.split(maxsplit=4)  # P5, width, height, maximum, pixels
    if fields[0] != b"P5" or fields[3] != b"255":
        raise Failure("unexpected screenshot format")
    width, height = int(fields[1]), int(fields[2])
    return width, height, fields[4][:width * height]


def save_gray(desktop, name, picture):
    width, height, pixels = picture
    (desktop.artifacts / name).write_bytes(b"P5 %d %d 255\n" % (width, height) + pixels)


def walk_track_list(desktop, main, steps=7):
    """Pictures of the main window as it is, then with each row selected in
    turn: a click in the list, Home, then Down until past the last row."""
    pictures = [gray_image(desktop, main)]
    desktop.click(main, *main_window_point(desktop, main, 90, 36))
    desktop.keys("Home")
    for step in range(steps):
        if step > 0:
            desktop.keys("Down")
        time.sleep(0.3)
        pictures.append(gray_image(desktop, main))
    return pictures


def count_rows(pictures):
    """Rows seen by walk_track_list: each Down that changed the picture."""
    walk = pictures[1:]
    return 1 + sum(1 for before, after in zip(walk, walk[1:]) if before != after)


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
    five_source = Path(args.fixtures).resolve() / "mpeg2_5mp2.ts"
    if not five_source.exists():
        raise Failure(f"missing test stream {five_source}")
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
        # The AC-3 track, converted to MPEG audio with the check box.
        choose_ac3_track_converted(desktop, main)
        desktop.screenshot("main_window.png", main)

        start_conversion(desktop, main)
        _, report = close_report(desktop, main)
        desktop.screenshot("conversion.png")
        desktop.focus(report)
        desktop.keys("Return")
        desktop.wait_gone("KELVOR")

        outputs = sorted(p.name for p in work.iterdir() if p.name.startswith("mpeg2_mp2_ac3.")
                         and p.is_file() and not p.is_symlink())
        if outputs != ["mpeg2_mp2_ac3.MPG"]:
            raise Failure(f"expected the output mpeg2_mp2_ac3.MPG, found {outputs}")
        check_output(work / "mpeg2_mp2_ac3.MPG", audio_bit_rate=384000)

        # Escape in an open menu closes the menu; the program goes on.
        desktop.focus(main)
        desktop.keys("F10")
        time.sleep(0.4)
        desktop.keys("Escape")
        time.sleep(1.0)
        if app.poll() is not None:
            raise Failure("Escape in the open File menu ended the program")

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
        _, report = close_report(desktop, main, timeout=10)
        desktop.screenshot("conversion_stopped.png")
        desktop.focus(report)
        desktop.keys("Return")
        desktop.wait_gone("KELVOR")
        check_output(work / "long_recording.MPG")
        quit_program(desktop, main, app)
        app = None
        long_stream.unlink()

        # Abort while a verbose scan waits on a warning. The four MPEG audio
        # tracks are probed before the fifth track's first packet, which is
        # never listed: the aborted scan lists the file name, the four tracks
        # and " All audio tracks", as the full scan does.
        five = work / five_source.name
        five.symlink_to(five_source)
        # Named on the command line, as the menu entry passes it, the
        # recording is scanned at once, without the input dialog.
        app = start_program(desktop, program, work, "kelvor_full_scan.log", str(five))
        main = desktop.wait_windows("TS stream converter")[0]
        time.sleep(1.0)
        desktop.wait_gone("KELVOR")
        if desktop.windows("Select input stream"):
            raise Failure("the input dialog opened although a recording was named")
        full_walk = walk_track_list(desktop, main)
        if count_rows(full_walk) != 6:
            raise Failure(f"the full scan lists {count_rows(full_walk)} rows, not 6")
        quit_program(desktop, main, app)
        app = None

        # At twice the scale (HiDPI) every row can still be reached.
        app = start_program(desktop, program, work, "kelvor_scale2.log", str(five), scale=2)
        main = desktop.wait_windows("TS stream converter")[0]
        time.sleep(1.0)
        desktop.wait_gone("KELVOR")
        scaled_walk = walk_track_list(desktop, main)
        desktop.screenshot("scale2.png", main)
        if count_rows(scaled_walk) != 6:
            raise Failure(f"at scale 2 the list shows {count_rows(scaled_walk)} rows, not 6")
        quit_program(desktop, main, app)
        app = None

        app = start_program(desktop, program, work, "kelvor_abort.log", "/V")
        main = type_input(desktop, five)
        scan, warning = warning_over_scan(desktop)
        # The box covers the scan dialog: move the dialog aside, as a user
        # would drag it, and press Abort while the box is still up.
        main_width, _ = desktop.geometry(main)
        desktop.xdotool("windowmove", scan, str(main_width + 20), "40")
        time.sleep(0.5)
        width, height = desktop.geometry(scan)
        desktop.click(scan, 70 * width / 140.0, 32 * height / 50.0)  # Abort, in the 140 x 50 dialog
        time.sleep(1.0)
        # The scan waits on the warning; Abort only asks it to stop.
        if sorted(desktop.windows("KELVOR")) != sorted([scan, warning]):
            raise Failure("Abort changed the dialogs before the warning was closed")
        desktop.screenshot("scan_abort_pressed.png")
        desktop.focus(warning)
        desktop.keys("Return")
        deadline = time.monotonic() + 5
        while desktop.windows("KELVOR") and time.monotonic() < deadline:
            time.sleep(0.1)
        left = desktop.windows("KELVOR")
        if left:
            desktop.screenshot("scan_not_aborted.png")
            raise Failure(f"the scan went on after Abort: {len(left)} window(s) titled KELVOR still open")
        time.sleep(0.5)
        desktop.screenshot("scan_aborted.png", main)
        aborted_walk = walk_track_list(desktop, main)
        if count_rows(aborted_walk) != 6:
            raise Failure(f"the aborted scan lists {count_rows(aborted_walk)} rows, not 6")
        # Row by row, text and button states alike.
        differing = [i for i, (a, b) in enumerate(zip(full_walk, aborted_walk)) if a != b]
        if differing:
            for i in differing:
                save_gray(desktop, f"list_full_{i}.pgm", full_walk[i])
                save_gray(desktop, f"list_aborted_{i}.pgm", aborted_walk[i])
            raise Failure(f"the aborted scan's list differs from the full scan's at steps {differing}")
        quit_program(desktop, main, app)
        app = None
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
    missing = [t for t in ("Xvfb", "xdotool", "xprop", "import", "ffprobe") if shutil.which(t) is None]
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
