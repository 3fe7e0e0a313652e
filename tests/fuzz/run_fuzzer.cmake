# One bounded, reproducible fuzz run for CTest: a fresh working corpus (so the
# seed folder in the source tree is never written), a fixed seed and a fixed
# number of inputs. Fails when the fuzzer reports a crash, a leak, a timeout
# or a failed check.
#   cmake -DFUZZER=<exe> -DSEEDS=<seed folder> -DWORK=<folder> -DRUNS=<n>
#         -DMAX_LEN=<bytes> -P run_fuzzer.cmake
foreach(var FUZZER SEEDS WORK RUNS MAX_LEN)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
    endif()
endforeach()
if(NOT IS_DIRECTORY "${SEEDS}")
    message(FATAL_ERROR "run_fuzzer.cmake: no seed corpus at ${SEEDS}")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
execute_process(
    COMMAND "${FUZZER}" -seed=1 -runs=${RUNS} -max_len=${MAX_LEN} -timeout=30 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/
            "${WORK}/corpus" "${SEEDS}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (exit ${result}); the input is under ${WORK}/artifacts")
endif()
