#!/usr/bin/env python3
"""Writes a C++ header of stub classes for COM interfaces declared in mingw-w64's headers.

Each stub class derives from one interface and overrides every method of that interface and of
its bases, except IUnknown's, with a body returning E_NOTIMPL. The parameter lists are copied
from the C++ declarations in the headers (the MIDL_INTERFACE blocks), so the stubs match the
headers of the compiler that builds them and a double only writes the methods it models.

Usage:
    generate_stubs.py --output FILE --stub CLASS=INTERFACE [--stub ...] HEADER [HEADER ...]

The headers are searched for the interface and all its bases; a base that none of them declares
is an error, so a changed header cannot silently produce an abstract stub.
"""

import argparse
import os
import re
import sys

# MIDL_INTERFACE("...")
# IName : public IBase
# {
#     virtual HRESULT STDMETHODCALLTYPE Method(
#         TYPE name,
#         ...) = 0;
# };
INTERFACE_RE = re.compile(
    r'MIDL_INTERFACE\("[0-9A-Fa-f-]+"\)\s*'
    r"(?P<name>\w+)\s*:\s*public\s+(?P<base>\w+)\s*"
    r"\{(?P<body>.*?)\n\};",
    re.S,
)
METHOD_RE = re.compile(
    r"virtual\s+(?P<ret>[\w\s\*]+?)\s+STDMETHODCALLTYPE\s+(?P<name>\w+)\s*"
    r"\((?P<params>[^)]*)\)\s*=\s*0\s*;",
    re.S,
)
# A default argument (mshtml.h has some, such as "LONG index = -1" and 'BSTR name = L""'). The
# stubs leave it out: an override need not repeat it.
DEFAULT_RE = re.compile(r"\s*=\s*(-?\w+|L?\"[^\"]*\")$")
# The declared name of a parameter: the last identifier, before any array brackets.
PARAM_NAME_RE = re.compile(r"^(?P<type>.*?[\s\*&])(?P<name>\w+)(?P<array>(\s*\[[^\]]*\])*)$", re.S)

ROOT_INTERFACE = "IUnknown"


class Method:
    def __init__(self, return_type, name, params):
        self.return_type = return_type
        self.name = name
        self.params = params  # list of (type text, name, array suffix)


def parse_params(text, where):
    text = " ".join(text.split())
    if not text or text == "void":
        return []
    params = []
    for piece in text.split(","):
        piece = DEFAULT_RE.sub("", piece.strip())
        match = PARAM_NAME_RE.match(piece)
        if not match:
            raise ValueError(f"{where}: cannot read parameter '{piece}'")
        params.append(
            (" ".join(match["type"].split()).replace(" *", "*"), match["name"], match["array"])
        )
    return params


def parse_headers(paths):
    interfaces = {}
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as header:
            text = header.read()
        for block in INTERFACE_RE.finditer(text):
            name = block["name"]
            methods = []
            for method in METHOD_RE.finditer(block["body"]):
                where = f"{os.path.basename(path)}: {name}::{method['name']}"
                methods.append(
                    Method(
                        " ".join(method["ret"].split()),
                        method["name"],
                        parse_params(method["params"], where),
                    )
                )
            # The first declaration wins, as it would for the compiler's include guards.
            interfaces.setdefault(name, (block["base"], methods))
    return interfaces


def methods_of(interface, interfaces):
    """The methods of the interface and its bases up to IUnknown, base methods first."""
    chain = []
    name = interface
    while name != ROOT_INTERFACE:
        if name not in interfaces:
            raise ValueError(f"no declaration of {name} (needed for {interface}) in the headers")
        base, methods = interfaces[name]
        chain.append(methods)
        name = base
    return [method for methods in reversed(chain) for method in methods]


def stub_method(method):
    # The names stay as comments: the stubs use none of their parameters.
    params = ", ".join(f"{ptype} /*{pname}*/{array}" for ptype, pname, array in method.params)
    return (
        f"    {method.return_type} STDMETHODCALLTYPE {method.name}({params}) override {{\n"
        f"        return E_NOTIMPL;\n"
        f"    }}\n"
    )


def stub_class(class_name, interface, interfaces):
    methods = methods_of(interface, interfaces)
    if not methods:
        raise ValueError(f"{interface} declares no methods")
    lines = [
        f"// Every method of {interface} below IUnknown, answering E_NOTIMPL.\n",
        f"class {class_name} : public {interface} {{\n",
        "  public:\n",
    ]
    lines += [stub_method(method) for method in methods]
    lines += [
        "\n",
        "  protected:\n",
        f"    {class_name}() = default;\n",
        f"    {class_name}(const {class_name}&) = delete;\n",
        f"    {class_name}& operator=(const {class_name}&) = delete;\n",
        f"    virtual ~{class_name}() = default;\n",
        "};\n",
    ]
    return "".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", required=True)
    parser.add_argument("--stub", action="append", required=True, metavar="CLASS=INTERFACE")
    parser.add_argument("headers", nargs="+")
    args = parser.parse_args()

    try:
        interfaces = parse_headers(args.headers)
        classes = []
        for stub in args.stub:
            class_name, _, interface = stub.partition("=")
            if not class_name or not interface:
                raise ValueError(f"--stub wants CLASS=INTERFACE, not '{stub}'")
            classes.append(stub_class(class_name, interface, interfaces))
    except (OSError, ValueError) as error:
        print(f"generate_stubs.py: {error}", file=sys.stderr)
        return 1

    includes = "".join(f"#include <{os.path.basename(path)}>\n" for path in args.headers)
    text = (
        "// Generated by tests/browser_double/generate_stubs.py from the compiler's headers.\n"
        "#pragma once\n\n"
        "#include <windows.h>\n"
        f"{includes}\n"
        "namespace kvshake::testing {\n\n" + "\n".join(classes) + "\n}  // namespace kvshake::testing\n"
    )
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "w", encoding="utf-8") as output:
        output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
