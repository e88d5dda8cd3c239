# Windows build: the shipped PE32 GUI executable and the Wine test programs.
enable_language(RC)

target_compile_definitions(qxcore PUBLIC UNICODE _UNICODE
    _WIN32_WINNT=0x0501 WINVER=0x0501)
set(QX_WIN_LINK_OPTIONS -municode -static -static-libgcc -static-libstdc++)

set(QX_RESOURCE_SCRIPT ${CMAKE_SOURCE_DIR}/res/installer.rc)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

add_executable(QxDspInstaller WIN32 app/main.cpp ${QX_RESOURCE_SCRIPT})
target_compile_options(QxDspInstaller PRIVATE ${QX_PRODUCT_WARNINGS} -fno-exceptions -fno-rtti)
target_link_libraries(QxDspInstaller PRIVATE qxcore shell32 advapi32 user32 kernel32)
# No link time stamp: two builds of the same sources give the same bytes
# (the image's checksum covers the stamp, so it would differ too).
target_link_options(QxDspInstaller PRIVATE ${QX_WIN_LINK_OPTIONS} -mwindows -s
    -Wl,--no-insert-timestamp)

if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/CMakeLists.txt)
    add_subdirectory(e2e)
endif()
# The Wine benchmark's programs (not tests).
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
    add_subdirectory(bench)
endif()

# The shipped executable starts on Windows XP SP3: PE32 i386 GUI, subsystem
# version at most 5.1, importing only what the allowlist dates no later
# than XP SP3; and the check itself refuses what it must.
add_test(NAME exe.imports
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-imports
        $<TARGET_FILE:QxDspInstaller> ${CMAKE_SOURCE_DIR}/cmake/xp-imports.txt)
add_test(NAME exe.imports_refusals
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/check_imports.sh
        $<TARGET_FILE:QxDspInstaller> ${CMAKE_SOURCE_DIR}/cmake/xp-imports.txt)
set_tests_properties(exe.imports exe.imports_refusals PROPERTIES LABELS exe)
# Two clean builds of the same sources give the same executable.
add_test(NAME exe.reproducible
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/check_reproducible.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(exe.reproducible PROPERTIES LABELS exe TIMEOUT 300)
