# Fuzz build (preset fuzz, clang): the product and the stand-in machine
# with coverage for libFuzzer and AddressSanitizer and UBSan, one fuzz
# target per fuzz/*.cpp, and a bounded ctest run of each (label fuzz).
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QX_FUZZ needs clang with libFuzzer (preset fuzz)")
endif()

# This build always sanitizes; the preset's QX_SANITIZE is the host
# build's switch and is read here only so that CMake does not warn of it.
set(QX_FUZZ_IGNORED_SANITIZE_SWITCH "${QX_SANITIZE}")
set(QX_FUZZ_SANITIZERS address,undefined)
# The standard library's branches are left out of the coverage (see the
# list); objects are rebuilt when the list changes.
set(QX_FUZZ_IGNORE_FILE ${CMAKE_SOURCE_DIR}/cmake/fuzz-coverage-ignore.txt)
set(QX_FUZZ_COVERAGE_IGNORE -fsanitize-coverage-ignorelist=${QX_FUZZ_IGNORE_FILE})
set(QX_FUZZ_COMPILE_OPTIONS -fsanitize=${QX_FUZZ_SANITIZERS},fuzzer-no-link
    ${QX_FUZZ_COVERAGE_IGNORE} -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)

include(cmake/winhost.cmake)
qx_add_winhost(${QX_FUZZ_COMPILE_OPTIONS})

# Each test fuzzes for this long on a fresh working corpus seeded from
# the committed one; scripts/fuzz runs the targets for longer.
set(QX_FUZZ_TEST_SECONDS 15 CACHE STRING "Seconds each fuzz ctest test runs")
set(QX_FUZZ_TEST_OPTIONS -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)

file(GLOB QX_FUZZ_SOURCES CONFIGURE_DEPENDS fuzz/*.cpp)
set_property(SOURCE ${QX_PRODUCT_SOURCES} ${QX_HOST_SOURCES} ${QX_FUZZ_SOURCES}
    APPEND PROPERTY OBJECT_DEPENDS ${QX_FUZZ_IGNORE_FILE})
foreach(source ${QX_FUZZ_SOURCES})
    get_filename_component(target ${source} NAME_WE)
    add_executable(${target} ${source})
    target_compile_options(${target} PRIVATE
        -fsanitize=${QX_FUZZ_SANITIZERS},fuzzer ${QX_FUZZ_COVERAGE_IGNORE}
        -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined -Wall -Wextra)
    target_link_options(${target} PRIVATE -fsanitize=${QX_FUZZ_SANITIZERS},fuzzer)
    target_link_libraries(${target} PRIVATE qxcore winhost)

    # The committed corpus is read only; new inputs go to the working
    # folder, made afresh by the runner.
    add_test(NAME ${target}
        COMMAND ${CMAKE_COMMAND}
            -DFUZZER=$<TARGET_FILE:${target}>
            -DWORK=${CMAKE_BINARY_DIR}/work/${target}
            -DSEEDS=${CMAKE_SOURCE_DIR}/fuzz/corpus/${target}
            -DARTIFACTS=${CMAKE_BINARY_DIR}/artifacts/${target}
            -DSECONDS=${QX_FUZZ_TEST_SECONDS}
            "-DOPTIONS=${QX_FUZZ_TEST_OPTIONS}"
            -P ${CMAKE_SOURCE_DIR}/cmake/fuzz-run.cmake)
    set_tests_properties(${target} PROPERTIES LABELS fuzz
        TIMEOUT 120 WORKING_DIRECTORY ${CMAKE_BINARY_DIR})

    # Inputs that once broke a target run once each.
    file(GLOB regressions CONFIGURE_DEPENDS
        ${CMAKE_SOURCE_DIR}/fuzz/regressions/${target}/*)
    if(regressions)
        add_test(NAME ${target}_regressions
            COMMAND ${target} ${regressions})
        set_tests_properties(${target}_regressions PROPERTIES LABELS fuzz
            TIMEOUT 60 WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    endif()
endforeach()
