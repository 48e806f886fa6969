"""The API reference, rendered from the docstrings of the type stub.

The stub (src/python/tessarin.pyi) is the one place the API is described:
editors and type checkers read it, and this extension turns it into the
reference page.  ``.. stub-api:: PATH`` parses the stub with ``ast`` (the
compiled module is not imported: its own docstrings are one line each) and
emits, in the order of ``__all__``, a ``py:class`` or ``py:function``
description per name, whose body is the docstring's numpydoc sections as
numpydoc renders them.  Signatures show the parameters as the module takes
them; a default the stub writes as ``...`` is taken from the parameter's
"default X" in the docstring.
"""

from __future__ import annotations

import ast
import pathlib
import re

from docutils import nodes
from docutils.statemachine import StringList
from numpydoc.docscrape import NumpyDocString
from numpydoc.docscrape_sphinx import SphinxDocString
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles


def rendered(docstring: str) -> list[str]:
    """The docstring's sections as reStructuredText lines."""
    return str(SphinxDocString(docstring, config={"use_plots": False})).splitlines()


def documented_defaults(docstring: str) -> dict[str, str]:
    """Parameter name -> the default its description's type line names."""
    defaults = {}
    for param in NumpyDocString(docstring)["Parameters"]:
        found = re.search(r"default (\S+)$", param.type)
        if found:
            for name in param.name.split(", "):
                defaults[name] = found[1]
    return defaults


def signature(function: ast.FunctionDef) -> str:
    defaults = documented_defaults(ast.get_docstring(function) or "")
    args = function.args.args
    values = [None] * (len(args) - len(function.args.defaults)) + list(function.args.defaults)
    parts = []
    for arg, value in zip(args, values):
        if arg.arg == "self":
            continue
        if value is None:
            parts.append(arg.arg)
        elif isinstance(value, ast.Constant) and value.value is Ellipsis:
            if arg.arg not in defaults:
                raise ValueError(f"{function.name}: the docstring names no default for {arg.arg!r}")
            parts.append(f"{arg.arg}={defaults[arg.arg].strip(chr(34))}")
        else:
            parts.append(f"{arg.arg}={ast.unparse(value)}")
    return f"{function.name}({', '.join(parts)})"


def indented(lines: list[str], by: str = "   ") -> list[str]:
    return [by + line if line else "" for line in lines]


def describe(node: ast.AST) -> list[str]:
    doc = ast.get_docstring(node) or ""
    if isinstance(node, ast.ClassDef):
        lines = [f".. py:class:: {node.name}()", ""] + indented(rendered(doc)) + [""]
        for member in node.body:
            if isinstance(member, ast.FunctionDef):
                kind = "property" if any(getattr(d, "id", "") == "property" for d in member.decorator_list) else "method"
                head = [f".. py:{kind}:: {member.name}"]
                if kind == "property" and member.returns is not None:
                    head.append(f"   :type: {ast.unparse(member.returns)}")
                else:
                    head[0] = f".. py:method:: {signature(member)}"
                lines += indented(head + [""] + indented(rendered(ast.get_docstring(member) or "")) + [""])
        return lines
    return [f".. py:function:: {signature(node)}", ""] + indented(rendered(doc)) + [""]


def reference(stub: pathlib.Path) -> list[str]:
    tree = ast.parse(stub.read_text())
    names = next(
        ast.literal_eval(n.value) for n in tree.body
        if isinstance(n, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in n.targets)
    )
    defined = {n.name: n for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    lines = [".. py:module:: tessarin", ""] + rendered(ast.get_docstring(tree) or "") + [""]
    # The functions first, then the class they return.
    for name in sorted(names, key=lambda n: isinstance(defined[n], ast.ClassDef)):
        lines += describe(defined[name])
    return lines


class StubAPI(SphinxDirective):
    required_arguments = 1

    def run(self) -> list[nodes.Node]:
        stub = (pathlib.Path(self.env.srcdir) / self.arguments[0]).resolve()
        self.env.note_dependency(str(stub))
        container = nodes.container()
        nested_parse_with_titles(self.state, StringList(reference(stub), str(stub)), container)
        return container.children


def setup(app):
    app.add_directive("stub-api", StubAPI)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
