"""The API reference, made from the shipped stubs and the module's docstrings.

The stub files (python/zellik_sim-stubs/__init__.pyi, and runtime/__init__.pyi
for zellik_sim.runtime) give every public name with its typed signature; the
installed modules give the docstrings. The directives below join the two into
the Python domain's own directives, so nothing in the reference is typed by
hand but the prose around it:

    .. stub-module::                 the module, its docstring and __version__
    .. stub-class:: NetSim           a class with all its members
    .. stub-exception:: UndoError    an exception class and its base
    .. stub-function:: name          a module-level function
    .. stub-aliases::                the stubs' private type aliases

Each takes `:module: zellik_sim.runtime` (or any other module with stubs) for
that module's names.

Content given to stub-class or stub-exception is added after the docstring.
`public_names()` lists what the reference must cover; docs/tests compare it
with the built site's inventory.
"""

from __future__ import annotations

import ast
import importlib
import inspect
import pathlib
from dataclasses import dataclass, field
from typing import Any, Literal

from docutils import nodes
from docutils.parsers.rst import directives
from docutils.statemachine import StringList
from sphinx.application import Sphinx
from sphinx.ext.napoleon.docstring import GoogleDocstring
from sphinx.util.docutils import SphinxDirective

MODULE = "zellik_sim"
STUBS = pathlib.Path(__file__).resolve().parents[2] / "python" / "zellik_sim-stubs" / "__init__.pyi"


def _module_stubs() -> dict[str, pathlib.Path]:
    """Every stub file of the package by its module's name: a module the
    package ships gets its reference as soon as it has stubs."""
    found = {}
    for path in sorted(STUBS.parent.rglob("*.pyi")):
        parts = path.relative_to(STUBS.parent).with_suffix("").parts
        if parts[-1] == "__init__":
            parts = parts[:-1]
        found[".".join((MODULE, *parts))] = path
    return found


# Every documented module and its stub file.
MODULE_STUBS = _module_stubs()
# Dunder methods that are part of a class's documented behaviour; the others
# (comparison, hashing, pickling) are described in the class's own text.
DOCUMENTED_DUNDERS = {"__int__"}


@dataclass
class StubClass:
    node: ast.ClassDef
    qualname: str
    nested: dict[str, StubClass] = field(default_factory=dict)

    @property
    def bases(self) -> list[str]:
        return [ast.unparse(base) for base in self.node.bases]

    @property
    def decorators(self) -> set[str]:
        return {ast.unparse(d) for d in self.node.decorator_list}


@dataclass
class Stubs:
    classes: dict[str, StubClass]
    # Private type aliases and type variables: name -> (definition, comment).
    aliases: dict[str, tuple[str, str]]
    module_attributes: dict[str, str]
    functions: dict[str, ast.FunctionDef] = field(default_factory=dict)


def _comment_above(lines: list[str], lineno: int) -> str:
    """The run of `#` comment lines right above line `lineno` (1-based)."""
    found: list[str] = []
    index = lineno - 2
    while index >= 0 and lines[index].lstrip().startswith("#"):
        found.insert(0, lines[index].lstrip()[1:].strip())
        index -= 1
    return " ".join(found)


def load_stubs(path: pathlib.Path = STUBS) -> Stubs:
    source = path.read_text(encoding="utf-8")
    lines = source.splitlines()
    tree = ast.parse(source)
    classes: dict[str, StubClass] = {}
    aliases: dict[str, tuple[str, str]] = {}
    attributes: dict[str, str] = {}

    def read_class(node: ast.ClassDef, prefix: str) -> StubClass:
        stub = StubClass(node, prefix + node.name)
        for item in node.body:
            if isinstance(item, ast.ClassDef):
                stub.nested[item.name] = read_class(item, stub.qualname + ".")
        return stub

    functions: dict[str, ast.FunctionDef] = {}
    for item in tree.body:
        if isinstance(item, ast.ClassDef):
            classes[item.name] = read_class(item, "")
        elif isinstance(item, ast.FunctionDef):
            functions[item.name] = item
        elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            name = item.target.id
            if ast.unparse(item.annotation) == "TypeAlias" and item.value is not None:
                aliases[name] = (ast.unparse(item.value), _comment_above(lines, item.lineno))
            else:
                attributes[name] = ast.unparse(item.annotation)
        elif isinstance(item, ast.Assign) and len(item.targets) == 1 and isinstance(item.targets[0], ast.Name):
            name = item.targets[0].id
            if name != "__all__":
                aliases[name] = (ast.unparse(item.value), _comment_above(lines, item.lineno))
    return Stubs(classes, aliases, attributes, functions)


def public_names() -> set[str]:
    """Every public name the stubs of every module declare, as
    "zellik_sim.Class.member" or "zellik_sim.runtime.Class.member"."""
    names: set[str] = set()
    for module, path in MODULE_STUBS.items():
        names |= _public_names(module, path)
    return names


def _public_names(module: str, path: pathlib.Path) -> set[str]:
    stubs = load_stubs(path)
    names: set[str] = set()

    def walk(stub: StubClass) -> None:
        names.add(f"{module}.{stub.qualname}")
        for item in stub.node.body:
            name = None
            if isinstance(item, ast.FunctionDef):
                name = item.name
            elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
                name = item.target.id
            if name and not name.startswith("_"):
                names.add(f"{module}.{stub.qualname}.{name}")
        for nested in stub.nested.values():
            walk(nested)

    for name, stub in stubs.classes.items():
        if not name.startswith("_"):
            walk(stub)
    names.update(f"{module}.{name}" for name in stubs.module_attributes if not name.startswith("_"))
    names.update(f"{module}.{name}" for name in stubs.functions if not name.startswith("_"))
    return names


# ---------------------------------------------------------------------------
# Rendering


def _signature(function: ast.FunctionDef, drop_first: bool) -> str:
    arguments = function.args
    if drop_first:
        arguments = ast.arguments(
            posonlyargs=arguments.posonlyargs[1:] if arguments.posonlyargs else [],
            args=arguments.args[1:] if not arguments.posonlyargs else arguments.args,
            vararg=arguments.vararg,
            kwonlyargs=arguments.kwonlyargs,
            kw_defaults=arguments.kw_defaults,
            kwarg=arguments.kwarg,
            defaults=arguments.defaults,
        )
    text = f"({ast.unparse(arguments)})"
    if function.returns is not None:
        text += f" -> {ast.unparse(function.returns)}"
    return text


def _runtime(qualname: str, module: str = MODULE) -> Any:
    """The installed module's object for a stub name (None when it has none)."""
    obj: Any = importlib.import_module(module)
    for part in qualname.split("."):
        obj = getattr(obj, part, None)
        if obj is None:
            return None
    return obj


def _docstring(app: Sphinx, qualname: str, what: Literal["class", "method", "function"],
               module: str = MODULE) -> list[str]:
    obj = _runtime(qualname, module)
    if obj is None:
        return []
    doc = inspect.getdoc(obj) if not isinstance(obj, type) else (obj.__doc__ or "")
    if not doc:
        return []
    doc = inspect.cleandoc(doc)
    return GoogleDocstring(doc, app.config, app, what, qualname, obj).lines()


def _indent(lines: list[str], depth: int) -> list[str]:
    pad = "   " * depth
    return [pad + line if line.strip() else "" for line in lines]


def _dataclass_signature(node: ast.ClassDef) -> str:
    """A dataclass's constructor, from its annotated fields."""
    fields = []
    for item in node.body:
        if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            text = f"{item.target.id}: {ast.unparse(item.annotation)}"
            if item.value is not None:
                text += " = " + ("..." if ast.unparse(item.value) == "..." else ast.unparse(item.value))
            fields.append(text)
    return f"({', '.join(fields)})"


def render_class(app: Sphinx, stub: StubClass, depth: int = 0, module: str = MODULE) -> list[str]:
    node = stub.node
    constructor = next(
        (item for item in node.body if isinstance(item, ast.FunctionDef) and item.name in ("__new__", "__init__")),
        None,
    )
    signature = _signature(constructor, drop_first=True).split(" -> ")[0] if constructor else ""
    if constructor is None and any(d.startswith("dataclass") for d in stub.decorators):
        signature = _dataclass_signature(node)
    out = [f".. py:class:: {node.name}{signature}"]
    if "final" in stub.decorators:
        out.append("   :final:")
    out.append("")
    body: list[str] = []
    bases = stub.bases
    if bases:
        body += ["Bases: " + ", ".join(f":py:class:`{b}`" if "[" not in b else f"``{b}``" for b in bases), ""]
    body += _docstring(app, stub.qualname, "class", module) + [""]
    for item in node.body:
        if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            name = item.target.id
            if name.startswith("_"):
                continue
            annotation = item.annotation
            if isinstance(annotation, ast.Subscript) and ast.unparse(annotation.value) == "ClassVar":
                annotation = annotation.slice
            body += [f".. py:attribute:: {name}", f"   :type: {ast.unparse(annotation)}"]
            # A class member is an instance of its class: its value, not the
            # class's docstring again.
            value = _runtime(f"{stub.qualname}.{name}", module)
            body += [f"   :value: {value!r}", ""] if value is not None else [""]
        elif isinstance(item, ast.FunctionDef):
            name = item.name
            if name.startswith("_") and name not in DOCUMENTED_DUNDERS:
                continue
            decorators = {ast.unparse(d) for d in item.decorator_list}
            doc = _docstring(app, f"{stub.qualname}.{name}", "method", module)
            if "property" in decorators:
                returns = ast.unparse(item.returns) if item.returns is not None else "Any"
                body += [f".. py:property:: {name}", f"   :type: {returns}", ""]
            elif "staticmethod" in decorators:
                body += [f".. py:staticmethod:: {name}{_signature(item, drop_first=False)}", ""]
            else:
                body += [f".. py:method:: {name}{_signature(item, drop_first=True)}", ""]
            body += _indent(doc, 1) + [""]
        elif isinstance(item, ast.ClassDef):
            body += render_class(app, stub.nested[item.name], 0, module) + [""]
    out += _indent(body, 1)
    return _indent(out, depth)


class _StubDirective(SphinxDirective):
    has_content = True
    optional_arguments = 1
    option_spec = {"module": directives.unchanged}

    @property
    def module(self) -> str:
        return self.options.get("module", MODULE)

    def stubs(self) -> Stubs:
        return load_stubs(MODULE_STUBS[self.module])

    def emit(self, lines: list[str]) -> list[nodes.Node]:
        container = nodes.container()
        source = f"<stub reference: {self.arguments[0] if self.arguments else 'module'}>"
        self.state.nested_parse(StringList(lines, source), self.content_offset, container)
        self.env.note_dependency(str(MODULE_STUBS[self.module]))
        return list(container.children)

    def content_lines(self) -> list[str]:
        return _indent(list(self.content), 1) if self.content else []


class StubModule(_StubDirective):
    def run(self) -> list[nodes.Node]:
        stubs = self.stubs()
        module = importlib.import_module(self.module)
        lines = [f".. py:module:: {self.module}", "", *(inspect.getdoc(module) or "").splitlines(), ""]
        for name, annotation in stubs.module_attributes.items():
            lines += [f".. py:data:: {name}", f"   :type: {annotation}", f"   :value: {getattr(module, name)!r}", ""]
        return self.emit(lines)


class StubClassDirective(_StubDirective):
    required_arguments = 1
    optional_arguments = 0

    def run(self) -> list[nodes.Node]:
        stub = self.stubs().classes[self.arguments[0]]
        lines = render_class(self.env.app, stub, module=self.module)
        # Content given to the directive closes the class's body.
        return self.emit(lines + [""] + self.content_lines())


class StubException(_StubDirective):
    required_arguments = 1
    optional_arguments = 0

    def run(self) -> list[nodes.Node]:
        stub = self.stubs().classes[self.arguments[0]]
        lines = [f".. py:exception:: {stub.node.name}", ""]
        lines += _indent(["Bases: " + ", ".join(f":py:exc:`{b}`" for b in stub.bases), ""], 1)
        lines += self.content_lines()
        return self.emit(lines)


class StubFunction(_StubDirective):
    required_arguments = 1
    optional_arguments = 0

    def run(self) -> list[nodes.Node]:
        name = self.arguments[0]
        function = self.stubs().functions[name]
        lines = [f".. py:function:: {name}{_signature(function, drop_first=False)}", ""]
        lines += _indent(_docstring(self.env.app, name, "function", self.module), 1) + [""]
        return self.emit(lines + self.content_lines())


class StubAliases(_StubDirective):
    optional_arguments = 0

    def run(self) -> list[nodes.Node]:
        lines: list[str] = []
        for name, (definition, comment) in self.stubs().aliases.items():
            if definition.startswith("TypeVar("):
                lines += [f".. py:class:: {name}", "", f"   A type variable: ``{definition}``.", ""]
            else:
                lines += [f".. py:type:: {name}", f"   :canonical: {definition}", ""]
            if comment:
                lines += [f"   {comment}", ""]
        return self.emit(lines)


def setup(app: Sphinx) -> dict[str, Any]:
    app.setup_extension("sphinx.ext.napoleon")
    app.add_directive("stub-module", StubModule)
    app.add_directive("stub-class", StubClassDirective)
    app.add_directive("stub-exception", StubException)
    app.add_directive("stub-function", StubFunction)
    app.add_directive("stub-aliases", StubAliases)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True}
