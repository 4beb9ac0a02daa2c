#!/usr/bin/env python3
"""Fails when a shell script of the project calls a program that a new machine would not have.

CI runs on whatever Debian 12 or 13 machine it is given, often a new one: a program that was
installed by hand on the last machine (debootstrap, once) makes every later CI run fail there.
So every program the scripts call must either be in a minimal Debian root (debootstrap's
minbase: the packages of priority "required", and apt) or be installed by the package lists of
scripts/lib.sh, directly or as one of their dependencies.

How: each script is parsed by shfmt (its JSON syntax tree, so quoting, command substitutions
and heredocs are read as bash reads them, not guessed by a regular expression). The command
words are the first words of simple commands, and the command that a known wrapper runs
(`unshare ... -- debootstrap`, `xargs ... clang-tidy`, `bash -c 'mount ...'`, a `trap` string).
Words built from variables and paths inside the tree are not checked (they are the project's
own programs, or chosen at run time). Commands after `chroot ROOT` run inside ROOT and are not
the host's. A word that is a bash builtin, a keyword or a function of the scripts is no program.
A script that installs a package by name
itself (`apt-get install -y NAME`) fails as well: the lists are the one place.
Each program left is looked up on PATH and then, with dpkg, its package: it passes when that
package is in minbase or in the closure of the lists. A program that is not installed at all
fails too: the lists would have installed it. Only the programs of a list installed on demand
(an array lumora_NAME_programs beside lumora_NAME_packages: the script that needs them installs
them, CI does not) may be missing; installed, they are checked as the others.

Usage: check_commands.py [--root DIR] [--packages-from FILE] [--list-scripts]
  --root DIR           the tree whose scripts are checked (default: this script's project)
  --packages-from FILE the shell file that holds the lists (default: DIR/scripts/lib.sh); every
                       array named lumora_*_packages in it counts, and lumora_*_programs names
                       the programs of the list of the same name installed on demand
  --list-scripts       print the scripts it reads (for shellcheck), one a line, and stop
Exit status 0 when every program is accounted for, 1 with one line per program otherwise.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

# Programs that run another command given as their arguments: the options that take a value
# (so the value is not mistaken for the command), and whether the command only follows `--`.
WRAPPERS = {
    "exec": {"takes_value": {"-a"}},
    "command": {"takes_value": set()},
    "env": {"takes_value": {"-u", "-C", "-S", "--unset", "--chdir"}},
    "nice": {"takes_value": {"-n"}},
    "nohup": {"takes_value": set()},
    "setsid": {"takes_value": set()},
    "timeout": {"takes_value": {"-s", "-k", "--signal", "--kill-after"}, "positional": 1},
    "xargs": {"takes_value": {"-n", "-P", "-L", "-s", "-d", "-E", "-I", "-a"}},
    "unshare": {"takes_value": {"--propagation", "--setgroups", "-S", "-G", "--map-user",
                                "--map-group", "--wd", "-w", "--root", "-R"}},
    "nsenter": {"takes_value": {"-t", "--target", "-S", "-G", "-w", "-r"}},
    "strace": {"takes_value": {"-o", "-e", "-s", "-p", "-u", "-a", "-P", "-E"}},
    "stdbuf": {"takes_value": {"-i", "-o", "-e"}},
    "time": {"takes_value": {"-f", "-o"}},
}
SYSTEM_PATH = "/usr/sbin:/usr/bin:/sbin:/bin"
# Programs that run a shell script given as the argument of -c.
SHELLS = {"sh", "bash", "dash", "/bin/sh", "/bin/bash", "/usr/bin/bash"}


def literal(word):
    """The text of a word made of literal parts only, or None when it expands anything."""
    text = []
    for part in word.get("Parts", []):
        kind = part.get("Type")
        if kind == "Lit":
            text.append(part.get("Value", ""))
        elif kind == "SglQuoted":
            text.append(part.get("Value", ""))
        elif kind == "DblQuoted":
            inner = literal(part)
            if inner is None:
                return None
            text.append(inner)
        else:
            return None
    return "".join(text)


class Finder:
    """Collects (program, line) for one script and the function names it declares."""

    def __init__(self, shfmt, path):
        self.shfmt = shfmt
        self.path = path
        self.calls = []
        self.inline_installs = []
        self.functions = set()

    def parse(self, source, dialect, line_offset=0):
        result = subprocess.run([self.shfmt, "--to-json", "-ln", dialect], input=source.encode(),
                                capture_output=True, check=False)
        if result.returncode != 0:
            raise SystemExit(f"check-commands: shfmt cannot parse {self.path}: "
                             f"{result.stderr.decode(errors='replace').strip()}")
        self.walk(json.loads(result.stdout), line_offset)

    def walk(self, node, line_offset):
        if isinstance(node, list):
            for item in node:
                self.walk(item, line_offset)
            return
        if not isinstance(node, dict):
            return
        kind = node.get("Type")
        if kind == "FuncDecl":
            self.functions.add(node["Name"]["Value"])
        elif kind == "CallExpr" and node.get("Args"):
            line = node["Pos"]["Line"] + line_offset
            self.command(node["Args"], line, line_offset)
        for key, value in node.items():
            if key not in ("Pos", "End"):
                self.walk(value, line_offset)

    def command(self, args, line, line_offset):
        words = [literal(arg) for arg in args]
        while words:
            name = words[0]
            if name is None or name.startswith(("./", "../")) or ("/" in name and not name.startswith("/")):
                return  # chosen at run time, or the tree's own program
            if name in ("chroot", "/usr/sbin/chroot"):
                self.calls.append(("chroot", line))
                return  # what follows runs inside the root
            self.calls.append((name, line))
            base = os.path.basename(name)
            if base in ("apt-get", "apt") and "install" in words:
                self.inline_installs += [(word, line) for word in words[words.index("install") + 1:]
                                         if word and not word.startswith(("-", "./", "/"))]
            if base in SHELLS or name in SHELLS:
                self.shell_script(words, args, line_offset)
                return
            if name == "trap" and len(words) > 1 and words[1] and not words[1].startswith("-"):
                self.parse(words[1], "bash", args[1]["Pos"]["Line"] - 1 + line_offset)
                return
            if base not in WRAPPERS:
                return
            rest = self.wrapped(base, words[1:])
            if rest is None:
                return
            args = args[len(words) - len(rest):]
            words = rest

    def wrapped(self, wrapper, words):
        """The words from the wrapped command on, or None when there is none."""
        rule = WRAPPERS[wrapper]
        positional = rule.get("positional", 0)
        i = 0
        while i < len(words):
            word = words[i]
            if word is None:
                return None
            if word == "--":
                return words[i + 1:] or None
            if word.startswith("-") and len(word) > 1:
                i += 2 if word in rule["takes_value"] else 1
                continue
            if wrapper == "env" and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", word):
                i += 1
                continue
            if positional:
                positional -= 1
                i += 1
                continue
            return words[i:]
        return None

    def shell_script(self, words, args, line_offset):
        for i, word in enumerate(words[1:], start=1):
            if word is not None and word.startswith("-") and "c" in word.lstrip("-") and \
                    not word.startswith("--") and i + 1 < len(words):
                script = words[i + 1]
                if script is not None:
                    self.parse(script, "bash", args[i + 1]["Pos"]["Line"] - 1 + line_offset)
                return


def dialect_of(path, text):
    first = text.split("\n", 1)[0]
    if "shellcheck shell=sh" in text[:200] or re.search(r"\bsh$", first):
        return "posix"
    return "bash"


def array_words(text, kind):
    """Every word of the arrays lumora_*_KIND of TEXT, with the arrays that name it."""
    names = {}
    for match in re.finditer(rf"^\s*(lumora_\w+_{kind})=\(([^)]*)\)", text, re.M):
        body = re.sub(r"#[^\n]*", "", match.group(2))
        for word in body.split():
            if word.startswith(('"$', "$")):
                continue  # another list, counted where it is named
            names.setdefault(word, []).append(match.group(1))
    return names


def package_lists(text):
    """Every package named in an array lumora_*_packages, and where each stands."""
    return array_words(text, "packages")


def on_demand_programs(text, lists):
    """The programs of the lists installed on demand: lumora_NAME_programs, whose
    lumora_NAME_packages must name packages."""
    programs = array_words(text, "programs")
    named = {array for arrays_of in lists.values() for array in arrays_of}
    orphans = sorted({array for arrays_of in programs.values() for array in arrays_of
                      if array[:-len("programs")] + "packages" not in named})
    return set(programs), orphans


def closure(packages):
    """The packages apt installs for PACKAGES: their Depends and Pre-Depends, recursively."""
    result = subprocess.run(
        ["apt-cache", "depends", "--recurse", "--no-recommends", "--no-suggests", "--no-conflicts",
         "--no-breaks", "--no-replaces", "--no-enhances", *packages],
        capture_output=True, text=True, check=False)
    found = set(packages)
    for line in result.stdout.splitlines():
        line = line.strip()
        if line.startswith(("Depends:", "PreDepends:")):
            line = line.split(":", 1)[1].strip()
        if line and not line.startswith("<") and ":" not in line:
            found.add(line)
    return found


def shipped_files():
    """Every path that an installed package ships, with its packages (dpkg's own file lists)."""
    files = {}
    for listing in Path("/var/lib/dpkg/info").glob("*.list"):
        package = listing.stem.split(":")[0]
        for line in listing.read_text(errors="replace").splitlines():
            files.setdefault(line, set()).add(package)
    return files


def owners(path, files):
    """The packages that ship PATH (tried with and without /usr, as merged-/usr systems differ)."""
    other = path[4:] if path.startswith("/usr/") else "/usr" + path
    return files.get(path, set()) | files.get(other, set())


def packages_of(program, files):
    """Every package along the chain of links from PROGRAM on PATH to the file, or None."""
    # Debian's own directories only: what a new machine has there is the question, not what
    # this one has put before them (/usr/local, a user's toolchain manager).
    path = program if program.startswith("/") else shutil.which(program, path=SYSTEM_PATH)
    if path is None or not os.path.exists(path):
        return None
    found = set()
    for _ in range(16):  # links of links (alternatives) are few; a loop must not hang us
        found |= owners(path, files)
        if not os.path.islink(path):
            break
        path = os.path.normpath(os.path.join(os.path.dirname(path), os.readlink(path)))
    return found


def minbase():
    result = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Priority} ${Essential}\n"],
                            capture_output=True, text=True, check=True)
    base = {"apt"}
    for line in result.stdout.splitlines():
        fields = line.split()
        if len(fields) >= 2 and (fields[1] == "required" or fields[-1] == "yes"):
            base.add(fields[0])
    return base


def bash_words():
    result = subprocess.run(["bash", "-c", "compgen -b; compgen -k"], capture_output=True,
                            text=True, check=True)
    return set(result.stdout.split())


def own_programs(root):
    """The programs this tree builds and installs (the scripts call them by name)."""
    names = set()
    for cmake in root.glob("**/CMakeLists.txt"):
        names |= set(re.findall(r"add_executable\(\s*([\w-]+)", cmake.read_text()))
    return names


def completion_helpers():
    """The functions bash-completion defines for the completions it loads (_init_completion)."""
    script = "/usr/share/bash-completion/bash_completion"
    if not os.path.exists(script):
        return set()
    result = subprocess.run(["bash", "-c", f'. {script} >/dev/null 2>&1; declare -F'],
                            capture_output=True, text=True, check=False)
    return {line.split()[-1] for line in result.stdout.splitlines() if line.strip()}


def scripts_of(root):
    """The tree's shell scripts: what git tracks, or every file where the tree is no checkout."""
    if (root / ".git").exists():
        listed = subprocess.run(["git", "-C", str(root), "ls-files", "-z"], capture_output=True,
                                check=True).stdout.decode().split("\0")
    else:
        listed = [str(p.relative_to(root)) for p in root.rglob("*") if p.is_file()]
    for name in sorted(filter(None, listed)):
        path = root / name
        if not path.is_file():
            continue
        if name.endswith((".sh", ".bash")) or name == ".ci/run":
            yield name, path
            continue
        with open(path, "rb") as handle:
            head = handle.read(64)
        if re.match(rb"#!\s*(/usr)?/bin/(env\s+)?(ba)?sh\b", head):
            yield name, path


def main():
    parser = argparse.ArgumentParser(add_help=True)
    parser.add_argument("--root", type=Path, default=Path(__file__).resolve().parent.parent)
    parser.add_argument("--packages-from", type=Path)
    parser.add_argument("--list-scripts", action="store_true",
                        help="print the shell scripts that would be checked, and stop")
    options = parser.parse_args()
    root = options.root.resolve()
    if options.list_scripts:
        for name, _ in scripts_of(root):
            print(name)
        return 0
    lib = options.packages_from or root / "scripts" / "lib.sh"
    shfmt = shutil.which("shfmt")
    if shfmt is None:
        print("check-commands: shfmt is missing (it is in scripts/lib.sh's lists)", file=sys.stderr)
        return 1

    lib_text = lib.read_text()
    lists = package_lists(lib_text)
    may_be_missing, orphans = on_demand_programs(lib_text, lists)
    problems = [f"scripts/lib.sh: {array} names programs of no list of packages"
                for array in orphans]
    for package, arrays in sorted(lists.items()):
        if len(arrays) > 1:
            problems.append(f"scripts/lib.sh: {package} is in {', '.join(arrays)}: name it once")
    allowed = closure(sorted(lists)) | minbase()
    files = shipped_files()

    functions = set()
    calls = []
    for name, path in scripts_of(root):
        text = path.read_text(errors="replace")
        finder = Finder(shfmt, name)
        finder.parse(text, dialect_of(name, text))
        functions |= finder.functions
        calls += [(program, name, line) for program, line in finder.calls]
        problems += [f"{name}:{line}: installs {package} itself; name it in a list of scripts/lib.sh"
                     for package, line in finder.inline_installs]

    not_programs = bash_words() | functions | own_programs(root) | completion_helpers() | {"[", "[[", "."}
    verdicts = {}
    for program, script, line in calls:
        if program in not_programs or re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", program):
            continue
        if program not in verdicts:
            packages = packages_of(program, files)
            if packages is None and program in may_be_missing:
                verdicts[program] = None  # installed on demand by the script that calls it
            elif packages is None:
                verdicts[program] = ("is not installed although every list of scripts/lib.sh is: "
                                     "none of them installs it")
            elif not packages:
                verdicts[program] = "belongs to no Debian package"
            elif packages & allowed:
                verdicts[program] = None
            else:
                verdicts[program] = (f"comes from {', '.join(sorted(packages))}, which a minimal "
                                     "Debian root lacks and no list in scripts/lib.sh installs")
        if verdicts[program]:
            problems.append(f"{script}:{line}: {program} {verdicts[program]}")

    for problem in problems:
        print(f"check-commands: {problem}")
    if problems:
        return 1
    programs = {p for p, _, _ in calls if p not in not_programs}
    print(f"check-commands: {len(programs)} programs called by the scripts, each in a minimal "
          "Debian root or installed by scripts/lib.sh")
    return 0


if __name__ == "__main__":
    sys.exit(main())
