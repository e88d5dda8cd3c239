#!/usr/bin/env bash
# Each gate refuses what it is there for: scripts/lint over a throwaway
# tree holding one known defect for clang-tidy, shellcheck and pyflakes
# each (the scripts without an extension, found by their first line) must
# fail and name all three, and must not name a defect marked NOLINT nor a
# defect in the ignored build folder; and the product's compile flags, as
# the host build's compile database gives them, make a shadowed local an
# error.
#
#   tests/scripts/lint.sh SOURCE_DIR HOST_BUILD_DIR
set -uo pipefail
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# expect_line NAME PATTERN: the lint's output has a line matching PATTERN.
expect_line() {
    if grep -q -- "$2" <<<"$out"; then
        echo "ok   $1: $(grep -- "$2" <<<"$out" | head -1)"
    else
        fail "$1: no line matching \"$2\""
    fi
}

# The tree: the repository's own configurations, a git checkout that
# ignores build/ as the repository does.
tree=$tmp/tree
mkdir -p "$tree/discovery" "$tree/scripts" "$tree/build"
cp "$src/.clang-tidy" "$src/.shellcheckrc" "$src/.gitignore" "$tree/"
git -C "$tree" init -q || { echo "FAIL git init"; exit 1; }

cat >"$tree/discovery/defect.cpp" <<'EOF'
int Countdown(int n)
{
    return n > 0 ? Countdown(n - 1) : 0;
}

/* NOLINTNEXTLINE(misc-no-recursion): the marked exception */
int Marked(int n)
{
    return n > 0 ? Marked(n - 1) : 0;
}
EOF
# shellcheck disable=SC2016 # the $1 is the defect script's, unquoted there
printf '%s\n' '#!/usr/bin/env bash' 'echo $1' >"$tree/scripts/defect"
printf '%s\n' '#!/usr/bin/env python3' 'import os' >"$tree/scripts/defect-py"
printf '%s\n' '#!/usr/bin/env bash' 'cd /tmp' >"$tree/build/ignored.sh"
printf '[{"directory": "%s", "file": "%s", "command": "c++ -std=c++17 -c %s"}]\n' \
    "$tree" "$tree/discovery/defect.cpp" "$tree/discovery/defect.cpp" \
    >"$tree/build/compile_commands.json"

out=$(bash "$src/scripts/lint" --root "$tree" --build "$tree/build" 2>&1)
rc=$?
if (( rc != 1 )); then
    fail "scripts/lint ended with status $rc, not 1"
fi
expect_line "clang-tidy: a recursion" "discovery/defect.cpp:1:5: error: .*\[misc-no-recursion"
expect_line "shellcheck: an unquoted argument" "scripts/defect:2:6: .*\[SC2086\]"
expect_line "pyflakes: an unused import" "scripts/defect-py:2:1: 'os' imported but unused"
grep -q "Marked" <<<"$out" && fail "the NOLINT-marked recursion was reported"
grep -q "ignored.sh" <<<"$out" && fail "a script in the ignored build folder was checked"
if (( failures )); then
    # shellcheck disable=SC2001 # indents every line, which ${//} cannot
    sed 's/^/    /' <<<"$out"
fi

# The compiler's gate: the product's own command line, from the compile
# database, compiling a shadowed local.
cat >"$tmp/shadow.cpp" <<'EOF'
int Shadowed(int n)
{
    int total = n;
    {
        int total = 2;
        n += total;
    }
    return total + n;
}
EOF
command=$(python3 - "$build/compile_commands.json" "$src" "$tmp/shadow.cpp" <<'EOF'
import json, shlex, sys
db, src, defect = sys.argv[1:]
for entry in json.load(open(db)):
    if entry["file"].startswith(src + "/platform/"):
        args = entry.get("arguments") or shlex.split(entry["command"])
        out = []
        skip = False
        for a in args:
            if skip:
                skip = False
            elif a == "-o":
                skip = True
            elif a != "-c" and a != entry["file"] and not a.endswith(entry["file"]):
                out.append(a)
        print(shlex.join(out + ["-fsyntax-only", defect]))
        break
EOF
)
if [[ -z $command ]]; then
    fail "no product file in $build/compile_commands.json"
elif out=$(cd "$build" && eval "$command" 2>&1); then
    fail "the product's flags compiled a shadowed local: $command"
else
    expect_line "the compiler: a shadowed local is an error" "error: declaration of .total. shadows a previous local"
fi

(( failures == 0 )) || exit 1
