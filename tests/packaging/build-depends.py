#!/usr/bin/env python3
"""debian/control's Build-Depends against the build. Usage: build-depends.py SOURCE_DIR BUILD_DIR
(BUILD_DIR: the package build's cmake folder). Fails when scripts/install-deps would not install a
Build-Depends package, when a header the compiler read or a library the programs link comes from a
package Build-Depends does not pull in, or when a listed development package is not used at all."""
import re
import subprocess
import sys
from pathlib import Path

source, build = Path(sys.argv[1]), Path(sys.argv[2])
problems = []


def build_depends():
    text = re.sub(r"^#.*\n", "", (source / "debian/control").read_text(), flags=re.M)
    field = re.search(r"^Build-Depends:(.*?)(?=^\S|^$|\Z)", text, re.M | re.S).group(1)
    names = []
    for item in field.split(","):
        name = re.sub(r"[\[(<].*", "", item.split("|")[0]).strip()
        if name:
            names.append("debhelper" if name == "debhelper-compat" else name)
    return names


def installed():
    """Installed packages: name -> the names its Depends and Pre-Depends may be met by."""
    out = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}\t${Package}\t${Depends}, ${Pre-Depends}\t${Provides}\n"],
                         capture_output=True, text=True, check=True).stdout
    depends, providers = {}, {}
    for line in out.splitlines():
        status, name, deps, provides = line.split("\t")
        if not status.startswith("ii"):
            continue
        bare = lambda item: re.sub(r"[(:].*", "", item).strip()
        depends[name] = [bare(alt) for dep in deps.split(",") for alt in dep.split("|") if bare(alt)]
        for virtual in filter(None, map(bare, provides.split(","))):
            providers.setdefault(virtual, []).append(name)
    return depends, providers


def closure(roots, depends, providers):
    seen, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        for real in [name] + providers.get(name, []):
            if real in depends and real not in seen:
                seen.add(real)
                todo.extend(depends[real])
    return seen


def used_files():
    """System headers the compiler read and system libraries the programs link."""
    deps = subprocess.run(["ninja", "-C", str(build), "-t", "deps"], capture_output=True, text=True, check=True).stdout
    files = {line.strip() for line in deps.splitlines() if line.startswith("    /usr/")}
    ninja = (build / "build.ninja").read_text()
    for libraries in re.findall(r"^\s*LINK_LIBRARIES = (.*)$", ninja, re.M):
        files.update(word for word in libraries.split() if word.startswith("/usr/"))
    return files


def owners(files):
    out = subprocess.run(["dpkg-query", "-S"] + sorted(files), capture_output=True, text=True).stdout
    owned = {}
    for line in out.splitlines():
        if line.startswith("diversion "):
            continue
        packages, path = line.split(": ", 1)
        for package in packages.split(","):
            owned.setdefault(path, set()).add(re.sub(r":.*", "", package.strip()))
    return owned


listed = build_depends()
offered = set(subprocess.run([str(source / "scripts/install-deps"), "--list"], capture_output=True, text=True,
                             check=True).stdout.split())
for name in listed:
    if name not in offered:
        problems.append("scripts/install-deps --list lacks the Build-Depends package " + name)

depends, providers = installed()
reach = closure(listed + ["build-essential"], depends, providers)
files = used_files()
if not files:
    problems.append("found no headers the build read in " + str(build))
owned = owners(files)
for path in sorted(files):
    if path not in owned:
        problems.append("no installed package owns " + path)
    elif not owned[path] & reach:
        problems.append("%s comes from %s, which Build-Depends does not pull in" % (path, ", ".join(sorted(owned[path]))))
used = set().union(*owned.values()) if owned else set()
for name in listed:
    if name.endswith("-dev") and name not in used:
        problems.append("Build-Depends lists %s, but the build reads none of its headers or libraries" % name)

for problem in problems:
    print("build-depends: " + problem, file=sys.stderr)
sys.exit(1 if problems else 0)
