"""Checks of the built documentation site (scripts/build_docs.sh runs them).

The reference must name every public name of the shipped stubs, and the
pages a reader lands on must render in a real browser: headless Chromium
loads each one, its main text must be there, and every picture it shows
must be a real image file. Screenshots of those pages are kept beside the
site (build/docs/screenshots) for a person to look at.
"""

from __future__ import annotations

import html.parser
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import urllib.parse
import zlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SITE = pathlib.Path(os.environ.get("ZELLIK_DOCS_HTML", ROOT / "build" / "docs" / "html"))
SCREENSHOTS = SITE.parent / "screenshots"
# The start page, the reference's index and one guide with pictures.
PAGES = ["index.html", "reference/index.html", "guides/pictures-and-recordings.html"]
# A page whose main article has less text than this rendered nothing useful.
MIN_TEXT = 400

sys.path.insert(0, str(ROOT / "docs" / "_ext"))
from stub_reference import MODULE_STUBS, public_names  # noqa: E402


@pytest.fixture(scope="module")
def site() -> pathlib.Path:
    if not (SITE / "index.html").is_file():
        pytest.fail(f"no built site in {SITE}: run scripts/build_docs.sh")
    return SITE


def inventory_names(path: pathlib.Path) -> set[str]:
    """The Python names in a Sphinx objects.inv (version 2)."""
    data = path.read_bytes()
    header_end = 0
    for _ in range(4):
        header_end = data.index(b"\n", header_end) + 1
    names = set()
    for line in zlib.decompress(data[header_end:]).decode("utf-8").splitlines():
        name, role = line.split(" ", 2)[:2]
        if role.startswith("py:"):
            names.add(name)
    return names


def test_the_reference_names_every_public_name_of_the_stubs(site: pathlib.Path) -> None:
    documented = inventory_names(site / "objects.inv")
    stubs = public_names()
    assert len(stubs) > 200  # the stubs were read, not an empty file
    assert sorted(stubs - documented) == []
    # And the reference invents nothing the stubs do not declare (the modules
    # and private names aside, which the stubs declare under a leading
    # underscore, members of private classes included).
    invented = {n for n in documented - stubs if n.startswith("zellik_sim.") and n not in MODULE_STUBS
                and not any(part.startswith("_") for part in n.split("."))}
    assert sorted(invented) == []


class _Page(html.parser.HTMLParser):
    def __init__(self) -> None:
        super().__init__()
        self.images: list[str] = []
        self.depth = 0  # > 0 inside the main article
        self.text: list[str] = []
        self.skip = 0  # > 0 inside script or style

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        attributes = dict(attrs)
        if tag == "img" and attributes.get("src"):
            self.images.append(attributes["src"] or "")
        if tag in ("script", "style"):
            self.skip += 1
        if self.depth:
            self.depth += 1
        elif tag == "article" and attributes.get("role") == "main":
            self.depth = 1

    def handle_endtag(self, tag: str) -> None:
        if tag in ("script", "style"):
            self.skip -= 1
        if self.depth:
            self.depth -= 1

    def handle_data(self, data: str) -> None:
        if self.depth and not self.skip:
            self.text.append(data)


def chromium() -> str:
    for name in ("chromium", "chromium-browser", "google-chrome"):
        found = shutil.which(name)
        if found:
            return found
    pytest.fail("no Chromium on this machine: bash scripts/setup_deps.sh docs installs it")


def browse(page: pathlib.Path, *arguments: str) -> str:
    # A profile of its own each time: no dependence on HOME, no lock shared
    # with another browser.
    with tempfile.TemporaryDirectory(prefix="zellik-chromium-") as profile:
        command = [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                   "--allow-file-access-from-files", f"--user-data-dir={profile}", *arguments, page.as_uri()]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout


@pytest.mark.parametrize("name", PAGES)
def test_page_renders_with_its_text_and_pictures(site: pathlib.Path, name: str) -> None:
    page = site / name
    assert page.is_file(), f"{name} was not built"
    dom = _Page()
    dom.feed(browse(page, "--dump-dom"))
    text = " ".join(" ".join(dom.text).split())
    assert len(text) >= MIN_TEXT, f"{name} shows almost no text: {text[:200]!r}"
    if name.startswith("guides/pictures"):
        assert len(dom.images) >= 3, f"{name} shows {len(dom.images)} pictures, not the example's three"
    for source in dom.images:
        if source.startswith("data:"):
            continue
        target = (page.parent / urllib.parse.unquote(urllib.parse.urlparse(source).path)).resolve()
        assert target.is_file(), f"{name}: broken image {source}"
        head = target.read_bytes()[:8]
        assert head.startswith(b"\x89PNG\r\n\x1a\n") or head.startswith(b"<svg") or head.startswith(b"<?xml"), \
            f"{name}: {source} is not an image"
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    shot = SCREENSHOTS / (name.replace("/", "-").removesuffix(".html") + ".png")
    shot.unlink(missing_ok=True)
    browse(page, f"--screenshot={shot}", "--window-size=1280,1400")
    assert shot.is_file() and shot.stat().st_size > 10_000, f"no screenshot of {name}"
