# Host build: the product against the in-memory stand-in machine, and the
# unit tests.
option(QX_SANITIZE "Build the host targets with ASan and UBSan" ON)
set(QX_SANITIZE_OPTIONS)
if(QX_SANITIZE)
    set(QX_SANITIZE_OPTIONS -fsanitize=address,undefined
        -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
include(cmake/winhost.cmake)
qx_add_winhost(${QX_SANITIZE_OPTIONS})

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB QX_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(unit_tests ${QX_TEST_SOURCES})
target_compile_options(unit_tests PRIVATE ${QX_SANITIZE_OPTIONS})
# Tests read the bundled sample package from the source tree.
target_compile_definitions(unit_tests PRIVATE QX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(unit_tests PRIVATE qxcore winhost GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

# Each of scripts/lint's checks, and the product's warnings as errors,
# refuses a throwaway file with a known defect (scripts/test runs the lint
# itself over the tree).
add_test(NAME lint.gates_refuse_defects
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/lint.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(lint.gates_refuse_defects PROPERTIES LABELS lint TIMEOUT 120)

# bootstrap's fallback over a mirror whose index does not update, against
# stand-in apt commands: no network, nothing of the machine changed.
add_test(NAME bootstrap.stale_index_fallback
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/bootstrap.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(bootstrap.stale_index_fallback PROPERTIES LABELS lint TIMEOUT 60)

# The scans' benchmark against the stand-in (preset bench; not a test).
option(QX_BENCH "Build the Google Benchmark of the scans" OFF)
if(QX_BENCH)
    add_subdirectory(bench)
endif()
