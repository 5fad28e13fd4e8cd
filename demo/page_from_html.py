#!/usr/bin/env python3
"""Reads an HTML page as the demo's browser shows it, and what a shake must upload from it.

    page_from_html.py PAGE.html [URL]   prints the page description file, then the upload body

The page is taken to be served at URL (default http://www.example.com/ and its file name). What
the browser would report of it:
  * the title, white space collapsed;
  * each <img>: its address resolved against the page's, its size from the width and height
    attributes (a missing one counts as 0, so the picture is too small to send);
  * each element's inline background image, as the browser reports an inline style: url("...");
  * each <iframe> whose src is a file beside the page: a frame, read the same way; any other
    frame is another site's, whose document the browser does not hand out.
The upload body is built from that alone: nothing here comes from the module's code.
"""

import html.parser
import os
import re
import sys
import urllib.parse

MAX_FRAME_DEPTH = 8
# The module's text passes through the system code page of the demo's browser: 936.
CODE_PAGE = "gbk"
URL_SAFE = ":/?#[]@!$&'()*+,;=%~"
TITLE_BYTES = 1023  # the module's title buffer holds 1024 bytes of UTF-8 with the terminator
CSS_URL = re.compile(r"""url\(\s*(['"]?)(.*?)\1\s*\)""", re.I | re.S)


class Page:
    def __init__(self, url):
        self.url = url
        self.title = ""
        # In document order: ("img", width, height, src) or (tag, id, class, background).
        self.elements = []
        self.frames = []  # Page, or None for another site's frame


def inline_background(style):
    """The background image of an inline style, as the browser reports it, or None."""
    value = None
    for declaration in re.split(r";(?![^(]*\))", style or ""):
        name, sep, text = declaration.partition(":")
        name = name.strip().lower()
        if not sep:
            continue
        if name == "background-image":
            value = text.strip()
        elif name == "background" and CSS_URL.search(text):
            value = CSS_URL.search(text).group(0)
    if value is None:
        return None
    return CSS_URL.sub(lambda m: 'url("%s")' % m.group(2), value)


def size(text):
    match = re.match(r"\s*(\d+)", text or "")
    return int(match.group(1)) if match else 0


class Reader(html.parser.HTMLParser):
    def __init__(self, page, folder, depth):
        super().__init__(convert_charrefs=True)
        self.page, self.folder, self.depth = page, folder, depth
        self.in_title = self.in_body = False

    def handle_starttag(self, tag, attrs):
        attrs = {name: value or "" for name, value in attrs}
        if tag == "title":
            self.in_title = True
        elif tag == "body":
            self.in_body = True
        elif not self.in_body:
            return
        elif tag == "img":
            # A picture without an address is left out: the page file cannot describe it.
            if attrs.get("src", "").strip():
                self.page.elements.append(("img", size(attrs.get("width")),
                                           size(attrs.get("height")),
                                           resolve(self.page.url, attrs["src"])))
        else:
            self.page.elements.append((tag, attrs.get("id", ""), attrs.get("class", ""),
                                       inline_background(attrs.get("style"))))
            if tag == "iframe":
                self.page.frames.append(self.frame(attrs.get("src", "")))

    handle_startendtag = handle_starttag

    def handle_endtag(self, tag):
        if tag == "title":
            self.in_title = False

    def handle_data(self, data):
        if self.in_title:
            self.page.title += data

    def frame(self, src):
        parts = urllib.parse.urlsplit(src)
        path = os.path.join(self.folder, urllib.parse.unquote(parts.path))
        if parts.scheme or parts.netloc or not parts.path or not os.path.isfile(path):
            return None
        if self.depth >= MAX_FRAME_DEPTH:
            return None
        return read_page(path, resolve(self.page.url, src), self.depth + 1)


def resolve(base, src):
    return urllib.parse.quote(urllib.parse.urljoin(base, src.strip()), safe=URL_SAFE)


def default_url(path):
    return "http://www.example.com/" + urllib.parse.quote(os.path.basename(path))


def read_page(path, url=None, depth=0):
    page = Page(url or default_url(path))
    with open(path, encoding="utf-8", errors="replace") as f:
        reader = Reader(page, os.path.dirname(os.path.abspath(path)), depth)
        reader.feed(f.read())
        reader.close()
    page.title = " ".join(page.title.split())
    return page


def page_file(page):
    """The page in the format of tests/browser_double/page_double.h."""
    lines = ["title " + page.title, "url " + page.url]
    for tag, *rest in page.elements:
        if tag == "img":
            lines.append("img %d %d %s" % tuple(rest))
            continue
        ident, classes, background = rest
        words = ["element", tag]
        if ident and not any(c.isspace() for c in ident):
            words.append("id=" + ident)
        if classes.split():
            words.append("class=" + classes.split()[0])
        if background is not None:
            words.append("bg=" + background)
        lines.append(" ".join(words))
    for frame in page.frames:
        lines += ["frame refused"] if frame is None else ["frame"] + page_file(frame) + ["end"]
    return lines


def url_encode(data):
    """Letters and digits stay, C-locale white space becomes '+', every other byte %XX."""
    return "".join(chr(b) if chr(b).isascii() and chr(b).isalnum() else
                   "+" if b in b" \t\n\v\f\r" else "%%%02X" % b for b in data)


def pictures(page, pick):
    """The candidates of a page and then of its frames, depth first."""
    found = pick(page)
    for frame in page.frames:
        if frame is not None:
            found += pictures(frame, pick)
    return found


def large_images(page):
    return [e[3] for e in page.elements if e[0] == "img" and e[1] > 100 and e[2] > 100]


def backgrounds(page):
    return [e[3] for e in page.elements if e[0] != "img" and e[3] is not None]


def outside_code_page(text):
    """Characters that code page 936 lacks: the system sends its best fit for each, which may be
    another letter than the '?' expected here."""
    return "".join(sorted({c for c in text if c.encode(CODE_PAGE, "replace") == b"?" != c}))


def upload_body(page):
    """The body a shake must upload for the page, in the bytes that are sent."""
    title = page.title.encode(CODE_PAGE, "replace").decode(CODE_PAGE).encode("utf-8")
    title = title[:TITLE_BYTES].decode("utf-8", "ignore").encode("utf-8")  # whole characters
    body = "title=" + url_encode(title) + "&pageurl=" + page.url
    for address in pictures(page, large_images) + pictures(page, backgrounds):
        body += "&url=" + address
    return body.encode(CODE_PAGE, "replace")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    page = read_page(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else None)
    print("\n".join(page_file(page)))
    print()
    print(upload_body(page).decode(CODE_PAGE))


if __name__ == "__main__":
    main()
