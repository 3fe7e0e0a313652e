# The installer stub: a 32-bit Windows GUI program of at most 96 KB, runtime
# linked statically, stripped, with ASLR and DEP kept (so its relocation
# table stays), whose payload anchor's data are its last needed bytes.
enable_language(RC)

set(GLIMMER_STUB_LIMIT 98304 CACHE STRING "Largest size of stub.exe in bytes")

include(${PROJECT_SOURCE_DIR}/cmake/stub_flags.cmake)
foreach(layer glimmer_payload glimmer_install glimmer_core)
    glimmer_stub_compile_options(${layer})
endforeach()
glimmer_stub_decoder_options(${PROJECT_SOURCE_DIR}/src/payload/decoder.cpp)

file(GLOB GLIMMER_STUB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*/*_win32.cpp)
add_executable(stub WIN32
    ${GLIMMER_STUB_SOURCES}
    ${PROJECT_SOURCE_DIR}/src/shell/show_prompts.cpp
    ${PROJECT_SOURCE_DIR}/res/stub.rc)
target_include_directories(stub PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)
glimmer_stub_compile_options(stub)
target_link_libraries(stub PRIVATE glimmer_core)
target_link_options(stub PRIVATE
    -mwindows -s -static
    -Wl,--gc-sections,--no-insert-timestamp
    -Wl,--dynamicbase,--nxcompat
    -Wl,--enable-reloc-section)
set_source_files_properties(${PROJECT_SOURCE_DIR}/res/stub.rc PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/res/glimmer.ico;${PROJECT_SOURCE_DIR}/res/stub.manifest;${PROJECT_SOURCE_DIR}/src/dialogs/resource_ids.h")

# Host programs, built with the build machine's compiler inside this cross
# build: the post-link layout step and the check of the finished stub, both
# linked with the tools' PE reader (the glimmer_pe_layout library of the
# native build, tools/stublayout), compiled once here.
find_program(GLIMMER_HOST_CXX NAMES g++ c++ clang++ REQUIRED)
set(GLIMMER_HOST_DIR ${CMAKE_BINARY_DIR}/host)
set(GLIMMER_HOST_FLAGS -std=c++20 -O2 -Wall -Wextra)
set(GLIMMER_PE_LAYOUT ${GLIMMER_HOST_DIR}/pe_layout.o)

add_custom_command(
    OUTPUT ${GLIMMER_PE_LAYOUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${GLIMMER_HOST_DIR}
    COMMAND ${GLIMMER_HOST_CXX} ${GLIMMER_HOST_FLAGS} -c -o ${GLIMMER_PE_LAYOUT}
            ${PROJECT_SOURCE_DIR}/tools/stublayout/pe_layout.cpp
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/stublayout/pe_layout.h ${PROJECT_SOURCE_DIR}/tools/stublayout/pe_layout.cpp
    COMMENT "Building the host PE reader"
    VERBATIM)
# One target builds it, so that the two programs never build it at once.
add_custom_target(host_pe_layout DEPENDS ${GLIMMER_PE_LAYOUT})

add_custom_command(
    OUTPUT ${GLIMMER_HOST_DIR}/stublayout
    COMMAND ${GLIMMER_HOST_CXX} ${GLIMMER_HOST_FLAGS} -o ${GLIMMER_HOST_DIR}/stublayout
            ${PROJECT_SOURCE_DIR}/tools/stublayout/stublayout.cpp ${GLIMMER_PE_LAYOUT}
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/stublayout/stublayout.cpp ${PROJECT_SOURCE_DIR}/tools/stublayout/pe_layout.h
            ${GLIMMER_PE_LAYOUT}
    COMMENT "Building the host stub layout tool"
    VERBATIM)
add_custom_target(stublayout DEPENDS ${GLIMMER_HOST_DIR}/stublayout)
add_dependencies(stublayout host_pe_layout)
add_dependencies(stub stublayout)
add_custom_command(TARGET stub POST_BUILD
    COMMAND ${GLIMMER_HOST_DIR}/stublayout $<TARGET_FILE:stub>
    COMMENT "Putting the payload anchor's data last in stub.exe"
    VERBATIM)

add_custom_command(
    OUTPUT ${GLIMMER_HOST_DIR}/check_stub_exe
    COMMAND ${GLIMMER_HOST_CXX} ${GLIMMER_HOST_FLAGS} -I${PROJECT_SOURCE_DIR}/tools/stublayout
            -o ${GLIMMER_HOST_DIR}/check_stub_exe
            ${PROJECT_SOURCE_DIR}/tests/stub/check_stub_exe.cpp ${GLIMMER_PE_LAYOUT}
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/stub/check_stub_exe.cpp ${PROJECT_SOURCE_DIR}/tools/stublayout/pe_layout.h
            ${GLIMMER_PE_LAYOUT}
    COMMENT "Building the host check of stub.exe"
    VERBATIM)
add_custom_target(check_stub_exe ALL DEPENDS ${GLIMMER_HOST_DIR}/check_stub_exe)
add_dependencies(check_stub_exe host_pe_layout)

# The check reads the built stub; a missing stub.exe fails it.
add_test(NAME stub_exe_layout
         COMMAND ${GLIMMER_HOST_DIR}/check_stub_exe $<TARGET_FILE:stub> ${GLIMMER_STUB_LIMIT})

# The decoder's loop stays free of libgcc's 64-bit helpers (read from its
# object's undefined symbols).
add_test(NAME stub_decoder_helpers
         COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} "-DOBJECTS=$<TARGET_OBJECTS:glimmer_payload>"
                 -P ${PROJECT_SOURCE_DIR}/tests/stub/check_decoder_helpers.cmake)

# Test variant for the Wine scenarios: the same stub with the show-prompts
# setting 0 (no confirmation, hidden install dialog, no completion message,
# credits or start of the screen saver).
add_executable(stub-prompts0 WIN32
    ${GLIMMER_STUB_SOURCES}
    ${PROJECT_SOURCE_DIR}/src/shell/show_prompts.cpp
    ${PROJECT_SOURCE_DIR}/res/stub.rc)
target_compile_definitions(stub-prompts0 PRIVATE GLIMMER_SHOW_PROMPTS=0)
target_include_directories(stub-prompts0 PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)
glimmer_stub_compile_options(stub-prompts0)
target_link_libraries(stub-prompts0 PRIVATE glimmer_core)
get_target_property(GLIMMER_STUB_LINK_OPTIONS stub LINK_OPTIONS)
target_link_options(stub-prompts0 PRIVATE ${GLIMMER_STUB_LINK_OPTIONS})
add_dependencies(stub-prompts0 stublayout)
add_custom_command(TARGET stub-prompts0 POST_BUILD
    COMMAND ${GLIMMER_HOST_DIR}/stublayout $<TARGET_FILE:stub-prompts0>
    COMMENT "Putting the payload anchor's data last in stub-prompts0.exe"
    VERBATIM)

# Windows XP as the oldest system: the programs' headers and imports.
include(${PROJECT_SOURCE_DIR}/cmake/windows-xp.cmake)
