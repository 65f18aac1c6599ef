"""The package's structure: its modules import each other without a cycle, and the public
result types describe what the functions return, at run time and for a type checker."""

import ast
import graphlib
import importlib.util
import math
import pathlib
import subprocess
import sys
import types
import typing

import pytest

import nolt

PACKAGE = pathlib.Path(nolt.__file__).parent
REPO = pathlib.Path(__file__).resolve().parents[2]


def nolt_imports(path, modules):
    """The package's modules that a module imports, late imports inside functions included."""
    found = set()
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        if isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            base = node.module if not node.level else ".".join(filter(None, ["nolt", node.module]))
            # `from nolt import x` imports the module nolt.x when there is one, else the package
            found.update(f"{base}.{alias.name}" if f"{base}.{alias.name}" in modules else base for alias in node.names)
    return found & modules.keys()


def test_the_package_has_no_import_cycle():
    modules = {"nolt" if path.stem == "__init__" else f"nolt.{path.stem}": path for path in PACKAGE.glob("*.py")}
    graph = {module: nolt_imports(path, modules) for module, path in modules.items()}
    assert {"nolt._api", "nolt.report"} <= graph["nolt"] and "nolt._api" in graph["nolt.cli"]
    try:
        tuple(graphlib.TopologicalSorter(graph).static_order())
    except graphlib.CycleError as error:
        pytest.fail("import cycle: " + " -> ".join(error.args[1]))


def test_only_the_private_api_imports_the_native_core():
    importers = set()
    for path in PACKAGE.glob("*.py"):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            names = [alias.name for alias in node.names] if isinstance(node, ast.Import) else []
            if isinstance(node, ast.ImportFrom) and not node.level:
                names = [node.module or ""]
            if "_nolt_core" in names:
                importers.add(path.stem)
    assert importers == {"_api"}


def conforms(value, hint):
    """Whether a value has exactly the declared shape: keys in order, int is not bool or float."""
    if typing.is_typeddict(hint):
        hints = typing.get_type_hints(hint)
        keys = [key for key in hints if key in hint.__required_keys__ or key in value]  # NotRequired keys may be absent
        return type(value) is dict and list(value) == keys and all(conforms(value[key], hints[key]) for key in keys)
    origin, arguments = typing.get_origin(hint), typing.get_args(hint)
    if origin is typing.Literal:
        return type(value) is str and value in arguments
    if origin in (typing.Union, types.UnionType):
        return any(conforms(value, argument) for argument in arguments)
    if origin is list:
        return type(value) is list and all(conforms(item, arguments[0]) for item in value)
    return value is None if hint is type(None) else type(value) is hint


BEFORE = {"n": [1, None, 3], "x": [0.5, 2.0, math.nan], "b": [True, False, None], "c": ["u", "v", "u"], "gone": ["a", "b", "a"]}
AFTER = {"n": [1, 2, 30], "x": [None, None, None], "b": [True, True, False], "c": ["u", "w", None], "new": [None, None, None]}
TYPES = {"n": "integer", "x": "float", "b": "boolean", "c": "categorical", "gone": "string", "new": "unknown"}


def typed(data):
    return {name: TYPES[name] for name in data}


@pytest.mark.parametrize(
    "function, arguments, types",
    [
        (nolt.profile, (BEFORE,), typed(BEFORE)),
        (nolt.observed_schema, (BEFORE,), typed(BEFORE)),
        (nolt.suggest_schema, (BEFORE,), typed(BEFORE)),
        (nolt.inspect, (BEFORE,), typed(BEFORE)),
        (nolt.validate, (AFTER, nolt.suggest_schema(BEFORE, types=typed(BEFORE))), typed(AFTER)),
        (nolt.compare, (BEFORE, AFTER), TYPES),
        (nolt.drift, (BEFORE, AFTER), TYPES),
    ],
    ids=lambda value: getattr(value, "__name__", ""),
)
def test_results_have_the_shape_their_public_type_declares(function, arguments, types):
    declared = typing.get_type_hints(function)["return"]
    assert declared.__module__ == "nolt.types"
    result = function(*arguments, types=types)
    assert conforms(result, declared), result


def test_result_types_check_under_mypy_strict(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    user = tmp_path / "user.py"
    user.write_text(
        "import nolt\n"
        "from nolt.types import DetailedProfile, ValidationReport\n\n"
        "profile: DetailedProfile = nolt.profile({'a': [1]}, types={'a': 'integer'})\n"
        "report: ValidationReport = nolt.validate({'a': [1]}, nolt.suggest_schema({'a': [1]}, types={'a': 'integer'}), types={'a': 'integer'})\n"
        "rows: int = profile['row_count'] + report['error_count']\n"
        "wrong: str = profile['columns'][0]['null_count']\n"
    )
    checked = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"), str(user)],
        cwd=REPO, capture_output=True, text=True, check=False,
    )
    assert checked.stdout.splitlines() == [
        f'{user}:7: error: Incompatible types in assignment (expression has type "int", variable has type "str")  [assignment]',
        "Found 1 error in 1 file (checked 1 source file)",
    ]
