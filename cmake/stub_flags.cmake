# How the installer stub compiles its code, kept in one place for the stub
# (src/stub.cmake) and for the bench of the stub's own build (the bench-stub
# preset), so that the bench measures the decoder exactly as the stub runs it.
#
# Size first: no exceptions or RTTI (nothing in the stub throws), each
# function in its own section so the linker drops what is unused, and no
# unwind tables. Not -fdata-sections: for PE targets GCC then emits
# zero-initialized objects as initialized data, and the decoder's buffers
# would be stored in the file as 40 KB of zeros instead of living in .bss.
set(GLIMMER_STUB_COMPILE_OPTIONS
    -Os -ffunction-sections -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-threadsafe-statics)

# Added after the options above for the decoder's source alone.
set(GLIMMER_STUB_DECODER_OPTIONS -O2)

# Gives the sources of `target` the stub's options, and `decoder`, one of
# them, the decoder's on top.
function(glimmer_stub_compile_options target)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${GLIMMER_STUB_COMPILE_OPTIONS}>)
endfunction()
function(glimmer_stub_decoder_options source)
    set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS ${GLIMMER_STUB_DECODER_OPTIONS})
endfunction()
