#!/usr/bin/env python3
"""The setup program and the MSI packages, made from the test builds' modules and run under Wine.

    package_test.py GROUP BUILD_DIR OTHER_BUILD_DIR VERSION

BUILD_DIR is the x86_64 test build (its Wine environment lends the display), OTHER_BUILD_DIR the
i686 one beside it. GROUP is build, setup or msi: each group's class says what it does.
"""

import os
import re
import shutil
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from testhost import TestHost, runs_32bit, wait_for, windows_path  # noqa: E402

WINE32, WINE64 = "/usr/lib/wine/wine", "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
CLSID = "{D3441990-2A84-4A2F-9D12-0B7F605DE4E9}"
CLASS_KEY = "Software\\Classes\\CLSID\\" + CLSID
HELPER_KEY = ("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
              "Browser Helper Objects\\" + CLSID)
BUTTON_KEY = ("HKLM\\Software\\Microsoft\\Internet Explorer\\Extensions\\"
              "{1AC31710-6759-484f-A129-A70C55485DA1}")
ENTRY_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KVShake"
STORE_KEY = "HKCU\\Software\\AppDataLow"
ACCOUNT = {"kvshocktoken": "t-1", "kvshockuin": "10001", "kvshockuser": "u@example.com",
           "kvshocknickname": "U", "kvshockdebug": "0"}
SHORTCUT = "摇一摇传图.lnk"
# Where the module's registration writes, in the 64-bit view; the 32-bit view's has Wow6432Node.
REGISTRATION_KEYS = ["Software\\Classes\\" + key for key in (
    "CLSID\\" + CLSID, "AppID\\{1EEED60E-0AD3-4740-989C-6CA268313F93}", "AppID\\KVShake.DLL",
    "KVShake.ShakeBHO", "KVShake.ShakeBHO.1", "TypeLib\\{EF45DC82-7BBC-4BAF-A1F5-D1AFF6705823}",
    "Interface\\{F743C3A5-5319-4FD4-AB3B-0FBDA9B8BB22}")] + [
    key[len("HKLM\\"):] for key in (HELPER_KEY, BUTTON_KEY)]

# Left out of the before-and-after comparison: what Wine and first HTTPS use change anyway.
IGNORED_KEYS = re.compile(
    r"^\[(Software\\\\Wine|Software\\\\Microsoft\\\\SystemCertificates|"
    r"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\(User )?Shell Folders|"
    r"System\\\\CurrentControlSet\\\\Control\\\\Class\\\\|"
    r"Console|Volatile Environment)|"
    # Windows Installer's own folders of products, empty again after a removal, and keys that
    # are empty in a fresh prefix (never on Windows), which Wine's msiexec removes with the last
    # key it wrote in them.
    r"^\[(Software\\\\Classes\\\\Installer\\\\(Features|Products|UpgradeCodes)|"
    r"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Installer\\\\(UpgradeCodes|"
    r"UserData\\\\S-1-5-18\\\\(Components|Products))|"
    r"Software\\\\Classes\\\\Wow6432Node\\\\(CLSID|Interface))\]$")
IGNORED_FILES = re.compile(r"^users/[^/]+/(Temp|AppData/Local/(Temp|Microsoft/Windows/INetCookies))"
                           r"(/|$)|^windows/Installer$")  # the folder Windows Installer keeps


def run(args, env, timeout=180, **kw):
    return subprocess.run(args, env=env, capture_output=True, timeout=timeout, **kw)


class Context:
    def __init__(self, build, other, version):
        self.build, self.other, self.version = build, other, version
        self.work = os.path.join(build, "package-test")
        self.setups = os.path.join(self.work, "setups")

    def made(self, which, ending):
        """The one installer of a variant whose name ends so: ".exe", "-x86.msi" or "-x64.msi"."""
        folder = os.path.join(self.setups, which)
        (found,) = [f for f in os.listdir(folder) if f.endswith(ending)]
        return os.path.join(folder, found)

    def certificate(self, which="new"):
        return os.path.join(self.setups, which, "test-signing", "KVShake-TEST-ONLY-codesign.crt")

    def packaged_module(self, arch):
        return os.path.join(self.setups, "new", "modules", arch, "KVShake.dll")


def verify_signature(path, certificate):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", path],
                          capture_output=True).returncode == 0


def msi_table(package, table):
    """The rows of a table of a package as msiinfo exports them, after three heading lines; none
    for a table that the package lacks."""
    exported = subprocess.run(["msiinfo", "export", package, table], capture_output=True)
    return exported.stdout.decode("utf-8").splitlines() if exported.returncode == 0 else []


def refusing(module):
    return module.replace(b"DllRegisterServer\0", b"DllRegisterServeX\0")


def older(module):
    data = bytearray(module)
    fixed = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO's signature
    for offset in (8, 16):  # dwFileVersionMS, dwProductVersionMS: major in the high word
        data[fixed + offset + 2:fixed + offset + 4] = b"\0\0"
    return bytes(data)


class Prefix:
    """A fresh 64-bit Wine prefix of one group, with its own wineserver."""

    def __init__(self, ctx, name, arch="win64", locale="C.UTF-8"):
        self.ctx = ctx
        self.path = os.path.join(ctx.work, name)
        self.env = dict(os.environ, WINEPREFIX=os.path.join(self.path, "prefix"), WINEARCH=arch,
                        WINEDEBUG="-all", LC_ALL=locale, LANG=locale,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        if os.path.isdir(self.env["WINEPREFIX"]):  # what a killed run left running ends here
            run([WINESERVER, "-k"], self.env)
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(self.path)
        with open(os.path.join(ctx.build, "testenv", "env.sh"), encoding="utf-8") as f:
            self.env["DISPLAY"] = re.search(r"DISPLAY='([^']*)'", f.read()).group(1)
        self.loader = WINE64 if arch == "win64" else WINE32
        run([self.loader, "wineboot", "-i"], self.env, timeout=300)
        # Keys every Windows has and a fresh prefix lacks: the store key, the user's classes.
        for key in (STORE_KEY, "HKCU\\Software\\Classes"):
            run([self.loader, "reg", "add", key, "/f"], self.env)
        self.settle()
        self.browsers = []

    def settle(self):
        """Waits until every process of the prefix has ended and the registry is saved."""
        run([WINESERVER, "-w"], self.env, timeout=120)

    def close(self):
        for browser in self.browsers:
            browser.exit()
        run([WINESERVER, "-k"], self.env)

    def wine(self, *args, loader=None, timeout=180, locale=None):
        env = self.env if locale is None else dict(self.env, LC_ALL=locale, LANG=locale)
        return run([loader or self.loader, *args], env, timeout=timeout, cwd=self.path)

    def msiexec(self, action, package):
        return self.wine("msiexec", action, windows_path(package), "/qn").returncode

    def reg(self, key, value=None, view=64):
        """The data of a value (None: the default value) of a key, or None."""
        which = ["/ve"] if value is None else ["/v", value]
        out = self.wine("reg", "query", key, *which, "/reg:%d" % view).stdout.decode()
        match = re.search(r"^\s+\S.*?\s+REG_\w+\s+(.*)$", out, re.M)
        return match.group(1).strip() if match else None

    def has_key(self, key, view=64):
        return self.wine("reg", "query", key, "/reg:%d" % view).returncode == 0

    def unix(self, windows_path):
        return self.wine("winepath", "-u", windows_path).stdout.decode().strip()

    def windows_env(self, name):
        return self.wine("cmd", "/c", "echo", "%" + name + "%").stdout.decode().strip()

    def snapshot(self):
        """The registry's keys and values and the files of drive c:, less Wine's bookkeeping."""
        self.settle()
        lines = set()
        for hive in ("system.reg", "user.reg", "userdef.reg"):
            key = None
            with open(os.path.join(self.env["WINEPREFIX"], hive), encoding="utf-8",
                      errors="replace") as f:
                for line in f.read().replace("\\\n  ", "").splitlines():
                    if line.startswith("["):
                        key = line.rsplit("]", 1)[0] + "]"
                        ignored = IGNORED_KEYS.match(key)
                        if not ignored:
                            lines.add((hive, key))
                    elif line and not line.startswith(("#", ";")) and key and not ignored:
                        lines.add((hive, key, line))
        drive = os.path.join(self.env["WINEPREFIX"], "drive_c")
        for folder, folders, files in os.walk(drive):
            for name in folders + files:
                path = os.path.relpath(os.path.join(folder, name), drive)
                if not IGNORED_FILES.match(path):
                    lines.add(("file", path))
        return lines

    def registration(self, view):
        """The keys and values under the module's registration keys in one view of HKLM."""
        roots = [re.sub(r"^Software\\(Classes\\)?", r"\g<0>Wow6432Node\\", key) if view == 32
                 else key for key in REGISTRATION_KEYS]
        # As system.reg writes them, each ending where a key's name ends.
        roots = [root.replace("\\", "\\\\").lower() + "\\\\" for root in roots]
        found = set()
        for hive, key, *value in self.snapshot():
            key = key[1:-1].lower()
            if hive == "system.reg" and any((key + "\\\\").startswith(root) for root in roots):
                found.add((key, *value))
        return found

    def browser(self, name, loader=WINE32, build=None):
        page = os.path.join(self.path, "start.page")
        with open(page, "w", encoding="utf-8") as f:
            f.write("title Start\nurl http://www.example.com/start.html\n")
        browser = TestHost(name, loader, build or self.ctx.other, self.env,
                           os.path.join(self.path, "browser-%s.txt" % name))
        self.browsers.append(browser)
        browser.command("page {0} {1} open {0}".format(name, windows_path(page)),
                        r"opened %s process \d+ tab-number \d+ helpers 1" % name)
        return browser


def loaded_module(browser):
    loaded = browser.command("loaded", r"loaded (.*) version (\S+)")
    return loaded.group(1), loaded.group(2)


class Fixture(unittest.TestCase):
    ctx = None
    maxDiff = None

    def fresh_prefix(self, name, **kw):
        prefix = Prefix(self.ctx, name, **kw)
        self.addCleanup(prefix.close)
        return prefix, prefix.snapshot()

    def assertLoadsOnXp(self, path):
        checked = subprocess.run([os.path.join(ROOT, "tests", "check_module.sh"), "--program", path,
                                  "i686", os.path.join(ROOT, "tests", "package",
                                                       "imports-setup-i686.txt")],
                                 capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stderr)

    def assertUnchanged(self, prefix, before, what):
        after = prefix.snapshot()
        self.assertEqual((sorted(map(str, after - before)), sorted(map(str, before - after))),
                         ([], []), "added and gone: " + what)

    def assertRestoredAfterRestart(self, prefix, before):
        prefix.wine("wineboot", "-r")  # a restart: what was in use is deleted now
        self.assertUnchanged(prefix, before, "after the uninstall")

    def assertShortcut(self, prefix, menus, folder, rundll32):
        """The Start-menu entry, in the Start menu of one of the folders menus name: rundll32 (of
        the folder rundll32) with exactly the arguments that run the ShowPanel of the 32-bit
        module in folder (Wine ends each string of a link with a null). Returns the link."""
        links = [os.path.join(prefix.unix(prefix.windows_env(menu) + "\\Microsoft\\Windows\\"
                                          "Start Menu\\Programs"), SHORTCUT) for menu in menus]
        (found,) = [link for link in links if os.path.exists(link)]
        with open(found, "rb") as f:
            link = f.read()
        self.assertIn(("\\%s\\rundll32.exe" % rundll32).encode(), link.lower())
        arguments = '"%s\\KVShake.dll",ShowPanel' % folder
        self.assertIn(arguments.encode("utf-16-le") + b"\0\0", link, "no " + arguments)
        return link


class BuildTest(Fixture):
    @classmethod
    def setUpClass(cls):
        """The installers of this version and an older one, of a module that refuses
        DllRegisterServer, and the test build whose elevation check sees no administrator."""
        ctx = cls.ctx
        shutil.rmtree(ctx.setups, ignore_errors=True)
        os.makedirs(ctx.work, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith("KVSHAKE_SIGN_")}
        modules = {"i686": os.path.join(ctx.other, "KVShake.dll"),
                   "x86_64": os.path.join(ctx.build, "KVShake.dll")}
        for which, change, account in (("new", None, ""), ("old", older, ""),
                                       ("refusing", refusing, ""), ("user", None, "User")):
            pair = list(modules.values())
            if change:
                pair = [os.path.join(ctx.work, "%s-%s.dll" % (which, arch)) for arch in modules]
                for module, copy in zip(modules.values(), pair):
                    with open(module, "rb") as f, open(copy, "wb") as out:
                        out.write(change(f.read()))
            made = run([os.path.join(ROOT, "installer", "package.sh"),
                        os.path.join(ctx.setups, which), *pair],
                       dict(env, KVSHAKE_TEST_ACCOUNT_TYPE=account))
            if made.returncode != 0:
                raise AssertionError(made.stderr.decode())

    def test_installers_are_named_signed_load_on_xp_and_register_from_tables(self):
        ctx = self.ctx
        names = {".exe": "KVShakeSetup-%s.exe", "-x86.msi": "KVShake-%s-x86.msi",
                 "-x64.msi": "KVShake-%s-x64.msi"}
        made = {ending: ctx.made("new", ending) for ending in names}
        for ending, name in names.items():
            self.assertEqual(os.path.basename(made[ending]), name % ctx.version)
        signed = list(made.values()) + [ctx.packaged_module(arch) for arch in ("i686", "x86_64")]
        for path in signed:
            self.assertTrue(verify_signature(path, ctx.certificate()), path)
        self.assertLoadsOnXp(made[".exe"])

        for arch, other in (("x86", "x64"), ("x64", "x86")):
            package = ctx.made("new", "-%s.msi" % arch)
            # wixl writes an empty CustomAction table: its rows count, not its presence.
            for table in ("CustomAction", "SelfReg"):
                self.assertEqual(msi_table(package, table)[3:], [], "%s rows in %s" % (table, arch))
            self.assertIn("KVShake-%s-%s.msi" % (ctx.version, other),
                          "\n".join(msi_table(package, "LaunchCondition")))
            properties = dict(row.split("\t", 1) for row in msi_table(package, "Property")[3:])
            self.assertEqual(properties["MSIRESTARTMANAGERCONTROL"], "DisableShutdown")
            self.assertEqual(properties["UpgradeCode"], "{B4B3604A-E812-4D02-AF80-9064964EEFD2}")


class SetupTest(Fixture):
    """The setup program, per machine: a 32-bit program."""

    def install(self, prefix, which, expected=0):
        self.assertEqual(prefix.wine(self.ctx.made(which, ".exe"), "/S", loader=WINE32).returncode,
                         expected)

    def test_install_update_and_uninstall_while_loaded(self):
        ctx = self.ctx
        prefix, before = self.fresh_prefix("setup")

        self.install(prefix, "old")
        folder = prefix.reg("HKLM\\" + ENTRY_KEY, "InstallLocation", 32)
        self.assertEqual(folder, prefix.windows_env("ProgramFiles(x86)") + "\\KVShake")
        uninstaller = os.path.join(prefix.unix(folder), "Uninstall.exe")
        self.assertTrue(verify_signature(uninstaller, ctx.certificate("old")))
        self.assertLoadsOnXp(uninstaller)
        stub = prefix.reg("HKLM\\Software\\Microsoft\\Active Setup\\Installed Components\\KVShake",
                          "StubPath", 32)
        self.assertIn("for %k in ( CLSID\\" + CLSID + " ", stub)
        self.assertIn("reg delete HKCU\\Software\\Classes\\%k /f", stub)

        holding = prefix.browser("A")
        path, old_version = loaded_module(holding)
        self.assertEqual(path, folder + "\\KVShake.dll")
        self.assertTrue(old_version.startswith("0."), old_version)
        for name, value in ACCOUNT.items():
            prefix.wine("reg", "add", STORE_KEY, "/v", name, "/d", value, "/f")

        # The update, while a browser holds the old module; the entry, the helper and the button
        # in both views, each module registered in its own.
        self.install(prefix, "new")
        self.assertEqual(loaded_module(prefix.browser("B")), (path, ctx.version))
        self.assertEqual(loaded_module(holding)[1], old_version)  # still at work
        for view, module in ((32, folder), (64, folder + "\\x64")):
            self.assertEqual(prefix.reg(HELPER_KEY, "NoExplorer", view), "0x1")
            self.assertEqual(prefix.reg(BUTTON_KEY, "ClsidExtension", view), CLSID)
            self.assertEqual(prefix.reg("HKLM\\" + CLASS_KEY + "\\InprocServer32", None, view),
                             module + "\\KVShake.dll")
        entry = "HKLM\\" + ENTRY_KEY
        self.assertEqual(prefix.reg(entry, "DisplayVersion", 32), ctx.version)
        self.assertEqual(prefix.reg(entry, "DisplayIcon", 32), folder + "\\KVShake.dll,-214")
        link = self.assertShortcut(prefix, ["ProgramData"], folder, "syswow64")
        # The module twice: in the arguments and as the icon.
        self.assertGreaterEqual(link.count((folder + "\\KVShake.dll").encode("utf-16-le")), 2)

        # The uninstall as Windows runs it, while a browser holds the module.
        quiet = prefix.reg(entry, "QuietUninstallString", 32)
        self.assertEqual(quiet, '"%s\\Uninstall.exe" /S' % folder)
        prefix.wine(folder + "\\Uninstall.exe", "/S", loader=WINE32)
        wait_for(lambda: not prefix.has_key(entry, 32), 120, "uninstalled")
        for name in ACCOUNT:
            self.assertIsNone(prefix.reg(STORE_KEY, name), name)
        for browser in prefix.browsers:
            browser.exit()
        self.assertRestoredAfterRestart(prefix, before)

    def test_failures_change_nothing(self):
        ctx = self.ctx
        prefix, before = self.fresh_prefix("setup-refused")
        package = ctx.made("new", "-x64.msi")

        # No administrator (the test build's elevation check): 740, a line in the log.
        self.install(prefix, "user", 740)
        self.assertUnchanged(prefix, before, "without an administrator")
        with open(os.path.join(prefix.unix(prefix.windows_env("TEMP")), "KVShakeSetup.log"),
                  encoding="utf-8", errors="replace") as f:
            self.assertIn("administrator", f.read())
        # Beside the MSI package.
        self.assertEqual(prefix.msiexec("/i", package), 0)
        installed = prefix.snapshot()
        self.install(prefix, "new", 2)
        self.assertUnchanged(prefix, installed, "beside the MSI package")
        self.assertEqual(prefix.msiexec("/x", package), 0)
        self.assertRestoredAfterRestart(prefix, before)

        # A registration that fails part way leaves the previous install working.
        self.install(prefix, "new")
        working = prefix.snapshot()
        self.install(prefix, "refusing", 2)
        self.assertUnchanged(prefix, working, "by a failed update")
        folder = prefix.reg("HKLM\\" + ENTRY_KEY, "InstallLocation", 32)
        self.assertEqual(loaded_module(prefix.browser("A")),
                         (folder + "\\KVShake.dll", ctx.version))


def reg_text(text):
    """A string as system.reg writes it."""
    return "".join(c if ord(c) < 0x80 else "\\x%04x" % ord(c) for c in text)


class MsiTest(Fixture):
    """The packages through msiexec in fresh prefixes, the x86 one where 32-bit programs run."""

    def install_check_and_remove(self, prefix, before, arch, modules):
        """modules: (view, arch, folder, loader, build) of each, the 32-bit one first."""
        package = self.ctx.made("new", "-%s.msi" % arch)
        self.assertEqual(prefix.msiexec("/i", package), 0)
        snapshot = prefix.snapshot()  # one product to uninstall, of this version
        uninstall = r"[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        products = [entry[:2] for entry in snapshot if entry[1].startswith(uninstall)
                    and entry[2:] == ('"DisplayName"="Kovin Shake BHO"',)]
        self.assertEqual(len(products), 1, products)
        values = {entry[2:] for entry in snapshot if entry[:2] == products[0]}
        self.assertIn(('"DisplayVersion"="%s"' % self.ctx.version,), values)

        installed = {module[0]: prefix.registration(module[0]) for module in modules}
        for registration in installed.values():
            self.assertIn('"ButtonText"="%s"' % reg_text("点亮摇一摇"),
                          {entry[-1] for entry in registration})
        # The type library's key is one for both views.
        self.assertIn('@="%s"' % reg_text("KVShake 1.0 类型库"),
                      {entry[-1] for entry in installed[modules[-1][0]]})
        # Windows puts a per-machine package's shortcut in the common Start menu, Wine's msiexec
        # in the user's.
        self.assertShortcut(prefix, ["ProgramData", "APPDATA"], modules[0][2],
                            "syswow64" if len(modules) == 2 else "system32")
        view, _, folder, loader, build = modules[-1]
        browser = prefix.browser("A", loader, build)
        self.assertEqual(loaded_module(browser), (folder + "\\KVShake.dll", self.ctx.version))
        browser.exit()

        self.assertEqual(prefix.msiexec("/x", package), 0)
        self.assertRestoredAfterRestart(prefix, before)

        # What each module's own DllRegisterServer writes from the same file and folder equals
        # what the package wrote: the 32-bit one first, as the type library's shared HELPDIR is
        # the last one's; only the 64-bit one where no 32-bit program runs, less the 32-bit
        # module's file in the type library's shared key.
        registered = [module for module in modules if module[1] == "x86_64" or runs_32bit()]
        for view, arch, folder, loader, build in registered:
            os.makedirs(prefix.unix(folder))
            shutil.copy(self.ctx.packaged_module(arch), prefix.unix(folder + "\\KVShake.dll"))
            # A Chinese system, whose ANSI code page (936) oleaut32 reads the library's help
            # string in; prefixes run in C.UTF-8, as Wine names the Chinese shortcut's file
            # through the Unix locale.
            done = prefix.wine("regsvr32", "/s", folder + "\\KVShake.dll", loader=loader,
                               locale="zh_CN.UTF-8")
            self.assertEqual(done.returncode, 0)
        if len(registered) < len(modules):
            installed[64] = {entry for entry in installed[64] if "\\\\0\\\\win32" not in entry[0]}
        for view, *_ in registered:
            self.assertEqual(sorted(installed[view] ^ prefix.registration(view)), [],
                             "view %d" % view)

    def test_x64_package_installs_upgrades_and_removes(self):
        ctx = self.ctx
        prefix, before = self.fresh_prefix("msi-x64")
        modules = [(32, "i686", prefix.windows_env("ProgramFiles(x86)") + "\\KVShake", WINE32,
                    ctx.other),
                   (64, "x86_64", prefix.windows_env("ProgramW6432") + "\\KVShake", WINE64,
                    ctx.build)]

        # Refused, with nothing changed: the x86 package on 64-bit Windows.
        self.assertNotEqual(prefix.msiexec("/i", ctx.made("new", "-x86.msi")), 0)
        self.assertUnchanged(prefix, before, "by a refusal")
        # A major upgrade from the older version, in place.
        self.assertEqual(prefix.msiexec("/i", ctx.made("old", "-x64.msi")), 0)
        self.install_check_and_remove(prefix, before, "x64", modules)

        # Refused beside the setup program's install, with nothing changed.
        prefix.wine("reg", "add", "HKLM\\" + ENTRY_KEY, "/v", "UninstallString", "/d", "x",
                    "/reg:32", "/f")
        with_setup = prefix.snapshot()
        self.assertNotEqual(prefix.msiexec("/i", ctx.made("new", "-x64.msi")), 0)
        self.assertUnchanged(prefix, with_setup, "beside the setup program")

    def test_x86_package_on_32bit_windows(self):
        if not runs_32bit():
            self.skipTest("a 32-bit prefix needs 32-bit programs to run")
        prefix, before = self.fresh_prefix("msi-x86", arch="win32")
        # A 32-bit Windows has one registry view, without Wow6432Node.
        modules = [(64, "i686", prefix.windows_env("ProgramFiles") + "\\KVShake", WINE32,
                    self.ctx.other)]
        self.install_check_and_remove(prefix, before, "x86", modules)


def main():
    group, build, other, version = sys.argv[1:5]
    if group == "setup" and not runs_32bit():
        print("skipped: the setup program's install group runs a 32-bit program, and 32-bit "
              "programs cannot run on this machine; the build group still makes and checks it")
        sys.exit(77)  # the tests' SKIP_RETURN_CODE
    Fixture.ctx = Context(os.path.abspath(build), os.path.abspath(other), version)
    case = {"build": BuildTest, "setup": SetupTest, "msi": MsiTest}[group]
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(case)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
