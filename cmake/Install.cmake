# Installation, in two components that become two Debian packages:
# - check (package brellix-check): brellix-check in <prefix>/lib/brellix with the sample files
#   (the program looks for its data beside itself), its link on the PATH, brellix-check(1), its
#   bash completion and its own copyright and changelog. It needs Qt Core and libxml2 only.
# - window (package brellix, depending on brellix-check of the same version): the window in the
#   same folder with its pointer pictures, its link, a desktop entry, the icons, the AppStream
#   metainfo, brellix(1), copyright and changelog. Left out of a build without the window.
# `cmake --install` installs both.
include(GNUInstallDirs)

set(BRELLIX_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/brellix)

# A program in the program folder, with a relative link to it on the PATH.
function(brellix_install_program program component)
    install(TARGETS ${program} RUNTIME DESTINATION ${BRELLIX_INSTALL_DIR} COMPONENT ${component})
    install(CODE "
        set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(MAKE_DIRECTORY \"\${bin}\")
        file(CREATE_LINK \"../${BRELLIX_INSTALL_DIR}/${program}\" \"\${bin}/${program}\" SYMBOLIC)
        message(STATUS \"Installing: \${bin}/${program} -> ../${BRELLIX_INSTALL_DIR}/${program}\")
    " COMPONENT ${component})
endfunction()

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

# The command line.
brellix_install_program(brellix-check check)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/Samples DESTINATION ${BRELLIX_INSTALL_DIR}
        COMPONENT check)
install(FILES ${CMAKE_BINARY_DIR}/packaging/brellix-check.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT check)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/completion/brellix-check
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT check)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brellix-check COMPONENT check)

# The window.
if(BRELLIX_WINDOW)
    brellix_install_program(brellix window)
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${BRELLIX_INSTALL_DIR}
            COMPONENT window PATTERN Samples EXCLUDE)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/brellix.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
    foreach(size 32 48 128 256)
        install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/brellix-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME brellix.png COMPONENT window)
    endforeach()
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/brellix.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/example.brellix.brellix.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/brellix.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brellix COMPONENT window)
endif()

set(CPACK_PACKAGE_NAME brellix)
set(CPACK_PACKAGE_VENDOR "Brellix")
set(CPACK_PACKAGE_CONTACT "Brellix <support@brellix.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# One package per component; a build without the window makes brellix-check alone (named as
# a component still: CPack would make one component alone a package of the project's name).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL check)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE brellix)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries each program links, with the versions they need, as dpkg-shlibdeps finds them:
# brellix-check's are Qt Core, libxml2, mimalloc and the C and C++ libraries, so that a CI
# image installs no desktop stack with it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(BRELLIX_DESCRIPTION_COMMON "Nothing is ever loaded from the network, whatever a checked file refers to.")

set(CPACK_DEBIAN_CHECK_PACKAGE_NAME brellix-check)
# The common public DTDs in the system catalog, so that documents that name them by their web
# address are checked offline; git for the configuration's gitignore.
set(CPACK_DEBIAN_CHECK_PACKAGE_RECOMMENDS "w3c-sgml-lib, docbook-xml, git")
# The first line is the summary, the rest the extended description.
set(CPACK_DEBIAN_CHECK_DESCRIPTION "Check many XML files at once, from the command line
brellix-check loads files, or whole folder trees, in a real XML parser on all
cores and says which are well-formed (and valid against their DTD when they
declare one, or against a W3C XML Schema or RELAX NG schema), optionally with
the parser's full error report. It writes text, JSON, JUnit, SARIF, GitHub
Actions commands or GNU-style error lines, for editors, pre-commit hooks and
CI pipelines, and needs no graphical environment.
${BRELLIX_DESCRIPTION_COMMON}")

if(BRELLIX_WINDOW)
    list(APPEND CPACK_COMPONENTS_ALL window)
    set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME brellix)
    set(CPACK_DEBIAN_WINDOW_DESCRIPTION "Check many XML files at once, in a window
Brellix loads every file of a list, or of whole folder trees, in a real XML
parser on all cores: files that are well-formed (and valid against their DTD
when they declare one) land in the valid list, the rest in the invalid list,
optionally with the parser's full error report. Either list can be saved.
.
The same checks from the command line are in the package brellix-check.
${BRELLIX_DESCRIPTION_COMMON}")
    set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "fonts-liberation, xdg-utils")
    # The window's package needs brellix-check of the same version: "brellix-check (= X)".
    set(CPACK_COMPONENT_WINDOW_DEPENDS check)
    set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
endif()
include(CPack)
