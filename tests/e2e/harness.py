"""Runs the desktop program under Wine on a private X server and drives it.

The program writes its test log (QUAYLINK_TEST_LOG) as it goes; a Run reads
that log, waits on its events, clicks at the rectangles it reports and types
keys with xdotool. Nothing here sleeps where an event can be awaited.

Log format: one line per event, "kind key=value ..."; a value is a bare
token, a quoted UTF-8 text with \\" \\\\ \\n \\t \\xHH escapes, or a bracketed
list of either. The window dumps (main, dialog, progress) add indented
"control ..." and "menu ..." lines and end with an indented "end".
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

DUMP_KINDS = ("main", "dialog", "progress")
MAIN_TITLE = "Quaylink"
DOUBLE_CLICK_TIME = 0.6  # Windows' default is 0.5 s
TRACE = bool(os.environ.get("QUAYLINK_E2E_TRACE"))
WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d", "WINEARCH": "win64"}


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


# ---------------------------------------------------------------- the log

_TOKEN = re.compile(r'\s*(\w+)=')
_QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
_ESCAPE = re.compile(r'\\(x[0-9A-Fa-f]{2}|.)')
_BARE = {False: re.compile(r'[^ ]*'), True: re.compile(r'[^ ,\]]*')}


def _unescape(match):
    c = match.group(1)
    return chr(int(c[1:], 16)) if len(c) == 3 else {"n": "\n", "t": "\t"}.get(c, c)


def _parse_value(text, i, in_list=False):
    """The value starting at text[i]: (value, next index)."""
    if text[i] == '"':
        m = _QUOTED.match(text, i)
        return _ESCAPE.sub(_unescape, m.group(1)), m.end()
    if text[i] == "[":
        items, i = [], i + 1
        while text[i] != "]":
            if text[i] == ",":
                i += 1
                continue
            value, i = _parse_value(text, i, True)
            items.append(value)
        return items, i + 1
    token = _BARE[in_list].match(text, i).group()
    return (int(token) if re.fullmatch(r"-?\d+", token) else token), i + len(token)


def parse_line(text):
    """'kind k=v ...' -> (kind, {k: v})."""
    kind, _, rest = text.strip().partition(" ")
    fields, i = {}, 0
    while i < len(rest):
        m = _TOKEN.match(rest, i)
        if not m:
            break
        fields[m.group(1)], i = _parse_value(rest, m.end())
    return kind, fields


def rect(fields, key="rect"):
    return [int(v) for v in str(fields[key]).split(",")]


class Event:
    def __init__(self, kind, fields):
        self.kind, self.fields = kind, fields
        self.controls, self.menu = {}, {}

    def __getitem__(self, key):
        return self.fields[key]

    def get(self, key, default=None):
        return self.fields.get(key, default)

    def control(self, cid):
        check(cid in self.controls, f"{self.kind} {self.fields.get('template', '')}: no control {cid}")
        return self.controls[cid]

    def menu_item(self, mid):
        check(mid in self.menu, f"no menu item {mid}")
        return self.menu[mid]

    def __repr__(self):
        return f"{self.kind} {self.fields}"


class Log:
    def __init__(self, path):
        self.path, self.offset, self.pending, self.events, self.cursor, self.marked = path, 0, "", [], 0, 0
        self._open = None

    def poll(self):
        if not os.path.exists(self.path):
            return
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        self.offset += len(data)
        self.pending += data.decode("utf-8", "replace")
        *lines, self.pending = self.pending.split("\n")
        for line in lines:
            if not line.startswith("  "):
                kind, fields = parse_line(line)
                event = Event(kind, fields)
                if kind in DUMP_KINDS:
                    self._open = event
                else:
                    self.events.append(event)
                continue
            kind, fields = parse_line(line)
            if self._open is None:
                continue
            if kind == "end":
                self.events.append(self._open)
                self._open = None
            elif kind == "control":
                self._open.controls[fields["id"]] = fields
            elif kind == "menu" and fields.get("id", -1) >= 0:
                self._open.menu[fields["id"]] = fields

    def mark(self):
        """Events after this point only."""
        self.poll()
        self.cursor = self.marked = len(self.events)

    def finished(self, cid, code):
        """The dump that ends the command (cid, code) sent after the mark,
        or None. Commands nest (a message box or dialog pumps the main
        window's notifications, each with its own dump), so the dump that
        ends it is the one that brings the nesting back to zero. A message
        box the scenario did not await is a failure."""
        depth = None
        for n in range(self.marked, len(self.events)):
            e = self.events[n]
            if e.kind == "message" and n >= self.cursor:
                raise Failure(f"unexpected message box {e['caption']!r}: {e['text']!r}")
            if depth is None:
                if e.kind == "command" and e["id"] == cid and e["code"] == code:
                    depth = 1
                continue
            if e.kind == "command":
                depth += 1
            elif e.kind == "main" and e["event"] == "idle":
                depth -= 1
                if depth == 0:
                    self.cursor = n + 1
                    return e
        return None

    def wait(self, what, predicate, timeout=20, alive=None):
        deadline = time.monotonic() + timeout
        while True:
            self.poll()
            for n in range(self.cursor, len(self.events)):
                if predicate(self.events[n]):
                    self.cursor = n + 1
                    return self.events[n]
            if alive is not None and not alive():
                self.poll()
                if not any(predicate(e) for e in self.events[self.cursor:]):
                    raise Failure(f"the program ended while waiting for {what}")
                continue
            if time.monotonic() > deadline:
                tail = "\n".join(repr(e) for e in self.events[-6:])
                raise Failure(f"timed out waiting for {what}; last events:\n{tail}")
            time.sleep(0.05)


# ---------------------------------------------------------------- Wine and X


def wine_env(prefix, display=None):
    env = dict(os.environ, WINEPREFIX=prefix, **WINE_ENV)
    env.pop("WAYLAND_DISPLAY", None)
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


PREFIX_REG = r"""Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Courier New"="Liberation Mono"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"""


def ready_prefix(build):
    """The prefix every run copies: made once per build directory."""
    prefix = os.path.join(build, "e2e-prefix")
    stamp = os.path.join(prefix, ".quaylink-ready")
    if os.path.exists(stamp):
        return prefix
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix)
    env = wine_env(prefix)
    subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    for folder in ("/usr/share/wine/fonts", "/usr/share/fonts/truetype/liberation"):
        if os.path.isdir(folder):
            for name in os.listdir(folder):
                if name.lower().endswith((".ttf", ".ttc", ".fon")):
                    shutil.copy(os.path.join(folder, name), fonts)
    reg = os.path.join(prefix, "quaylink.reg")
    with open(reg, "w", encoding="utf-16") as f:
        f.write(PREFIX_REG.replace("\n", "\r\n"))
    subprocess.run(["wine", "regedit", "/S", reg], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=120)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    open(stamp, "w").close()
    return prefix


def start_xvfb():
    read, write = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    check(number.strip(), "Xvfb did not report a display")
    return proc, ":" + number.decode().strip()


def copy_program(build, folder):
    """The program and its help in a folder of their own, where it keeps
    its PIER.INI."""
    os.makedirs(folder, exist_ok=True)
    for name in ("quaylink.exe", "QUAYLINK.HTM"):
        if os.path.exists(os.path.join(build, name)):
            shutil.copy(os.path.join(build, name), folder)
    return folder


def unix_to_wine(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Run:
    """One private X server and Wine prefix; the program may be started in
    it several times (a second start reads what the first saved)."""

    def __init__(self, name, build, out, timeout=240):
        self.name, self.build, self.out = name, build, out
        self.shots = os.path.join(build, "e2e-screenshots")
        os.makedirs(self.shots, exist_ok=True)
        os.makedirs(out, exist_ok=True)
        os.makedirs(os.path.join(build, "e2e-runs"), exist_ok=True)
        self.tmp = tempfile.mkdtemp(prefix=f"e2e-{name}-", dir=os.path.join(build, "e2e-runs"))
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        self.prefix = os.path.join(self.tmp, "prefix")
        subprocess.run(["cp", "-a", ready_prefix(build), self.prefix], check=True)
        self.xvfb, self.display = start_xvfb()
        self.env = wine_env(self.prefix, self.display)
        self.program_dir = copy_program(build, os.path.join(self.tmp, "program"))
        self.log_path = os.path.join(self.tmp, "test.log")
        self.log = Log(self.log_path)
        self.side_logs = []  # (path, name) of other logs kept with the run's
        self.shot_paths = []  # screenshots since the runner last took the list
        self.proc = None
        self.last_click = (-1, -1, 0.0)
        self.timed_out = False
        self.watchdog = threading.Timer(timeout, self._expire)
        self.watchdog.daemon = True
        self.watchdog.start()

    # -- life cycle

    def _expire(self):
        self.timed_out = True
        self.stop()

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
        if self.xvfb.poll() is None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()

    def close(self, keep=False):
        self.watchdog.cancel()
        self.stop()
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)
        for path, name in [(self.log_path, f"{self.name}.log")] + self.side_logs:
            if os.path.exists(path):
                shutil.copy(path, os.path.join(self.out, name))
        # A failed run keeps its files and images for a look, not its prefix.
        shutil.rmtree(self.prefix if keep else self.tmp, ignore_errors=True)

    def read_ini(self):
        with open(os.path.join(self.program_dir, "PIER.INI"), encoding="cp1252") as f:
            return f.read()

    def map_drive(self, letter, image, cdrom=False):
        """Drive `letter` of the prefix served by an image file: its device
        (\\\\.\\X:) reads and writes the image's bytes; the letter's root is
        an empty folder. Wine takes A: and B: for diskette drives; a CD-ROM
        letter needs its type in the registry, read when Wine starts."""
        letter = letter.lower()
        root = os.path.join(self.tmp, f"drive-{letter}")
        os.makedirs(root, exist_ok=True)
        dosdevices = os.path.join(self.prefix, "dosdevices")
        for link, target in ((f"{letter}:", root), (f"{letter}::", os.path.abspath(image))):
            path = os.path.join(dosdevices, link)
            if os.path.lexists(path):
                os.remove(path)
            os.symlink(target, path)
        if cdrom:
            subprocess.run(["wine", "reg", "add", r"HKLM\Software\Wine\Drives", "/v", f"{letter}:", "/d", "cdrom",
                            "/f"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                           timeout=120)
            # Wine reads the drive types when its services start.
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)

    def start(self, *args, env=None):
        """Starts the program beside its PIER.INI, with `env` added to its
        environment; answers its first dump."""
        self.log.mark()
        env = dict(self.env, QUAYLINK_TEST_LOG=self.log_path, **(env or {}))
        self.proc = subprocess.Popen(["wine", os.path.join(self.program_dir, "quaylink.exe"), *args],
                                     cwd=self.program_dir, env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        ready = self.wait("the main window", lambda e: e.kind == "main" and e["event"] == "ready", timeout=60)
        # The dump is written before the window is shown: wait until X has it.
        self.focus(ready["title"])
        return ready

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def wait(self, what, predicate, timeout=30):
        check(not self.timed_out, "the run's watchdog expired")
        t0 = time.monotonic()
        event = self.log.wait(what, predicate, timeout, alive=self.alive)
        if TRACE:
            print(f"[{self.name}] {time.monotonic() - t0:5.2f} s waited for {what}", flush=True)
        return event

    # -- waits on the log

    def done(self, cid, code=0, timeout=60):
        """The main window's dump when the command `cid` issued since the
        last mark has ended; `code` is its notification (a button or menu
        item: 0; a list: 1 selection, 2 double-click; a box: 8 when its list
        closes)."""
        check(not self.timed_out, "the run's watchdog expired")
        deadline = time.monotonic() + timeout
        while True:
            self.log.poll()
            alive = self.alive()
            event = self.log.finished(cid, code)
            if event is not None:
                return event
            check(alive, f"the program ended before command {cid} did")
            if time.monotonic() > deadline:
                tail = "\n".join(repr(e) for e in self.log.events[-6:])
                raise Failure(f"timed out waiting for command {cid} ({code}) to end; last events:\n{tail}")
            time.sleep(0.05)

    def dialog(self, template, event="open", timeout=30, shot=None):
        """A dialog's dump; for "open", once X shows the dialog (the dump is
        written before the dialog is shown), photographed when `shot` names
        the picture. A message box on the way is a failure: the scenario
        would have awaited it."""
        what = f"dialog {template} {event}"

        def found(e):
            if e.kind == "message":
                raise Failure(f"unexpected message box {e['caption']!r}: {e['text']!r} (waiting for {what})")
            return e.kind == "dialog" and e["template"].upper() == template.upper() and e["event"] == event
        dump = self.wait(what, found, timeout)
        if event == "open":
            self.focus(dump["title"])
        if shot:
            self.screenshot(shot)
        return dump

    def xdo(self, *args):
        t0 = time.monotonic()
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=30)
        if TRACE:
            print(f"[{self.name}] {time.monotonic() - t0:5.2f} s xdotool {' '.join(args)}", flush=True)
        return result.stdout.strip()

    def focus(self, title):
        """Gives the keyboard to the visible window `title` (focus falls to
        the root window whenever a window closes)."""
        deadline = time.monotonic() + 10
        pattern = "^" + re.escape(title) + "$"
        while True:
            ids = self.xdo("search", "--onlyvisible", "--name", pattern).split()
            if ids:
                self.xdo("windowfocus", "--sync", ids[-1])
                return ids[-1]
            check(time.monotonic() < deadline, f"no window named {title!r}")
            time.sleep(0.1)

    def keys(self, title, *keys):
        self.focus(title)
        self.xdo("key", "--delay", "40", *keys)

    def keys_until(self, title, keys, what, predicate, tries=3, wait=5):
        """Keys whose effect the log shows, sent again when it does not:
        Wine may take keys sent just after a window closed for a window that
        no longer has the focus. Only for keys that act once."""
        for _ in range(tries):
            self.keys(title, *keys)
            try:
                return self.log.wait(what, predicate, wait, alive=self.alive)
            except Failure:
                if not self.alive():
                    raise
        raise Failure(f"no {what} after {tries} tries of {' '.join(keys)}")

    def exit(self):
        """Esc ends the program; when Wine has left no window with the
        keyboard focus (keys are then lost), the close box does."""
        is_exit = lambda e: e.kind == "command" and e["id"] == 2  # noqa: E731
        try:
            self.keys_until(MAIN_TITLE, ["Escape"], "the exit command", is_exit, tries=1, wait=3)
        except Failure:
            check(self.alive(), "the program ended without the exit command")
            main = [e for e in self.log.events if e.kind == "main"][-1]
            print(f"[{self.name}] Esc was lost (focus={main.get('focus')}): closing with the close box", flush=True)
            _, top, right, _ = rect(main.fields)
            self.click(right - 14, top + 12)
            self.wait("the exit command", is_exit, timeout=10)
        try:
            return self.proc.wait(30)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end")

    def type(self, title, text):
        self.focus(title)
        self.xdo("type", "--delay", "30", text)

    def click(self, x, y, double=False):
        # Two clicks on one spot within the double-click time would be read
        # as a double-click: nothing in the log can be awaited for that.
        x_, y_, when = self.last_click
        if (x_, y_) == (x, y):
            time.sleep(max(0.0, when + DOUBLE_CLICK_TIME - time.monotonic()))
        self.last_click = (x, y, time.monotonic())
        self.xdo("mousemove", str(x), str(y))
        if double:
            self.xdo("click", "--repeat", "2", "--delay", "80", "1")
        else:
            self.xdo("click", "1")

    def click_open(self, control):
        """Clicks a drop-down box and waits until X shows its list."""
        windows = lambda: set(self.xdo("search", "--onlyvisible", "--class", "quaylink").split())  # noqa: E731
        before = windows()
        self.click_control(control)
        deadline = time.monotonic() + 10
        while not windows() - before:
            check(time.monotonic() < deadline, "a drop-down list did not open")
            time.sleep(0.05)

    def click_control(self, control):
        left, top, right, bottom = rect(control)
        self.click((left + right) // 2, (top + bottom) // 2)

    def click_item(self, control, index, double=False):
        """Clicks line `index` of a list box from its dump."""
        left, top, right, _ = rect(control, "client")
        row = index - control["top"]
        check(0 <= row, f"item {index} is above the list's top line")
        y = top + row * control["itemh"] + control["itemh"] // 2
        self.click(left + min(60, (right - left) // 2), y, double)

    def screenshot(self, name):
        path = os.path.join(self.shots, f"{name}.png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=60)
        self.shot_paths.append(path)
        return path


# ---------------------------------------------------------------- disk tools


class Tools:
    """hfsutils, macutils and quaylink-cli, each with a private HOME."""

    def __init__(self, cli, home):
        self.cli, self.home = cli, home

    def run(self, *args, ok=True):
        env = dict(os.environ, HOME=self.home, TZ="UTC")
        result = subprocess.run(list(args), env=env, capture_output=True, timeout=120)
        if ok and result.returncode != 0:
            raise Failure(f"{' '.join(args)}: {result.stderr.decode(errors='replace').strip()}")
        return result

    def source(self, name, data):
        """A file of `data` to copy onto a volume."""
        path = os.path.join(self.home, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def hfs(self, image, *commands, partition=None, copy=True):
        """hfsutils commands run on the volume (by default on a copy of the
        image, so that the checks leave it as the program wrote it); the
        outputs of hmount and of each command."""
        if copy:
            image = shutil.copy(image, os.path.join(self.home, "hfs-copy.img"))
        outs = [self.run("hmount", image, *([str(partition)] if partition else []))]
        outs += [self.run(*command) for command in commands]
        self.run("humount")
        if copy:
            os.remove(image)
        return [out.stdout.decode("mac_roman") for out in outs]

    def check_volume(self, image, index=None):
        target = image if index is None else f"{image}@{index}"
        result = self.run(self.cli, "check", target, ok=False)
        check(result.returncode == 0, f"quaylink-cli check {target}: {result.stdout.decode(errors='replace')}"
              f"{result.stderr.decode(errors='replace')}")

    def hls(self, image, path=":", partition=None, invisible=True):
        """The names in one folder."""
        out = self.hfs(image, ("hls", "-1a" if invisible else "-1", path), partition=partition)[1]
        return [line for line in out.split("\n") if line]

    def volume_name(self, image):
        for line in self.hfs(image)[0].split("\n"):
            if line.startswith("Volume name is"):
                return line.split('"')[1]
        raise Failure(f"hmount {image}: no volume name")

    def hcopy_out(self, image, macpath, partition=None):
        """The bytes hcopy -r writes for a Mac file."""
        target = os.path.join(self.home, "hcopy.out")
        self.hfs(image, ("hcopy", "-r", macpath, target), partition=partition)
        with open(target, "rb") as f:
            return f.read()

    def hattrib(self, image, macpath):
        """(type, creator) of a file, from hls -l."""
        folder, _, name = macpath.rpartition(":")
        for line in self.hfs(image, ("hls", "-la", folder or ":"))[1].split("\n"):
            if line.startswith("f") and line.endswith(" " + name):
                kind = line[3:12]
                return kind[:4], kind[5:9]
        raise Failure(f"hls: no file {macpath}")
