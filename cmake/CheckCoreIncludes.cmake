# cmake -DFORBIDDEN=list-file -DSOURCES=a;b -DCORE=dir -DSTAMP=file -P CheckCoreIncludes.cmake
#
# Two rules for the core's sources:
# - no QtGui or QtWidgets header (all of Qt's headers live below one include folder, so the
#   compiler alone would not notice);
# - its folders stand in layers, each including only from its own and lower ones, so that no
#   two folders include each other (the parse steps know nothing of the check built on them).
set(layers common files parse validity schemas check results cache running project)
file(STRINGS "${FORBIDDEN}" forbidden)
set(failures "")
foreach(source ${SOURCES})
    file(RELATIVE_PATH relative "${CORE}" "${source}")
    string(REGEX REPLACE "/.*" "" folder "${relative}")
    list(FIND layers "${folder}" own)
    if(own EQUAL -1)
        list(APPEND failures "${source}: in no known folder of the core (${layers})")
    endif()
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
        if(line MATCHES "[<\"]Qt(Gui|Widgets)/")
            list(APPEND failures "${source}: ${line}")
        elseif(line MATCHES "\"([a-z]+)/[^\"]*\"")
            list(FIND layers "${CMAKE_MATCH_1}" included)
            if(included GREATER own)
                list(APPEND failures "${source}: ${line} (a ${folder}/ file may not include from ${CMAKE_MATCH_1}/)")
            endif()
        elseif(line MATCHES "<([A-Za-z0-9_]+)>")
            list(FIND forbidden "${CMAKE_MATCH_1}" found)
            if(found GREATER -1)
                list(APPEND failures "${source}: ${line}")
            endif()
        endif()
    endforeach()
endforeach()
if(failures)
    string(REPLACE ";" "\n  " text "${failures}")
    message(FATAL_ERROR "The checking core's includes break its rules:\n  ${text}")
endif()
file(TOUCH "${STAMP}")
