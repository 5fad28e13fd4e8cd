#!/usr/bin/env python3
"""The demo: a user installs KVShake, logs in from the panel, opens tabs and shakes the phone.

    demo.py BUILD_DIR ARCH [--setup SETUP.exe | --setup PACKAGE-x64.msi] [PAGE.html]

BUILD_DIR is a test-configuration build (KVShake.dll, kvshake_testhost.exe and
kvshake_control_double.dll, talking to the stand-in on the port it was configured with); ARCH is
its architecture. With --setup, the user installs the module per machine with that setup program
or, where no 32-bit program runs, the x64 MSI package through wine64's msiexec (made from the
modules of this configuration), and uninstalls it at the end; without it, with regsvr32. Tab B
shows PAGE.html (default demo/pages/gallery.html). Everything runs in a Wine environment of its
own under build/demo. Prints the story; exits 0 only when the service received exactly the upload
that the page calls for, and the rest of the story happened too.
"""

import fcntl
import json
import os
import re
import shlex
import subprocess
import sys
import time
import urllib.parse
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "demo"), os.path.join(ROOT, "tests", "support")]
import page_from_html  # noqa: E402
from testhost import TestHost, runs_32bit, wait_for, windows_path  # noqa: E402  (the browsers)

HOME = os.path.join(ROOT, "build", "demo")  # the demo's Wine prefix and its runs
TESTENV = os.path.join(ROOT, "tests", "support", "testenv.sh")
LOADERS = {"i686": "/usr/lib/wine/wine", "x86_64": "/usr/lib/wine/wine64"}
# The module's ANSI code page is 936 under this locale, so a Chinese title survives.
BROWSER_LOCALE = "zh_CN.UTF-8"

ACCOUNT = {  # as the service's bind page names it, after the QR code is scanned
    "token": "demo-token-5f2c9a",
    "uin": "10001",
    "user": "demo@example.com",
    "nickname": "Demo",
}
# The setup program's entry, in the 32-bit view of a 64-bit Windows.
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVShake"
CLASS_SERVER = ("HKLM\\Software\\Classes\\CLSID\\{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}"
                "\\InprocServer32")
# The setup program names its Start-menu entry, a file, in Chinese: Wine names it through the
# Unix locale.
SETUP_LOCALE = "C.UTF-8"
USER_KEY = "HKCU\\Software\\AppDataLow"  # where the module keeps the account and its settings
WEB_BROWSER_SERVER = ("HKLM\\Software\\Classes\\CLSID\\{8856F961-340A-11D0-A96B-00C04FD705A2}"
                      "\\InprocServer32")
LOGIN_URL, STATUS_URL = "res://KVShake/201", "res://KVShake/204"
PANEL_SIZES = {LOGIN_URL: "505 x 347", STATUS_URL: "253 x 100"}
# Where the user's cursor is when the toolbar button is pressed. The browsers show no toolbar, so
# the panel opens at the cursor.
BUTTON_POINT = (900, 60)
HKLM_HELPERS = ("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                "Browser Helper Objects")
SERVICE_SID = "demo-sid-2718"  # the activation's answer gives the session id
NOTHING = '{"ret":"0","shake_status":"0"}'
SHAKE = '{"ret":"0","shake_status":"1"}'
UPLOAD_PATH = "/cgi-bin/pqsupport-bin/shakeupload?f=json&browser=3&uin=%s&sid=%s"
TIP_HIDES_AFTER_MS = (2900, 6000)  # the tip shows for about three seconds

START = time.monotonic()


class DemoFailed(Exception):
    pass


# What ends the story: its own failures, a wait that ran out and a browser that failed.
FAILURES = (DemoFailed, TimeoutError, ChildProcessError)


def rel(path):
    """The path from here when it lies below, else the whole path."""
    relative = os.path.relpath(path, os.getcwd())
    return os.path.abspath(path) if relative.startswith("..") else relative


class Story:
    def __init__(self, path):
        self.file = open(path, "w", encoding="utf-8")

    def say(self, text="", stamp=True, at=None):
        prefix = "[%5.1fs] " % ((at or time.monotonic()) - START) if stamp else ""
        lines = text.split("\n")
        out = "\n".join([prefix + lines[0]] + [" " * len(prefix) + line for line in lines[1:]])
        print(out, flush=True)
        self.file.write(out + "\n")
        self.file.flush()


class StandIn:
    """The control side of tests/service_standin/standin.py."""

    def __init__(self, control_port):
        self.base = "http://127.0.0.1:%d" % control_port

    def call(self, path, data=None):
        body = None if data is None else json.dumps(data).encode()
        with urllib.request.urlopen(self.base + path, body, timeout=10) as answer:
            return answer.read()

    def answer(self, match, body, **extra):
        self.call("/default", dict(match=match, body=body, **extra))

    def requests(self):
        raw, found = self.call("/requests"), []
        while raw:
            head, _, raw = raw.partition(b"\r\n")
            length = int(head.split()[1])
            request, raw = raw[:length], raw[length:]
            headers, _, body = request.partition(b"\r\n\r\n")
            line = headers.split(b"\r\n", 1)[0].decode("utf-8", "replace")
            found.append((line, body))
        return found

    def requests_to(self, part):
        return [r for r in self.requests() if part in r[0]]


class Demo:
    def __init__(self, build, arch, page_path, setup=None):
        self.build, self.arch, self.page_path = os.path.abspath(build), arch, page_path
        self.setup = setup and os.path.abspath(setup)
        self.package = bool(setup) and setup.endswith(".msi")  # else a setup program
        self.module = "KVShake.dll"  # as rundll32 is given it: installed, the installed file
        self.loader = LOADERS[arch]
        self.port = self.configured_port()
        self.problems, self.browsers = [], []
        self.panel_process = None  # rundll32 showing the panel, in the second act
        self.tip_style = None  # the tip's inline style, as the module gave it
        self.tab_numbers = {}  # (process, tab number) -> (tab, browser)

    def configured_port(self):
        with open(os.path.join(self.build, "CMakeCache.txt"), encoding="utf-8") as cache:
            for line in cache:
                if line.startswith("KVSHAKE_SERVICE_PORT:"):
                    return int(line.split("=", 1)[1])
        raise DemoFailed("%s has no KVSHAKE_SERVICE_PORT" % self.build)

    def problem(self, text):
        self.problems.append(text)
        self.story.say("PROBLEM: " + text)

    # --- the environment -------------------------------------------------------------------

    def start_environment(self):
        first = not os.path.exists(os.path.join(HOME, "wineprefix", "system.reg"))
        if first:
            print("making the demo's Wine prefix in %s (first run only) ..." % rel(HOME), flush=True)
        started = subprocess.run([TESTENV, "start", os.path.join(HOME, "env"), ROOT,
                                  str(self.port)], capture_output=True, text=True)
        if started.returncode != 0:
            raise DemoFailed("the Wine environment did not start: " + started.stderr.strip())
        self.env = dict(os.environ)
        with open(os.path.join(HOME, "env", "env.sh"), encoding="utf-8") as f:
            for line in f:
                for word in shlex.split(line)[1:]:
                    name, _, value = word.partition("=")
                    self.env[name] = value
        self.run_dir = self.env["KVSHAKE_RUN_DIR"]
        self.browser_env = dict(self.env, LC_ALL=BROWSER_LOCALE, LANG=BROWSER_LOCALE)
        self.standin = StandIn(int(self.env["KVSHAKE_STANDIN_CONTROL_PORT"]))
        self.story = Story(os.path.join(self.run_dir, "story.txt"))

    def stop_environment(self):
        for browser in self.browsers:
            browser.exit()
        if self.panel_process and self.panel_process.poll() is None:
            self.panel_process.kill()
            self.panel_process.wait(5)
        subprocess.run([TESTENV, "stop", os.path.join(HOME, "env")], capture_output=True)

    def wine(self, *args):
        return subprocess.run([self.loader, *args], cwd=self.build, env=self.env,
                              capture_output=True, timeout=60)

    def log_lines(self):
        try:
            with open(os.path.join(self.run_dir, "d", "shakelog.txt"), "rb") as f:
                return f.read().decode(page_from_html.CODE_PAGE, "replace").splitlines()
        except FileNotFoundError:
            return []

    # --- the story -------------------------------------------------------------------------

    def run(self):
        say = self.story.say
        module = os.path.join(self.build, "KVShake.dll")
        shipped = ("the shipped 32-bit module, run by wine32" if self.arch == "i686" else
                   "run by wine64" if runs_32bit() else
                   "run by wine64: 32-bit programs cannot run on this machine, so the shipped "
                   "i686 module is not the one shown")
        say("KVShake demo: shaking the phone sends the pictures of the tab in front to the "
            "service", stamp=False)
        say("  module   %s (%s, %s)" % (rel(module), self.arch, shipped), stamp=False)
        if self.setup:
            say("  setup    %s (signed with a throwaway test certificate)" % rel(self.setup),
                stamp=False)
        say("  service  the stand-in tests/service_standin/standin.py at https://localhost:%d"
            % self.port, stamp=False)
        say("  Wine     prefix %s, display %s, drive d: at %s"
            % (rel(os.path.join(HOME, "wineprefix")), self.env["DISPLAY"],
               rel(os.path.join(self.run_dir, "d"))), stamp=False)
        say("  page     tab B shows %s" % rel(self.page_path), stamp=False)
        pages = self.prepare_pages()
        lost = page_from_html.outside_code_page(self.page.title)
        if lost:
            say("  note     code page 936 lacks %s of the title: the demo expects '?' for each, "
                "where the system may send a best fit" % lost, stamp=False)
        say(stamp=False)

        self.script_service()
        self.install()
        self.register_control()
        self.start_without_account()

        one = self.open_browser("1")
        self.open_tab(one, "A", *pages["start"])
        self.log_in(one)
        self.wait_for_check_loop(one)
        two = self.open_browser("2")
        self.open_tab(two, "B", *pages["shown"])
        self.open_tab(one, "C", *pages["start"])
        say("  (the newest tab, C, is taken to be the one in front)")
        front = two.command("state B 3 3")
        say("the user brings tab B to the front", at=front.at)

        self.shake(two)
        self.close_tabs(one, two)
        self.quote_log()
        self.bind_without_toolbar(pages)
        self.take_pictures()
        if self.setup:
            self.uninstall()
        return not self.problems

    def prepare_pages(self):
        folder = os.path.join(self.run_dir, "pages")
        os.makedirs(folder)
        self.page = page_from_html.read_page(self.page_path)
        self.expected_body = page_from_html.upload_body(self.page)
        start = page_from_html.read_page(os.path.join(ROOT, "demo", "pages", "start.html"))
        files = {}
        for name, page in (("shown", self.page), ("start", start)):
            files[name] = (os.path.join(folder, name + ".page"), page.title)
            with open(files[name][0], "w", encoding="utf-8") as f:
                f.write("\n".join(page_from_html.page_file(page)) + "\n")
        with open(os.path.join(folder, "expected-upload-body"), "wb") as f:
            f.write(self.expected_body)
        return files

    def script_service(self):
        self.standin.call("/reset", [])
        self.standin.answer("action=active", json.dumps(
            {"ret": "0", "message": "OK", "sid": SERVICE_SID}, separators=(",", ":")))
        self.standin.answer("action=inactive", '{"ret":"0","message":"OK"}')
        # A real service holds a check for a while; the stand-in answers "nothing" after 300 ms.
        self.standin.answer("shakecheck", NOTHING, delay_ms=300)
        self.standin.answer("shakeupload", '{"ret":"0"}')

    def install(self):
        if not self.setup:
            self.install_with_regsvr32()
            self.copy_classes_for_wine()
            return
        if self.package:
            self.install_with_package()
        else:
            self.install_with_setup()
        # As rundll32 is given it: the installed module of the demo's width.
        self.module = self.class_server()
        if not self.module:
            raise DemoFailed("the install registered no module of the demo's width")

    def class_server(self):
        view = "/reg:32" if self.arch == "i686" else "/reg:64"
        found = self.wine("reg", "query", CLASS_SERVER, "/ve", view).stdout
        match = re.search(r"REG_SZ\s+(.*)", found.decode("utf-8", "replace"))
        return match and match.group(1).strip()

    def msiexec(self, action):
        return subprocess.run([LOADERS["x86_64"], "msiexec", action, windows_path(self.setup),
                               "/qn"], cwd=self.build, capture_output=True, timeout=180,
                              env=dict(self.env, LC_ALL=SETUP_LOCALE, LANG=SETUP_LOCALE))

    def install_with_package(self):
        installed = self.msiexec("/i")
        self.story.say("the administrator installs KVShake for the machine with its signed MSI "
                       "package: wine64 msiexec /i %s /qn\n  exit code %d"
                       % (os.path.basename(self.setup), installed.returncode))
        if installed.returncode != 0:
            raise DemoFailed("msiexec failed with exit code %d" % installed.returncode)

    def setup_wine(self, *args):
        return subprocess.run([LOADERS["i686"], *args], cwd=self.build, capture_output=True,
                              timeout=120, env=dict(self.env, LC_ALL=SETUP_LOCALE,
                                                    LANG=SETUP_LOCALE))

    def install_location(self):
        found = self.wine("reg", "query", UNINSTALL_KEY, "/v", "InstallLocation",
                          "/reg:32").stdout
        match = re.search(r"InstallLocation\s+REG_SZ\s+(.*)", found.decode("utf-8", "replace"))
        return match and match.group(1).strip()

    def install_with_setup(self):
        installed = self.setup_wine(windows_path(self.setup), "/S")
        folder = self.install_location()
        self.story.say("the user installs KVShake with its signed setup program, silently and "
                       "for the machine: wine %s /S\n  exit code %d, installed in %s"
                       % (os.path.basename(self.setup), installed.returncode, folder))
        if installed.returncode != 0 or not folder:
            raise DemoFailed("the setup program failed with exit code %d" % installed.returncode)

    def uninstall(self):
        if self.package:
            removed = self.msiexec("/x")
            left = self.class_server()
            self.story.say("the administrator removes KVShake: wine64 msiexec /x %s /qn, exit code "
                           "%d; registration %s" % (os.path.basename(self.setup),
                                                   removed.returncode, "left" if left else "gone"))
            if removed.returncode != 0 or left:
                self.problem("the package's removal left the product behind")
            return
        folder = self.install_location()
        if not folder:
            self.problem("the uninstall entry is gone before the uninstall")
            return
        # "_?=" keeps the uninstaller in place, so that its exit code is the uninstall's.
        removed = self.setup_wine(folder + "\\Uninstall.exe", "/S", "_?=" + folder)
        left = [name for name in ("kvshocktoken", "kvshockuin") if self.stored(name)]
        self.story.say("the user removes KVShake (Programs and Features, silently): "
                       "Uninstall.exe /S, exit code %d; entry %s, account %s"
                       % (removed.returncode, "left" if self.install_location() else "gone",
                          "left" if left else "gone"))
        if removed.returncode != 0 or self.install_location() or left:
            self.problem("the uninstall left the product or the account behind")

    def install_with_regsvr32(self):
        registered = self.wine("regsvr32", "/n", "/i:user", "KVShake.dll")
        output = registered.stdout.decode("utf-8", "replace").strip()
        self.story.say("the user installs the module: wine regsvr32 /n /i:user KVShake.dll\n  "
                       + (output or "(no output)"))
        if registered.returncode != 0:
            raise DemoFailed("regsvr32 failed with exit code %d" % registered.returncode)

    def copy_classes_for_wine(self):
        # Windows finds a class in the user's HKCU\Software\Classes as well as in the machine's;
        # Wine's COM looks only in HKLM\Software\Classes, so the user's class keys of the listed
        # helper objects are copied there, in the view of the module's architecture.
        listed = self.wine("reg", "query", HKLM_HELPERS).stdout.decode("utf-8", "replace")
        for clsid in sorted(set(re.findall(r"\\(\{[0-9A-Fa-f-]{36}\})", listed))):
            key = "Software\\Classes\\CLSID\\" + clsid
            if self.wine("reg", "copy", "HKCU\\" + key, "HKLM\\" + key, "/s", "/f").returncode:
                raise DemoFailed("the user's class %s could not be copied for Wine's COM" % clsid)
            self.story.say("  Wine's COM reads classes only from HKLM\\Software\\Classes: the "
                           "demo copies the user's class %s there" % clsid)

    def register_control(self):
        # As the panel's tests do: Wine's COM reads the class from HKLM only.
        control = windows_path(os.path.join(self.build, "kvshake_control_double.dll"))
        for value in (["/ve", "/d", control], ["/v", "ThreadingModel", "/d", "Apartment"]):
            if self.wine("reg", "add", WEB_BROWSER_SERVER, *value, "/f").returncode:
                raise DemoFailed("the control double could not be registered")
        self.story.say("  the browser's page engine is not available here, so a stand-in control "
                       "(kvshake_control_double.dll, under CLSID_WebBrowser) plays the panel's "
                       "pages and the QR login")

    def clear_account(self):
        self.wine("reg", "delete", USER_KEY, "/f")
        if self.wine("reg", "add", USER_KEY, "/v", "kvshockdebug", "/d", "1", "/f").returncode:
            raise DemoFailed("kvshockdebug could not be set")

    def start_without_account(self):
        self.clear_account()  # no account of an earlier run
        self.story.say("no account is stored yet (%s); kvshockdebug 1 switches the log on"
                       % USER_KEY)

    def stored(self, name):
        found = self.wine("reg", "query", USER_KEY, "/v", name).stdout.decode("utf-8", "replace")
        match = re.search(r"%s\s+REG_SZ\s+(.*)" % name, found)
        return match.group(1).strip() if match else None

    def expect_panel(self, browser, url):
        shown = browser.expect(r"panel (\d+ x \d+) %s$" % re.escape(url), 15)
        if shown.group(1) != PANEL_SIZES[url]:
            self.problem("the panel is %s on %s, not %s" % (shown.group(1), url, PANEL_SIZES[url]))
        return shown

    def log_in(self, browser):
        say = self.story.say
        browser.command("cursor %d %d exec A" % BUTTON_POINT)
        opened = self.expect_panel(browser, LOGIN_URL)
        say("the user presses the toolbar button of tab A: the panel opens, %s, on the login "
            "page %s" % (opened.group(1), LOGIN_URL), at=opened.at)
        logged_in = self.send_login(browser)
        if not logged_in:
            raise DemoFailed("the panel shows no login page")
        say("the user scans the QR code: the service's bind page names the account in its "
            "window's name", at=logged_in.at)
        status = self.expect_panel(browser, STATUS_URL)
        say("the panel shrinks to %s and shows the status page %s"
            % (status.group(1), STATUS_URL), at=status.at)
        stored = {key: self.stored("kvshock" + key) for key in ACCOUNT}
        say("the account is stored: uin %s, user %s, nickname %s"
            % (stored["uin"], stored["user"], stored["nickname"]))
        if stored != ACCOUNT:
            self.problem("the stored account is %s, not %s" % (stored, ACCOUNT))

    def send_login(self, browser):
        """The bind page in the panel's frame, as after a scan of the QR code; None while no
        panel shows the login page."""
        bind_page = "https://localhost:%d/bind" % self.port
        sent = browser.command("login %s %s" % (bind_page, json.dumps(
            ACCOUNT, separators=(",", ":"))), r"login (sent|none)")
        return sent if sent.group(1) == "sent" else None

    def open_browser(self, name):
        browser = TestHost(name, self.loader, self.build, self.browser_env,
                           os.path.join(self.run_dir, "browser-%s.txt" % name))
        self.browsers.append(browser)
        self.story.say("browser %s starts" % name)
        return browser

    def open_tab(self, browser, tab, page_file, title):
        opened = browser.command("page {0} {1} open {0}".format(tab, windows_path(page_file)),
                                 r"opened %s process (\d+) tab-number (-?\d+) helpers (\d+)" % tab)
        helpers = []
        while True:
            helper = browser.take(r"helper %s (\S+)" % tab)
            if not helper:
                break
            helpers.append(helper.group(1))
        self.story.say("browser %s opens tab %s: \"%s\"\n  the browser creates the helper objects "
                       "that HKLM lists through COM: %s" % (browser.name, tab, title,
                                                             ", ".join(helpers) or "none"),
                       at=opened.at)
        if int(opened.group(3)) == 0:
            raise DemoFailed("the browser found no helper object to load: the registration did "
                             "not list the module as a Browser Helper Object")
        self.tab_numbers[(opened.group(1), opened.group(2))] = (tab, browser.name)

    def wait_for_check_loop(self, browser):
        activation = wait_for(lambda: self.standin.requests_to("action=active"), 20,
                              "the module did not ask the service for its activation")
        self.story.say("the module activates with the service:\n  " + activation[0][0])
        wait_for(lambda: len(self.standin.requests_to("shakecheck")) >= 2, 20,
                 "the module sent no check requests to the service")
        checker = browser.command("checker", r"checker (none|process (\d+) tab-number (-?\d+))")
        holder = self.tab_numbers.get((checker.group(2), checker.group(3)))
        self.story.say("the check loop runs: %d check requests so far; %s holds the checker role"
                       % (len(self.standin.requests_to("shakecheck")),
                          "tab %s of browser %s" % holder if holder else checker.group(1)),
                       at=checker.at)

    def shake(self, browser):
        say = self.story.say
        checks_before = len(self.log_lines())
        self.standin.call("/script", [{"match": "shakecheck", "body": SHAKE}])
        say("THE PHONE IS SHAKEN: the service answers the next check with " + SHAKE)

        def upload_handled():
            # The checker logs its next "check start" once the tab in front has handled the upload.
            lines = self.log_lines()[checks_before:]
            received = [i for i, line in enumerate(lines) if "Receive Msg:WM_UP_UPLOAD" in line]
            return (self.standin.requests_to("shakeupload") or
                    (received and any("check start" in line for line in lines[received[0]:])))

        wait_for(upload_handled, 20, "the shake reached no tab")
        uploads = self.standin.requests_to("shakeupload")
        if not uploads:
            say("the tab in front handled the shake, but the service received no upload")
            self.problem("no upload arrived at the service")
        else:
            self.tell_upload(uploads)
        self.watch_tip(browser)

    def tell_upload(self, uploads):
        line, body = uploads[0]
        text = body.decode(page_from_html.CODE_PAGE, "replace")
        title, _, rest = text.partition("&pageurl=")
        pictures = rest.split("&url=")
        title = urllib.parse.unquote_to_bytes(title.replace("title=", "", 1).replace("+", " "))
        shown = ["the service received the upload:", "  " + line,
                 "  title    %s" % title.decode("utf-8", "replace"),
                 "  pageurl  %s" % pictures[0]]
        shown += ["  url %-4d %s" % (n, url) for n, url in enumerate(pictures[1:], 1)]
        self.story.say("\n".join(shown))
        expected_line = "POST " + UPLOAD_PATH % (ACCOUNT["uin"], SERVICE_SID)
        if len(uploads) != 1:
            self.problem("the service received %d uploads instead of one" % len(uploads))
        if not line.startswith(expected_line + " "):
            self.problem("the upload went to\n  %s\ninstead of\n  %s" % (line, expected_line))
        if body != self.expected_body:
            same = next((i for i, (a, b) in enumerate(zip(body, self.expected_body)) if a != b),
                        min(len(body), len(self.expected_body)))
            self.problem("the upload's body differs from the one the page calls for, from byte %d"
                         ":\n  received %r\n  expected %r"
                         % (same, body[same:same + 80], self.expected_body[same:same + 80]))
        else:
            self.story.say("  the body is exactly the one the page calls for (%d bytes)"
                           % len(body))

    def watch_tip(self, browser):
        try:
            shown = browser.expect(r"tip shown B style (.*)", 5)
        except TimeoutError:
            self.problem("tab B showed no tip")
            return
        self.tip_style = shown.group(1)
        self.story.say("tab B shows the tip (element kovinShakeContainer): %s" % self.tip_style,
                       at=shown.at)
        try:
            hidden = browser.expect(r"tip hidden B after (\d+) ms", 10)
        except TimeoutError:
            self.problem("tab B's tip was not hidden again")
            return
        # The browser first sees the tip once the upload's exchange is over; the module's log
        # has the moment it was put in.
        seen_ms, logged_ms = int(hidden.group(1)), self.logged_tip_ms()
        if logged_ms is None:
            self.story.say("tab B hides the tip again, %.2f s after the browser first saw it"
                           % (seen_ms / 1000), at=hidden.at)
            return
        self.story.say("tab B hides the tip again, %.2f s after it was put in (the browser saw "
                       "it for %.2f s)" % (logged_ms / 1000, seen_ms / 1000), at=hidden.at)
        if not TIP_HIDES_AFTER_MS[0] <= logged_ms <= TIP_HIDES_AFTER_MS[1]:
            self.problem("the tip was hidden after %d ms, not about three seconds" % logged_ms)

    def take_pictures(self):
        """Pictures of the panel's pages and of the tips, drawn by Chromium from the module's own
        files while the stand-in still serves the login page's QR page."""
        if not self.tip_style:
            return
        folder = os.path.join(self.run_dir, "pictures")
        drawn = subprocess.run(
            ["/usr/bin/python3", os.path.join(ROOT, "demo", "pictures.py"), folder,
             os.path.join(self.build, "src", "generated", "login.html"), self.tip_style],
            capture_output=True, text=True, timeout=180)
        if drawn.returncode != 0:
            self.problem("the pictures of the panel and the tips were not drawn:\n"
                         + drawn.stderr.strip()[-2000:])
            return
        self.story.say("pictures of the panel's pages and of the tips, drawn by Chromium from "
                       "the module's files:\n" + "\n".join(
                           "  " + rel(line) for line in drawn.stdout.split()))

    def logged_tip_ms(self):
        """From the log's "InsertTip Start" to the next "RemoveTip Start", or None."""
        times = {}
        for line in self.log_lines():
            for event in ("InsertTip Start", "RemoveTip Start"):
                stamp = re.match(r"(\d+):(\d+):(\d+) (\d+)\t\[INFO\]" + event, line)
                if stamp and (event == "InsertTip Start" or "InsertTip Start" in times):
                    h, m, sec, ms = map(int, stamp.groups())
                    times.setdefault(event, ((h * 60 + m) * 60 + sec) * 1000 + ms)
        if len(times) < 2:
            return None
        return (times["RemoveTip Start"] - times["InsertTip Start"]) % (24 * 3600 * 1000)

    def close_tabs(self, one, two):
        for browser, tab in ((one, "C"), (one, "A"), (two, "B")):
            closed = browser.command("quit %s detach %s" % (tab, tab))
            self.story.say("the user closes tab %s" % tab, at=closed.at)
        try:
            inactive = wait_for(lambda: self.standin.requests_to("action=inactive"), 15,
                                "no inactivation")
            self.story.say("the last tab has closed, so the module inactivates with the "
                           "service:\n  " + inactive[0][0])
        except TimeoutError:
            self.problem("the module did not inactivate when the last tab closed")
        for browser in (one, two):
            browser.exit()

    def quote_log(self, wanted=("Explorer Init", "Login Suc", "InitActive Result",
                                "Create New Thread To Check", '"shake_status":"1"', "WM_UP_UPLOAD",
                                "uploadPic", "InsertTip", "RemoveTip", "Current Tab Url",
                                "unActive")):
        quoted = [line for line in self.log_lines() if any(w in line for w in wanted)]
        self.story.say("from the module's log, d:\\shakelog.txt:\n" +
                       "\n".join("  " + line for line in quoted), stamp=False)

    # --- the second act: binding without the toolbar ----------------------------------------

    def bind_without_toolbar(self, pages):
        """Edge's Internet Explorer mode shows no toolbar buttons: the user binds from the
        Start-menu entry, which runs the module's ShowPanel through rundll32."""
        say = self.story.say
        say(stamp=False)
        say("ACT 2: in Edge's Internet Explorer mode there is no toolbar button; the user binds "
            "from the Start menu instead", stamp=False)
        self.clear_account()
        say("the account is gone again (%s cleared, as after an unbind)" % USER_KEY)
        three = self.open_browser("3")
        self.panel_process = subprocess.Popen(
            [self.loader, "rundll32.exe", self.module + ",ShowPanel"], cwd=self.build,
            env=self.browser_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def own_panel():
            shown = three.command("own-panel", r"own-panel (none|\d+ x \d+)")
            return shown if shown.group(1) != "none" else None

        opened = wait_for(own_panel, 30, "rundll32 opened no panel window")
        say("the user opens the Start-menu entry \"摇一摇传图\": wine rundll32.exe %s,ShowPanel\n"
            "  the panel opens as a window of its own with a taskbar button, the login page in "
            "its %s client area" % (self.module, opened.group(1)), at=opened.at)
        activations = len(self.standin.requests_to("action=active"))

        # The window comes before its control has loaded the login page.
        logged_in = wait_for(lambda: self.send_login(three), 15,
                             "the panel of rundll32 showed no login page")
        say("the user scans the QR code in that window: the bind page names the account",
            at=logged_in.at)
        wait_for(lambda: len(self.standin.requests_to("action=active")) > activations, 20,
                 "the panel of rundll32 did not activate")
        shrunk = own_panel()
        stored = {key: self.stored("kvshock" + key) for key in ACCOUNT}
        say("the account is stored (nickname %s), the window shrinks to the status page's %s, "
            "and the module activates with the service:\n  %s"
            % (stored["nickname"], shrunk.group(1) if shrunk else "(gone)",
               self.standin.requests_to("action=active")[-1][0]))
        if stored != ACCOUNT:
            self.problem("the stored account is %s, not %s" % (stored, ACCOUNT))
        checks = len(self.standin.requests_to("shakecheck"))
        self.open_tab(three, "D", *pages["start"])
        wait_for(lambda: len(self.standin.requests_to("shakecheck")) >= checks + 2, 20,
                 "tab D sent no check requests")
        checker = three.command("checker", r"checker (none|process (\d+) tab-number (-?\d+))")
        holder = self.tab_numbers.get((checker.group(2), checker.group(3)))
        say("tab D checks with the service: %s holds the checker role"
            % ("tab %s of browser %s" % holder if holder else checker.group(1)), at=checker.at)
        if not holder or holder[0] != "D":
            self.problem("tab D does not hold the checker role")
        closed = three.command("close-panel")
        try:
            self.panel_process.wait(20)
            say("the user closes the window; rundll32 returns (exit code %d)"
                % self.panel_process.returncode, at=closed.at)
        except subprocess.TimeoutExpired:
            self.problem("rundll32 did not return when its window was closed")
        three.command("quit D detach D")
        three.exit()
        self.quote_log(("Explorer Init", "ShowPanel", "Login Suc", "activate Start", "Active Suc",
                        "New Tab", "Create New Thread To Check"))

    def outcome(self, passed):
        say = self.story.say
        say(stamp=False)
        if passed:
            say("DEMO PASSED: the service received exactly the upload that %s calls for."
                % rel(self.page_path), stamp=False)
        else:
            say("DEMO FAILED:\n" + "\n".join("  - " + p for p in self.problems), stamp=False)
        say("files: story, browser transcripts, log (d/shakelog.txt), stand-in log and the "
            "expected body (pages/) in %s" % rel(self.run_dir), stamp=False)


def main():
    args = sys.argv[1:]
    setup = None
    if "--setup" in args[2:-1]:
        at = args.index("--setup", 2)
        setup = args.pop(at + 1)
        args.pop(at)
    if len(args) not in (2, 3):
        sys.exit(__doc__)
    build, arch = args[0], args[1]
    page = args[2] if len(args) == 3 else os.path.join(ROOT, "demo", "pages", "gallery.html")
    if not os.path.isfile(page):
        sys.exit("demo: no page %s" % page)
    os.makedirs(HOME, exist_ok=True)
    lock = open(os.path.join(HOME, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit("demo: another demo is running in this checkout (%s)" % rel(HOME))
    demo = Demo(build, arch, page, setup)
    try:
        demo.start_environment()
        passed = demo.run()
    except FAILURES as failure:
        if not hasattr(demo, "story"):
            sys.exit("DEMO FAILED: %s" % failure)
        demo.problems.append(str(failure))
        demo.story.say("PROBLEM: %s" % failure)
        demo.quote_log()
        passed = False
    finally:
        demo.stop_environment()
    demo.outcome(passed)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
