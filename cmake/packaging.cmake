# Installing glimmer-pack, and its Debian package.
#
# `cmake --install` puts the tool in bin/, the installer stub (built by the
# win32 preset) in share/glimmer-pack/stub.exe, where the tool looks for it
# relative to its own location, the manual page in share/man/man1/ and the
# bash completion in share/bash-completion/completions/, and the copyright
# and changelog in share/doc/glimmer-pack/. `cpack` makes a .deb of the same
# tree (scripts/release does both builds and the package), stripped, and
# the same bytes from the same sources: every date in it is the one
# SOURCE_DATE_EPOCH gives (scripts/release takes the commit's).
include(GNUInstallDirs)

# The package's version is the one glimmer-pack --version prints.
get_directory_property(GLIMMER_VERSION DIRECTORY ${PROJECT_SOURCE_DIR}/tools/pack DEFINITION GLIMMER_PACK_VERSION)
if(NOT GLIMMER_VERSION)
    message(FATAL_ERROR "tools/pack/CMakeLists.txt sets no GLIMMER_PACK_VERSION")
endif()

set(GLIMMER_STUB_EXE "${PROJECT_SOURCE_DIR}/build/win32/bin/stub.exe" CACHE FILEPATH
    "The installer stub (from the win32 build) installed beside glimmer-pack")

# Debian compresses manual pages.
set(glimmer_manual ${CMAKE_CURRENT_BINARY_DIR}/glimmer-pack.1.gz)
add_custom_command(OUTPUT ${glimmer_manual}
                   COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/docs/glimmer-pack.1 > ${glimmer_manual}
                   DEPENDS ${PROJECT_SOURCE_DIR}/docs/glimmer-pack.1 VERBATIM)
# Debian's changelog of a native package, compressed as Debian keeps it.
set(glimmer_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${glimmer_changelog}
                   COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${glimmer_changelog}
                   DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
add_custom_target(glimmer-pack-manual ALL DEPENDS ${glimmer_manual} ${glimmer_changelog})

install(TARGETS glimmer-pack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The stub comes from another build: say which one is missing, and how to
# make it, rather than install a tool without its stub.
install(CODE "
    if(NOT EXISTS \"${GLIMMER_STUB_EXE}\")
        message(FATAL_ERROR \"The installer stub ${GLIMMER_STUB_EXE} does not exist: build it with \"
                            \"'cmake --preset win32 && cmake --build --preset win32 --target stub', or name \"
                            \"another one with -DGLIMMER_STUB_EXE=...\")
    endif()")
install(FILES ${GLIMMER_STUB_EXE} DESTINATION ${CMAKE_INSTALL_DATADIR}/glimmer-pack RENAME stub.exe)

# The content that build packs when a package file names no programs of its
# own, also from the win32 build, beside the stub under the names the tool
# looks for: the slideshow screen saver and the standard uninstaller.
set(GLIMMER_SLIDESHOW_SCR "${PROJECT_SOURCE_DIR}/build/win32/bin/slideshow.scr" CACHE FILEPATH
    "The slideshow screen saver (from the win32 build) installed beside glimmer-pack")
set(GLIMMER_UNINSTALLER_EXE "${PROJECT_SOURCE_DIR}/build/win32/bin/uninstal.exe" CACHE FILEPATH
    "The standard uninstaller (from the win32 build) installed beside glimmer-pack")
foreach(shipped SLIDESHOW_SCR UNINSTALLER_EXE)
    install(CODE "
        if(NOT EXISTS \"${GLIMMER_${shipped}}\")
            message(FATAL_ERROR \"${GLIMMER_${shipped}} does not exist: build it with \"
                                \"'cmake --preset win32 && cmake --build --preset win32 --target slideshow-saver uninstaller', or name \"
                                \"another one with -DGLIMMER_${shipped}=...\")
        endif()")
endforeach()
install(FILES ${GLIMMER_SLIDESHOW_SCR} DESTINATION ${CMAKE_INSTALL_DATADIR}/glimmer-pack RENAME slideshow.scr)
install(FILES ${GLIMMER_UNINSTALLER_EXE} DESTINATION ${CMAKE_INSTALL_DATADIR}/glimmer-pack RENAME uninstal.exe)

install(FILES ${glimmer_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/tools/pack/glimmer-pack.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME glimmer-pack)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${glimmer_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/glimmer-pack)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glimmer-pack)
set(CPACK_PACKAGE_VERSION ${GLIMMER_VERSION})
set(CPACK_PACKAGE_VENDOR Tarnwell)
set(CPACK_PACKAGE_CONTACT "Glimmer installer developers <glimmer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds self-installing screen-saver packages for Windows")
# The extended description in lines that fit 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "glimmer-pack joins a screen saver, its data file, an uninstaller, media\n"
    "files and a license text to an installer stub for 32-bit Windows (Italian\n"
    "user interface), and lists, extracts, verifies and signs (Authenticode,\n"
    "through osslsigncode) the packages it makes. The stub is included.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
include(CPack)
