# SPDX-License-Identifier: GPL-3.0-or-later
# Kelvane's libraries are layers (config, host, registry, target, inventory,
# common, language, settings, gui, program, shell); each links only layers
# below it. Headers are included as "<folder>/<File>.h", and a layer's
# include root holds its own folder alone (a link to it). So a file sees the
# folders of its own layer and of the layers it links, and an include that
# points up a layer fails to compile with "No such file or directory".
function(kelvane_layer_include_root target folder)
    set(root ${CMAKE_BINARY_DIR}/layers/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()

# kelvane_add_layer(<library> SOURCES <files...> LINKS <layers and Qt modules...>)
# A static library of the current source folder.
function(kelvane_add_layer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    kelvane_layer_include_root(${name} ${folder})
    target_link_libraries(${name} PUBLIC ${ARG_LINKS} kelvane_flags)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
endfunction()
