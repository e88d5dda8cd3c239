#!/usr/bin/env bash
# bootstrap over a mirror whose bookworm-security i386 index does not
# update: against stand-in apt commands and folders of the test's own (no
# network, nothing of the machine touched), every install leaves exactly
# that suite out of both source formats and says so, apt-get update never
# runs with the filtered sources, and an install that still cannot resolve
# names the clashing library with both versions.
#
#   tests/scripts/bootstrap.sh SOURCE_DIR
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

bin=$tmp/bin etc=$tmp/etc state=$tmp/state
mkdir -p "$bin" "$etc/sources.list.d" "$state" "$tmp/binfmt"
touch "$tmp/binfmt/register"
stand_in() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$bin/$1"; chmod +x "$bin/$1"; }
# What apt 2.6 prints when a mirror serves an index of the wrong size.
stand_in apt-get 'echo "$*" >>'"$state"'/calls
case " $* " in
*" update "*) echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 1.2.3.4 80]" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2; exit 100 ;;
*" install "*) [[ -e '"$state"'/unresolvable ]] && { echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; }
    touch '"$state"'/installed ;;
esac'
stand_in apt-cache 'printf "liblzma5:i386:\n  Installed: (none)\n  Candidate: 5.4.1-1+deb12u1\n"'
stand_in dpkg-query 'case "$*" in
*Status-Status*) [[ -e '"$state"'/installed ]] && echo installed ;;
*) echo "liblzma5 5.4.1-1+deb12u2 same"; echo "bash 5.2.15-2 foreign" ;;
esac'
# shellcheck disable=SC2016 # the stand-in's own \$1, expanded when it runs
stand_in dpkg 'case $1 in
--print-foreign-architectures) echo i386 ;; --print-architecture) echo amd64 ;;
*) exec /usr/bin/dpkg "$@" ;; esac'
stand_in osslsigncode '[[ -e '"$state"'/installed ]] && echo "osslsigncode 2.9" || echo "osslsigncode 2.5"'
stand_in sudo 'exec "$@"'

# Both formats, the suite alone and beside others, options with spaces.
cat >"$etc/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main

Types: deb
# a comment inside the stanza
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main

Types: deb
URIs: http://mirror.example/debian
Suites: bookworm-security
 bookworm-proposed-updates
Components: main
EOF
cat >"$etc/sources.list" <<'EOF'
deb http://deb.debian.org/debian-security bookworm-security main
deb [ arch=i386 signed-by=/k.gpg ] http://deb.debian.org/debian-security bookworm-security main
deb [arch=amd64] http://deb.debian.org/debian bookworm main
EOF
cp "$etc/sources.list" "$tmp/sources.before"

run() {
    rm -f "$state/calls" "$state/installed"
    env PATH="$bin:$PATH" LANG=C BOOTSTRAP_APT_ETC="$etc" BOOTSTRAP_BINFMT="$tmp/binfmt" \
        BOOTSTRAP_WINE_LOADER=true BOOTSTRAP_APT_RETRY_S=0 BOOTSTRAP_APT_WORK="$tmp/work" \
        bash "$src/scripts/bootstrap" >"$tmp/out" 2>&1
}

run || fail "bootstrap failed: $(tail -3 "$tmp/out")"
grep -q '^bootstrap: bookworm-security left out of this install' "$tmp/out" ||
    fail "no line names the suite left out"
grep -c ' install ' "$state/calls" | grep -qx 2 || fail "not two installs (main, backports): $(cat "$state/calls")"
grep ' install ' "$state/calls" | grep -v -q "Dir::Etc::SourceParts=$tmp/work/sources.list.d" &&
    fail "an install read the machine's own sources"
grep ' update' "$state/calls" | grep -q 'Dir::' && fail "apt-get update ran with the filtered sources"
kept=$(cat "$tmp/work/sources.list" "$tmp/work/sources.list.d/"*)
grep -q 'bookworm-security' <<<"$kept" && fail "bookworm-security is still in the filtered sources: $kept"
for want in 'Suites: bookworm bookworm-updates' 'Suites: bookworm-proposed-updates' \
    'qx-bookworm-backports' 'deb \[arch=amd64\] http://deb.debian.org/debian bookworm main'; do
    grep -q "$want" <<<"$kept$(ls "$tmp/work/sources.list.d")" || fail "the filter lost: $want"
done
[[ $(grep -c '^URIs:' "$tmp/work/sources.list.d/debian.sources") == 2 ]] ||
    fail "the stanza of bookworm-security alone was kept"
cmp -s "$etc/sources.list" "$tmp/sources.before" || fail "the machine's sources.list changed"

touch "$state/unresolvable"
if run; then fail "an install that cannot resolve passed"; fi
grep -q 'liblzma5 is 5.4.1-1+deb12u2 for amd64 here but can be had only at 5.4.1-1+deb12u1' "$tmp/out" ||
    fail "the clash is not named: $(tail -3 "$tmp/out")"
grep -q 'bash is' "$tmp/out" && fail "a package that is not Multi-Arch same was named"

(( failures == 0 )) && echo "ok   bootstrap leaves out the suite whose index failed"
exit $((failures > 0))
