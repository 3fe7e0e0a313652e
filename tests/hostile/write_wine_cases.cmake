# Writes the hostile packages of the Wine scenarios (cmake -P):
#   MAKER  make_hostile_corpus of the native build
#   STUB   the real stub.exe
#   OUT    the folder of the harness programs
#   CASES  file listing the cases, one name a line ('#' lines are comments)
# A native build that has not made the generator yet is not an error of the
# win32 build: the scenarios that need the files then fail, naming them.
if(NOT EXISTS "${MAKER}")
    message(WARNING "${MAKER} not built: the hostile Wine scenarios will not find their packages")
    return()
endif()
file(STRINGS "${CASES}" names REGEX "^[a-z]")
execute_process(COMMAND "${MAKER}" --stub "${STUB}" --prefix hostile- "${OUT}" ${names}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "make_hostile_corpus failed (${result})")
endif()
