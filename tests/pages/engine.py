#!/usr/bin/python3
"""Drives headless Chromium over the panel's pages, for tests and pictures.

The engine cannot load "res://" addresses, so a local HTTP server plays the module: it answers
/res/NNN with the file of resource NNN (RESOURCES: the pages, sheets and pictures as the module's
resource script names them), and in every page and sheet it serves it rewrites each
"res://KVShake/NNN" to "/res/NNN". Pages thus reach exactly the resources they
would reach in the module, and any other address stands out. Every request a page makes is read
from Chromium's network log.
"""

import http.server
import json
import os
import re
import shutil
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "resources")
# The login page is made by the build; KVSHAKE_LOGIN_PAGE names it, else the source template.
LOGIN_PAGE = os.environ.get("KVSHAKE_LOGIN_PAGE", os.path.join(SOURCE, "pages", "login.html"))


def _module_resources():
    """Id and file of each HTML resource (type 23) as the resource script names them."""
    with open(os.path.join(SOURCE, "KVShake.rc"), encoding="ascii") as f:
        named = re.findall(r'^(\d+)\s+23\s+"([^"]+)"', f.read(), re.M)
    return {int(id): LOGIN_PAGE if name == "login.html" else os.path.join(SOURCE, name)
            for id, name in named}


RESOURCES = _module_resources()
TYPES = {".html": "text/html", ".css": "text/css", ".png": "image/png"}

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run",
                  "--hide-scrollbars", "--force-device-scale-factor=1",
                  # The login frame's stand-in is signed by the test CA, which is in the system's
                  # store but not in Chromium's own.
                  "--ignore-certificate-errors"]

# window.external as the module's bridge is: reading a member performs its action and yields
# nothing. The actions performed are listed in window.bridgeActions.
BRIDGE = """
window.bridgeActions = [];
var bridge = {};
["unbind", "goActive", "unActive", "goSetting", "goLogin", "goReminder"].forEach(function (name) {
    Object.defineProperty(bridge, name, {get: function () { window.bridgeActions.push(name); }});
});
Object.defineProperty(window, "external", {value: bridge, configurable: true});
"""


class _Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, format, *args):
        pass

    def do_GET(self):
        if self.path == "/page":
            self.answer(self.server.page, "text/html; charset=utf-8")
            return
        name = self.path[len("/res/"):] if self.path.startswith("/res/") else ""
        path = RESOURCES.get(int(name)) if name.isdigit() else None
        if not path or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        kind = TYPES.get(os.path.splitext(path)[1], "application/octet-stream")
        if kind.startswith("text/"):
            body = body.replace(b"res://KVShake/", b"/res/")
        self.answer(body, kind)

    def answer(self, body, kind):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)


class Engine:
    def __init__(self):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Handler)
        self.server.page = b""  # the page of the web that show_page shows, at /page
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.profile = tempfile.mkdtemp(prefix="kvshake-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + self.profile]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

    def close(self):
        self.driver.quit()
        self.server.shutdown()
        self.server.server_close()
        shutil.rmtree(self.profile, ignore_errors=True)

    def url(self, resource):
        return "%s/res/%d" % (self.origin, resource)

    def show(self, url, width, height):
        """Shows the address in a viewport of the given size."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
        self.driver.get_log("performance")  # forget what earlier pages asked for
        self.driver.get(url)

    def show_page(self, html, width, height):
        """Shows a page of the web, served from the same place as the module's resources."""
        self.server.page = html.encode("utf-8")
        self.show(self.origin + "/page", width, height)

    def open(self, resource, width, height):
        """Shows resource NNN in a viewport of the given size, with the bridge stand-in."""
        self.show(self.url(resource), width, height)
        self.driver.execute_script(BRIDGE)

    def requests(self):
        """The addresses requested since the page was opened, in order; the tab's icon, which
        the engine asks for on its own, left out."""
        messages = [json.loads(entry["message"])["message"]
                    for entry in self.driver.get_log("performance")]
        return [m["params"]["request"]["url"] for m in messages
                if m["method"] == "Network.requestWillBeSent"
                and m["params"]["request"]["url"] != self.origin + "/favicon.ico"]

    def run(self, script, *args):
        return self.driver.execute_script(script, *args)

    def click(self, selector):
        self.driver.find_element("css selector", selector).click()

    def actions(self):
        return self.run("return window.bridgeActions;")

    def wait_for_picture(self, url):
        """Returns once the page has the picture at url (or could not have it)."""
        self.driver.execute_async_script(
            "var picture = new Image(), done = arguments[1];"
            "picture.onload = picture.onerror = function () { done(); };"
            "picture.src = arguments[0];", url)

    def screenshot(self, path, script=None, *arguments):
        """Writes a PNG of what is shown, after an optional script (the state that the panel
        shows, say), once the page has drawn it."""
        if script:
            self.run(script, *arguments)
        self.driver.execute_async_script(
            "var drawn = arguments[0];"
            "requestAnimationFrame(function () { requestAnimationFrame(drawn); });")
        with open(path, "wb") as f:
            f.write(self.driver.get_screenshot_as_png())
