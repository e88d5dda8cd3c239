# qx_add_winhost(OPTION...): the stand-in machine as library winhost (the
# Win32 functions the product calls, for the Linux builds), with the
# product library qxcore compiled with the same OPTIONs (sanitizers,
# coverage) and linked to it.  qxcore exists before this is called, so it
# gets the options by name.
function(qx_add_winhost)
    target_compile_options(qxcore PRIVATE ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/*.cpp)
    set(QX_HOST_SOURCES ${sources} PARENT_SCOPE)
    add_library(winhost STATIC ${sources})
    target_include_directories(winhost PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(winhost PRIVATE ${ARGN} -Wall -Wextra
        -Wno-missing-field-initializers -Wno-cast-function-type)
    target_link_libraries(qxcore PUBLIC winhost)
endfunction()
