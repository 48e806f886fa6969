"""Checks of the built site, run by scripts/docs.sh.

    python docs/check_site.py links HTML_DIR
        Every internal link of every page leads to a file of the site, and
        every #anchor to an id on that page.
    python docs/check_site.py rendered SCREENSHOT.png DOM.html "EXPECTED TITLE WORDS"
        A browser's screenshot of a page is not blank (not one colour, and
        with a fair share of pixels off the background), and the page's
        <title> holds the expected words.
"""

from __future__ import annotations

import html.parser
import pathlib
import sys
import urllib.parse

from PIL import Image


class Page(html.parser.HTMLParser):
    """The ids, the links and the title of one HTML page."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.ids: set[str] = set()
        self.links: list[str] = []
        self.title = ""
        self._in_title = False

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        values = dict(attrs)
        if values.get("id"):
            self.ids.add(values["id"] or "")
        if tag == "a" and values.get("name"):
            self.ids.add(values["name"] or "")
        for attribute in ("href", "src"):
            if tag in ("a", "img", "link", "script") and values.get(attribute):
                self.links.append(values[attribute] or "")
        self._in_title = tag == "title"

    def handle_endtag(self, tag: str) -> None:
        if tag == "title":
            self._in_title = False

    def handle_data(self, data: str) -> None:
        if self._in_title:
            self.title += data


def parsed(path: pathlib.Path) -> Page:
    page = Page()
    page.feed(path.read_text(encoding="utf-8"))
    return page


def check_links(root: pathlib.Path) -> list[str]:
    # The theme's templates under _static are not pages.
    pages = {p: parsed(p) for p in root.rglob("*.html") if "_static" not in p.relative_to(root).parts}
    problems = []
    for path, page in pages.items():
        for link in page.links:
            url = urllib.parse.urlsplit(link)
            if url.scheme or url.netloc or link.startswith(("mailto:", "javascript:")):
                continue  # external: not this site's to check
            target = (path.parent / urllib.parse.unquote(url.path)).resolve() if url.path else path
            if target.is_dir():
                target = target / "index.html"
            where = f"{path.relative_to(root)}: {link}"
            if not target.exists():
                problems.append(f"{where}: no such file")
            elif url.fragment and target.suffix == ".html":
                ids = pages[target].ids if target in pages else parsed(target).ids
                if urllib.parse.unquote(url.fragment) not in ids:
                    problems.append(f"{where}: no anchor #{url.fragment}")
    print(f"{sum(len(p.links) for p in pages.values())} links on {len(pages)} pages checked")
    return problems


def check_rendered(screenshot: pathlib.Path, dom: pathlib.Path, words: str) -> list[str]:
    problems = []
    with Image.open(screenshot) as picture:
        gray = picture.convert("L")
        histogram = gray.histogram()
        background = max(range(256), key=histogram.__getitem__)
        share = 1 - histogram[background] / (gray.width * gray.height)
        print(f"{screenshot.name}: {picture.width}x{picture.height}, {share:.1%} of the pixels off the background")
        if gray.getextrema()[0] == gray.getextrema()[1]:
            problems.append(f"{screenshot}: blank (one colour)")
        elif share < 0.02:
            problems.append(f"{screenshot}: nearly blank ({share:.2%} drawn)")
    title = parsed(dom).title.strip()
    print(f"{dom.name}: title {title!r}")
    if words.lower() not in title.lower():
        problems.append(f"{dom}: title {title!r} lacks {words!r}")
    return problems


def main(argv: list[str]) -> int:
    if argv[:1] == ["links"] and len(argv) == 2:
        problems = check_links(pathlib.Path(argv[1]).resolve())
    elif argv[:1] == ["rendered"] and len(argv) == 4:
        problems = check_rendered(pathlib.Path(argv[1]), pathlib.Path(argv[2]), argv[3])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
