#!/usr/bin/python3
"""Opens the demo vendor page (vendor-page.html) in Debian's QtWebKit with the
installed plugin, at a vendor address, and prints what the page read: the
plugin's version, the main plugin's version, some error messages and the
result of an update. The update runs stand-ins for yum and
gpk-update-viewer (a temporary folder first on PATH), never the real ones.
Headless on an Xvfb server of its own when there is no display.

    demo/run-demo.py [--plugin-dir DIR] [--url URL] [--yum-exit N]
                     [--main-plugin-stand-in VERSION]

Exit status 0 when the page could script the plugin to the end.
"""

import argparse
import glob
import os
import pwd
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kzopage  # noqa: E402


def show(label, text):
    print("  %-21s %s" % (label + ":", text))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--plugin-dir", default=os.path.expanduser("~/.mozilla/plugins"),
                        help="folder holding npokzoinstallplugin.so (default: %(default)s)")
    parser.add_argument("--url", default="https://www.otarnwell.com/update.html",
                        help="the page's address (default: %(default)s)")
    parser.add_argument("--yum-exit", type=int, default=0,
                        help="exit code of the stand-in yum (1 also runs the stand-in "
                             "gpk-update-viewer, which exits 0)")
    parser.add_argument("--main-plugin-stand-in", metavar="VERSION",
                        help="run the page in a private mount namespace (root only) in which "
                             "%s holds just an empty vudiriveze_VERSION.so" %
                             kzopage.MAIN_PLUGIN_DIR)
    args = parser.parse_args()

    private, stand_in = None, ()
    if args.main_plugin_stand_in:
        private = kzopage.private_namespace_command()
        # Only a real root keeps the user's own home in the namespace.
        if os.getuid() != 0 or not private or "-r" in private:
            print("demo: --main-plugin-stand-in needs root (a private mount namespace)")
            return 1
        stand_in = ["vudiriveze_%s.so" % args.main_plugin_stand_in]

    plugin = os.path.join(args.plugin_dir, "npokzoinstallplugin.so")
    if not os.path.exists(plugin):
        print("demo: %s is missing; install the plugin first (cmake --install build)" % plugin)
        return 1
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "vendor-page.html")) as f:
        html = f.read()

    with tempfile.TemporaryDirectory(prefix="kzo-demo.") as work:
        stubs = os.path.join(work, "stubs")
        calls = os.path.join(work, "calls.log")
        kzopage.write_stub_commands(stubs, {"yum": args.yum_exit}, calls)
        try:
            answer = kzopage.run_page(html, args.url, args.plugin_dir, os.path.join(work, "run"),
                                      timeout=40, stub_dir=stubs, private=private,
                                      main_plugin_files=stand_in)
        except kzopage.EngineError as e:
            print("demo: %s" % e)
            return 1
        commands = open(calls).read().splitlines() if os.path.exists(calls) else []

    page = answer["results"] or {}
    print("Demo vendor page %s in QtWebKit, plugin from %s" % (args.url, args.plugin_dir))
    if not answer["done"] or page.get("error"):
        print("  the page could not script the plugin: %s" % page.get("error", "no answer"))
        print(answer["log"])
        return 1
    main_version = (page.get("mainVersion") or "").strip()
    if not main_version:
        main_version = "none (no vudiriveze_<version>.so in %s)" % kzopage.MAIN_PLUGIN_DIR
    elif stand_in:
        main_version += " (from the stand-in %s)" % stand_in[0]
    show("plugin version", page["version"])
    show("main plugin version", main_version)
    for code, text in sorted(page["messages"].items(), key=lambda item: int(item[0])):
        show("error " + code, repr(text))
    show("update", ", ".join(page["update"]))
    show("commands run", "; ".join(c.strip() for c in commands) or "none")
    logs = os.path.join(pwd.getpwuid(os.getuid()).pw_dir, ".config", "Tarnwell",
                        "okzoinstallplugin", "logs")
    newest = max(glob.glob(os.path.join(logs, "okzoinstallplugin.*.log")), key=os.path.getmtime,
                 default=None)
    show("plugin's log", newest or "none in " + logs)
    return 0 if page["update"][-1:] in (["success 0"], ["failure 16"]) else 1


if __name__ == "__main__":
    sys.exit(main())
