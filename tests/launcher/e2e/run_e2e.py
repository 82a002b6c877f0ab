#!/usr/bin/env python3
"""End-to-end tests of VantleCast.exe under Wine on a private Xvfb display.

Every case lays out its own scratch folders (launcher folder, local and
roaming application data, temporary folder), starts the launcher through the
Windows test driver, which sets LOCALAPPDATA, APPDATA and TEMP, answers the
message boxes and watches the progress window, and then checks what the
stand-in programs reported, the launch log, the launcher's standard error
and its full exit code. The runtime installer is served by a loopback HTTP
server on 127.0.0.1 that sends slowly.

Exits 0 when every case passes, and 1 on a failure, a missing wine or Xvfb
included: the suite never skips (scripts/deps.sh windows installs both).

Run it with `ctest -R launcher_e2e` in the Windows build, or directly (see
tests/launcher/e2e/CMakeLists.txt for the arguments; -k NAME runs the cases
whose name contains NAME). The Wine prefix lives in <work>/wineprefix unless
VANTLE_E2E_WINEPREFIX names another; the display is :57, or the next free one
after VANTLE_E2E_DISPLAY. Each case leaves its folders, the driver's report
(driver.out) and the launcher's standard error in <work>/<case>.
"""

import argparse
import http.server
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

DISPLAY_NAME = "VANTLE Reda"
MODULE = "vantle.apps.podcasts"
SUITE_DEADLINE_S = 300  # the whole suite, prefix creation included
CALL_TIMEOUT_S = 60     # one Wine call; the driver stops the launcher after 30 s

QUESTION = (
    "VANTLE Reda needs the Korvane Runtime, a one-time shared download of about 230 MB.\n\n"
    "Every Korvane app reuses it, so this happens only once -- after that, all of them start "
    "instantly.\n\nDownload and install it now?")
NO_RUNTIME = ("VANTLE Reda could not find a Python runtime.\n\nPlease reinstall VANTLE Reda. "
              "The application will now exit.")
DEV_SLOT = (
    "VANTLE Reda is a Dev version, and the engine it runs on is missing from this computer.\n\n"
    "Dev versions don't repair themselves. Reinstall the Dev build of VANTLE Reda, or install the "
    "Stable version from the Korvane website. The application will now exit.")
ARCHIVE = (
    "VANTLE Reda was opened from inside the zip file, so Windows copied only that one file out "
    "and left the rest of the program behind.\n\nExtract the whole zip first: select it in File "
    "Explorer, press the Applications key, choose Extract All, and choose a folder. Then open "
    "VantleCast.exe in the extracted folder.")
DOWNLOAD_FAILED = (
    "The Korvane Runtime could not be downloaded. Please check your internet connection and try "
    "again, or install the runtime manually from the Korvane releases page.")
INSTALLER_PATH = "/korvane/releases/download/runtime-{slot}/Korvane-Runtime-Setup.exe"

# Arguments the user hands the launcher; each must reach the application as is.
TRICKY_ARGS = [
    "plain", "two words", "tab\there", "", "say \"hi\"", "C:\\dir with space\\", "C:\\dir\\",
    "back\\\"slash", "\\\\server\\share\\", "Grüße 日本語 🎧", "--flag=\"x y\"\\", " ",
]


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def unhex(text):
    return bytes.fromhex(text).decode("utf-8")


class Failure(Exception):
    pass


class Case:
    """Scratch folders and the checks of one end-to-end case."""

    def __init__(self, suite, name):
        self.suite = suite
        self.name = name
        self.root = os.path.join(suite.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        self.app = os.path.join(self.root, "app dir")
        self.local = os.path.join(self.root, "local")
        self.roaming = os.path.join(self.root, "roaming")
        self.temp = os.path.join(self.root, "temp")
        self.reports = os.path.join(self.root, "reports")
        for d in (self.app, self.local, self.roaming, self.temp, self.reports):
            os.makedirs(d)
        self.problems = []

    # -- layout ---------------------------------------------------------
    def put_launcher(self, folder=None):
        folder = folder or self.app
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "VantleCast.exe")
        shutil.copy(self.suite.launcher, path)
        return path

    def put_standin(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(self.suite.standin, path)

    def put_shared_runtime(self, slot, python="3.14.2"):
        folder = os.path.join(self.local, "Korvane", "Runtime", slot)
        self.put_standin(os.path.join(folder, "KorvaneRuntime.exe"))
        with open(os.path.join(folder, "korvane-runtime.json"), "w") as f:
            f.write('{"python": "%s"}\n' % python)
        return folder

    def put_version_file(self, slot, folder=None):
        with open(os.path.join(folder or self.app, "vantle-app-version.ini"), "w") as f:
            f.write("[runtime]\r\nslot=%s\r\n" % slot)

    # -- running --------------------------------------------------------
    def run(self, launcher, args=(), answers=(), env=None, unset=(), grandchild=False,
            folders=("LOCALAPPDATA", "APPDATA", "TEMP")):
        """Runs the launcher through the driver; returns the driver's report."""
        shutil.rmtree(self.reports)
        os.makedirs(self.reports)
        values = {
            "LOCALAPPDATA": win_path(self.local),
            "APPDATA": win_path(self.roaming),
            "TEMP": win_path(self.temp),
        }
        command = [self.suite.driver]
        for name in ("LOCALAPPDATA", "APPDATA", "TEMP"):
            if name in folders:
                command += ["--env", "%s=%s" % (name, values[name])]
            else:
                command += ["--unset", name]
        # GetTempPathW reads TMP before TEMP.
        command += ["--env", "TMP=%s" % values["TEMP"]] if "TEMP" in folders else [
            "--unset", "TMP"]
        command += ["--env", "STANDIN_REPORT_DIR=%s" % win_path(self.reports)]
        for name in ("VANTLE_LAUNCHER_DIR", "VANTLE_APP_ROOT", "VANTLE_PORTABLE",
                     "VANTLE_PRODUCT_NAME", "VANTLE_PRODUCT_DISPLAY", "VANTLE_PRODUCT_VERSION",
                     "VANTLE_E2E_INSTALLER_ADDRESS") + tuple(unset):
            command += ["--unset", name]
        for name, value in (env or {}).items():
            command += ["--env", "%s=%s" % (name, value)]
        if grandchild:
            self.grandchild_file = os.path.join(self.root, "grandchild.pid")
            command += ["--env", "STANDIN_GRANDCHILD=%s" % win_path(self.grandchild_file),
                        "--grandchild", win_path(self.grandchild_file)]
        for answer in answers:
            command += ["--answer", answer]
        self.stderr_path = os.path.join(self.root, "launcher-stderr.txt")
        command += ["--stderr", win_path(self.stderr_path), "--timeout-ms", "30000", "--",
                    win_path(launcher)]
        command += ["--arg=" + a.encode("utf-8").hex() for a in args]
        report = self.suite.wine(command, os.path.join(self.root, "driver"))
        self.boxes = []
        self.lines = []
        self.values = {}
        for line in report.splitlines():
            self.lines.append(line)
            if line.startswith("box "):
                fields = dict(f.split("=", 1) for f in line[4:].split(" "))
                self.boxes.append({"caption": unhex(fields["caption"]),
                                   "buttons": fields["buttons"],
                                   "text": unhex(fields["text"]).replace("\r\n", "\n")})
            elif "=" in line:
                key, value = line.split("=", 1)
                self.values.setdefault(key, []).append(value)
        self.check("driver-error" not in self.values, "driver failed: %s" % report)
        self.check("timeout" not in self.lines, "the launcher did not end in time")
        self.check("box-unanswered" not in self.lines, "a message box was not expected")
        return report

    # -- results --------------------------------------------------------
    def check(self, condition, message):
        if not condition:
            self.problems.append(message)

    def equal(self, actual, expected, what):
        self.check(actual == expected, "%s: expected %r, got %r" % (what, expected, actual))

    def exit_code(self):
        return int(self.values.get("exit", ["0xFFFFFFFF"])[-1], 16)

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def standin_report(self, name):
        """What the stand-in called `name` reported, or None when it did not run."""
        path = os.path.join(self.reports, name.lower() + ".txt")
        if not os.path.exists(path):
            return None
        out = {"args": []}
        with open(path) as f:
            for line in f.read().splitlines():
                if line.endswith("!"):
                    out[line[:-1]] = None
                    continue
                key, value = line.split("=", 1)
                if key.startswith("arg") and key != "argc":
                    out["args"].append(unhex(value))
                elif key == "argc":
                    out[key] = int(value)
                else:
                    out[key] = unhex(value)
        return out

    def expect_boxes(self, expected):
        """Message boxes in order: (text, buttons), all captioned with the display name."""
        self.equal([(b["text"], b["buttons"]) for b in self.boxes], expected, "message boxes")
        for b in self.boxes:
            self.equal(b["caption"], DISPLAY_NAME, "box caption")

    def expect_error_line(self, text):
        self.check(("%s: %s\n" % (DISPLAY_NAME, text)) in self.stderr(),
                   "standard error lacks %r; it holds %r" % (text[:60], self.stderr()))


class LoopbackServer:
    """Serves the installer on 127.0.0.1 only, in small slow pieces."""

    def __init__(self, payload, seconds=2.5, with_length=True):
        self.payload = payload
        self.requests = []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def do_GET(self):
                server.requests.append(self.path)
                if not self.path.endswith("/Korvane-Runtime-Setup.exe"):
                    self.send_error(404)
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                if with_length:
                    self.send_header("Content-Length", str(len(server.payload)))
                self.end_headers()
                pieces = 64
                step = (len(server.payload) + pieces - 1) // pieces
                for start in range(0, len(server.payload), step):
                    self.wfile.write(server.payload[start:start + step])
                    self.wfile.flush()
                    time.sleep(seconds / pieces)

            def log_message(self, *args):
                pass

        self.httpd = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.timeout = 5
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def address(self):
        return "http://127.0.0.1:%d%s" % (self.port, INSTALLER_PATH.format(slot="3.14"))

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def refused_address():
    """An address on 127.0.0.1 where nothing listens (the connection is refused)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return "http://127.0.0.1:%d%s" % (port, INSTALLER_PATH.format(slot="3.14"))


# ---------------------------------------------------------------------------
# Cases

def case_app_local_windowless(c):
    """_internal\\python.exe with pythonw.exe beside it: pythonw.exe gets the user's
    arguments unchanged; no data folder, so no VANTLE_PORTABLE; the log under APPDATA
    holds the header and the child's output; the grandchild ends with the job."""
    launcher = c.put_launcher()
    c.put_standin(os.path.join(c.app, "_internal", "python.exe"))
    c.put_standin(os.path.join(c.app, "_internal", "pythonw.exe"))
    c.run(launcher, TRICKY_ARGS, env={"STANDIN_STDOUT": "hello from the application"},
          grandchild=True)
    c.equal(c.exit_code(), 0, "exit code")
    c.expect_boxes([])
    c.equal(c.stderr(), "", "standard error")
    c.check(c.standin_report("python.exe") is None, "python.exe was started")
    r = c.standin_report("pythonw.exe")
    c.check(r is not None, "pythonw.exe was not started")
    if r is None:
        return
    python = win_path(os.path.join(c.app, "_internal", "pythonw.exe"))
    c.equal(r["args"][1:], ["-m", MODULE] + TRICKY_ARGS, "arguments")
    c.equal(r["exe"].lower(), python.lower(), "started program")
    c.equal(r["VANTLE_LAUNCHER_DIR"], win_path(c.app), "VANTLE_LAUNCHER_DIR")
    c.equal(r["VANTLE_APP_ROOT"], win_path(c.app), "VANTLE_APP_ROOT")
    c.equal(r["VANTLE_PORTABLE"], None, "VANTLE_PORTABLE")
    c.equal((r["VANTLE_PRODUCT_NAME"], r["VANTLE_PRODUCT_DISPLAY"], r["VANTLE_PRODUCT_VERSION"]),
            ("VantleCast", DISPLAY_NAME, "2.0.0"), "product variables")
    log = os.path.join(c.roaming, "Vantle", "logs", "VantleCast-launch.log")
    c.check(os.path.exists(log), "no launch log under APPDATA")
    if os.path.exists(log):
        with open(log, "rb") as f:
            text = f.read().decode("utf-8")
        c.equal(text.replace("\r\n", "\n"), "%s 2.0.0 launcher: %s -m %s\nhello from the application\n"
                % (DISPLAY_NAME, python, MODULE), "launch log")
    c.equal(c.values.get("grandchild"), ["gone"], "grandchild after the launcher's exit")


def case_app_local_portable(c):
    """_internal\\python.exe alone is started as is; a data folder makes the copy
    portable: VANTLE_PORTABLE=1 and the log in data\\logs (created)."""
    launcher = c.put_launcher()
    c.put_standin(os.path.join(c.app, "_internal", "python.exe"))
    os.makedirs(os.path.join(c.app, "data"))
    c.run(launcher, ["--one"], env={"STANDIN_STDERR": "written to standard error"})
    c.equal(c.exit_code(), 0, "exit code")
    c.expect_boxes([])
    r = c.standin_report("python.exe")
    c.check(r is not None, "python.exe was not started")
    if r is not None:
        c.equal(r["args"][1:], ["-m", MODULE, "--one"], "arguments")
        c.equal(r["VANTLE_PORTABLE"], "1", "VANTLE_PORTABLE")
    log = os.path.join(c.app, "data", "logs", "launch.log")
    c.check(os.path.exists(log), "no launch log in the data folder")
    if os.path.exists(log):
        with open(log, "rb") as f:
            c.check(b"written to standard error" in f.read(), "child's standard error not logged")


def case_shared_runtime_slot(c):
    """The version file names a slot: that slot's KorvaneRuntime.exe is started (not the
    default slot's), the home is the slot folder, and a data folder beside a launcher that
    uses the shared runtime does not make it portable."""
    launcher = c.put_launcher()
    c.put_version_file("3.14-beta")
    os.makedirs(os.path.join(c.app, "data"))
    c.put_shared_runtime("3.14")
    beta = c.put_shared_runtime("3.14-beta")
    c.run(launcher, ["x y"])
    c.equal(c.exit_code(), 0, "exit code")
    c.expect_boxes([])
    r = c.standin_report("KorvaneRuntime.exe")
    c.check(r is not None, "KorvaneRuntime.exe was not started")
    if r is None:
        return
    c.equal(r["exe"].lower(), win_path(os.path.join(beta, "KorvaneRuntime.exe")).lower(),
            "started program")
    c.equal(r["args"][1:], ["-m", MODULE, "x y"], "arguments")
    c.equal(r["VANTLE_APP_ROOT"], win_path(beta), "VANTLE_APP_ROOT")
    c.equal(r["VANTLE_PORTABLE"], None, "VANTLE_PORTABLE")


def case_failure_explained(c):
    """A child that fails with a Python error: the explanation quotes the last log line
    with its hint, on standard error and in the box, and the exit code is passed on."""
    launcher = c.put_launcher()
    c.put_standin(os.path.join(c.app, "_internal", "python.exe"))
    error = "ModuleNotFoundError: No module named 'vantle'"
    c.run(launcher, answers=["ok"], env={"STANDIN_STDOUT": "Traceback (most recent call last):",
                                         "STANDIN_STDERR": error, "STANDIN_EXIT": "7"})
    c.equal(c.exit_code(), 7, "exit code")
    c.equal(len(c.boxes), 1, "number of boxes")
    if c.boxes:
        text = c.boxes[0]["text"]
        c.check(text.startswith("VANTLE Reda did not start.\n\nPython reported: " + error +
                                " Part of the program is missing"), "explanation: %r" % text)
        c.check(win_path(os.path.join(c.roaming, "Vantle", "logs", "VantleCast-launch.log"))
                in text, "log path not named: %r" % text)
        c.expect_error_line(text)


def case_crash_codes(c):
    """Full 32-bit crash codes come back from the launcher and pick their explanation;
    without APPDATA and TEMP there is no log, the child still runs and the message says so."""
    launcher = c.put_launcher()
    c.put_standin(os.path.join(c.app, "_internal", "python.exe"))
    c.run(launcher, answers=["ok"], env={"STANDIN_EXIT": "0xC0000005",
                                         "STANDIN_STDERR": "Traceback: not quoted"})
    c.equal(c.exit_code(), 0xC0000005, "exit code")
    text = c.boxes[0]["text"] if c.boxes else ""
    c.check("It crashed inside a component (a memory fault), not in its own code." in text
            and "not quoted" not in text, "memory-fault explanation: %r" % text)
    c.expect_error_line(text)

    c.run(launcher, answers=["ok"], env={"STANDIN_EXIT": "0xC0000135"},
          folders=("LOCALAPPDATA",))
    c.equal(c.exit_code(), 0xC0000135, "exit code")
    c.check(c.standin_report("python.exe") is not None, "python.exe was not started without a log")
    text = c.boxes[0]["text"] if c.boxes else ""
    c.check("Windows reported that a DLL could not be found" in text and
            "No launch log could be written." in text, "missing-DLL explanation: %r" % text)
    c.expect_error_line(text)


def case_could_not_start(c, folder=None):
    """An interpreter that is no program: the could-not-start message names it, exit 3."""
    if folder is not None:
        c.app = os.path.join(c.root, folder)
    launcher = c.put_launcher()
    python = os.path.join(c.app, "_internal", "python.exe")
    os.makedirs(os.path.dirname(python))
    with open(python, "wb") as f:
        f.write(b"damaged download\n")
    c.run(launcher, answers=["ok"])
    c.equal(c.exit_code(), 3, "exit code")
    message = ("VANTLE Reda could not start Python.\n\nPython path: %s\n\n"
               "Please reinstall VANTLE Reda." % win_path(python))
    c.expect_boxes([(message, "ok")])
    c.expect_error_line(message)


def case_no_runtime_declined(c):
    """No runtime: the question is asked; No gives the no-runtime message and exit 2."""
    launcher = c.put_launcher()
    c.run(launcher, answers=["no", "ok"])
    c.equal(c.exit_code(), 2, "exit code")
    c.expect_boxes([(QUESTION, "yes,no"), (NO_RUNTIME, "ok")])
    c.expect_error_line(NO_RUNTIME)
    c.check(QUESTION not in c.stderr(), "the question went to standard error")


def case_dev_slot(c):
    """A dev slot without its runtime is never downloaded: the dev message, exit 2."""
    launcher = c.put_launcher()
    c.put_version_file("3.14-dev")
    c.run(launcher, answers=["ok"])
    c.equal(c.exit_code(), 2, "exit code")
    c.expect_boxes([(DEV_SLOT, "ok")])
    c.expect_error_line(DEV_SLOT)


def case_started_from_archive(c):
    """A copy under a Temp1_x.zip folder gets the archive message after the question."""
    launcher = c.put_launcher(os.path.join(c.temp, "Temp1_VantleCast.zip"))
    c.run(launcher, answers=["no", "ok"])
    c.equal(c.exit_code(), 2, "exit code")
    c.expect_boxes([(QUESTION, "yes,no"), (ARCHIVE, "ok")])
    c.expect_error_line(ARCHIVE)


def progress_checks(c, with_length):
    c.equal(c.values.get("progress-window"), ["440x150 topmost=1"], "progress window")
    c.equal(c.values.get("progress-survived-close"), ["1"], "window closed on request")
    titles = [unhex(t) for t in c.values.get("progress-title", [])]
    labels = [unhex(t) for t in c.values.get("progress-label", [])]
    if with_length:
        # The window goes away right after the last report, so the driver may
        # miss the final state; it must see the percentage climb in steps.
        prefix = "Installing the Korvane Runtime - "
        percents = [int(t[len(prefix):-1]) for t in titles if t.startswith(prefix)]
        c.check(len(percents) >= 4 and percents == sorted(set(percents)),
                "the title did not climb in steps: %r" % titles)
        mb = len(c.suite.payload) >> 20
        # Reports before the size is known (0 %) have the short form.
        shown = [l for l in labels if l.startswith("Downloading the Korvane Runtime... ")
                 and l != "Downloading the Korvane Runtime... 0%"]
        c.check(len(shown) >= 4 and all(l.endswith(" of %d MB)" % mb) for l in shown),
                "labels %r" % labels)
        # Whole mebibytes, rounded down, on the way.
        c.check(any(l.endswith("(1 of %d MB)" % mb) for l in shown), "labels %r" % labels)
        bar = int(c.values.get("progress-max-bar", ["-1"])[0])
        c.check(percents and bar >= 10 * percents[-1] - 50 and bar <= 1000,
                "bar position %d after %r" % (bar, percents[-1:]))
    else:
        c.check(set(titles) <= {"Installing the Korvane Runtime",
                                "Installing the Korvane Runtime - 0%"}, "titles %r" % titles)
        c.check("Downloading the Korvane Runtime... 0%" in labels
                and all("MB" not in l for l in labels), "labels %r" % labels)
        c.equal(c.values.get("progress-max-bar"), ["0"], "bar position")


def case_download_and_install(c, with_length=True):
    """Yes: the installer for the version file's slot is downloaded from loopback while
    the progress window shows the percentage, run, deleted; the runtime it installed is
    then found and started."""
    launcher = c.put_launcher()
    c.put_version_file("3.14-beta")
    server = LoopbackServer(c.suite.payload, with_length=with_length)
    try:
        c.run(launcher, ["after install"], answers=["yes"],
              env={"VANTLE_E2E_INSTALLER_ADDRESS": server.address(),
                   "STANDIN_INSTALL_SLOT": "3.14-beta"})
    finally:
        server.close()
    c.equal(server.requests, [INSTALLER_PATH.format(slot="3.14-beta")], "requests")
    c.equal(c.exit_code(), 0, "exit code")
    c.expect_boxes([(QUESTION, "yes,no")])
    installer = c.standin_report("Korvane-Runtime-Setup.exe")
    c.check(installer is not None, "the installer did not run")
    if installer is not None:
        c.equal(installer["exe"].lower(),
                win_path(os.path.join(c.temp, "Korvane-Runtime-Setup.exe")).lower(),
                "installer location")
        c.equal(installer["args"][1:], [], "installer arguments")
    c.check(not os.path.exists(os.path.join(c.temp, "Korvane-Runtime-Setup.exe")),
            "the installer was not deleted")
    r = c.standin_report("KorvaneRuntime.exe")
    c.check(r is not None and r["args"][1:] == ["-m", MODULE, "after install"],
            "the installed runtime was not started: %r" % r)
    progress_checks(c, with_length)


def case_download_without_length(c):
    """A server that sends no total size: the bar stays at 0, the short text is shown."""
    case_download_and_install(c, with_length=False)


def case_download_refused(c):
    """A refused connection: the could-not-be-downloaded box (not on standard error),
    then the no-runtime message and exit 2."""
    launcher = c.put_launcher()
    c.run(launcher, answers=["yes", "ok", "ok"],
          env={"VANTLE_E2E_INSTALLER_ADDRESS": refused_address()})
    c.equal(c.exit_code(), 2, "exit code")
    c.expect_boxes([(QUESTION, "yes,no"), (DOWNLOAD_FAILED, "ok"), (NO_RUNTIME, "ok")])
    c.check(DOWNLOAD_FAILED not in c.stderr(), "the download failure went to standard error")
    c.expect_error_line(NO_RUNTIME)


def case_installer_fails(c):
    """An installer that exits non-zero counts as failed even when it left a runtime
    behind: the no-runtime message, exit 2, nothing started; the installer is deleted."""
    launcher = c.put_launcher()
    server = LoopbackServer(c.suite.payload, seconds=0.5)
    try:
        c.run(launcher, answers=["yes", "ok"],
              env={"VANTLE_E2E_INSTALLER_ADDRESS": server.address(),
                   "STANDIN_INSTALL_SLOT": "3.14", "STANDIN_INSTALL_EXIT": "3"})
    finally:
        server.close()
    c.equal(c.exit_code(), 2, "exit code")
    c.expect_boxes([(QUESTION, "yes,no"), (NO_RUNTIME, "ok")])
    c.check(c.standin_report("Korvane-Runtime-Setup.exe") is not None, "the installer did not run")
    c.check(c.standin_report("KorvaneRuntime.exe") is None, "the runtime was started")
    c.check(not os.path.exists(os.path.join(c.temp, "Korvane-Runtime-Setup.exe")),
            "the installer was not deleted")


def case_any_folder_name(c):
    """A launcher in a folder named in Cyrillic and Chinese, with the shared runtime and
    the roaming folder under such names too (outside the system's code page): the
    runtime is found and started, every path reaches the application and the log
    exactly, and nothing is reported."""
    c.app = os.path.join(c.root, "Программа 程序")
    c.local = os.path.join(c.root, "Локальные 本地")
    c.roaming = os.path.join(c.root, "Данные 数据")
    for folder in (c.app, c.local, c.roaming):
        os.makedirs(folder)
    launcher = c.put_launcher()
    runtime = c.put_shared_runtime("3.14")
    c.run(launcher, ["Пётр", "王"], env={"STANDIN_STDOUT": "привет 你好"})
    c.equal(c.exit_code(), 0, "exit code")
    c.expect_boxes([])
    c.equal(c.stderr(), "", "standard error")
    r = c.standin_report("KorvaneRuntime.exe")
    c.check(r is not None, "KorvaneRuntime.exe was not started")
    if r is None:
        return
    python = win_path(os.path.join(runtime, "KorvaneRuntime.exe"))
    c.equal(r["exe"].lower(), python.lower(), "started program")
    c.equal(r["args"][1:], ["-m", MODULE, "Пётр", "王"], "arguments")
    c.equal(r["VANTLE_LAUNCHER_DIR"], win_path(c.app), "VANTLE_LAUNCHER_DIR")
    c.equal(r["VANTLE_APP_ROOT"], win_path(runtime), "VANTLE_APP_ROOT")
    log = os.path.join(c.roaming, "Vantle", "logs", "VantleCast-launch.log")
    c.check(os.path.exists(log), "no launch log under the roaming folder")
    if os.path.exists(log):
        with open(log, "rb") as f:
            text = f.read().decode("utf-8", "replace").replace("\r\n", "\n")
        c.equal(text, "%s 2.0.0 launcher: %s -m %s\nпривет 你好\n" % (DISPLAY_NAME, python, MODULE),
                "launch log")


def case_could_not_start_in_any_folder_name(c):
    """A damaged interpreter in a folder named in Cyrillic and Chinese: the message box
    and standard error name its path exactly as it is."""
    case_could_not_start(c, "Программа 程序")


CASES = [
    case_app_local_windowless,
    case_app_local_portable,
    case_shared_runtime_slot,
    case_failure_explained,
    case_crash_codes,
    case_could_not_start,
    case_no_runtime_declined,
    case_dev_slot,
    case_started_from_archive,
    case_download_and_install,
    case_download_without_length,
    case_download_refused,
    case_installer_fails,
    case_any_folder_name,
    case_could_not_start_in_any_folder_name,
]


# ---------------------------------------------------------------------------
# Wine and the display

class Suite:
    def __init__(self, options):
        self.launcher = options.launcher
        self.standin = options.standin
        self.driver = options.driver
        self.work = os.path.abspath(options.work)
        # The installer served: the stand-in padded to 2.5 MiB (a program
        # runs with data appended), so that the window shows mebibytes.
        with open(self.standin, "rb") as f:
            self.payload = f.read()
        self.payload += b"\0" * max(0, 5 * 2**19 - len(self.payload))
        self.started = time.monotonic()
        self.xvfb = None
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": os.environ.get("VANTLE_E2E_WINEPREFIX",
                                         os.path.join(self.work, "wineprefix")),
            "WINEDEBUG": "-all",
            # No .NET or HTML engine installs, and no debugger dialog for a
            # crashing child (it would block the launcher's wait).
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winedbg.exe=d",
            # Without a UTF-8 locale non-ASCII arguments are mangled.
            "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8",
        })

    def start_display(self):
        first = int(os.environ.get("VANTLE_E2E_DISPLAY", "57"))
        for number in range(first, first + 20):
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            log = open(os.path.join(self.work, "xvfb.log"), "w")
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            for _ in range(100):
                if os.path.exists("/tmp/.X11-unix/X%d" % number) or self.xvfb.poll() is not None:
                    break
                time.sleep(0.05)
            if self.xvfb.poll() is None:
                self.env["DISPLAY"] = ":%d" % number
                return
        raise Failure("no Xvfb display could be started")

    def run_quiet(self, command, timeout):
        # Output to files, never pipes: a Wine process left running would keep
        # a pipe open.
        with open(os.path.join(self.work, "wine-setup.log"), "a") as log:
            subprocess.run(["timeout", "-k", "5", str(timeout)] + command, env=self.env,
                           stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def start_wine(self):
        prefix = self.env["WINEPREFIX"]
        # The display is fixed when the prefix's server starts.
        self.run_quiet(["wineserver", "-k"], 20)
        if not os.path.exists(os.path.join(prefix, ".vantle-ready")):
            os.makedirs(prefix, exist_ok=True)
            self.run_quiet(["wineboot", "-i"], 180)
            self.run_quiet(["wineserver", "-w"], 60)
            open(os.path.join(prefix, ".vantle-ready"), "w").close()
        self.run_quiet(["wineserver", "-p"], 20)

    def wine(self, command, stem):
        out = stem + ".out"
        with open(out, "w") as o, open(stem + ".err", "w") as e:
            subprocess.run(["timeout", "-k", "5", str(CALL_TIMEOUT_S), "wine"] + command,
                           env=self.env, stdin=subprocess.DEVNULL, stdout=o, stderr=e)
        with open(out, encoding="utf-8", errors="replace") as o:
            return o.read()

    def stop(self):
        self.run_quiet(["wineserver", "-k"], 20)
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True, help="VantleCast.exe built for these tests")
    parser.add_argument("--standin", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("-k", dest="only", help="run only the cases whose name contains this")
    options = parser.parse_args()

    missing = [tool for tool in ("wine", "wineserver", "wineboot", "Xvfb", "timeout")
               if shutil.which(tool) is None]
    if missing:
        print("FAIL: the end-to-end tests need %s (scripts/deps.sh windows installs them)"
              % ", ".join(missing))
        return 1

    os.makedirs(options.work, exist_ok=True)
    suite = Suite(options)
    failed = []
    try:
        suite.start_display()
        suite.start_wine()
        print("wine ready after %.1f s on display %s" % (time.monotonic() - suite.started,
                                                         suite.env["DISPLAY"]), flush=True)
        for function in CASES:
            name = function.__name__[len("case_"):]
            if options.only and options.only not in name:
                continue
            if time.monotonic() - suite.started > SUITE_DEADLINE_S:
                failed.append(name)
                print("FAIL %s: the suite ran out of time" % name)
                continue
            begin = time.monotonic()
            case = Case(suite, name)
            try:
                function(case)
            except Exception as error:  # a broken case must not stop the others
                case.problems.append("%s: %s" % (type(error).__name__, error))
            took = time.monotonic() - begin
            if case.problems:
                failed.append(name)
                print("FAIL %s (%.1f s)" % (name, took))
                for problem in case.problems:
                    print("    " + problem)
                print("    driver said: " + " | ".join(case.lines))
            else:
                print("ok   %s (%.1f s)" % (name, took), flush=True)
    except Failure as error:
        print("FAIL: %s" % error)
        return 1
    finally:
        suite.stop()
    print("%d cases, %d failed, %.1f s in all" % (
        len(CASES) if not options.only else sum(options.only in f.__name__ for f in CASES),
        len(failed), time.monotonic() - suite.started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
