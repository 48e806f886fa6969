"""Every code example the user reads runs: the README's python blocks, the
documentation pages' python blocks, and the examples in the stub's docstrings.

A line `print(...)  # text` must print exactly `text` (up to a colon that
starts an explanation), so the outputs the pages show stay true. The blocks
of one page run in order, in one namespace. A page's block that imports a
package the environment lacks (pandas, say) is left out, and so is every
later block that uses a name only a left-out block defines, unless
TESSARIN_DOCS_EVERY_BLOCK is set, as the documentation build does: there a
missing package fails the run.
"""

import ast
import contextlib
import doctest
import importlib.util
import io
import os
import pathlib
import re

import pytest

# Each example runs in a scratch folder as the working directory, with its
# printing captured: both belong to the whole process, so these tests run one
# thread at a time under the parallel-threads runs.
pytestmark = pytest.mark.thread_unsafe(reason="changes the process's working directory and sys.stdout")

ROOT = pathlib.Path(__file__).resolve().parents[2]
BLOCK = re.compile(r"^```python\n(.*?)^```", re.S | re.M)
SHOWN = re.compile(r"^(\s*)print\((.*)\)\s+# (.*?)(?::.*)?$")
# The site's own pages (the gallery's are made from examples/ by the build).
PAGES = sorted(p for p in (ROOT / "docs").rglob("*.md") if "gallery" not in p.relative_to(ROOT / "docs").parts)


def checked(source):
    """The block with each commented print turned into a comparison."""
    return "\n".join(
        SHOWN.sub(lambda m: f"{m[1]}_shows({m[3]!r}, {m[2]})", line) for line in source.splitlines()
    )


def missing_packages(source):
    """The top-level packages the block imports that cannot be found here."""
    names = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            names |= {alias.name.partition(".")[0] for alias in node.names}
        elif isinstance(node, ast.ImportFrom) and node.level == 0:
            names.add(node.module.partition(".")[0])
    return sorted(n for n in names if importlib.util.find_spec(n) is None)


def names(source):
    """The names a block binds and the names it reads."""
    bound, read = set(), set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Name):
            (read if isinstance(node.ctx, ast.Load) else bound).add(node.id)
        elif isinstance(node, (ast.Import, ast.ImportFrom)):
            bound |= {(alias.asname or alias.name).partition(".")[0] for alias in node.names}
        elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
            bound.add(node.name)
    return bound, read


def run_blocks(path, tmp_path, minimum=1):
    """Runs the python blocks of a Markdown file in a scratch folder with data/ beside it."""
    blocks = BLOCK.findall(path.read_text())
    assert len(blocks) >= minimum

    def shows(expected, *values):
        text = " ".join(map(str, values))
        assert text == expected, f"{path.name} shows {expected!r}, the code prints {text!r}"

    namespace = {"_shows": shows, "__name__": "readme"}
    (tmp_path / "data").symlink_to(ROOT / "data")
    every = bool(os.environ.get("TESSARIN_DOCS_EVERY_BLOCK"))
    old = os.getcwd()
    os.chdir(tmp_path)
    try:
        left_out = set()  # names that only blocks left out would have bound
        for number, block in enumerate(blocks, 1):
            bound, read = names(block)
            if not every and (missing_packages(block) or read & left_out):
                left_out |= bound
                continue
            left_out -= bound
            with contextlib.redirect_stdout(io.StringIO()):
                try:
                    exec(compile(checked(block), f"{path.name} block {number}", "exec"), namespace)
                except Exception as error:
                    pytest.fail(f"{path.name} block {number} fails: {error!r}\n{block}")
    finally:
        os.chdir(old)


def test_readme_python_blocks_run(tmp_path):
    run_blocks(ROOT / "README.md", tmp_path)


@pytest.mark.parametrize("page", [p for p in PAGES if BLOCK.search(p.read_text())], ids=lambda p: str(p.relative_to(ROOT / "docs")))
def test_page_python_blocks_run(tmp_path, page):
    run_blocks(page, tmp_path)


@pytest.mark.parametrize("blocks, fails", [
    # The second block needs what the first, left out, defines: left out too.
    (["import no_such_package as nsp\nframe = nsp.load()", "print(len(frame))  # 3"], False),
    # A block that does not need it runs, and its shown output is checked.
    (["import no_such_package\nframe = 1", "x = 2\nprint(x)  # 3"], True),
    # A name bound again by a block that runs is there for the blocks after it.
    (["import no_such_package\nframe = 1", "frame = 2", "print(frame)  # 3"], True),
    (["import no_such_package\nframe = 1", "frame = 2", "print(frame)  # 2"], False),
], ids=["dependent", "independent", "rebound-wrong", "rebound-right"])
def test_blocks_left_out_take_only_their_dependents_along(tmp_path, monkeypatch, blocks, fails):
    monkeypatch.delenv("TESSARIN_DOCS_EVERY_BLOCK", raising=False)
    page = tmp_path / "page.md"
    page.write_text("".join(f"```python\n{block}\n```\n" for block in blocks))
    (tmp_path / "run").mkdir()
    if fails:
        with pytest.raises(pytest.fail.Exception, match="shows '3'"):
            run_blocks(page, tmp_path / "run")
    else:
        run_blocks(page, tmp_path / "run")


def stub_path():
    """The checkout's stub, or else the installed one (the wheel's tests run outside the checkout)."""
    source = ROOT / "src" / "python" / "tessarin.pyi"
    if source.exists():
        return source
    import tessarin

    installed = pathlib.Path(tessarin.__file__).parent / "tessarin-stubs" / "__init__.pyi"
    if not installed.exists():
        pytest.skip("no stub found")
    return installed


def docstrings(tree, prefix="tessarin"):
    """(qualified name, docstring, line) for the module and everything defined in it."""
    text = ast.get_docstring(tree, clean=False)
    if text:
        yield prefix, text, tree.body[0].lineno
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            yield from docstrings(node, f"{prefix}.{node.name}")


def test_stub_docstring_examples_run():
    path = stub_path()
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    examples = 0
    for name, text, line in docstrings(ast.parse(path.read_text())):
        test = parser.get_doctest(text, {}, name, str(path), line)
        examples += len(test.examples)
        out = io.StringIO()
        result = runner.run(test, out=out.write)
        assert result.failed == 0, out.getvalue()
    assert examples >= 10
