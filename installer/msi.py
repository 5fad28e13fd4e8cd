#!/usr/bin/env python3
"""Builds an unsigned MSI package of KVShake with wixl and msibuild (Debian's msitools):

    msi.py OUT_DIR x86 I686_MODULE
    msi.py OUT_DIR x64 I686_MODULE X86_64_MODULE

The x86 package carries the 32-bit module, for 32-bit Windows; the x64 one both modules, each in
its own Program Files folder and registry view. The registration is rows of the package's own
Registry table, made from the registry scripts that the module runs (src/resources/*.rgs) and its
type library's source (KVShake.idl), so that Windows Installer writes, repairs and removes it
without running any code of ours. Prints the package's path.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RESOURCES = os.path.join(os.path.dirname(HERE), "src", "resources")
CODE_PAGE = "gbk"  # the scripts' and the IDL's code page (936), also the package's
APPID = "{1EEED60E-0AD3-4740-989C-6CA268313F93}"  # %APPID% of the scripts
# The dual interfaces' marshalling through their type library (oleaut32's proxy).
TYPELIB_MARSHALER = "{00020424-0000-0000-C000-000000000046}"
SHORTCUT = "摇一摇传图.lnk"  # the Start-menu entry, the setup program's name too
HKLM = 2


class Row:
    """One row of the Registry table: HKLM, a key, a value name (None: the default value, "*":
    the key alone, made and removed with the component) and its data, formatted text."""

    def __init__(self, key, name, value):
        self.key, self.name, self.value = key, name, value


def tokens(script):
    """The words of a registry script: quoted text (with '' for a quote) or runs of non-space."""
    for match in re.finditer(r"'((?:[^']|'')*)'|(\S+)", script):
        quoted, word = match.groups()
        yield ("text", quoted.replace("''", "'")) if quoted is not None else ("word", word)


def script_rows(script, module):
    """The rows that running the script writes for the machine, its %MODULE% the file's
    formatted path."""
    replacements = {"MODULE": module, "APPID": APPID}
    words = list(tokens(script))
    rows, at = [], 0

    def data(kind, text):
        text = re.sub(r"%(\w+)%", lambda m: replacements[m.group(1)], text)
        if kind == "d":
            return "#%d" % int(text, 0)
        if kind != "s":
            raise ValueError("registry data of type %s is not supported" % kind)
        return text

    def body(path):  # the words between the braces of the key at path
        nonlocal at
        while words[at] != ("word", "}"):
            if words[at] == ("word", "val"):
                name, kind, text = words[at + 1][1], words[at + 3][1], words[at + 4][1]
                rows.append(Row(path, name, data(kind, text)))
                at += 5
            else:
                key(path)
        at += 1

    def key(parent):
        nonlocal at
        if words[at][1] in ("NoRemove", "ForceRemove"):
            at += 1
        path = words[at][1] if parent is None else parent + "\\" + words[at][1]
        at += 1
        has_value = at < len(words) and words[at] == ("word", "=")
        if has_value:
            rows.append(Row(path, None, data(words[at + 1][1], words[at + 2][1])))
            at += 3
        if at < len(words) and words[at] == ("word", "{"):
            at += 1
            body(path)
        elif not has_value:
            rows.append(Row(path, "*", None))

    roots = {"HKCR": "Software\\Classes", "HKLM": None}
    while at < len(words):
        root = roots[words[at][1]]
        at += 2  # the root and its brace
        while words[at] != ("word", "}"):
            key(root)
        at += 1
    return rows


def library_flags(module_file):
    """The type library's LIBFLAGS as oleaut32 registers them: those of the module's embedded
    library (its MSFT header), with LIBFLAG_FHASDISKIMAGE, as for any library loaded from a
    file."""
    with open(module_file, "rb") as f:
        data = f.read()
    header = data.find(b"MSFT\x02\x00\x01\x00")
    return int.from_bytes(data[header + 28:header + 30], "little") | 0x8


def typelib_rows(idl, module, folder, win, flags):
    """What RegisterTypeLib writes for the library and its dual interface. The library's key is
    one for both registry views of a 64-bit Windows: its first four rows are the shared values,
    the fifth the module's own file for its width."""
    library = re.search(r"uuid\(([-\w]+)\),\s*version\((\d+)\.(\d+)\),\s*helpstring\(\"([^\"]*)\""
                        r"\)\s*\]\s*library", idl)
    interface = re.search(r"uuid\(([-\w]+)\),\s*dual,.*?\]\s*interface\s+(\w+)", idl, re.S)
    libid = "{%s}" % library.group(1).upper()
    version = "%s.%s" % (int(library.group(2)), int(library.group(3)))
    lib = "Software\\Classes\\TypeLib\\%s\\%s" % (libid, version)
    dual = "Software\\Classes\\Interface\\{%s}" % interface.group(1).upper()
    return [Row(lib, None, library.group(4)), Row(lib + "\\FLAGS", None, str(flags)),
            Row(lib + "\\HELPDIR", None, folder), Row(lib + "\\0\\" + win, None, module),
            Row(dual, None, interface.group(2)),
            Row(dual + "\\ProxyStubClsid", None, TYPELIB_MARSHALER),
            Row(dual + "\\ProxyStubClsid32", None, TYPELIB_MARSHALER),
            Row(dual + "\\TypeLib", None, libid), Row(dual + "\\TypeLib", "Version", version)]


def module_rows(module_file, component, folder_id, win, shared=True):
    """The rows of one module's component; without shared, less the type library's shared values,
    which the other module's component writes."""

    def read(name):
        with open(os.path.join(RESOURCES, name), encoding=CODE_PAGE) as f:
            return f.read()

    module = "[#%s]" % component  # the component's file has its name
    rows = []
    for script in ("101.rgs", "102.rgs"):
        rows += script_rows(read(script), module)
    library = typelib_rows(read("KVShake.idl"), module, "[%s]" % folder_id, win,
                           library_flags(module_file))
    rows += library if shared else library[3:]
    return [(component, row) for row in rows]


def module_version(path):
    """The four fields of the module's VS_FIXEDFILEINFO file version."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(b"\xbd\x04\xef\xfe")
    ms, ls = (int.from_bytes(data[at + o:at + o + 4], "little") for o in (8, 12))
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def insert_rows(rows):
    """msibuild's queries for the Registry rows: wixl writes neither keys without values nor
    text outside ASCII, so every row goes in this way, in the package's code page. A column
    left out is null (the query language has no NULL)."""
    for number, (component, row) in enumerate(rows, 1):
        columns = {"Registry": "kvshake%d" % number, "Root": HKLM, "Key": row.key,
                   "Name": row.name, "Value": row.value, "Component_": component}
        given = {name: value for name, value in columns.items() if value is not None}
        yield ("INSERT INTO `Registry` (%s) VALUES (%s)"
               % (", ".join("`%s`" % name for name in given),
                  ", ".join(str(value) if isinstance(value, int) else
                            "'%s'" % value.replace("'", "''") for value in given.values())))


def table(package, name):
    return subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True,
                          text=True).stdout


def main():
    out, arch, modules = sys.argv[1], sys.argv[2], sys.argv[3:]
    version = module_version(modules[0])
    package = os.path.join(os.path.abspath(out), "KVShake-%s-%s.msi" % (version, arch))
    rows = module_rows(modules[0], "Module32", "FOLDER32", "win32", shared=arch == "x86")
    if arch == "x64":
        rows += module_rows(modules[1], "Module64", "FOLDER64", "win64")
    with tempfile.TemporaryDirectory() as work:
        # wixl takes the files it packs by paths relative to the folder it runs in.
        shutil.copy(os.path.join(HERE, "KVShake.wxs"), work)
        shutil.copy(os.path.join(RESOURCES, "shake.ico"), work)
        for module, folder in zip(modules, ("i686", "x86_64")):
            os.makedirs(os.path.join(work, folder))
            shutil.copy(module, os.path.join(work, folder, "KVShake.dll"))
        other = "KVShake-%s-%s.msi" % (version, "x64" if arch == "x86" else "x86")
        subprocess.run(["wixl", "-a", arch, "-D", "Arch=" + arch, "-D", "Version=" + version,
                        "-D", "OtherPackage=" + other, "-o", package, "KVShake.wxs"],
                       check=True, cwd=work)
        codepage = os.path.join(work, "_ForceCodepage.idt")
        with open(codepage, "w", newline="\r\n") as f:
            f.write("\n\n936\t_ForceCodepage\n")
        queries = ["UPDATE `Shortcut` SET `Name` = 'PANEL.LNK|%s' WHERE `Shortcut` = 'Panel'"
                   % SHORTCUT]
        queries += list(insert_rows(rows))
        # wixl schedules the registry's actions only for rows of its own.
        queries += ["INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('%s', %d)"
                    % action for action in (("RemoveRegistryValues", 2600),
                                            ("WriteRegistryValues", 5000))]
        subprocess.run(["msibuild", package, "-i", codepage], check=True)
        for query in queries:
            subprocess.run(["msibuild", package, "-q", query], check=True)
    # msibuild drops what the code page cannot hold without a word: check that it landed.
    registry, shortcuts = table(package, "Registry"), table(package, "Shortcut")
    wanted = [row.value for _, row in rows if row.value and not row.value.isascii()]
    missing = [text for text in wanted + [SHORTCUT] if text not in registry + shortcuts]
    written = sum(line.startswith("kvshake") for line in registry.splitlines())
    if missing or written != len(rows):
        sys.exit("%s lost rows or text: %s" % (package, missing))
    print(package)


if __name__ == "__main__":
    main()
