"""The package as users get it: the README's examples, strict typing, the demo and the wheel."""

import importlib.metadata
import importlib.util
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

import pytest

import _nolt_core
import nolt
from conftest import core_part
from nolt import _readers

REPO = pathlib.Path(__file__).resolve().parents[2]
README = (REPO / "README.md").read_text(encoding="utf-8")


def environment(*folders):
    """PYTHONPATH covering the given folders, then the nolt package and the native module in use."""
    paths = [*map(str, folders), str(pathlib.Path(nolt.__file__).parents[1]), str(pathlib.Path(_nolt_core.__file__).parent)]
    return dict(os.environ, PYTHONPATH=os.pathsep.join(paths))


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """A scratch folder holding a copy of the example data, as the README's examples expect."""
    shutil.copytree(REPO / "examples", tmp_path / "examples", ignore=shutil.ignore_patterns("*.py"))
    monkeypatch.chdir(tmp_path)
    return tmp_path


PYTHON_BLOCKS = re.findall(r"```python\n(.*?)```", README, re.S)
CONSOLE_BLOCKS = re.findall(r"```console\n(.*?)```", README, re.S)


def test_the_readme_has_examples_to_run():
    assert len(PYTHON_BLOCKS) >= 3 and CONSOLE_BLOCKS


@pytest.mark.parametrize("block", PYTHON_BLOCKS, ids=[f"python-{n}" for n in range(len(PYTHON_BLOCKS))])
def test_readme_python_examples_run(block, workdir):
    exec(compile(block, "README.md", "exec"), {"__name__": "__readme__"})


def console_sessions():
    """(command, expected output) pairs of every console block: `$ nolt ...` then its output."""
    sessions = []
    for block in CONSOLE_BLOCKS:
        for chunk in re.split(r"^\$ ", block, flags=re.M)[1:]:
            command, _, output = chunk.partition("\n")
            sessions.append((command, output))
    return sessions


@pytest.mark.parametrize("command, expected", console_sessions(), ids=[command for command, _ in console_sessions()])
def test_readme_console_examples_print_what_they_show(command, expected, workdir):
    arguments = shlex.split(command)
    assert arguments[0] == "nolt"
    if "-o" not in arguments and "--schema" in arguments:
        schema = arguments[arguments.index("--schema") + 1]
        _nolt_core.save_suggested_schema_dataset(
            nolt.to_columns(_readers.read("examples/orders.csv", {"size": "categorical"}), {"size": "categorical"}), schema
        )
    completed = subprocess.run(
        [sys.executable, "-m", "nolt", *arguments[1:]],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=environment(), check=False,
    )
    assert completed.stdout == expected


def test_the_package_has_one_version_and_the_core_keeps_its_own():
    completed = subprocess.run([sys.executable, "-m", "nolt", "--version"], capture_output=True, text=True, env=environment(), check=True)
    assert completed.stdout == f"nolt {nolt.__version__}\n"
    assert nolt.__version__ == importlib.metadata.version("nolt")
    assert _nolt_core.version() == nolt.version() == "0.4.1"


def test_mypy_strict_passes_on_the_package_and_the_examples(tmp_path):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed")
    completed = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path), "python/nolt", "examples"],
        cwd=REPO, capture_output=True, text=True, check=False,
    )
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_the_demo_tour_runs():
    completed = subprocess.run(
        [sys.executable, str(REPO / "examples" / "demo.py")], capture_output=True, text=True, env=environment(), check=False
    )
    assert completed.returncode == 0, completed.stderr
    commands = [line for line in completed.stdout.splitlines() if line.startswith("$ nolt ")]
    assert [command.split()[2] for command in commands] == ["profile", "suggest", "validate", "compare", "drift", "drift"]
    assert "(exit status 1)" in completed.stdout


def build_wheel(destination):
    """Builds the wheel of the repository, reusing a build folder of its own between runs."""
    if importlib.util.find_spec("scikit_build_core") is None:
        pytest.skip("building needs scikit-build-core")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the compiler cannot run with the sanitizer runtimes preloaded")
    build_dir = REPO / "build" / "wheel-smoke"
    completed = subprocess.run(
        [sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "--disable-pip-version-check", "-q",
         "-w", str(destination), f"--config-settings=build-dir={build_dir}", str(REPO)],
        capture_output=True, text=True, check=False, timeout=1800,
    )
    assert completed.returncode == 0, completed.stdout[-3000:] + completed.stderr[-3000:]
    (wheel,) = destination.glob("nolt-*.whl")
    return wheel


def test_the_wheel_installs_into_a_fresh_environment_and_works(tmp_path):
    wheel = build_wheel(tmp_path / "dist")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True)
    python = venv / "bin" / "python"
    subprocess.run(
        [sys.executable, "-m", "pip", "--python", str(python), "install", "--no-deps", "--no-index", "-q",
         "--disable-pip-version-check", str(wheel)],
        check=True, capture_output=True,
    )
    site = pathlib.Path(subprocess.run(
        [str(python), "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])"],
        capture_output=True, text=True, check=True,
    ).stdout.strip())
    for installed in ("nolt/__init__.py", "nolt/py.typed", "nolt/cli.py", "_nolt_core-stubs/__init__.pyi"):
        assert (site / installed).is_file(), installed
    assert list(site.glob("_nolt_core.*.so"))

    clean = {key: value for key, value in os.environ.items() if key not in ("PYTHONPATH", "PYTHONHOME")}
    code = "import nolt, _nolt_core; print(nolt.__file__); print(nolt.profile({'a': [1, None]}, types={'a': 'integer'})['columns'][0]['null_count'])"
    smoke = subprocess.run([str(python), "-c", code], capture_output=True, text=True, env=clean, cwd=tmp_path, check=True)
    location, null_count = smoke.stdout.split()
    assert pathlib.Path(location).is_relative_to(venv) and null_count == "1"

    orders = str(REPO / "examples" / "orders.csv")
    script = subprocess.run([str(venv / "bin" / "nolt"), "profile", orders, "--json"], capture_output=True, text=True, env=clean, check=False)
    assert script.returncode == 0, script.stderr
    columns = _readers.read(orders, {}, engine="python")
    assert core_part(json.loads(script.stdout)) == _nolt_core.profile_dataset(columns)

    if importlib.util.find_spec("mypy") is not None:
        # The installed stubs make the package's results typed for a type checker.
        user = tmp_path / "user.py"
        user.write_text("import nolt\n\nrows: int = nolt.profile({'a': [1]}, types={'a': 'integer'})['row_count']\n"
                        "bad: str = nolt.profile({'a': [1]}, types={'a': 'integer'})['row_count']\n")
        checked = subprocess.run(
            [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-executable", str(python), str(user)],
            capture_output=True, text=True, cwd=tmp_path, check=False,
        )
        assert checked.returncode == 1, checked.stdout
        assert 'user.py:4: error: Incompatible types in assignment (expression has type "int", variable has type "str")' in checked.stdout
        assert "Found 1 error in 1 file" in checked.stdout
