# shellcheck shell=bash
# Library of the Wine end-to-end harness.  A scenario script sources it:
#
#     source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
#     e2e_new_prefix my-scenario
#     e2e_set_version win10
#     e2e_stage_package "$QX_PACKAGE_DIR"
#     e2e_run_installer
#     e2e_assert_boxes "$E2E_CAPTION_EN" "Driver Install Success!"
#     e2e_assert_exit 0
#     e2e_assert_staged
#     e2e_assert_inf_registered
#     e2e_pass
#
# Environment (set by ctest through qx_add_wine_scenario, or by scripts/try):
#   QX_INSTALLER_EXE     the built QxDspInstaller.exe
#   QX_E2E_BIN           folder of the built test programs (watcher.exe, ...)
#   QX_PACKAGE_DIR       the bundled sample package (package/ of the source)
#   QX_E2E_WORK          work folder of this test run; scenario prefixes go here
#   QX_E2E_TEMPLATE      the template prefix made once per run
#   QX_E2E_DISPLAY_FILE  file holding the X display the run's Xvfb serves; when
#                        it exists it decides DISPLAY, so that no box ever
#                        lands on a developer's own desktop
#   E2E_KEEP=1           keep a passing scenario's prefix (failing ones are
#                        always kept, for a look afterwards)
#   E2E_QUIET=1          no progress lines (failures are still reported)
#   E2E_REQUIRE_PASS=0   for tools rather than scenarios (scripts/try): the
#                        script need not end in e2e_pass, and its prefix is
#                        removed at the end unless E2E_KEEP=1
#
# Every Wine command sends its output to a file: Wine's background
# processes inherit standard output and would hold a pipe (and ctest) open.
#
# Functions (each documented where it is defined):
#   set-up       e2e_new_prefix NAME, e2e_set_version VERSION,
#                e2e_set_locale LOCALE, e2e_own_display, e2e_on_exit CMD...
#   Wine         e2e_wine PROGRAM ARGS..., e2e_watch PROGRAM ARGS...,
#                e2e_run_installer [EXE]
#   package      e2e_stage_package SRC_DIR [C:\DIR], e2e_copy_package DEST
#   paths        e2e_c_path 'C:\...', e2e_win_path UNIX_PATH,
#                e2e_mtime PATH, e2e_touch PATH DATE
#   registry     e2e_reg_query KEY [ARGS...], e2e_reg_value KEY VALUE,
#                e2e_reg_absent KEY [ARGS...], e2e_reg_export KEY FILE,
#                e2e_reg_add ARGS...
#   INF folder   e2e_registered_inf, e2e_unregister_inf
#   assertions   e2e_assert_eq, e2e_assert_file, e2e_assert_no_file,
#                e2e_assert_dir, e2e_assert_no_dir, e2e_assert_same_file,
#                e2e_assert_exit, e2e_assert_boxes, e2e_assert_no_boxes,
#                e2e_assert_prompt_exit, e2e_assert_staged,
#                e2e_assert_staged_files, e2e_assert_inf_registered,
#                e2e_assert_inf_not_registered
#   outcome      e2e_log, e2e_fail MESSAGE, e2e_pass
#   harness      e2e_start_xvfb, e2e_stop_xvfb, e2e_make_template (used by
#                the ctest fixture and scripts/try)
#   machine      e2e_can_run_win32, e2e_win32_mode, e2e_scaled N,
#                e2e_require_win32 TOOL; QX_E2E_TIME_FACTOR
#   interrupted  e2e_run_installer_killed MS, e2e_watch_together PROGRAM...,
#   and together e2e_together_run N, e2e_assert_took_turns,
#                e2e_state_digest WHAT...
#
# Functions return 0 on success; assertions and e2e_fail end the scenario
# with exit status 1 and a message that says what was expected and found.

set -o errexit -o nounset -o pipefail
shopt -s extglob

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEARCH WINESERVER WINELOADER 2>/dev/null || true

if [[ -n ${QX_E2E_DISPLAY_FILE:-} && -s ${QX_E2E_DISPLAY_FILE} ]]; then
    DISPLAY=$(<"$QX_E2E_DISPLAY_FILE")
    export DISPLAY
fi

# Texts the installer shows, as the catalogue gives them.
# shellcheck disable=SC2034 # read by the scripts that source this file
{
E2E_CAPTION_EN="QX DSP USB Driver Installer"
E2E_CAPTION_ZH="QX DSP USB 驱动安装"
E2E_SUCCESS_EN="Driver Install Success!"
E2E_SUCCESS_ZH="驱动安装成功!"
E2E_RESTART_EN="Driver has been updated, you must restart PC before insert Usb Cable!!!"
E2E_RESTART_ZH="驱动已更新,插入设备USB之前,必须先手动重启!!!"
E2E_FAILURE_PREFIX_EN="Failed, error code: "
E2E_FAILURE_PREFIX_ZH="驱动安装失败, 原因: "
}

# Where the installer keeps its copy of the package (a 32-bit process on
# 64-bit Windows sees Program Files as "Program Files (x86)").
E2E_STAGING_WIN='C:\Program Files (x86)\Quorvantix\DriverQxDsp'
E2E_INF_DIR_WIN='C:\windows\inf'

# The package layout: every file the installer tests, copies and compares.
E2E_PACKAGE_FILES=(
    QX_DSP_USB.inf
    USB_DSP.cat
    amd64/libusbDspQx.dll
    amd64/libusbDspQx.sys
    ia64/libusbDspQx.dll
    ia64/libusbDspQx.sys
    x86/libusbDspQx.sys
    x86/libusbDspQx_x86.dll
)

# The scenario's own tools read Wine's and reg's words in UTF-8 whatever
# the caller's locale; Wine's processes get E2E_LC_ALL.
unset LC_ALL LANGUAGE LC_CTYPE LC_MESSAGES LC_COLLATE
export LANG=C.UTF-8

E2E_NAME=${E2E_NAME:-$(basename "${BASH_SOURCE[1]:-e2e}" .sh)}
E2E_DIR=""        # the scenario's folder: prefix/ and the logs
E2E_PKG_WIN=""    # Windows path of the staged package folder (set by e2e_stage_package)
E2E_PKG_DIR=""    # its unix path
E2E_LC_ALL=C.UTF-8 # LC_ALL for Wine's processes (e2e_set_locale)
E2E_STARTED=$SECONDS
_e2e_wine_runs=0
_e2e_runs=0
_e2e_exit_hooks=()
_e2e_passed=0
_e2e_reported=0
_e2e_last_err=""
_e2e_need_pass=0  # set by e2e_new_prefix: a scenario must end in e2e_pass

# ---------------------------------------------------------------- messages

# e2e_log MESSAGE...: a progress line on standard error.
e2e_log() { [[ ${E2E_QUIET:-0} == 1 ]] || printf '[%s] %s\n' "$E2E_NAME" "$*" >&2; }

# e2e_fail MESSAGE...: ends the scenario as failed.
e2e_fail() {
    printf '[%s] FAIL: %s\n' "$E2E_NAME" "$*" >&2
    _e2e_reported=1
    if [[ -n ${E2E_REPORT:-} && -f ${E2E_REPORT:-} ]]; then
        printf '[%s] last watcher report (%s):\n' "$E2E_NAME" "$E2E_REPORT" >&2
        sed 's/^/    /' "$E2E_REPORT" >&2
    fi
    exit 1
}

# e2e_pass: marks the scenario as passed and ends it (exit 0).
e2e_pass() {
    _e2e_passed=1
    e2e_log "PASS in $((SECONDS - E2E_STARTED)) s"
    exit 0
}

# e2e_on_exit COMMAND [ARGS...]: runs the command when the scenario ends,
# however it ends; the latest registered runs first.
e2e_on_exit() { _e2e_exit_hooks=("$(printf '%q ' "$@")" "${_e2e_exit_hooks[@]}"); }

_e2e_at_exit() {
    local status=$? hook
    if (( status != 0 && !_e2e_reported )) && [[ ${E2E_REQUIRE_PASS:-1} == 1 ]]; then
        printf '[%s] FAIL: a command failed with exit status %d%s\n' "$E2E_NAME" "$status" \
            "${_e2e_last_err:+ ($_e2e_last_err)}" >&2
    fi
    for hook in "${_e2e_exit_hooks[@]}"; do eval "$hook" || true; done
    if (( status == 0 && _e2e_passed == 0 && _e2e_need_pass )); then
        printf '[%s] FAIL: the scenario ended without e2e_pass\n' "$E2E_NAME" >&2
        status=1
    fi
    exit $status
}
trap _e2e_at_exit EXIT
trap '_e2e_last_err="line $LINENO: $BASH_COMMAND"' ERR

# ---------------------------------------------------------- display, prefix

# e2e_start_xvfb STATE_DIR: starts Xvfb on the first free display from :90
# on, detached, and writes the display to STATE_DIR/display and the pid to
# STATE_DIR/xvfb.pid.  Exports DISPLAY.
e2e_start_xvfb() {
    local state=$1 n pid
    mkdir -p "$state"
    for ((n = 90; n < 200; n++)); do
        [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
        setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp \
            </dev/null >"$state/xvfb.log" 2>&1 &
        pid=$!
        local i
        for ((i = 0; i < 100; i++)); do
            [[ -S /tmp/.X11-unix/X$n ]] && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if [[ -S /tmp/.X11-unix/X$n ]] && kill -0 "$pid" 2>/dev/null; then
            echo "$pid" >"$state/xvfb.pid"
            echo ":$n" >"$state/display"
            export DISPLAY=":$n"
            return 0
        fi
        kill "$pid" 2>/dev/null || true
    done
    echo "no free X display for Xvfb; see $state/xvfb.log" >&2
    return 1
}

# e2e_stop_xvfb STATE_DIR: stops the Xvfb that e2e_start_xvfb started there.
e2e_stop_xvfb() {
    local state=$1 pid
    [[ -f $state/xvfb.pid ]] || return 0
    pid=$(<"$state/xvfb.pid")
    kill "$pid" 2>/dev/null || true
    rm -f "$state/xvfb.pid" "$state/display"
}

# e2e_own_display: gives the scenario an Xvfb display of its own instead of
# the run's shared one, stopped when the scenario ends.  For scenarios that
# type, click or take screenshots, which other scenarios running at the
# same time on the shared display would disturb.  Call it before
# e2e_new_prefix.
e2e_own_display() {
    : "${QX_E2E_WORK:?QX_E2E_WORK is not set}"
    local state=$QX_E2E_WORK/displays/$E2E_NAME-$$
    e2e_start_xvfb "$state" || e2e_fail "could not start an Xvfb of the scenario's own"
    e2e_on_exit e2e_stop_xvfb "$state"
    e2e_log "own display $DISPLAY"
}

# e2e_make_template PREFIX_DIR: makes a fresh Wine prefix (about 20 s) and
# waits until its wineserver has saved everything and gone.  Windows are
# made unmanaged: without a window manager Wine waits 2 s for each closed
# managed window to be withdrawn, which would delay every box and exit.
e2e_make_template() {
    local tpl=$1 log
    rm -rf "$tpl"
    mkdir -p "$(dirname "$tpl")"
    log=$(dirname "$tpl")/template.log
    # shellcheck disable=SC2030 # the template's WINEPREFIX is for this subshell only
    (
        export WINEPREFIX=$tpl
        wineboot -i
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
        wineserver -w
    ) </dev/null >"$log" 2>&1 || { cat "$log" >&2; return 1; }
    [[ -f $tpl/system.reg && -d $tpl/drive_c/windows ]] || { cat "$log" >&2; return 1; }
}

# e2e_new_prefix NAME: makes this scenario's prefix as a copy of the
# template in $QX_E2E_WORK/NAME/prefix, exports WINEPREFIX, starts a
# persistent wineserver for it and registers its shutdown.
#
# The copy is quick because the prefix's program files (dll, exe, nls, ...)
# are hard links to the template's.  Never write into such a file in place:
# to replace one, delete it first.  Every other file is a copy of its own.
e2e_new_prefix() {
    local name=$1
    : "${QX_E2E_TEMPLATE:?QX_E2E_TEMPLATE is not set}"
    : "${QX_E2E_WORK:?QX_E2E_WORK is not set}"
    [[ -f $QX_E2E_TEMPLATE/system.reg ]] || e2e_fail "no template prefix at $QX_E2E_TEMPLATE"
    E2E_NAME=$name
    _e2e_need_pass=${E2E_REQUIRE_PASS:-1}
    E2E_DIR=$QX_E2E_WORK/$name
    rm -rf "$E2E_DIR"
    mkdir -p "$E2E_DIR"
    cp -al "$QX_E2E_TEMPLATE" "$E2E_DIR/prefix"
    (
        cd "$E2E_DIR/prefix"
        find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.nls' -o -iname '*.drv' \
            -o -iname '*.ocx' -o -iname '*.cpl' -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.ax' \
            -o -iname '*.vxd' -o -iname '*.ds' -o -iname '*.com' -o -iname '*.msstyles' \) -print0 |
            while IFS= read -r -d '' f; do
                cp -p "$f" "$f.e2e-copy" && mv -f "$f.e2e-copy" "$f"
            done
    )
    # shellcheck disable=SC2031 # e2e_make_template's subshell set another one
    export WINEPREFIX=$E2E_DIR/prefix
    wineserver -p </dev/null >"$E2E_DIR/wineserver.log" 2>&1
    e2e_on_exit _e2e_end_prefix
    e2e_log "prefix $WINEPREFIX"
}

_e2e_end_prefix() {
    WINEPREFIX=$E2E_DIR/prefix wineserver -k </dev/null >/dev/null 2>&1 || true
    if (( _e2e_passed || !_e2e_need_pass )) && [[ ${E2E_KEEP:-0} != 1 ]]; then
        rm -rf "$E2E_DIR/prefix"
    else
        e2e_log "prefix kept for inspection: $E2E_DIR/prefix"
    fi
}

# e2e_set_version winxp|win7|win10|...: the Windows version Wine reports.
e2e_set_version() {
    e2e_wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f ||
        e2e_fail "could not set Windows version $1"
}

# e2e_set_locale LOCALE: LC_ALL for every later Wine process of the
# scenario, e.g. zh_CN.UTF-8 (GetSystemDefaultLangID then gives 0x0804).
# Wine reads the name itself; the locale need not be installed.  An empty
# argument returns to C.UTF-8, never the caller's locale: under POSIX Wine
# writes a program's non-ASCII output as something else.
e2e_set_locale() { E2E_LC_ALL=${1:-C.UTF-8}; }

# Wine's reg.exe is a 64-bit program in the 64-bit prefix.  Started through
# wine64 it skips the 32-bit launcher `wine`, which a machine that runs no
# 32-bit code starts through qemu: 0.2 s a call instead of 0.8 s there.
E2E_WINE64=/usr/lib/wine/wine64

# _e2e_launcher PROGRAM: the Wine launcher that starts PROGRAM.
_e2e_launcher() {
    if [[ $1 == reg && -x $E2E_WINE64 ]]; then echo "$E2E_WINE64"; else echo wine; fi
}

# reg's own answer when a key or value does not exist.  reg is the
# harness's tool, not the program under test, so it always speaks English
# (see _e2e_run_once) whatever locale the scenario gives the installer.
E2E_REG_MISSING='Unable to find the specified registry'

# _e2e_reg_said_missing LOG: LOG is reg's answer that a key or value is missing.
_e2e_reg_said_missing() { grep -qF "$E2E_REG_MISSING" "$1"; }

# _e2e_said FILE: what a program wrote to FILE, on one line ("nothing" if
# it wrote nothing), cut at 2000 bytes.
_e2e_said() { head -c 2000 "$1" | tr -d '\r' | tr '\n' ' ' | grep . || echo nothing; }

# _e2e_run LOG PROGRAM ARGS...: PROGRAM under Wine, through its launcher
# and in its locale (see _e2e_run_once), with all its output in LOG;
# returns its exit code.
#
# A failed reg runs again unless it answered that a key or value is
# missing.  It failed without a word once, on a freshly set-up machine
# under load, in two scenarios a few seconds apart: an import ended with
# exit code 1 as if its file were empty, an export as if it could not
# create its file, and WINEDEBUG=-all muted whatever Wine had to say.
# Later a query of a key just imported failed once in a CI run, its words
# unrecorded.  Whatever held then may still hold a moment later, so reg
# gets E2E_REG_TRIES starts in all, 2 s apart; the later ones let Wine's
# errors through (to LOG.wine-errors, so that LOG stays reg's own output)
# and each says what it saw.
E2E_REG_TRIES=3
_e2e_run() {
    local log=$1 rc=0 launcher try=1
    shift
    launcher=$(_e2e_launcher "$1")
    _e2e_run_once "$log" "$log" "$launcher" "$@" || rc=$?
    while (( rc != 0 && try < E2E_REG_TRIES )) && [[ $1 == reg ]] && ! _e2e_reg_said_missing "$log"; do
        printf '[%s] wine %s: exit code %d (%s of %s free); it said: %s; starting it again\n' \
            "$E2E_NAME" "$*" "$rc" "$(df -h --output=avail "$log" 2>/dev/null | tail -1 | tr -d ' ')" \
            "$(dirname "$log")" "$(_e2e_said "$log")" >&2
        sleep 2
        try=$((try + 1))
        rc=0
        WINEDEBUG=-all,err+all _e2e_run_once "$log" "$log.wine-errors" "$launcher" "$@" || rc=$?
        printf '[%s] start %d: exit code %d; Wine said: %s\n' "$E2E_NAME" "$try" "$rc" \
            "$(_e2e_said "$log.wine-errors")" >&2
    done
    return $rc
}

# _e2e_run_once LOG ERRORS LAUNCHER PROGRAM ARGS...: one start of PROGRAM
# in the scenario's locale (reg in C.UTF-8), its standard output in LOG
# and its standard error in ERRORS (which may be LOG).
_e2e_run_once() {
    local log=$1 errors=$2 launcher=$3
    shift 3
    local -a lc_all=("LC_ALL=$E2E_LC_ALL")
    [[ $1 == reg ]] && lc_all=(LC_ALL=C.UTF-8)
    if [[ $errors == "$log" ]]; then
        env "${lc_all[@]}" "$launcher" "$@" </dev/null >"$log" 2>&1
    else
        env "${lc_all[@]}" "$launcher" "$@" </dev/null >"$log" 2>"$errors"
    fi
}

# e2e_wine PROGRAM ARGS...: runs PROGRAM under Wine with its output in a
# log file of the scenario; returns the program's exit code and shows the
# log when it is not 0.  E2E_WINE_LOG names the log afterwards.
e2e_wine() {
    _e2e_wine_runs=$((_e2e_wine_runs + 1))
    E2E_WINE_LOG=${E2E_DIR:-${QX_E2E_WORK:-/tmp}}/wine-$_e2e_wine_runs.log
    local rc=0
    _e2e_run "$E2E_WINE_LOG" "$@" || rc=$?
    if (( rc != 0 )); then
        printf '[%s] wine %s: exit code %d; output:\n' "$E2E_NAME" "$*" "$rc" >&2
        sed 's/^/    /' "$E2E_WINE_LOG" >&2
    fi
    return $rc
}

# ---------------------------------------------------------------- paths

# e2e_c_path 'C:\Some\Path': the unix path of a path on the prefix's C:
# drive.  Existing components are matched case-insensitively, as Windows
# does ('C:\Windows\INF' finds drive_c/windows/inf); missing ones are kept
# as written.  A path without drive letter is returned unchanged.
e2e_c_path() {
    local win=$1
    if [[ $win != [cC]:* ]]; then
        printf '%s\n' "$win"
        return 0
    fi
    local rest=${win:2} out=$WINEPREFIX/drive_c part entry found
    rest=${rest//\\//}
    local IFS=/
    local -a parts
    read -r -a parts <<<"$rest"
    unset IFS
    for part in "${parts[@]}"; do
        [[ -z $part ]] && continue
        if [[ -e $out/$part ]]; then
            out=$out/$part
            continue
        fi
        found=""
        if [[ -d $out ]]; then
            shopt -s nocasematch
            for entry in "$out"/* "$out"/.*; do
                entry=${entry##*/}
                if [[ $entry == "$part" ]]; then found=$entry; break; fi
            done
            shopt -u nocasematch
        fi
        out=$out/${found:-$part}
    done
    printf '%s\n' "$out"
}

# e2e_win_path UNIX_PATH: the Windows path of a unix path (through Z:).
e2e_win_path() {
    local p
    p=$(realpath -m "$1")
    printf 'Z:%s\n' "${p//\//\\}"
}

# _e2e_path PATH: PATH as a unix path, whether given as C:\... or unix.
_e2e_path() {
    if [[ $1 == [cC]:* ]]; then e2e_c_path "$1"; else printf '%s\n' "$1"; fi
}

# e2e_mtime PATH: a file's last-write time in units of 100 ns since the
# epoch, the resolution of a Windows file time.
e2e_mtime() {
    local p t
    p=$(_e2e_path "$1")
    t=$(stat -c '%.9Y' "$p") || return 1
    local s=${t%.*} ns=${t#*.}
    printf '%s%s\n' "$s" "${ns:0:7}"
}

# e2e_touch PATH DATE: sets a file's last-write time, DATE as for touch -d.
e2e_touch() { touch -m -d "$2" "$(_e2e_path "$1")"; }

# ---------------------------------------------------------------- package

# e2e_stage_package SRC_DIR ['C:\pkg']: copies a package folder's contents
# (times kept) and the installer into a folder of the prefix, C:\pkg unless
# given.  Sets E2E_PKG_WIN and E2E_PKG_DIR.
e2e_stage_package() {
    local src=$1 win=${2:-'C:\pkg'}
    : "${QX_INSTALLER_EXE:?QX_INSTALLER_EXE is not set}"
    [[ -d $src ]] || e2e_fail "package folder $src does not exist"
    [[ -f $QX_INSTALLER_EXE ]] || e2e_fail "installer $QX_INSTALLER_EXE has not been built"
    E2E_PKG_WIN=${win%\\}
    E2E_PKG_DIR=$(e2e_c_path "$E2E_PKG_WIN")
    rm -rf "$E2E_PKG_DIR"
    mkdir -p "$E2E_PKG_DIR"
    cp -a "$src/." "$E2E_PKG_DIR/"
    cp -p "$QX_INSTALLER_EXE" "$E2E_PKG_DIR/QxDspInstaller.exe"
}

# e2e_copy_package DEST_DIR: a private copy of the bundled package, times
# kept, for a scenario that changes it before staging it.
e2e_copy_package() {
    rm -rf "$1"
    mkdir -p "$1"
    cp -a "$QX_PACKAGE_DIR/." "$1/"
}

# ---------------------------------------------------------------- running

# e2e_run_installer ['C:\pkg\QxDspInstaller.exe']: runs the installer (by
# default the one e2e_stage_package put in place) under the watcher; see
# e2e_watch for what it leaves behind.
# shellcheck disable=SC2120 # the argument is optional; calls without one (SC2119) take the default
e2e_run_installer() {
    local pkg=${E2E_PKG_WIN:-C:\\pkg}
    e2e_watch "${1:-$pkg\\QxDspInstaller.exe}"
}

# e2e_watch PROGRAM [ARGS...]: runs a Windows program (Windows path) under
# the watcher, which presses OK on every box, and reads its report:
#   E2E_REPORT         the report file (format: see e2e/watcher.cpp)
#   E2E_BOXES          number of boxes shown
#   E2E_BOX_CAPTION[i], E2E_BOX_TEXT[i], E2E_BOX_BUTTONS[i]   box i, from 0;
#                      buttons are the visible button ids, "1" = OK alone
#   E2E_EXIT           the exit code ("" when the program had to be killed)
#   E2E_TIMED_OUT      1 when the program did not end within E2E_TIMEOUT
#                      seconds (default 60, times the time factor) and was
#                      killed, else 0
#   E2E_AFTER_OK_MS    ms from the last OK press to the exit ("" if no box)
#   E2E_RUN_MS         ms from start to exit
#   E2E_KILLED_MS      ms from start to the kill E2E_KILL_MS asked for (""
#                      when the program ended before it)
# With E2E_SHOT_DIR set (a unix folder), the watcher waits before each
# press for a screenshot: see watcher.exe -s.  With E2E_KILL_MS set, it
# kills the program that many ms after its start: see watcher.exe -k.
# With E2E_DESKTOP set ("STATION\DESKTOP"), it starts the program on a
# window station it creates without WSF_VISIBLE (see watcher.exe -w) and
# sets E2E_STATION_FLAGS to the flags that station reports (hexadecimal).
# Prints what the user saw.  Fails the scenario only when the watcher
# itself could not do its job.
# What e2e_watch sets, which e2e_watch_together hands back for each run.
_E2E_WATCH_RESULTS=(E2E_REPORT E2E_BOXES E2E_BOX_CAPTION E2E_BOX_TEXT E2E_BOX_BUTTONS
    E2E_EXIT E2E_TIMED_OUT E2E_AFTER_OK_MS E2E_RUN_MS E2E_KILLED_MS E2E_STATION_FLAGS)
e2e_watch() {
    local exe=$1
    _e2e_runs=$((_e2e_runs + 1))
    E2E_REPORT=$E2E_DIR/run-$_e2e_runs.report
    rm -f "$E2E_REPORT"
    local rc=0 options=()
    [[ -n ${E2E_SHOT_DIR:-} ]] && options+=(-s "$(e2e_win_path "$E2E_SHOT_DIR")")
    [[ -n ${E2E_KILL_MS:-} ]] && options+=(-k "$E2E_KILL_MS")
    [[ -n ${E2E_DESKTOP:-} ]] && options+=(-w "$E2E_DESKTOP")
    e2e_wine "$QX_E2E_BIN/watcher.exe" -t "$(e2e_scaled "${E2E_TIMEOUT:-60}")" "${options[@]}" \
        "$(e2e_win_path "$E2E_REPORT")" "$@" || rc=$?
    [[ -f $E2E_REPORT ]] || e2e_fail "the watcher wrote no report (exit code $rc)"
    E2E_BOXES=0
    E2E_BOX_CAPTION=()
    E2E_BOX_TEXT=()
    E2E_BOX_BUTTONS=()
    E2E_EXIT=""
    E2E_TIMED_OUT=0
    E2E_AFTER_OK_MS=""
    E2E_RUN_MS=""
    E2E_KILLED_MS=""
    E2E_STATION_FLAGS=""
    local line tag a b c done=0
    local -a f
    while IFS= read -r line; do
        _e2e_split_tabs "$line"
        f=("${_e2e_fields[@]}" "" "" "" "")
        tag=${f[0]} a=${f[1]} b=${f[2]} c=${f[3]}
        case $tag in
        BOX)
            E2E_BOX_CAPTION+=("$(printf '%b' "$a")")
            E2E_BOX_TEXT+=("$(printf '%b' "$b")")
            E2E_BOX_BUTTONS+=("$c")
            E2E_BOXES=$((E2E_BOXES + 1))
            ;;
        EXIT) E2E_EXIT=$a ;;
        TIMEOUT) E2E_TIMED_OUT=1 ;;
        AFTER_OK_MS) E2E_AFTER_OK_MS=$a ;;
        RUN_MS) E2E_RUN_MS=$a ;;
        KILLED) E2E_KILLED_MS=$a ;;
        STATION)
            # shellcheck disable=SC2034 # read by the scenarios that start the run on a station of their own
            E2E_STATION_FLAGS=$b ;;
        ERROR) e2e_fail "the watcher could not run $exe: $a (error $b)" ;;
        DONE) done=1 ;;
        esac
    done <"$E2E_REPORT"
    (( done )) || e2e_fail "the watcher's report is incomplete (watcher exit code $rc)"
    local i
    for ((i = 0; i < E2E_BOXES; i++)); do
        e2e_log "box $((i + 1)): [${E2E_BOX_CAPTION[i]}] ${E2E_BOX_TEXT[i]}"
    done
    (( E2E_BOXES )) || e2e_log "no box"
    if (( E2E_TIMED_OUT )); then
        e2e_log "the installer did not end within $(e2e_scaled "${E2E_TIMEOUT:-60}") s and was killed"
    elif [[ -n $E2E_KILLED_MS ]]; then
        e2e_log "killed $E2E_KILLED_MS ms after its start, as asked"
    else
        e2e_log "exit code $E2E_EXIT after $E2E_RUN_MS ms${E2E_AFTER_OK_MS:+ ($E2E_AFTER_OK_MS ms after the last OK)}"
    fi
    return 0
}

# _e2e_split_tabs LINE: splits LINE at each tab into _e2e_fields; unlike
# read with IFS=tab, empty fields are kept.
_e2e_split_tabs() {
    local rest=$1
    _e2e_fields=()
    while [[ $rest == *$'\t'* ]]; do
        _e2e_fields+=("${rest%%$'\t'*}")
        rest=${rest#*$'\t'}
    done
    _e2e_fields+=("$rest")
}

# ---------------------------------------------------------------- registry

# e2e_reg_query KEY [reg query options...]: prints `wine reg query` output;
# returns 1 when reg answers that the key (or value) does not exist, and 2
# with a line on standard error when reg gave no answer at all.
e2e_reg_query() {
    local rc=0
    _e2e_wine_runs=$((_e2e_wine_runs + 1))
    local log=$E2E_DIR/wine-$_e2e_wine_runs.log
    _e2e_run "$log" reg query "$@" || rc=$?
    tr -d '\r' <"$log"
    (( rc == 0 )) && return 0
    _e2e_reg_said_missing "$log" && return 1
    printf '[%s] wine reg query %s: no answer (exit code %d): %s\n' "$E2E_NAME" "$*" "$rc" \
        "$(_e2e_said "$log")" >&2
    return 2
}

# e2e_reg_value KEY VALUE: prints a value's data as `reg query` shows it
# (REG_DWORD as 0x...); returns 1 when it does not exist, 2 when reg gave
# no answer.
e2e_reg_value() {
    local out line rc=0
    out=$(e2e_reg_query "$1" /v "$2") || rc=$?
    (( rc == 0 )) || return $rc
    while IFS= read -r line; do
        line=${line#"${line%%[![:space:]]*}"}
        if [[ ${line,,} == "${2,,}"* ]]; then
            line=${line:${#2}}
            line=${line#"${line%%[![:space:]]*}"}
            line=${line##REG_+([A-Z_0-9])}
            line=${line#"${line%%[![:space:]]*}"}
            printf '%s\n' "$line"
            return 0
        fi
    done <<<"$out"
    return 1
}

# e2e_reg_absent KEY [reg query options...]: returns 0 when reg answers
# that the key (or, with /v NAME, the value) does not exist, 1 when it
# exists; ends the scenario when reg gives no answer, which says nothing
# either way.
e2e_reg_absent() {
    local rc=0
    e2e_reg_query "$@" >/dev/null || rc=$?
    case $rc in
    0) return 1 ;;
    1) return 0 ;;
    *) e2e_fail "could not tell whether $* exists: reg gave no answer" ;;
    esac
}

# e2e_reg_export KEY FILE: exports a key tree as a .reg file (UTF-16 as
# Wine writes it) and converts it to UTF-8 with unix line ends in FILE,
# without the display adapters that Wine registers below Control\Video
# whenever its desktop starts, which may be in the middle of a scenario.
# Returns non-zero when the key does not exist.
e2e_reg_export() {
    local key=$1 file=$2 raw=$E2E_DIR/export.$$.reg
    rm -f "$raw"
    e2e_wine reg export "$key" "$(e2e_win_path "$raw")" /y || return 1
    iconv -f UTF-16 -t UTF-8 <"$raw" | tr -d '\r' |
        awk '/^\[/ { skip = tolower($0) ~ /\\control\\video\\\{/ } !skip' >"$file"
    rm -f "$raw"
}

# e2e_reg_add ARGS...: `wine reg add ARGS... /f`.
e2e_reg_add() { e2e_wine reg add "$@" /f || e2e_fail "reg add $* failed"; }

# ---------------------------------------------------------------- assertions

# e2e_assert_eq EXPECTED ACTUAL WHAT
e2e_assert_eq() {
    [[ $1 == "$2" ]] || e2e_fail "$3: expected '$1', got '$2'"
}

# e2e_assert_file PATH [WHAT]: PATH (C:\... or unix) is an existing file.
e2e_assert_file() {
    local p
    p=$(_e2e_path "$1")
    [[ -f $p ]] || e2e_fail "${2:-file} $1 does not exist ($p)"
}

# e2e_assert_no_file PATH [WHAT]: nothing exists at PATH.
e2e_assert_no_file() {
    local p
    p=$(_e2e_path "$1")
    [[ ! -e $p ]] || e2e_fail "${2:-file} $1 exists but should not ($p)"
}

# e2e_assert_dir PATH [WHAT] / e2e_assert_no_dir PATH [WHAT]
e2e_assert_dir() {
    local p
    p=$(_e2e_path "$1")
    [[ -d $p ]] || e2e_fail "${2:-folder} $1 does not exist ($p)"
}
e2e_assert_no_dir() { e2e_assert_no_file "$@"; }

# e2e_assert_same_file A B [WHAT]: same content and the same last-write time
# (to the 100 ns of a Windows file time).
e2e_assert_same_file() {
    local a b
    a=$(_e2e_path "$1")
    b=$(_e2e_path "$2")
    [[ -f $a ]] || e2e_fail "${3:-file} $1 does not exist"
    [[ -f $b ]] || e2e_fail "${3:-file} $2 does not exist"
    cmp -s "$a" "$b" || e2e_fail "${3:-file} $2 differs in content from $1"
    local ta tb
    ta=$(e2e_mtime "$a")
    tb=$(e2e_mtime "$b")
    [[ $ta == "$tb" ]] || e2e_fail "${3:-file} $2 last written $(stat -c %y "$b"), $1 $(stat -c %y "$a")"
}

# e2e_assert_exit CODE: the installer ended by itself with exit code CODE.
e2e_assert_exit() {
    (( E2E_TIMED_OUT == 0 )) || e2e_fail "the installer hung and was killed after $(e2e_scaled "${E2E_TIMEOUT:-60}") s"
    e2e_assert_eq "$1" "$E2E_EXIT" "exit code"
}

# e2e_assert_no_boxes: the run showed no message box.
e2e_assert_no_boxes() {
    (( E2E_BOXES == 0 )) || e2e_fail "expected no box, got $E2E_BOXES, the first: '${E2E_BOX_TEXT[0]}'"
}

# e2e_assert_boxes CAPTION TEXT...: the run showed exactly these boxes, in
# this order, each with CAPTION and only an OK button.
e2e_assert_boxes() {
    local caption=$1 i
    shift
    local -a want=("$@")
    if (( E2E_BOXES != ${#want[@]} )); then
        local seen="" 
        for ((i = 0; i < E2E_BOXES; i++)); do seen+=" '${E2E_BOX_TEXT[i]}'"; done
        e2e_fail "expected ${#want[@]} box(es), got $E2E_BOXES:${seen:- none}"
    fi
    for ((i = 0; i < E2E_BOXES; i++)); do
        e2e_assert_eq "${want[i]}" "${E2E_BOX_TEXT[i]}" "text of box $((i + 1))"
        e2e_assert_eq "$caption" "${E2E_BOX_CAPTION[i]}" "caption of box $((i + 1))"
        e2e_assert_eq 1 "${E2E_BOX_BUTTONS[i]}" "buttons of box $((i + 1)) (1 = OK alone)"
    done
}

# e2e_assert_prompt_exit [MS]: after its last box the installer ended within
# MS milliseconds times the time factor (default 1800: its wait of at most
# one second, plus the watcher's polling and Wine's process exit).
# shellcheck disable=SC2120 # the argument is optional; calls without one (SC2119) take the default
e2e_assert_prompt_exit() {
    local limit
    limit=$(e2e_scaled "${1:-1800}")
    (( E2E_TIMED_OUT == 0 )) || e2e_fail "the installer never ended"
    [[ -n $E2E_AFTER_OK_MS ]] || e2e_fail "no box was shown, so no exit time after a box"
    (( E2E_AFTER_OK_MS <= limit )) ||
        e2e_fail "the installer ended $E2E_AFTER_OK_MS ms after its last box was closed (limit $limit ms)"
}

# e2e_assert_staged [PKG_DIR]: the staging folder holds exactly the package
# layout, each file equal in content and last-write time to the package's
# (PKG_DIR, default the staged package E2E_PKG_DIR).
# shellcheck disable=SC2120 # the argument is optional; calls without one (SC2119) take the default
e2e_assert_staged() {
    local pkg=${1:-$E2E_PKG_DIR} staging rel
    staging=$(e2e_c_path "$E2E_STAGING_WIN")
    [[ -d $staging ]] || e2e_fail "staging folder $E2E_STAGING_WIN does not exist"
    for rel in "${E2E_PACKAGE_FILES[@]}"; do
        e2e_assert_same_file "$pkg/$rel" "$staging/$rel" "staged file"
    done
    _e2e_assert_only_layout "$staging" "${E2E_PACKAGE_FILES[@]}"
}

# e2e_assert_staged_files REL...: the staging folder holds exactly these
# package files (relative, e.g. amd64/libusbDspQx.sys), each equal to the
# staged package's; for runs that stop part way.
e2e_assert_staged_files() {
    local staging rel
    staging=$(e2e_c_path "$E2E_STAGING_WIN")
    [[ -d $staging ]] || e2e_fail "staging folder $E2E_STAGING_WIN does not exist"
    for rel in "$@"; do
        e2e_assert_same_file "$E2E_PKG_DIR/$rel" "$staging/$rel" "staged file"
    done
    _e2e_assert_only_layout "$staging" "$@"
}

_e2e_assert_only_layout() {
    local dir=$1 have want
    shift
    have=$(cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    want=$(printf '%s\n' "$@" | LC_ALL=C sort)
    [[ $have == "$want" ]] || e2e_fail "staging folder holds:
$have
expected:
$want"
}

# e2e_registered_inf: prints the unix path of the INF in C:\windows\inf that
# is a copy of the package INF (Windows names it oemNN.inf, Wine keeps its
# name); returns non-zero when there is none.
# shellcheck disable=SC2120 # scripts/try passes another package's INF
e2e_registered_inf() {
    local inf_dir f src=${1:-$E2E_PKG_DIR/QX_DSP_USB.inf}
    inf_dir=$(e2e_c_path "$E2E_INF_DIR_WIN")
    for f in "$inf_dir"/*; do
        [[ ${f,,} == *.inf && -f $f ]] || continue
        if cmp -s "$f" "$src"; then
            printf '%s\n' "$f"
            return 0
        fi
    done
    return 1
}

# e2e_assert_inf_registered: a copy of the package INF is in C:\windows\inf
# with its precompiled .pnf beside it.
e2e_assert_inf_registered() {
    local inf
    inf=$(e2e_registered_inf) || e2e_fail "the package INF did not reach $E2E_INF_DIR_WIN"
    local pnf=${inf%.*}
    local found="" f
    for f in "$pnf".*; do [[ ${f,,} == *.pnf ]] && found=$f; done
    [[ -n $found ]] || e2e_fail "$inf has no .pnf beside it"
}

# e2e_assert_inf_not_registered: no copy of the package INF in C:\windows\inf.
e2e_assert_inf_not_registered() {
    local inf
    if inf=$(e2e_registered_inf); then
        e2e_fail "the package INF is in $E2E_INF_DIR_WIN ($inf) but should not be"
    fi
    return 0
}

# e2e_unregister_inf: removes every copy of the package INF (and its .pnf)
# from C:\windows\inf, so that a later run shows whether it registers again.
e2e_unregister_inf() {
    local inf
    while inf=$(e2e_registered_inf); do
        rm -f "$inf" "${inf%.*}".[pP][nN][fF]
    done
}

# ---------------------------------------------------------------- machine

# e2e_can_run_win32: true when this machine runs Wine's 32-bit part, which
# the 32-bit installer needs, natively or through qemu's i386 emulator.  A
# kernel without 32-bit support (some virtual machines) refuses every i386
# program with "Exec format error" until scripts/bootstrap registers the
# emulator.
e2e_can_run_win32() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# e2e_win32_mode: "native" or "emulated", how 32-bit programs run here.
e2e_win32_mode() { "$(dirname "${BASH_SOURCE[0]}")/time-factor" --mode; }

# QX_E2E_TIME_FACTOR: every time limit of a scenario is multiplied by it,
# 1 natively (e2e/time-factor sets it; ctest passes it in).
QX_E2E_TIME_FACTOR=${QX_E2E_TIME_FACTOR:-$("$(dirname "${BASH_SOURCE[0]}")/time-factor")}
export QX_E2E_TIME_FACTOR

# e2e_scaled N: N times the time factor.
e2e_scaled() { echo $(($1 * QX_E2E_TIME_FACTOR)); }

# e2e_require_win32 TOOL: for tools (not scenarios): stops with exit status
# 2 when Wine cannot start the 32-bit installer here.
e2e_require_win32() {
    if ! e2e_can_run_win32; then
        echo "$1: this machine cannot run 32-bit programs (the kernel refuses i386 code), so Wine cannot start the installer; scripts/bootstrap registers qemu's emulator for them" >&2
        exit 2
    fi
}

# The file setup.sh leaves in the run's work folder: how this run's 32-bit
# programs ran ("native" or "emulated"), for scripts/test's summary.
# shellcheck disable=SC2034 # written by setup.sh
E2E_MODE_FILE=${QX_E2E_WORK:-/tmp}/win32-mode

# ------------------------------------------ interrupted and overlapping runs

# e2e_run_installer_killed MS: runs the installer as e2e_run_installer
# does, killed MS milliseconds (times the time factor) after its start, as
# a user ending it in the task manager would; E2E_KILLED_MS tells whether
# the kill landed.  Boxes it showed are pressed, not checked.
e2e_run_installer_killed() {
    E2E_KILL_MS=$(e2e_scaled "$1") e2e_run_installer
    [[ -n $E2E_KILLED_MS ]] || e2e_log "the installer ended by itself before the kill"
}

# e2e_watch_together PROGRAM...: runs each program (Windows path) under a
# watcher of its own, all started at the same moment, as a user who
# double-clicks twice would, and waits until every watcher is done.  Sets
# E2E_TOGETHER to the number of runs; e2e_together_run N (from 1) then
# sets for run N what e2e_watch sets.
e2e_watch_together() {
    local n=0 exe pid failed=0
    local -a pids=()
    for exe in "$@"; do
        n=$((n + 1))
        (
            # Numbers of their own keep each run's report and logs apart.
            _e2e_runs=$((n * 1000))
            _e2e_wine_runs=$((n * 1000))
            e2e_watch "$exe"
            declare -p "${_E2E_WATCH_RESULTS[@]}" |
                sed 's/^declare -/declare -g -/' >"$E2E_DIR/together-$n.vars"
        ) &
        pids+=("$!")
    done
    for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
    (( failed == 0 )) || e2e_fail "a watcher of the runs started together could not do its job"
    E2E_TOGETHER=$n
}

# e2e_together_run N: sets E2E_REPORT, E2E_BOXES, E2E_BOX_*, E2E_EXIT, ...
# as e2e_watch left them for run N of e2e_watch_together, so that the
# usual assertions check that run.
e2e_together_run() {
    [[ -f $E2E_DIR/together-$1.vars ]] || e2e_fail "no run $1 was started together"
    # shellcheck disable=SC1090
    source "$E2E_DIR/together-$1.vars"
}

# _e2e_report_field REPORT TAG [N]: field N (default 1) of the first line
# of REPORT tagged TAG.
_e2e_report_field() {
    awk -F'\t' -v tag="$2" -v n="${3:-1}" '$1 == tag { print $(n + 1); exit }' "$1"
}

# e2e_assert_took_turns: the runs started together took turns: ordered by
# their ends, each run showed its first box only after the run before it
# had ended.  Runs that overlap show their boxes while the other still
# works.  Logs the time line of the runs.
e2e_assert_took_turns() {
    local n start box run first="" line
    local -a spans=()
    for ((n = 1; n <= E2E_TOGETHER; n++)); do
        e2e_together_run "$n"
        start=$(_e2e_report_field "$E2E_REPORT" STARTED_AT)
        box=$(_e2e_report_field "$E2E_REPORT" BOX 4)
        run=$(_e2e_report_field "$E2E_REPORT" RUN_MS)
        [[ -n $start && -n $box && -n $run ]] ||
            e2e_fail "run $n: its report lacks its start, a box or its end"
        if [[ -z $first ]] || (( start < first )); then first=$start; fi
        spans+=("$((start + run)) $((start + box)) $start $n")
    done
    local prev_end="" prev_n end
    while read -r end box start n; do
        e2e_log "run $n: started at $((start - first)) ms, box at $((box - first)) ms, ended at $((end - first)) ms"
        if [[ -n $prev_end ]] && (( box <= prev_end )); then
            e2e_fail "run $n showed its box at $((box - first)) ms, while run $prev_n was still running (it ended at $((prev_end - first)) ms)"
        fi
        prev_end=$end prev_n=$n
    done < <(printf '%s\n' "${spans[@]}" | sort -n)
}

# e2e_state_digest WHAT...: the state of a machine in a form that diff
# compares with another machine's, leaving out what differs between two
# machines brought to the same state at different moments (times).  WHAT
# is a file or folder 'C:\...' (each file below it with its size and
# content digest, each folder by name) or a registry key 'HKEY_...' (its
# export); one that does not exist is printed as absent.
e2e_state_digest() {
    local what path export=$E2E_DIR/digest.$$.reg
    for what in "$@"; do
        if [[ $what == [cC]:* ]]; then
            path=$(e2e_c_path "$what")
            _e2e_digest_files "$what" "$path"
        elif e2e_reg_export "$what" "$export" >/dev/null 2>&1; then
            printf '%s\texport:\n' "$what"
            cat "$export"
        else
            printf '%s\tabsent\n' "$what"
        fi
    done
    rm -f "$export"
}

# _e2e_digest_files WIN_PATH UNIX_PATH: the files part of e2e_state_digest.
_e2e_digest_files() {
    local win=$1 unix=$2 type size rel
    if [[ ! -e $unix ]]; then
        printf '%s\tabsent\n' "$win"
        return 0
    fi
    find "$unix" -printf '%y\t%s\t%P\n' | LC_ALL=C sort -t $'\t' -k 3 |
        while IFS=$'\t' read -r type size rel; do
            if [[ $type == f ]]; then
                printf '%s\tfile %s %s\n' "$win${rel:+\\${rel//\//\\}}" "$size" \
                    "$(md5sum <"$unix${rel:+/$rel}" | cut -c1-32)"
            else
                printf '%s\t%s\n' "$win${rel:+\\${rel//\//\\}}" "$type"
            fi
        done
}
