# Installation: the programs live together with their data in <prefix>/lib/brellix (the program
# looks for its data beside itself), with links on the PATH, a desktop entry and the icon.
include(GNUInstallDirs)

set(BRELLIX_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/brellix)
set(BRELLIX_PROGRAMS brellix)
if(TARGET brellix-check)
    list(APPEND BRELLIX_PROGRAMS brellix-check)
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
install(FILES ${CMAKE_SOURCE_DIR}/packaging/brellix.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 32 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/brellix-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME brellix.png)
endforeach()

set(CPACK_PACKAGE_NAME brellix)
set(CPACK_PACKAGE_VENDOR "Brellix")
set(CPACK_PACKAGE_CONTACT "Brellix <support@brellix.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Check many XML files at once")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libxml2 (>= 2.9.14)")
if(BRELLIX_MIMALLOC)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libmimalloc2.0 (>= 2.0.9)")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, xdg-utils")
include(CPack)
