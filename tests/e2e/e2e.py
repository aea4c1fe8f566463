#!/usr/bin/python3
"""End-to-end cases: the built plugin scripted by pages in Debian's QtWebKit.

Each case starts fresh engine processes (demo/kzopage.py) with the plugin in
a folder of the case's own, stub package-manager commands first on PATH, and
a private mount namespace in which the password database gives a home in the
case's folder and the main plugin folder holds only the files the case puts
there. Where no private mount namespace can be made, the cases are skipped:
the plugin would write into the real home. Exit status: 0 passed, 1 failed,
77 skipped.

    e2e.py --list
    e2e.py --case NAME --plugin PLUGIN.so --work DIR --limit SECONDS [--time-scale N]

The pages, the stand-ins and the cases wait for what the others do (signals,
see kzopage), not for a time; only where something must not happen does a
page give it a while to come. A page run's time limit (--limit) is a safety
limit: when it runs out, the case fails saying what was still awaited.
"""

import argparse
import functools
import http.server
import os
import shlex
import shutil
import sys
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(HERE, "..", "..", "demo"))
import kzopage  # noqa: E402

SKIPPED = 77
ALLOWED_PAGE = "https://www.otarnwell.com/update.html"
REFUSED = "File corrupted. Try re-installing the plugin."
CODE_33 = "Invalid error code. Greater than max error code. "
UPDATE_COMMAND = "yum -y update vudiriveze"
VIEWER_COMMAND = "gpk-update-viewer"
DAY = 24 * 3600
ENGINE_ERROR = "Error calling method on NPObject."
STRING = "Ss"
OBJECT = "N5boost10shared_ptrIN2FB5JSAPIEEE"
PLUGIN_GONE = "destructing kzoautoinstall plugin "
SEQUENCE_ENDED = "Installer command: %s. Return code: " % UPDATE_COMMAND

# Shell functions of the stand-ins. signal NAME raises a signal of the page
# run; wait_for NAME waits until the page or the case raised NAME. The case's
# time limit, or the page's end without NAME, ends the wait with a note that
# fails the case.
STAND_IN_SIGNALS = r'''
signal() { : > "$KZO_SIGNALS/$1"; }
ran_out() { echo "${0##*/} waited for the signal $1: $2" >> "$KZO_RAN_OUT"; exit 70; }
wait_for() {
  while [ ! -e "$KZO_SIGNALS/$1" ]; do
    [ -e "$KZO_SIGNALS/%s" ] && ran_out "$1" "the page ended without it"
    [ "$(date +%%s)" -ge "$KZO_DEADLINE" ] && ran_out "$1" "the case's time limit ran out"
    sleep 0.05
  done
}
''' % kzopage.PAGE_ENDED


class Failed(Exception):
    pass


class Skipped(Exception):
    pass


def expect(actual, expected, what):
    if actual != expected:
        raise Failed("%s: expected %r, got %r" % (what, expected, actual))


def value(result, expected, what):
    expect(result, {"type": type_of(expected), "value": expected}, what)


def type_of(v):
    if isinstance(v, bool):
        return "boolean"
    if isinstance(v, (int, float)):
        return "number"
    return "string" if isinstance(v, str) else "undefined"


def error(result, expected, what):
    """A plugin's script error: this engine throws its own fixed text, the
    plugin's text is read back through getLastException()."""
    expect(result, {"error": ENGINE_ERROR, "last": expected}, what)


class Case:
    """One case's folder: plugin folder, fake home, stubs, engine runs."""

    def __init__(self, args):
        self.work = os.path.abspath(args.work)
        shutil.rmtree(self.work, ignore_errors=True)
        self.plugins = os.path.join(self.work, "plugins")
        self.home = os.path.join(self.work, "home")
        self.stubs = os.path.join(self.work, "stubs")
        self.calls_log = os.path.join(self.work, "calls.log")
        runtime = os.path.join(self.work, "runtime")
        for d in (self.plugins, self.home, runtime):
            os.makedirs(d)
        os.chmod(runtime, 0o700)
        os.symlink(os.path.abspath(args.plugin),
                   os.path.join(self.plugins, os.path.basename(args.plugin)))
        self.test_plugin = args.test_plugin
        self.time_scale = args.time_scale
        self.limit = args.limit
        self.env = {"XDG_RUNTIME_DIR": runtime}
        self.private = kzopage.private_namespace_command()
        if not self.private:
            raise Skipped("no private mount namespace (unshare -m needs root or user "
                          "namespaces): the plugin would use the real home and %s" %
                          kzopage.MAIN_PLUGIN_DIR)
        self.runs = 0

    def stub_commands(self, exit_codes=None, steps=None):
        """The stand-ins of kzopage; steps may use the signal functions."""
        kzopage.write_stub_commands(self.stubs, exit_codes or {}, self.calls_log,
                                    {name: STAND_IN_SIGNALS + step
                                     for name, step in (steps or {}).items()})

    def calls(self):
        if not os.path.exists(self.calls_log):
            return []
        with open(self.calls_log) as f:
            return [line.rstrip() for line in f]

    def run(self, page, url=ALLOWED_PAGE, main_plugin_files=(), raise_when=None):
        """Runs a page of pages/ and returns (results, events). raise_when:
        {signal: test}, each signal raised once its test holds while the page
        runs."""
        with open(os.path.join(HERE, "pages", "harness.js")) as f:
            harness = f.read()
        with open(os.path.join(HERE, "pages", page)) as f:
            html = f.read().replace("/*HARNESS*/", harness)
        if not os.path.exists(self.stubs):
            self.stub_commands()
        self.runs += 1
        run_dir = os.path.join(self.work, "run%d" % self.runs)
        signals = os.path.join(run_dir, "signals")
        ran_out = os.path.join(run_dir, "ran-out.log")
        os.makedirs(signals)
        env = dict(self.env, KZO_SIGNALS=signals, KZO_RAN_OUT=ran_out,
                   KZO_DEADLINE=str(int(time.time()) + self.limit))
        stop = threading.Event()
        watcher = threading.Thread(target=raise_signals,
                                   args=(signals, dict(raise_when or {}), stop))
        watcher.start()
        try:
            answer = kzopage.run_page(html, url, self.plugins, run_dir, timeout=self.limit,
                                      stub_dir=self.stubs, home=self.home, extra_env=env,
                                      private=self.private,
                                      main_plugin_files=main_plugin_files, use_xvfb=True,
                                      signals=signals)
        except kzopage.EngineError as e:
            answer = {"error": str(e)}
        finally:
            stop.set()
            watcher.join()
        # What the stand-ins waited for in vain, once each.
        problems = list(dict.fromkeys(read_text(ran_out).splitlines())) \
            if os.path.exists(ran_out) else []
        if "error" in answer:
            raise Failed("\n".join(problems + [answer["error"]]))
        self.last_log = answer["log"]
        if not answer["done"]:
            problems.append("the case's time limit (%d s) ran out while the page waited for %s" % (
                self.limit, ", ".join(answer["waiting"]) or "its end"))
        if problems or not answer["loaded"] or answer["status"] != 0:
            raise Failed("%s\nthe page's run: loaded %s, done %s, engine status %s; console: %s\n"
                         "engine output:\n%s" % (
                             "\n".join(problems), answer["loaded"], answer["done"],
                             answer["status"], answer["console"], answer["log"]))
        reported = answer["results"]
        return reported["results"], reported["events"]

    def log_files(self):
        logs = os.path.join(self.home, ".config", "Tarnwell", "okzoinstallplugin", "logs")
        if not os.path.isdir(logs):
            return logs, []
        return logs, sorted(n for n in os.listdir(logs)
                            if os.path.isfile(os.path.join(logs, n)))

    def plugin_logs(self):
        """The plugin's own log files: (folder, names)."""
        logs, names = self.log_files()
        return logs, [n for n in names if n.startswith("okzoinstallplugin.")]

    def plugin_log(self):
        """The text of the one log file the plugin wrote."""
        logs, mine = self.plugin_logs()
        expect(len(mine), 1, "log files in " + logs)
        return read_text(os.path.join(logs, mine[0]))

    def log_holds(self, text):
        """A test for run's raise_when: the plugin's log holds text."""
        def test():
            logs, mine = self.plugin_logs()
            return any(text in read_text(os.path.join(logs, n)) for n in mine)
        return test


def read_text(path):
    with open(path) as f:
        return f.read()


def raise_signals(signals, tests, stop):
    """Raises each signal of tests once its test holds, until stop is set."""
    while tests and not stop.wait(0.05):
        for name, test in list(tests.items()):
            if test():
                kzopage.raise_signal(signals, name)
                del tests[name]


CASES = {}


def case(name):
    def register(fn):
        CASES[name] = fn
        return fn
    return register


@case("reads")
def reads(c):
    r, _ = c.run("reads.html")
    value(r["getVersion"], "1.6.210.5", "getVersion()")
    value(r["getVersion extra args"], "1.6.210.5", "getVersion(1, 'two')")
    for code, text in ((0, "Success"), (15, "AutoUpate, Download operation failed "),
                       (16, "AutoUpate, Installation operation failed"), (33, CODE_33),
                       (1000, CODE_33), (-1, CODE_33)):
        value(r["getErrorString %d" % code], text, "getErrorString(%d)" % code)
    value(r["getErrorString numeric text"], "Unable to login", 'getErrorString("5")')
    value(r["echo text"], "x", 'echo("x")')
    value(r["echo number"], 42, "echo(42)")
    value(r["echo bool"], True, "echo(true)")
    expect(r["echo nothing"], {"type": "undefined", "value": None}, "echo()")
    log = c.plugin_log()
    for line in ("Creating kzoautoinstall plugin ", "Site is VALID ", "getErrorString: -1"):
        if line not in log:
            raise Failed("the plugin's log lacks %r:\n%s" % (line, log))


@case("argument_errors")
def argument_errors(c):
    r, events = c.run("argument-errors.html")
    for name, text in (
            ("updatePlugin 2 args", "Error: Argument 4is not optional."),
            ("updatePlugin 5 args", "Too many arguments, expected 4."),
            ("updatePlugin text callback",
             "Invalid argument conversion from %s to %s at index 2" % (STRING, OBJECT)),
            ("getErrorString text", "Invalid argument conversion from %s to i at index 1" % STRING),
            ("getErrorString nothing", "Error: Argument 1is not optional."),
            ("getErrorString 2 args", "Too many arguments, expected 1."),
            ("echo 2 args", "Too many arguments, expected 1.")):
        error(r[name], text, name)
    if "error" not in r["unknown method"]:
        raise Failed("an unknown method gave %r" % r["unknown method"])
    value(r["getVersion after"], "1.6.210.5", "getVersion() after the errors")
    expect(events, [], "page callbacks")
    expect(c.calls(), [], "commands run")


@case("apply_claimed_length")
def apply_claimed_length(c):
    """apply of a method's function object with {length: 2147483647}: refused
    at once, as a length no index reaches always was; real lists up to the
    limit still reach the method."""
    r, events = c.run("apply-length.html")
    if "error" not in r["bad length"]:
        raise Failed("a length no index reaches gave %r" % r["bad length"])
    for name in ("huge length", "one past the limit"):
        expect(r[name], r["bad length"], name)
    if r["huge length ms"]["value"] >= 1000 * c.time_scale:
        raise Failed("the huge length took %r ms" % r["huge length ms"]["value"])
    value(r["at the limit"], "1.6.210.5", "apply of 65536 entries")
    value(r["list"], "x", 'echo.apply(null, ["x"])')
    value(r["getVersion after"], "1.6.210.5", "getVersion() afterwards")
    expect(events, [], "page callbacks")


# name: (exit codes of the stubs, commands run, the report)
UPDATES = {
    "update_success": ({"yum": 0}, [UPDATE_COMMAND], "success:0"),
    "update_viewer_after_yum_status_256": ({"yum": 1, "gpk-update-viewer": 0},
                                           [UPDATE_COMMAND, VIEWER_COMMAND], "success:0"),
    "update_viewer_fails": ({"yum": 1, "gpk-update-viewer": 4},
                            [UPDATE_COMMAND, VIEWER_COMMAND], "failure:16"),
    "update_failure_status_512": ({"yum": 2}, [UPDATE_COMMAND], "failure:16"),
}


def update_case(name, exit_codes, commands, report):
    def run(c):
        c.stub_commands(exit_codes)
        r, events = c.run("update.html")
        expect(r["updatePlugin"], {"type": "undefined", "value": None}, "updatePlugin's result")
        # The progress report and the result come after the call returned.
        expect(events, ["returned", "progress:100", report], "page callbacks in order")
        expect(c.calls(), commands, "commands run")
        log = c.plugin_log()
        status = {"success:0": 0}.get(report, exit_codes.get("gpk-update-viewer",
                                                             exit_codes["yum"]) * 256)
        last = commands[-1]
        for line in ("Installer command: " + UPDATE_COMMAND,
                     "Installer command: %s. Return code: %d" % (last, status)):
            if line not in log:
                raise Failed("the plugin's log lacks %r:\n%s" % (line, log))
    case(name)(run)


for _name, (_codes, _commands, _report) in UPDATES.items():
    update_case(_name, _codes, _commands, _report)


@case("update_outlives_page")
def update_outlives_page(c):
    # One update runs and a second waits for it when their instance goes;
    # yum ends only once the plugin has logged the instance's end.
    c.stub_commands({"yum": 0}, {"yum": "signal yum-started\nwait_for instance-gone\n"})
    r, events = c.run("update-outlives-page.html",
                      raise_when={"instance-gone": c.log_holds(PLUGIN_GONE),
                                  "sequence-ended": c.log_holds(SEQUENCE_ENDED)})
    expect(r["updatePlugin"], {"type": "undefined", "value": None}, "updatePlugin's result")
    expect(r["second updatePlugin"], {"type": "undefined", "value": None},
           "the second updatePlugin's result")
    # Nothing reaches the page once its instance is gone; the running yum
    # ends unseen and the one nobody waits for any more never starts.
    expect(events, ["progress:100", "progress2:100", "removed"], "page callbacks")
    expect(c.calls(), [UPDATE_COMMAND], "commands run")
    log = c.plugin_log()
    expect(log.count(SEQUENCE_ENDED + "0"), 1, "finished sequences in the log:\n" + log)


MANY_UPDATES = 300  # the page's CALLS


@case("many_updates")
def many_updates(c):
    """Hundreds of updatePlugin calls while yum runs: one more yum for all
    of them, each call reports once, and the engine gains no thread per
    call. The version lookup of each call runs ls, whose stand-in notes the
    engine's threads (the parent of the lookup's shell) before it runs the
    real ls; the first yum runs until the page says it made every call."""
    c.stub_commands(steps={"yum": "wait_for calls-made\n"})
    threads_log = os.path.join(c.work, "threads.log")
    kzopage.write_script(os.path.join(c.stubs, "ls"),
                         "engine=$(awk '/^PPid:/ { print $2 }' /proc/$PPID/status)\n"
                         "n=$(set -- /proc/$engine/task/*; echo $#)\n"
                         "echo $n >> %s\n"
                         "exec /bin/ls \"$@\"\n" % shlex.quote(threads_log))

    r, _ = c.run("many-updates.html")
    value(r["updates"], MANY_UPDATES, "updatePlugin calls made")
    expect(r["reports"], {"type": "object",
                          "value": {"progress:100": MANY_UPDATES, "success:0": MANY_UPDATES}},
           "reports, one progress and one success per call")
    calls = c.calls()
    expect(set(calls), {UPDATE_COMMAND}, "commands run")
    expect(len(calls), 2, "yum runs: the first call's, then one for all the calls made meanwhile")
    with open(threads_log) as f:
        threads = [int(line) for line in f]
    expect(len(threads), MANY_UPDATES, "version lookups")
    if max(threads) > threads[0] + 4:
        raise Failed("the engine's threads grew from %d (before the first call) to %d: %r" % (
            threads[0], max(threads), threads))


@case("main_plugin_version")
def main_plugin_version(c):
    r, _ = c.run("main-version.html",
                 main_plugin_files=["vudiriveze_1.8.2.3.so", "libflashplayer.so"])
    value(r["getMasterVersion"], "1.8.2.3\n", "getMasterVersion()")
    value(r["getMasterVersion extra args"], "1.8.2.3\n", 'getMasterVersion("x")')


@case("main_plugin_missing")
def main_plugin_missing(c):
    r, _ = c.run("main-version.html", main_plugin_files=["libflashplayer.so"])
    value(r["getMasterVersion"], "", "getMasterVersion() without the main plugin")


# name: (page address, allowed)
SITES = {
    "site_vendor_host": ("https://www.otarnwell.com/update.html", True),
    "site_vendor_domain_with_port": ("http://tarnwellmeet.com:8080/a?b=c", True),
    "site_vendor_host_any_case": ("https://Conf.TarnwellConf.COM/", True),
    "site_other_host": ("https://evil.example/", False),
    "site_vendor_name_as_subdomain": ("https://otarnwell.com.evil.example/", False),
    "site_vendor_name_in_path": ("https://evil.example/www.otarnwell.com/", False),
    "site_vendor_name_in_query": ("https://evil.example/?next=otarnwell.com/", False),
    "site_vendor_name_as_suffix": ("https://nototarnwell.com/", False),
}


def site_case(name, url, allowed):
    def run(c):
        r, events = c.run("site.html", url=url)
        methods = ("getVersion", "getVersion again", "getErrorString", "echo",
                   "getMasterVersion", "updatePlugin")
        if allowed:
            value(r["getVersion"], "1.6.210.5", "getVersion() on " + url)
            value(r["echo"], "x", "echo() on " + url)
            return
        for m in methods:
            error(r[m], REFUSED, "%s on %s" % (m, url))
        expect(events, [], "page callbacks")
        expect(c.calls(), [], "commands run")
        if "Site is INVALID " not in c.plugin_log():
            raise Failed("the plugin's log lacks the refusal")
    case(name)(run)


for _name, (_url, _allowed) in SITES.items():
    site_case(_name, _url, _allowed)


@case("log_file")
def log_file(c):
    logs = os.path.join(c.home, ".config", "Tarnwell", "okzoinstallplugin", "logs")
    legacy = os.path.join(c.home, "Tarnwell", "Lintel")
    os.makedirs(os.path.join(logs, "kept"))
    os.makedirs(legacy)
    now = time.time()
    old = {os.path.join(logs, "okzoinstallplugin.1_1.log"): now - 8 * DAY,
           os.path.join(logs, "other.log"): now - 30 * DAY,
           os.path.join(logs, "okzoinstallplugin.2_2.log"): now - 6 * DAY,
           os.path.join(logs, "kept", "okzoinstallplugin.3_3.log"): now - 30 * DAY,
           os.path.join(legacy, "installer.log"): now - DAY}
    for path, mtime in old.items():
        with open(path, "w") as f:
            f.write("old\n")
        os.utime(path, (mtime, mtime))

    start = int(time.time())
    r, _ = c.run("two-instances.html")
    end = int(time.time())
    value(r["first"], "1.6.210.5", "the first instance")
    value(r["second"], "1.6.210.5", "the second instance")

    _, names = c.log_files()
    new = [n for n in names if n not in ("okzoinstallplugin.2_2.log",)]
    expect(len(new), 1, "new log files among %s" % names)
    stamp, _, rest = new[0][len("okzoinstallplugin."):].partition("_")
    if not (rest.endswith(".log") and rest[:-4].isdigit() and start <= int(stamp) <= end):
        raise Failed("log file name %s is not okzoinstallplugin.<time>_<pid>.log" % new[0])
    expect(os.path.exists(os.path.join(logs, "okzoinstallplugin.2_2.log")), True,
           "the 6 days old log kept")
    expect(os.path.exists(os.path.join(logs, "kept", "okzoinstallplugin.3_3.log")), True,
           "an old log in a subfolder kept")
    expect(os.path.exists(legacy), False, "the legacy folder removed")
    with open(os.path.join(logs, new[0])) as f:
        log = f.read()
    # Both instances write to the one file of the process.
    expect(log.count("Creating kzoautoinstall plugin "), 2, "instances in the log:\n" + log)


def fnv1a(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xffffffff
    return "%08x" % h


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@case("framework_download")
def framework_download(c):
    """The framework's own test plugin (not the installer) downloads through
    the engine from a loopback server into memory; a missing file fails."""
    if not c.test_plugin:
        raise Skipped("no --test-plugin given")
    for name in os.listdir(c.plugins):
        os.remove(os.path.join(c.plugins, name))
    os.symlink(os.path.abspath(c.test_plugin),
               os.path.join(c.plugins, os.path.basename(c.test_plugin)))
    served = os.path.join(c.work, "served")
    os.makedirs(served)
    body = bytes((i * 7 + i // 251) & 0xff for i in range(300000))
    with open(os.path.join(served, "data.bin"), "wb") as f:
        f.write(body)
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(QuietHandler, directory=served))
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        r, _ = c.run("download.html", url="http://127.0.0.1:%d/page.html" % server.server_port)
    finally:
        server.shutdown()
        server.server_close()
    if "journal" not in r:
        raise Failed("the test plugin did not script: %r\nengine output:\n%s" % (r, c.last_log))
    journal = r["journal"]["value"].split("\n")
    done = journal[-1]
    prefix = "done success=true size=%d fnv=%s headers=" % (len(body), fnv1a(body))
    if not done.startswith(prefix):
        raise Failed("the download ended with %r, expected %r...; journal %r" % (
            done, prefix, journal))
    if "[Content-Length: %d]" % len(body) not in done:
        raise Failed("the response headers lack the length: %r" % done)
    if not all(line.startswith("progress ") for line in journal[:-1]) or len(journal) < 2:
        raise Failed("no progress before the end: %r" % journal)
    expect(r["journal missing"]["value"].split("\n")[-1],
           "done success=false size=0 fnv=- headers=", "the missing file's end")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--case")
    parser.add_argument("--plugin")
    parser.add_argument("--test-plugin")
    parser.add_argument("--work")
    parser.add_argument("--limit", type=int, help="a page run's time limit in seconds")
    parser.add_argument("--time-scale", type=int, default=1)
    args = parser.parse_args()
    if args.list:
        print(";".join(CASES))
        return 0
    if not args.limit:
        parser.error("--limit is needed to run a case")
    try:
        CASES[args.case](Case(args))
    except Skipped as e:
        print("SKIPPED: %s" % e)
        return SKIPPED
    except (Failed, kzopage.EngineError) as e:
        print("FAILED: %s" % e)
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    print("passed: %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
