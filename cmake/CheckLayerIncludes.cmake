# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DSOURCES=<file listing sources> -DSTAMP=<file> -P CheckLayerIncludes.cmake
# The include roots keep every "<folder>/<File>.h" pointing down a layer;
# this refuses the two ways round them: an include that climbs out of its
# folder ("../gui/x.h", "host/../gui/x.h"), and any include of ours in
# kvConfig.h, which sits under every layer.
file(STRINGS ${SOURCES} sources)
set(refused "")
foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
        if(line MATCHES "[\"<][^\">]*\\.\\.[/\\\\]")
            string(APPEND refused "\n  ${source}: ${line}  (climbs out of its folder)")
        elseif(source MATCHES "/config/kvConfig\\.h$" AND line MATCHES "\"")
            string(APPEND refused "\n  ${source}: ${line}  (kvConfig.h includes nothing of ours)")
        endif()
    endforeach()
endforeach()
if(refused)
    message(FATAL_ERROR "Includes that get round the layers:${refused}")
endif()
file(TOUCH ${STAMP})
