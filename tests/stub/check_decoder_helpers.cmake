# Fails when the stub's decoder object calls a libgcc arithmetic helper
# (__ctzdi2, __udivdi3, __lshrdi3 and the like: 64-bit operations that a
# 32-bit target does out of line), so that a change of flags or code cannot
# bring such a call back into the decode loop unnoticed.
#
#   cmake -DNM=<nm> -DOBJECTS=<objects of the payload layer> -P check_decoder_helpers.cmake
set(decoder "")
foreach(object ${OBJECTS})
    if(object MATCHES "/decoder\\.cpp\\.obj?$")
        set(decoder ${object})
    endif()
endforeach()
if(NOT decoder)
    message(FATAL_ERROR "no decoder object among: ${OBJECTS}")
endif()
execute_process(COMMAND ${NM} -u ${decoder} OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} -u ${decoder} failed")
endif()
# libgcc's helpers for 64-bit integers all end in di2, di3 or di4.
string(REGEX MATCHALL "[_A-Za-z0-9]*__[a-z]+di[234]" helpers "${undefined}")
if(helpers)
    message(FATAL_ERROR "the decoder calls libgcc helpers: ${helpers}")
endif()
message(STATUS "${decoder}: no libgcc arithmetic helper")
