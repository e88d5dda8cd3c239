# One bounded run of a fuzz target for ctest (see cmake/fuzz.cmake):
#   cmake -DFUZZER=exe -DWORK=dir -DSEEDS=dir -DARTIFACTS=dir -DSECONDS=n
#         -DOPTIONS=list -P cmake/fuzz-run.cmake
# WORK is emptied first and receives the new inputs; SEEDS is only read;
# crash inputs land in ARTIFACTS.
foreach(var FUZZER WORK SEEDS ARTIFACTS SECONDS)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "fuzz-run.cmake needs -D${var}=...")
    endif()
endforeach()

get_filename_component(name ${FUZZER} NAME)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK} ${ARTIFACTS})

set(corpora ${WORK})
if(IS_DIRECTORY ${SEEDS})
    list(APPEND corpora ${SEEDS})
endif()
execute_process(
    COMMAND ${FUZZER} -max_total_time=${SECONDS} ${OPTIONS}
            -artifact_prefix=${ARTIFACTS}/ ${corpora}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} failed (${status}); crash inputs in ${ARTIFACTS}/")
endif()
file(GLOB found ${WORK}/*)
list(LENGTH found count)
message(STATUS "${name}: working corpus ${WORK} holds ${count} inputs")
