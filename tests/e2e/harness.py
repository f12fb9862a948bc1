"""Starting the built programs under Wine the way a user would, and looking at
them from outside: their files, their windows (through winctl.exe), their exit.
Control ids, the program's names and the settings record's layout are read
from the program's own headers, so that a number lives in one place."""
import html
import os
import queue
import re
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
from types import SimpleNamespace

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from reference_server import ReferenceServer  # noqa: E402,F401

WINE_RUN = os.path.join(ROOT, "tests", "wine", "wine-run.sh")
SCRATCH = os.path.join(ROOT, "build", "e2e")
START_TIMEOUT = 60  # a cold Wine start takes seconds
POLL_SECONDS = 0.2

# Windows' own numbers, which the program's headers take from <windows.h>.
WM_USER, WM_APP, WM_COMMAND = 0x400, 0x8000, 0x111
IDOK, IDCANCEL = 1, 2
VK_RETURN, VK_ESCAPE, VK_UP = 0x0D, 0x1B, 0x26


def _header(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def _defines(*paths):
    """`#define NAME VALUE` of the headers: numbers, texts, and `(WM_USER + N)` or `(WM_APP + N)`."""
    known = {"WM_USER": WM_USER, "WM_APP": WM_APP}
    for path in paths:
        for name, value in re.findall(r"^#define\s+(\w+)\s+(.+?)\s*(?://.*)?$", _header(path), re.M):
            if value.startswith('"'):
                known[name] = value.strip('"')
            elif re.fullmatch(r"\d+|0x[0-9a-fA-F]+", value):
                known[name] = int(value, 0)
            elif plus := re.fullmatch(r"\((\w+) \+ (\d+)\)", value):
                known[name] = known[plus.group(1)] + int(plus.group(2))
    return SimpleNamespace(**known)


def constants(path):
    """`constexpr` integers of a header, each worked out from the numbers and the
    names before it (`+`, `-` and `*` only)."""
    known = {}
    for name, value in re.findall(r"^constexpr\s+[\w:]+\s+(\w+)\s*=\s*([\w\s+*()-]+?);", _header(path), re.M):
        expression = re.sub(r"(\d+)u?l{0,2}\b", r"\1", value)
        if re.fullmatch(r"[\w\s+*()-]+", expression):
            try:
                known[name] = eval(expression, {"__builtins__": {}}, dict(known))  # names and numbers only
            except NameError:
                pass
    return SimpleNamespace(**known)


def enums(path):
    """The named values of a header's `enum { name = N, ... }` lines."""
    known = {}
    for body in re.findall(r"^enum\b[^{]*\{([^}]*)\}", _header(path), re.M):
        for name, value in re.findall(r"(\w+)\s*=\s*(\d+)", body):
            known[name] = int(value)
    return SimpleNamespace(**known)


ids = _defines("resources/pendulark_ids.h", "resources/sumwick_ids.h")
# Values of the settings record's words.
_settings = enums("store/settings_store.h")
PROTOCOL_TIME, PROTOCOL_SNTP, PROTOCOL_AUTO = _settings.protocol_time, _settings.protocol_sntp, _settings.protocol_auto
PROGRAM_START_CHECK = _settings.program_start_check
UNIT_MINUTES = _settings.unit_minutes
SOURCE_LIST, SOURCE_MANUAL_A = _settings.source_list, _settings.source_manual_a
log = constants("store/sync_log.h")
program = _defines("base/program.h")
WINDOW = program.PROGRAM_CLASS_NAME


def _record_layout():
    """Each field's (offset, size) in the settings record, and the record's size."""
    text = _header("store/settings_store.h")
    offsets = {name: int(offset) for name, offset in
               re.findall(r"static_assert\(offsetof\(settings_record, (\w+)\) == (\d+)\)", text)}
    size = int(re.search(r"static_assert\(sizeof\(settings_record\) == (\d+)\)", text).group(1))
    # The first member starts the record; its offset is not asserted.
    offsets.setdefault(re.search(r"struct settings_record \{\s*\w+ (\w+)", text).group(1), 0)
    starts = sorted((offset, name) for name, offset in offsets.items())
    ends = [offset for offset, _ in starts[1:]] + [size]
    return {name: (offset, end - offset) for (offset, name), end in zip(starts, ends)}, size


RECORD, RECORD_SIZE = _record_layout()
SETTINGS_HEADER = b"SYNC1" + program.PROGRAM_RELEASE_DIGITS.encode()
# The tag and the word of the settings written after the record (settings_extension).
SETTINGS_SIZE = len(SETTINGS_HEADER) + RECORD_SIZE + 8


def bin_dir():
    return os.environ["PENDULARK_BIN"]


def wine_prefix():
    """The prefix that wine-run.sh runs in, found as that script finds it."""
    root = os.environ.get("WINE_ROOT", os.path.join(ROOT, "build", "wine"))
    return os.path.join(root, "prefix-" + os.environ.get("WINE_GRAPHICS", "null"))


def wait_until(condition, timeout, what):
    """Calls condition until it returns something true and returns that; fails the
    test with what (a text, or a function that makes one) after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise AssertionError(f"{what() if callable(what) else what} (waited {timeout} s)")
        time.sleep(POLL_SECONDS)


def scratch_dir(name, programs=("Pendulark.exe",)):
    """A fresh program directory holding copies of the named programs."""
    path = os.path.join(SCRATCH, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for program_file in programs:
        shutil.copy2(os.path.join(bin_dir(), program_file), path)
    return path


def start(directory, program_file, *args, env=None, hosts=None, trace=None):
    """hosts: a file that the program's process alone sees as /etc/hosts;
    trace: a file that takes what Wine says on stderr (WINEDEBUG in env)."""
    full_env = dict(os.environ, **(env or {}))
    stderr = open(trace, "w") if trace else subprocess.DEVNULL
    try:
        return subprocess.Popen([*own_hosts(hosts), WINE_RUN, os.path.join(directory, program_file), *args],
                                cwd=directory, env=full_env, stdout=subprocess.DEVNULL, stderr=stderr)
    finally:
        if trace:
            stderr.close()


def own_hosts(hosts):
    """The command that runs the next one with hosts bind-mounted over /etc/hosts in
    a mount namespace of its own; the machine's file is never touched. The mount
    needs root in a user namespace; the command then runs as this user again, so
    that Wine finds its own server."""
    if hosts is None:
        return []
    mount = 'mount --bind "$0" /etc/hosts && exec "$@"'
    return ["unshare", "--map-root-user", "--mount", "sh", "-c", mount, hosts,
            "unshare", f"--map-user={os.getuid()}", f"--map-group={os.getgid()}"]


def finish(process, timeout):
    """The exit code, or None after killing a process that outlived timeout."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=10)
        return None


class _Winctl:
    """One "winctl serve" for the whole run: a Wine process per query cost a
    good part of every test. Queries go one at a time, as they did."""

    END = "\x1e"

    def __init__(self):
        self.process = None

    def start(self):
        self.process = subprocess.Popen([WINE_RUN, os.path.join(bin_dir(), "winctl.exe"), "serve"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(self.process.stdout, self.lines), daemon=True).start()

    @staticmethod
    def _read(stream, lines):
        for line in iter(stream.readline, b""):
            lines.put(line)
        lines.put(None)

    def stop(self):
        if self.process:
            self.process.stdin.close()
            finish(self.process, 10)
            self.process = None

    def ask(self, args, timeout):
        if self.process is None or self.process.poll() is not None:
            self.start()
        words = [str(a) for a in args]
        self.process.stdin.write("\t".join(words).encode() + b"\n")
        self.process.stdin.flush()
        out, deadline = b"", time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                line = None
            if line is None:
                # A helper that hangs or ended answers nothing more: the next query starts another.
                self.process.kill()
                self.process.wait(timeout=10)
                self.process = None
                raise subprocess.TimeoutExpired(["winctl", *words], timeout)
            if line.startswith(self.END.encode()):
                return subprocess.CompletedProcess(["winctl", *words], int(line[1:]), out, b"")
            out += line


_winctl = _Winctl()


# What only looks, and so may be asked of the long-lived winctl. A command that
# makes the program act goes through a winctl process of its own: a program
# that ends up in COM inside a message sent by a thread that lives on can hang
# under Wine, while a sender that has ended leaves nothing behind, as a user's
# click leaves nothing.
LOOKS = ("wait", "gone", "get-text", "checked", "selected", "visible", "enabled", "title", "rect", "census")


def winctl(*args, env=None, timeout=START_TIMEOUT):
    if env is None and args[0] in LOOKS:
        return _winctl.ask(args, timeout)
    # Another locale, or a command that acts: a process of its own.
    full_env = dict(os.environ, **(env or {}))
    return subprocess.run([WINE_RUN, os.path.join(bin_dir(), "winctl.exe"), *map(str, args)], env=full_env,
                          capture_output=True, timeout=timeout)


def winctl_served(*args, timeout=START_TIMEOUT):
    """A command through the long-lived winctl, even one that acts: for a
    measurement that no Wine process starting or ending may disturb. Only for
    what never ends up in COM (see LOOKS)."""
    return _winctl.ask(args, timeout)


def write_servers(directory, servers):
    with open(os.path.join(directory, "ServFile.txt"), "wb") as f:
        f.write(b"".join(s.encode() + b"\r\n" for s in servers))


def write_settings(directory, **words):
    """A "dSync.dat" of the current release with the given words (or texts, as
    bytes) and zeros elsewhere."""
    record = bytearray(RECORD_SIZE)
    for name, value in words.items():
        offset, size = RECORD[name]
        if isinstance(value, bytes) and len(value) < size:
            record[offset:offset + len(value)] = value
        elif size == 4 and isinstance(value, int):
            struct.pack_into("<I", record, offset, value)
        else:
            raise ValueError(f"{name} takes no {value!r}")
    with open(os.path.join(directory, "dSync.dat"), "wb") as f:
        f.write(SETTINGS_HEADER + bytes(record))


def saved_settings(directory):
    with open(os.path.join(directory, "dSync.dat"), "rb") as f:
        return f.read()


def field(data, name):
    """The bytes of a field of a saved "dSync.dat", by the field's name."""
    offset, size = RECORD[name]
    start_at = len(SETTINGS_HEADER) + offset
    return data[start_at:start_at + size]


def word(data, name):
    return struct.unpack("<I", field(data, name))[0]


def read_settings_field(directory, name):
    return word(saved_settings(directory), name)


def open_pendulark(test, name=None, *, directory=None, servers=None, settings=None, args=(), env=None,
                   initialised=True, program_file="Pendulark.exe"):
    """Starts Pendulark, or the copy of it named program_file, in a fresh directory
    called name, or in directory as it is, with the given server list and settings
    words if any, and waits for its window and, unless told not to, for the
    initialisation that runs after the window appears (the computer clock leaves
    "Wait..." once it has). The test's cleanups press Esc and wait for the end.
    Returns the directory and the process."""
    if directory is None:
        directory = scratch_dir(name)
    if servers is not None:
        write_servers(directory, servers)
    if settings is not None:
        write_settings(directory, **settings)
    process = start(directory, program_file, *args, env=env)
    test.addCleanup(finish, process, 30)
    test.assertEqual(winctl("wait", WINDOW, 20000).returncode, 0, "the main window never appeared")
    test.addCleanup(winctl, "key", WINDOW, hex(VK_ESCAPE))
    if initialised:
        wait_for_text(WINDOW, ids.IDT_MAIN_COMPUTER_CLOCK, lambda text: text != "Wait...")
    return directory, process


def log_entries(directory):
    """The entry texts of "dLog.txt", without the stamp in front of each."""
    path = os.path.join(directory, "dLog.txt")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        lines = f.read().split(b"\r\n")
    return [line[log.log_stamp_width:].decode("latin-1") for line in lines[2:] if line]


def control_text(window_class, control):
    """The text of a control of a program's window, or None when it cannot be read."""
    done = winctl("get-text", window_class, control)
    if done.returncode != 0:
        return None
    text = done.stdout.decode("utf-8").replace("\r\n", "\n")
    return text[:-1] if text.endswith("\n") else text


def check_state(window_class, control):
    """The check state of a check box (0, 1 or 2), or None when it cannot be read."""
    done = winctl("checked", window_class, control)
    return int(done.stdout) if done.returncode == 0 else None


def title(window_class):
    return winctl("title", window_class).stdout.decode("utf-8").strip()


_TASK_DESCRIPTION = re.compile(r"<Description>Starts (.*) at the logon of [^<]*</Description>")
_TASK_PRIORITY = re.compile(r"<Priority>(\d+)</Priority>")


def logon_tasks():
    """The texts of the logon tasks of the "Pendulark" folder as Wine keeps them."""
    folder = os.path.join(wine_prefix(), "drive_c", "windows", "system32", "tasks", "Pendulark")
    texts = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        with open(os.path.join(folder, name), encoding="utf-8-sig") as f:
            texts.append(f.read())
    return texts


def logon_task_commands():
    """What the logon tasks start, from their descriptions: Wine keeps a task's
    description and settings but none of its actions."""
    return [html.unescape(found.group(1)) if (found := _TASK_DESCRIPTION.search(text)) else ""
            for text in logon_tasks()]


def logon_task_priorities():
    return [int(found.group(1)) if (found := _TASK_PRIORITY.search(text)) else None for text in logon_tasks()]


def clock_seconds_pass(count):
    """Waits for Pendulark's computer clock to show count new seconds: time seen
    passing by the program itself, whatever the host's speed."""
    shown = [control_text(WINDOW, ids.IDT_MAIN_COMPUTER_CLOCK)]

    def one_more():
        text = control_text(WINDOW, ids.IDT_MAIN_COMPUTER_CLOCK)
        if text != shown[-1]:
            shown.append(text)
        return len(shown) > count

    wait_until(one_more, 3 * count + 10, "the computer clock stopped")


def wait_for_text(window_class, control, accept, timeout=30):
    """The control's text once accept holds for it: a predicate, or a pattern that
    the whole text matches. Fails the test with the last text read otherwise."""
    if isinstance(accept, str):
        pattern = accept
        accept = lambda text: re.fullmatch(pattern, text) is not None  # noqa: E731
    last = [None]

    def read():
        last[0] = control_text(window_class, control)
        return last[0] is not None and accept(last[0])

    wait_until(read, timeout, lambda: f"control {control} of {window_class} reads {last[0]!r}")
    return last[0]


def ask_time_server(timeout=30, host="127.0.0.1"):
    """What port 37 on loopback sends before it closes: four bytes from a time server."""
    with socket.create_connection((host, 37), timeout=timeout) as s:
        data = b""
        while chunk := s.recv(16):
            data += chunk
        return data


def time_server_answers():
    try:
        return len(ask_time_server(5)) == 4
    except OSError:
        return False


def start_wine():
    """Sets the prefix up and keeps its server running, so no test pays for a cold
    start. Wine's own services live on after the first program and keep every pipe
    they inherit open, so they are born here, with no pipes."""
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # A server already running ignores -p and ends 3 s after its last client:
    # the tests after a long pause would pay a cold start. So let it end first.
    subprocess.run([WINE_RUN, "--server", "-w"], timeout=600, **quiet)
    subprocess.run([WINE_RUN, "--server", "-p"], timeout=60, **quiet)
    subprocess.run([WINE_RUN, os.path.join(bin_dir(), "winctl.exe")], timeout=120, **quiet)


def stop_wine():
    _winctl.stop()
    subprocess.run([WINE_RUN, "--server", "-k"], capture_output=True, timeout=60)
