#!/usr/bin/python3
"""The panel's pages and style sheets in a real browser engine (headless Chromium): sizes in the
standard box model, the script bridge's use, the login frame and the sprite's icons."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import engine  # noqa: E402

STATUS, SETTINGS, LOGIN = 204, 203, 201

HEIGHT = "return arguments[0].getBoundingClientRect().height;"
SHOWN = ("return Array.prototype.map.call(arguments, function (id) {"
         "  return getComputedStyle(document.getElementById(id)).display != 'none'; });")


def setUpModule():
    global browser
    browser = engine.Engine()


def tearDownModule():
    browser.close()


def frame_address():
    service = os.environ["KVSHAKE_SERVICE_HOST"]
    port = os.environ["KVSHAKE_SERVICE_PORT"]
    return ("https://%s/qrlogin?appid=%s&type=login&lang=zh_CN&redirect_uri=https://%s%s"
            "/cgi-bin/pqsupport-bin/shakebindpage"
            % (os.environ["KVSHAKE_LOGIN_HOST"], os.environ["KVSHAKE_APP_ID"], service,
               "" if port == "443" else ":" + port))


class Pages(unittest.TestCase):
    def open(self, resource, width, height, allowed=()):
        browser.open(resource, width, height)
        self.addCleanup(self.assert_own_requests, set(allowed))

    def assert_own_requests(self, allowed):
        """Nothing is loaded but the module's own resources and what is allowed, which is."""
        own = re.compile(re.escape(browser.origin) + r"/res/(\d+)$")
        requests = set(browser.requests())
        self.assertLessEqual(allowed, requests)
        for url in requests - allowed:
            match = own.match(url)
            self.assertTrue(match and int(match.group(1)) in engine.RESOURCES, url)

    def fits(self, width, height):
        """The page is as high as given and needs no wider panel."""
        container = browser.driver.find_element("css selector", ".container")
        self.assertEqual(browser.run(HEIGHT, container), height)
        self.assertLessEqual(browser.run("return document.body.scrollWidth;"), width)

    def test_status_rows_fit_act_once_and_activating_swaps_them(self):
        self.open(STATUS, 253, 100)
        # As the panel's set-up shows the activation state.
        browser.run("document.getElementById('actived').style.display = 'none';")
        self.fits(253, 100)
        browser.driver.find_element("xpath", "//p[text()='摇一摇传图未启用']").click()
        self.assertEqual(browser.actions(), ["goActive"])
        self.assertEqual(browser.run(SHOWN, "disactived", "actived"), [False, True])
        self.fits(253, 100)
        browser.click("#actived p")
        self.assertEqual(browser.run(SHOWN, "disactived", "actived"), [True, False])
        browser.click(".settingsBtn p")
        self.assertEqual(browser.actions(), ["goActive", "unActive", "goSetting"])

    def test_settings_unbinding_asks_first_and_the_back_arrow_goes_to_status(self):
        self.open(SETTINGS, 253, 135)
        browser.click(".unbindBtn a")
        self.assertEqual(browser.run(SHOWN, "userInfo", "confirmUnbindDiv"), [False, True])
        self.fits(253, 134)
        browser.click(".cancelBtn a")
        self.assertEqual(browser.run(SHOWN, "userInfo", "confirmUnbindDiv"), [True, False])
        self.assertEqual(browser.actions(), [])
        browser.click(".unbindBtn a")
        browser.click(".confirmBtn a")
        browser.click(".backBtn")
        self.assertEqual(browser.actions(), ["unbind", "goReminder"])

    def test_login_frame_fits_the_panel_and_shows_the_qr_login(self):
        self.open(LOGIN, 505, 347, allowed=(frame_address(),))
        area = browser.run("return [document.body.scrollWidth, document.body.scrollHeight];")
        self.assertTrue(area[0] <= 505 and area[1] <= 347, area)
        src = browser.run("return document.querySelector('iframe').getAttribute('src');")
        self.assertEqual(src, frame_address())

    def sprite_boxes(self, sheet):
        """(class, x, y, width, height) of each sprite position, with the size that the rules of
        its class give it (the last class of a selector's last part names the element)."""
        with open(engine.RESOURCES[sheet], encoding="utf-8") as f:
            css = re.sub(r"/\*.*?\*/", "", f.read(), flags=re.S)
        rules = {}
        for selectors, body in re.findall(r"([^{}]+)\{([^}]*)\}", css):
            for selector in selectors.split(","):
                classes = re.findall(r"\.([\w-]+)", selector.split()[-1])
                if classes:
                    rules[classes[-1]] = rules.get(classes[-1], "") + ";" + body
        boxes = []
        for subject, text in rules.items():
            size = dict(re.findall(r"(?<![\w-])(width|height)\s*:\s*(\d+)px", text))
            position = r"background(?:-position)?\s*:[^;]*?(-?\d+)px\s+(-?\d+)px"
            for x, y in re.findall(position, text):
                self.assertIn("res://KVShake/216", text, subject)
                boxes.append((subject, -int(x), -int(y), int(size["width"]), int(size["height"])))
        return boxes

    def test_every_icon_is_drawn(self):
        """Every sprite position that a sheet uses shows a drawing, within the box that shows it."""
        boxes = self.sprite_boxes(205) + self.sprite_boxes(206)
        self.assertGreaterEqual(len(boxes), 12)
        browser.open(216, 400, 400)
        # Share of the box's pixels that are mostly opaque, read back through a canvas.
        shares = browser.run("""
            var image = document.images[0], canvas = document.createElement('canvas');
            canvas.width = image.naturalWidth; canvas.height = image.naturalHeight;
            var context = canvas.getContext('2d');
            context.drawImage(image, 0, 0);
            return arguments[0].map(function (box) {
                var data = context.getImageData(box[1], box[2], box[3], box[4]).data, seen = 0;
                for (var i = 3; i < data.length; i += 4) if (data[i] >= 128) seen++;
                return seen / (box[3] * box[4]);
            });""", boxes)
        for box, share in zip(boxes, shares):
            self.assertGreaterEqual(share, 0.05, box)


if __name__ == "__main__":
    unittest.main(verbosity=2)
