# Windows XP is the oldest system on which the installer and the programs a
# package carries must start. Included by the win32 build once the stub is
# defined; the rest runs when the whole build has been read, so that it finds
# the content programs wherever and under whatever target names they are
# defined.
#
# Each such program (stub and stub-prompts0, and every executable defined
# under content/ or samples/) is compiled for XP's headers, so that a later
# Windows's declarations stay invisible and a later call has to be looked up
# at run time, and its import table is checked by tests/stub/check_imports.py
# (CTest windows_xp_imports). windows_xp_imports_refused shows the check
# refusing a program built for later headers.

set(GLIMMER_XP_DEFINITIONS _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0603)
set(GLIMMER_PYTHON /usr/bin/python3 CACHE FILEPATH "Python that runs the Wine harness")
find_library(GLIMMER_XP_CRT NAMES msvcr70 REQUIRED
             DOC "mingw-w64's import library of MSVCR70.DLL, the C runtime of Windows XP's generation")

# The executable targets defined in `dir` and the directories below it.
function(glimmer_executables_below dir out)
    set(found)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(t ${targets})
        get_target_property(type ${t} TYPE)
        if(type STREQUAL "EXECUTABLE")
            list(APPEND found ${t})
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
        glimmer_executables_below(${sub} more)
        list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

function(glimmer_check_windows_xp)
    set(programs stub stub-prompts0)
    foreach(dir content samples)
        if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
            glimmer_executables_below(${PROJECT_SOURCE_DIR}/${dir} found)
            list(APPEND programs ${found})
        endif()
    endforeach()
    set(files)
    foreach(t ${programs})
        target_compile_definitions(${t} PRIVATE ${GLIMMER_XP_DEFINITIONS})
        list(APPEND files $<TARGET_FILE:${t}>)
    endforeach()
    set(check ${GLIMMER_PYTHON} ${PROJECT_SOURCE_DIR}/tests/stub/check_imports.py
        --cxx ${CMAKE_CXX_COMPILER} --nm ${CMAKE_NM} --crt-lib ${GLIMMER_XP_CRT})
    add_test(NAME windows_xp_imports COMMAND ${check} ${files})

    # Built for Windows 7's headers and marked for Vista's subsystem, it
    # imports what XP lacks; the check must name each fault.
    add_executable(later-than-xp ${PROJECT_SOURCE_DIR}/tests/stub/later_than_xp.cpp)
    target_compile_definitions(later-than-xp PRIVATE _WIN32_WINNT=0x0601)
    target_link_libraries(later-than-xp PRIVATE dwmapi)
    target_link_options(later-than-xp PRIVATE -Wl,--subsystem,console:6.0)
    add_test(NAME windows_xp_imports_refused COMMAND ${check} $<TARGET_FILE:later-than-xp>)
    set_tests_properties(windows_xp_imports_refused PROPERTIES PASS_REGULAR_EXPRESSION
        "refused: subsystem version 6.0: [^\n]*\n  refused: dwmapi.dll!DwmIsCompositionEnabled: [^\n]*\n  refused: KERNEL32.dll!GetTickCount64: [^\n]*\n  refused: msvcrt.dll!strcpy_s: ")
endfunction()
cmake_language(DEFER CALL glimmer_check_windows_xp)
