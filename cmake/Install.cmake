# Installation: the programs live together with their data in <prefix>/lib/brellix (the program
# looks for its data beside itself), with links on the PATH, a desktop entry, the icons, the
# AppStream metainfo, manual pages and the bash completion of brellix-check.
include(GNUInstallDirs)

set(BRELLIX_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/brellix)
set(BRELLIX_PROGRAMS brellix-check)
if(BRELLIX_WINDOW)
    list(APPEND BRELLIX_PROGRAMS brellix)
endif()

install(TARGETS ${BRELLIX_PROGRAMS} RUNTIME DESTINATION ${BRELLIX_INSTALL_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${BRELLIX_INSTALL_DIR})
foreach(program ${BRELLIX_PROGRAMS})
    install(CODE "
        set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(MAKE_DIRECTORY \"\${bin}\")
        file(CREATE_LINK \"../${BRELLIX_INSTALL_DIR}/${program}\" \"\${bin}/${program}\" SYMBOLIC)
        message(STATUS \"Installing: \${bin}/${program} -> ../${BRELLIX_INSTALL_DIR}/${program}\")
    ")
endforeach()
# The window's files, left out of a build without it.
if(BRELLIX_WINDOW)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/brellix.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(size 32 48 128 256)
        install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/brellix-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME brellix.png)
    endforeach()
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/brellix.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/example.brellix.brellix.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/brellix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion/brellix-check
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages and the changelog are installed compressed, without a time stamp in the
# compressed file, so that two builds give the same package.
find_program(BRELLIX_GZIP gzip REQUIRED)
set(BRELLIX_COMPRESSED)
foreach(source man/brellix.1 man/brellix-check.1 changelog)
    get_filename_component(name ${source} NAME)
    set(compressed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND ${BRELLIX_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/${source} > ${compressed}
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${source}
        COMMENT "Compressing ${name}")
    list(APPEND BRELLIX_COMPRESSED ${compressed})
endforeach()
add_custom_target(brellix_packaging_files ALL DEPENDS ${BRELLIX_COMPRESSED})
install(FILES ${CMAKE_BINARY_DIR}/packaging/brellix-check.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brellix)

set(CPACK_PACKAGE_NAME brellix)
set(CPACK_PACKAGE_VENDOR "Brellix")
set(CPACK_PACKAGE_CONTACT "Brellix <support@brellix.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Check many XML files at once")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary first; this is the extended description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brellix loads every file of a list, or of whole folder trees, in a real XML
parser on all cores: files that are well-formed (and valid against their DTD
when they declare one) land in the valid list, the rest in the invalid list,
optionally with the parser's full error report. Either list can be saved.
.
brellix-check runs the same checks from the command line and writes text,
JSON, JUnit, SARIF, GitHub Actions commands or GNU-style error lines, for
editors, pre-commit hooks and CI pipelines. Nothing is ever loaded from the
network, whatever a checked file refers to.")
# The libraries the programs link, with the versions they need, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, xdg-utils")
include(CPack)
