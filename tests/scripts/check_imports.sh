#!/usr/bin/env bash
# scripts/check-imports refuses what would keep the installer from starting
# on Windows XP: an import the allowlist dates after XP SP3, an import it
# does not list, and a subsystem version above 5.1.
#
#   tests/scripts/check_imports.sh EXE ALLOWLIST
set -uo pipefail
exe=$1
allow=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
check=$here/../../scripts/check-imports
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0

expect_refused() { # NAME PATTERN ALLOWLIST [ENV...]
    local name=$1 pattern=$2 list=$3 out rc
    shift 3
    out=$(env "$@" bash "$check" "$exe" "$list" 2>&1)
    rc=$?
    if (( rc == 0 )) || ! grep -q -- "$pattern" <<<"$out"; then
        echo "FAIL $name: exit $rc, expected a line matching \"$pattern\":"
        # shellcheck disable=SC2001 # indents every line, which ${//} cannot
        sed 's/^/    /' <<<"$out"
        failures=$((failures + 1))
    else
        echo "ok   $name: $(grep -- "$pattern" <<<"$out" | head -1)"
    fi
}

# The real image passes with the real list, or the cases below prove nothing.
bash "$check" "$exe" "$allow" >/dev/null || { echo "FAIL the real image does not pass"; exit 1; }

sed 's/^\(user32.dll  *MessageBoxW  *\)5\.0$/\16.0/' "$allow" >"$tmp/vista.txt"
cmp -s "$allow" "$tmp/vista.txt" && { echo "FAIL could not date MessageBoxW in the test list"; exit 1; }
expect_refused "an import dated Vista" "user32.dll MessageBoxW, which needs Windows 6.0" "$tmp/vista.txt"

sed 's/^\(kernel32.dll  *ReadFile  *\)5\.1$/\15.1sp4/' "$allow" >"$tmp/sp4.txt"
expect_refused "an import dated after SP3" "kernel32.dll ReadFile, which needs Windows 5.1sp4" "$tmp/sp4.txt"

grep -v '^kernel32.dll  *CreateFileW ' "$allow" >"$tmp/missing.txt"
expect_refused "an import not listed" "imports kernel32.dll CreateFileW, which .* does not list" "$tmp/missing.txt"

# An objdump that reports the image as built for subsystem 6.0.
cat >"$tmp/objdump" <<'FAKE'
#!/usr/bin/env bash
i686-w64-mingw32-objdump "$@" | sed 's/^MajorSubsystemVersion.*/MajorSubsystemVersion\t6/; s/^MinorSubsystemVersion.*/MinorSubsystemVersion\t0/'
FAKE
chmod +x "$tmp/objdump"
expect_refused "subsystem version 6.0" "subsystem version 6.0" "$allow" OBJDUMP="$tmp/objdump"

(( failures == 0 )) || exit 1
echo "check-imports refused every case"
