"""Runs one page in Debian's QtWebKit with the plugin, and collects what the
page's script reports.

Used by the demo (run-demo.py) and by the end-to-end tests. The caller side
(run_page) prepares the engine's environment and starts a separate engine
process: /usr/bin/python3 running this file, on an Xvfb server of its own
when asked or when there is no display, and, when asked, inside a private
mount namespace in which the password database gives the user a home of the
caller's and the fixed main plugin folder holds just the files the caller
names. The engine side (main) loads the page with setHtml at the
given address and polls it until its script sets window.kzoDone, then hands
window.kzoResults (any JSON value) back through a file. With a signals
folder, each poll also passes signals both ways: a signal is a name that is
a key of the page's window.kzoSignals and an empty file in the folder, so
the page and processes outside it (stand-in commands, the caller) can wait
for each other rather than for time.

The engine loads plugins with deep binding (RTLD_DEEPBIND), so a preloaded
library cannot stand in for C library functions the plugin calls; a private
password entry in a mount namespace is what changes the home it finds.

A page reports with: window.kzoResults = ...; window.kzoDone = true; it may
name what it waits for in window.kzoWaiting (a list), which is reported when
its time runs out.
"""

import json
import os
import select
import shlex
import signal
import subprocess
import sys
import tempfile
import time

ENGINE_PYTHON = "/usr/bin/python3"
MAIN_PLUGIN_DIR = "/usr/lib64/mozilla/plugins"
# GTK+ 3 theme hooks in the environment crash the engine once the plugin
# starts GTK+ 2; other plugin folders would load plugins besides ours.
DROPPED_VARIABLES = ("QT_QPA_PLATFORMTHEME", "GTK_MODULES", "MOZ_PLUGIN_PATH")
STUB_COMMANDS = ("yum", "gpk-update-viewer")
# The signal the engine raises when the page has ended, done or not.
PAGE_ENDED = "page-ended"


class EngineError(Exception):
    pass


def raise_signal(signals, name):
    open(os.path.join(signals, name), "a").close()


def write_script(path, body):
    """Writes an executable shell script."""
    with open(path, "w") as out:
        out.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)


def write_stub_commands(directory, exit_codes, calls_log, steps=None):
    """Writes stand-ins for the package manager and the update viewer into
    directory: each appends its command line to calls_log, runs
    steps[name] (shell text, when given) and exits with exit_codes[name]
    (0 when not given)."""
    os.makedirs(directory, exist_ok=True)
    for name in STUB_COMMANDS:
        write_script(os.path.join(directory, name),
                     "echo \"%s $*\" >> %s\n%s"
                     "exit %d\n" % (name, shlex.quote(calls_log), (steps or {}).get(name, ""),
                                     exit_codes.get(name, 0)))


def private_namespace_command():
    """The command prefix that runs a command in a private mount namespace:
    as root, or in a user namespace of its own; None where neither works."""
    for prefix in (["unshare", "-m"], ["unshare", "-r", "-m"]):
        try:
            if subprocess.run(prefix + ["true"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return prefix + ["--propagation", "private"]
        except OSError:
            pass
    return None


# Runs the rest of its arguments with, when given, the calling user's home in
# the password database replaced (the plugin reads it there, not in $HOME)
# and MAIN_PLUGIN_DIR replaced by a private folder holding empty files of the
# given names. When that folder does not exist, an overlay on its deepest
# existing ancestor keeps what the ancestor holds (such as the dynamic loader).
_PRIVATE_SCRIPT = r'''
set -e
scratch=$1 home=$2 count=$3; shift 3
target=%(target)s
mount -t tmpfs kzo_private "$scratch"
if [ -n "$home" ]; then
  uid=$(id -u)
  awk -F: -v OFS=: -v uid="$uid" -v home="$home" '$3 == uid { $6 = home } { print }' \
    /etc/passwd > "$scratch/passwd"
  mount --bind "$scratch/passwd" /etc/passwd
  if [ "$(getent passwd "$uid" | cut -d: -f6)" != "$home" ]; then
    echo "kzopage: the password database does not give $home for user $uid" >&2
    exit 1
  fi
fi
if [ -d "$target" ]; then
  mount -t tmpfs kzo_private "$target"
else
  ancestor=$target
  while [ ! -e "$ancestor" ]; do ancestor=$(dirname "$ancestor"); done
  mkdir "$scratch/upper" "$scratch/work"
  mount -t overlay kzo_private \
    -o "lowerdir=$ancestor,upperdir=$scratch/upper,workdir=$scratch/work" "$ancestor"
  mkdir -p "$target"
fi
while [ "$count" -gt 0 ]; do echo > "$target/$1"; shift; count=$((count - 1)); done
exec "$@"
''' % {"target": shlex.quote(MAIN_PLUGIN_DIR)}


def engine_environment(plugin_dir, stub_dir=None, home=None, extra=None):
    env = {k: v for k, v in os.environ.items() if k not in DROPPED_VARIABLES}
    env["QTWEBKIT_PLUGIN_PATH"] = os.path.abspath(plugin_dir)
    if stub_dir:
        env["PATH"] = os.path.abspath(stub_dir) + os.pathsep + env.get("PATH", "/usr/bin:/bin")
    if home:
        # The engine's own files (caches, settings) stay out of the real home.
        env["HOME"] = home
        for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"):
            env.pop(name, None)
    env.update(extra or {})
    return env


class Xvfb:
    """An X server for one engine run, on a display it chooses itself
    (-displayfd: no race with other servers for a display number) and
    stopped by whoever started it: only this child is ever signalled."""

    def __init__(self, log_path, timeout):
        self.log_path = log_path
        read_end, write_end = os.pipe()
        with open(log_path, "wb") as log:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                pass_fds=(write_end,))
        os.close(write_end)
        try:
            self.display = self._read_display(read_end, timeout)
        except EngineError:
            self.stop()
            raise
        finally:
            os.close(read_end)

    def _read_display(self, read_end, timeout):
        text = b""
        deadline = time.monotonic() + timeout
        while not text.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise EngineError("Xvfb chose no display in %d s:\n%s" % (timeout, self.output()))
            chunk = os.read(read_end, 16)
            if not chunk:
                raise EngineError("Xvfb ended (status %s) before it chose a display:\n%s" % (
                    self.process.poll(), self.output()))
            text += chunk
        return ":" + text.decode().strip()

    def output(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def describe_status(status):
    """An exit status as subprocess gives it, with the signal named."""
    if status < 0:
        try:
            return "%d, %s" % (status, signal.Signals(-status).name)
        except ValueError:
            pass
    return str(status)


def run_page(html, base_url, plugin_dir, work_dir, timeout=30, stub_dir=None, home=None,
             extra_env=None, private=None, main_plugin_files=(), use_xvfb=None, signals=None):
    """Runs html at base_url in a fresh engine process; returns a dict with
    "done" (the page finished), "results" (window.kzoResults), "waiting"
    (what the page still waited for), "console" (the page's console lines),
    "log" (the engine's standard output and error) and "status" (its exit
    status). signals: the folder of the page's signals, or None.

    home: the engine's home ($HOME and, with private, the password
    database's). private: the prefix of private_namespace_command(), to run
    the engine with a private password entry and main plugin folder holding
    main_plugin_files; without it the machine's are used."""
    os.makedirs(work_dir, exist_ok=True)
    request = os.path.join(work_dir, "request.json")
    result = os.path.join(work_dir, "result.json")
    if os.path.exists(result):
        os.remove(result)
    with open(request, "w") as out:
        json.dump({"html": html, "url": base_url, "timeout": timeout, "result": result,
                   "signals": signals}, out)

    command = [ENGINE_PYTHON, os.path.abspath(__file__), request]
    if use_xvfb is None:
        use_xvfb = not os.environ.get("DISPLAY")
    if private:
        scratch = os.path.join(work_dir, "mnt")
        os.makedirs(scratch, exist_ok=True)
        command = (private + ["/bin/sh", "-c", _PRIVATE_SCRIPT, "sh", scratch, home or "",
                              str(len(main_plugin_files))] + list(main_plugin_files) + command)

    env = engine_environment(plugin_dir, stub_dir, home, extra_env)
    server = None
    try:
        if use_xvfb:
            server = Xvfb(os.path.join(work_dir, "xvfb.log"), timeout)
            env["DISPLAY"] = server.display
            env.pop("XAUTHORITY", None)
        try:
            run = subprocess.run(command, env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, timeout=timeout + 30)
        except subprocess.TimeoutExpired as e:
            raise EngineError("the engine did not end in time:\n%s" % (e.output or b"").decode(
                errors="replace"))
    finally:
        if server:
            server.stop()
    log = run.stdout.decode(errors="replace")
    if not os.path.exists(result):
        raise EngineError("the engine ended (status %s) without a result:\n%s%s" % (
            describe_status(run.returncode), log,
            "\nXvfb:\n" + server.output() if server else ""))
    with open(result) as f:
        answer = json.load(f)
    answer["log"] = log
    answer["status"] = run.returncode
    return answer


def main(request_path):
    """Engine side: loads the page, waits for it, writes the result."""
    with open(request_path) as f:
        request = json.load(f)

    from PyQt5.QtCore import QTimer, QUrl
    from PyQt5.QtWebKit import QWebSettings
    from PyQt5.QtWebKitWidgets import QWebPage, QWebView
    from PyQt5.QtWidgets import QApplication

    app = QApplication([sys.argv[0]])
    console = []

    class Page(QWebPage):
        def javaScriptConsoleMessage(self, message, line, source):
            console.append("%s:%d: %s" % (source, line, message))

    settings = QWebSettings.globalSettings()
    settings.setAttribute(QWebSettings.PluginsEnabled, True)
    settings.setAttribute(QWebSettings.JavascriptEnabled, True)

    view = QWebView()
    page = Page(view)
    view.setPage(page)
    view.resize(640, 480)
    view.show()
    frame = page.mainFrame()
    # On the clock: a busy engine polls less often than asked.
    deadline = time.monotonic() + request["timeout"]
    state = {"loaded": None}
    poll_ms = 50

    def page_json(expression):
        text = frame.evaluateJavaScript("JSON.stringify(%s)" % expression)
        return json.loads(text) if isinstance(text, str) else None

    signals = request.get("signals")

    def pass_signals():
        raised = page_json("Object.keys(window.kzoSignals || {})") or []
        for name in raised:
            # A page names signals, never paths.
            if os.path.basename(name) == name and name not in ("", ".", ".."):
                raise_signal(signals, name)
        for name in set(os.listdir(signals)) - set(raised):
            frame.evaluateJavaScript(
                "(window.kzoSignals = window.kzoSignals || {})[%s] = true" % json.dumps(name))

    def finish(done):
        if signals:
            pass_signals()
            raise_signal(signals, PAGE_ENDED)
        answer = {"done": done, "loaded": state["loaded"], "console": console,
                  "results": page_json("window.kzoResults === undefined ? null : "
                                       "window.kzoResults"),
                  "waiting": page_json("window.kzoWaiting || []") or []}
        # The page goes first, so that its plugin instances are destroyed
        # while the engine is still whole.
        view.setHtml("")
        with open(request["result"], "w") as out:
            json.dump(answer, out)
        QTimer.singleShot(100, app.quit)

    def poll():
        if signals:
            pass_signals()
        if frame.evaluateJavaScript("window.kzoDone === true") is True:
            return finish(True)
        if time.monotonic() >= deadline:
            return finish(False)
        QTimer.singleShot(poll_ms, poll)

    def loaded(ok):
        if state["loaded"] is None:
            state["loaded"] = ok
            QTimer.singleShot(0, poll)

    view.loadFinished.connect(loaded)
    view.setHtml(request["html"], QUrl(request["url"]))
    app.exec_()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
