# Host build: the product against the in-memory stand-in machine, and the
# unit tests.
option(QX_SANITIZE "Build the host targets with ASan and UBSan" ON)
if(QX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

file(GLOB QX_HOST_SOURCES CONFIGURE_DEPENDS host/*.cpp)
add_library(winhost STATIC ${QX_HOST_SOURCES})
target_include_directories(winhost PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(winhost PRIVATE -Wall -Wextra -Wno-missing-field-initializers -Wno-cast-function-type)
target_link_libraries(qxcore PUBLIC winhost)

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB QX_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(unit_tests ${QX_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE qxcore winhost GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
