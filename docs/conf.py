"""Sphinx configuration of the tessarin documentation (built by scripts/docs.sh)."""

import os
import pathlib
import shutil
import sys
import tomllib

DOCS = pathlib.Path(__file__).resolve().parent
ROOT = DOCS.parent
sys.path.insert(0, str(DOCS / "_ext"))

project = "tessarin"
author = "the tessarin developers"
copyright = "the tessarin developers"
release = version = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]

extensions = [
    "myst_parser",
    "sphinx_gallery.gen_gallery",
    "matplotlib.sphinxext.plot_directive",
    "stubdoc",
]
source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "gallery/*.ipynb", "gallery/*.py", "gallery/*.zip", "gallery/*.md5", "gallery/*.json"]
nitpicky = True
suppress_warnings = ["config.cache"]  # the gallery's callables cannot be pickled into the environment cache

myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence", "dollarmath"]

html_theme = "pydata_sphinx_theme"
html_title = f"tessarin {release}"
html_theme_options = {
    "github_url": "https://github.com/tessarin/tessarin",
    "navigation_with_keys": False,
    "show_toc_level": 2,
    "secondary_sidebar_items": ["page-toc"],
}
# Pages without sub-pages get the whole width.
html_sidebars = {"**": ["sidebar-nav-bs"], "index": [], "api": [], "errors": [], "performance": [],
                 "development": [], "changelog": [], "getting-started": []}
html_static_path = ["_static"]
html_css_files = ["tessarin.css"]
html_show_sourcelink = False

# Figures drawn at build time (docs/figures/*.py), small PNGs only.
plot_formats = [("png", 96)]
plot_html_show_formats = False
plot_html_show_source_link = False
plot_include_source = False
plot_rcparams = {"font.size": 9, "savefig.bbox": "tight"}

# The gallery: the scripts of examples/ run as they are, each writing its
# pictures into a folder of its own that the scraper below collects.
OUT = pathlib.Path(os.environ.get("TESSARIN_GALLERY_OUT", ROOT / "build" / "docs" / "gallery-out"))
ARGS = {
    "quickstart.py": ["../data/rocket.png"],
    "rectify_document.py": ["--overlay"],
    "undistort.py": ["--zoom", "0.8"],
    "batch.py": ["--threads", "2"],
}


class ExampleArgs:
    """The command line each example runs with: its own output folder."""

    def __call__(self, gallery_conf, script_vars):
        # Paths relative to examples/, where the gallery runs each script, so
        # that the printed output shows no folder of the machine that built it.
        name = pathlib.Path(script_vars["src_file"]).name
        out = os.path.relpath(OUT / name.removesuffix(".py"), ROOT / "examples")
        return [*ARGS.get(name, []), "--out-dir", out]

    def __repr__(self):
        return "ExampleArgs"


class PngScraper:
    """The PNG files an example wrote into its output folder, in the order written."""

    def __call__(self, block, block_vars, gallery_conf):
        from sphinx_gallery.scrapers import figure_rst

        folder = OUT / pathlib.Path(block_vars["src_file"]).stem
        pictures = sorted(folder.glob("*.png"), key=lambda p: p.stat().st_mtime_ns) if folder.is_dir() else []
        paths = []
        for picture, target in zip(pictures, block_vars["image_path_iterator"]):
            shutil.copyfile(picture, target)
            paths.append(target)
        return figure_rst(paths, gallery_conf["src_dir"])

    def __repr__(self):
        return "PngScraper"


class ExampleOrder:
    """The gallery's order: from a first detection to a whole folder."""

    ORDER = ["quickstart.py", "rectify_document.py", "undistort.py", "batch.py"]

    def __init__(self, src_dir):
        pass

    def __call__(self, filename):
        return (self.ORDER.index(filename) if filename in self.ORDER else len(self.ORDER), filename)

    def __repr__(self):
        return "ExampleOrder"


sphinx_gallery_conf = {
    "examples_dirs": str(ROOT / "examples"),
    "gallery_dirs": "gallery",
    "filename_pattern": r"\.py$",
    "ignore_pattern": r"__init__\.py",
    "reset_argv": ExampleArgs(),
    "image_scrapers": (PngScraper(),),
    "within_subsection_order": ExampleOrder,
    "download_all_examples": False,
    "abort_on_example_error": True,
    "remove_config_comments": True,
    "show_memory": False,
    "show_signature": False,
    "min_reported_time": 1e9,
    "write_computation_times": False,
    "copyfile_regex": "",
}
plot_basedir = str(DOCS)
