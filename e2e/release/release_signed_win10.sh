#!/usr/bin/env bash
# Windows 10 and the release folder scripts/release wrote, with its signed
# installer: the run stages and registers the package and asks for a
# restart, as the unsigned build does (signing appends the signature and
# changes only the header's checksum and certificate-table entry).
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
: "${QX_RELEASE_DIR:?QX_RELEASE_DIR is not set}"

# The release's installer is staged, not the one the test run built.
# shellcheck disable=SC2034 # read by e2e_stage_package
QX_INSTALLER_EXE=$QX_RELEASE_DIR/QxDspInstaller.exe
e2e_new_prefix release_signed_win10
e2e_set_version win10
e2e_stage_package "$QX_RELEASE_DIR"

e2e_run_installer
e2e_assert_boxes "$E2E_CAPTION_EN" "$E2E_RESTART_EN"
e2e_assert_exit 3010
e2e_assert_staged
e2e_assert_inf_registered
e2e_pass
