# Keeps the checking core free of the window and its folders in layers: a core source that
# includes a QtGui or QtWidgets header (by its class name or its module path), or a header of a
# folder above its own, fails the build (see CheckCoreIncludes.cmake). The window's headers are
# out of the core's reach already: they are not on its include path.
function(brellix_check_core_includes target)
    set(forbidden "")
    foreach(module Gui Widgets)
        if(TARGET Qt6::${module})
            get_target_property(dirs Qt6::${module} INTERFACE_INCLUDE_DIRECTORIES)
        else()
            # A build without the window does not look for QtGui or QtWidgets; where their
            # headers are installed, they lie beside QtCore's (where not, no core file can
            # include them anyway).
            get_target_property(core_dirs Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
            set(dirs "")
            foreach(dir ${core_dirs})
                if(dir MATCHES "^(.*)/QtCore$")
                    list(APPEND dirs "${CMAKE_MATCH_1}/Qt${module}")
                endif()
            endforeach()
        endif()
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
                -DSTAMP=${stamp} -DCORE=${CMAKE_SOURCE_DIR}/core -P "${CMAKE_SOURCE_DIR}/cmake/CheckCoreIncludes.cmake"
        DEPENDS ${sources} "${CMAKE_SOURCE_DIR}/cmake/CheckCoreIncludes.cmake"
        COMMENT "Checking that ${target} includes no window header" VERBATIM)
    add_custom_target(${target}_includes DEPENDS "${stamp}")
    add_dependencies(${target} ${target}_includes)
endfunction()
