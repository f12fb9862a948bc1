"""Starting the built programs under Wine the way a user would, and looking at
them from outside: their files, their windows (through winctl.exe), their exit."""
import os
import shutil
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from reference_server import ReferenceServer  # noqa: E402,F401

WINE_RUN = os.path.join(ROOT, "tests", "wine", "wine-run.sh")
SCRATCH = os.path.join(ROOT, "build", "e2e")
SETTINGS_SIZE = 508
START_TIMEOUT = 60  # a cold Wine start takes seconds


def bin_dir():
    return os.environ["PENDULARK_BIN"]


def scratch_dir(name, programs=("Pendulark.exe",)):
    """A fresh program directory holding copies of the named programs."""
    path = os.path.join(SCRATCH, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for program in programs:
        shutil.copy2(os.path.join(bin_dir(), program), path)
    return path


def start(directory, program, *args, env=None):
    full_env = dict(os.environ, **(env or {}))
    return subprocess.Popen([WINE_RUN, os.path.join(directory, program), *args], cwd=directory, env=full_env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def finish(process, timeout):
    """The exit code, or None after killing a process that outlived timeout."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=10)
        return None


def winctl(*args, env=None, timeout=START_TIMEOUT):
    full_env = dict(os.environ, **(env or {}))
    return subprocess.run([WINE_RUN, os.path.join(bin_dir(), "winctl.exe"), *args], env=full_env,
                          capture_output=True, timeout=timeout)


def read_settings_field(directory, offset):
    """A 32-bit word of the saved record, by its offset in the record."""
    with open(os.path.join(directory, "dSync.dat"), "rb") as f:
        data = f.read()
    return struct.unpack_from("<I", data, 8 + offset)[0]


def start_wine():
    """Sets the prefix up and keeps its server running, so no test pays for a cold
    start. Wine's own services live on after the first program and keep every pipe
    they inherit open, so they are born here, with no pipes."""
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE_RUN, os.path.join(bin_dir(), "winctl.exe")], timeout=600, **quiet)
    subprocess.run([WINE_RUN, "--server", "-p"], timeout=60, **quiet)
    subprocess.run([WINE_RUN, os.path.join(bin_dir(), "winctl.exe")], timeout=120, **quiet)


def stop_wine():
    subprocess.run([WINE_RUN, "--server", "-k"], capture_output=True, timeout=60)


# Offsets of the words of the saved record that the tests set.
RECORD_FIELDS = {"server_index": 0, "log_level": 20, "minimise_to_tray": 88, "multi_site_average": 92,
                 "autosync_enabled": 100, "autosync_count": 104, "autosync_unit": 108, "protocol": 116,
                 "server_source": 120, "time_server_enabled": 124, "windows_start_action": 136,
                 "sync_timeout_seconds": 140, "resident": 160, "date_window_enabled": 168, "program_start_action": 172}


def write_settings(directory, **fields):
    """A "dSync.dat" of the current release with the given words and zeros elsewhere."""
    record = bytearray(500)
    for name, value in fields.items():
        struct.pack_into("<I", record, RECORD_FIELDS[name], value)
    with open(os.path.join(directory, "dSync.dat"), "wb") as f:
        f.write(b"SYNC1150" + bytes(record))


def log_entries(directory):
    """The entry texts of "dLog.txt", without the stamp in front of each."""
    path = os.path.join(directory, "dLog.txt")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        lines = f.read().split(b"\r\n")
    return [line[47:].decode("latin-1") for line in lines[2:] if line]


def control_text(window_class, control):
    """The text of a control of a program's window, or None when it cannot be read."""
    done = winctl("get-text", window_class, str(control))
    if done.returncode != 0:
        return None
    text = done.stdout.decode("utf-8").replace("\r\n", "\n")
    return text[:-1] if text.endswith("\n") else text


def wait_for_text(window_class, control, accept, timeout=30):
    """Reads the control until accept(text) holds; the last text read either way."""
    deadline = time.monotonic() + timeout
    text = control_text(window_class, control)
    while not (text is not None and accept(text)) and time.monotonic() < deadline:
        time.sleep(0.2)
        text = control_text(window_class, control)
    return text
