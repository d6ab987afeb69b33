# Keeps the checking core free of the window: a core source that includes a QtGui or QtWidgets
# header (by its class name or its module path), a header of app/, or a Form1_ handler file
# fails the build. The compiler alone would not notice, since all of Qt's headers live below
# one include folder.
function(brellix_check_core_includes target)
    set(forbidden "")
    foreach(module Gui Widgets)
        get_target_property(dirs Qt6::${module} INTERFACE_INCLUDE_DIRECTORIES)
        foreach(dir ${dirs})
            if(dir MATCHES "/Qt${module}$" AND IS_DIRECTORY "${dir}")
                file(GLOB headers RELATIVE "${dir}" "${dir}/Q*")
                list(APPEND forbidden ${headers})
            endif()
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES forbidden)
    set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_forbidden_headers.txt")
    string(REPLACE ";" "\n" lines "${forbidden}")
    file(WRITE "${list_file}" "${lines}\n")
    set(sources "")
    foreach(source ${ARGN})
        list(APPEND sources "${CMAKE_CURRENT_SOURCE_DIR}/${source}")
    endforeach()
    set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}_includes.stamp")
    add_custom_command(OUTPUT "${stamp}"
        COMMAND ${CMAKE_COMMAND} -DFORBIDDEN=${list_file} "-DSOURCES=${sources}"
                -DSTAMP=${stamp} -P "${CMAKE_SOURCE_DIR}/cmake/CheckCoreIncludes.cmake"
        DEPENDS ${sources} "${CMAKE_SOURCE_DIR}/cmake/CheckCoreIncludes.cmake"
        COMMENT "Checking that ${target} includes no window header" VERBATIM)
    add_custom_target(${target}_includes DEPENDS "${stamp}")
    add_dependencies(${target} ${target}_includes)
endfunction()
