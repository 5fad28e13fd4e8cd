#!/usr/bin/python3
"""Pictures of the product as a user sees it, drawn by headless Chromium from the module's own
pages, sheets and pictures: the panel's pages at the panel's sizes, and a page with each tip.

    pictures.py OUTPUT_FOLDER LOGIN_PAGE TIP_STYLE

LOGIN_PAGE is the login page the build made (its frame shows the QR page of the service, here
the demo's stand-in). TIP_STYLE is the inline style the module gave the tip that says a picture
is being sent; the other tip's differs only in its picture and size.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "pages"))

# What the panel shows once its page has loaded: one of the status page's two state rows, the
# user's nickname in the settings page.
ACTIVE, INACTIVE = ("actived", "disactived"), ("disactived", "actived")
SHOW_STATE = ("document.getElementById('%s').style.display = 'block';"
              "document.getElementById('%s').style.display = 'none';")
SHOW_NICKNAME = "document.getElementById('userName').innerText = 'Demo';"

PANEL_PAGES = [  # file, resource, width, height, what the panel does on load
    ("panel-login.png", 201, 505, 347, None),
    ("panel-status-active.png", 204, 253, 100, SHOW_STATE % ACTIVE),
    ("panel-status-inactive.png", 204, 253, 100, SHOW_STATE % INACTIVE),
    ("panel-settings.png", 203, 253, 135, SHOW_NICKNAME),
]

# A page of the web to show the tips on: text, and a drawn picture standing in for a photograph.
SAMPLE_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"><title>Harbour news</title>
<style>body{font:15px/1.5 sans-serif;margin:0;color:#222}header{background:#1d3557;color:#fff;
padding:14px 24px;font-size:22px}main{padding:8px 24px}.photo{width:420px;height:190px;
background:linear-gradient(#87b5d9,#dbe9f4 55%,#2a6f97 56%,#12486b);border-radius:4px}</style>
</head><body><header>Harbour news</header><main><h2>The morning catch</h2>
<div class="photo"></div><p>The boats came in early today with cod, haddock and mackerel.</p>
</main></body></html>"""
# The tip as the module puts it in: a div of that id and inline style at the end of the body.
INSERT_TIP = ("var tip = document.createElement('div'); tip.id = 'kovinShakeContainer';"
              "tip.style.cssText = arguments[0]; document.body.appendChild(tip);")
SHOT_FOR_TIP = {"page-tip-sending.png": (224, "259px", "59px"),
                "page-tip-no-picture.png": (223, "255px", "53px")}


def tip_style(sent_style, picture, width, height):
    """The style of a tip, from the one the module gave the "being sent" tip."""
    return (sent_style.replace("res://KVShake/224", "res://KVShake/%d" % picture)
            .replace("width:259px", "width:" + width).replace("height:59px", "height:" + height))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    folder, login_page, sent_style = sys.argv[1:]
    os.environ["KVSHAKE_LOGIN_PAGE"] = login_page
    import engine  # reads the login page's place when loaded

    os.makedirs(folder, exist_ok=True)
    browser = engine.Engine()
    try:
        for name, resource, width, height, script in PANEL_PAGES:
            browser.open(resource, width, height)
            browser.screenshot(os.path.join(folder, name), script)
            print(os.path.join(folder, name))
        for name, (picture, width, height) in SHOT_FOR_TIP.items():
            browser.show_page(SAMPLE_PAGE, 640, 400)
            browser.wait_for_picture(browser.url(picture))
            style = tip_style(sent_style, picture, width, height)
            browser.screenshot(os.path.join(folder, name), INSERT_TIP,
                               style.replace("res://KVShake/", browser.origin + "/res/"))
            print(os.path.join(folder, name))
    finally:
        browser.close()


if __name__ == "__main__":
    main()
