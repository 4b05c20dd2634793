# SPDX-License-Identifier: GPL-3.0-or-later
# Every Kelvane target links kelvane_flags, which carries all warning, Qt and
# sanitizer settings, so that no target can drift from the others.
add_library(kelvane_flags INTERFACE)
target_compile_options(kelvane_flags INTERFACE
    -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor)
# No path of the build machine in what is built (debug information, file
# names of messages): sources and build files are named from their tree.
target_compile_options(kelvane_flags INTERFACE
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
if(KELVANE_WERROR)
    target_compile_options(kelvane_flags INTERFACE -Werror)
endif()
target_compile_definitions(kelvane_flags INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_USE_QSTRINGBUILDER)
if(KELVANE_SANITIZE)
    target_compile_options(kelvane_flags INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(kelvane_flags INTERFACE -fsanitize=address,undefined)
endif()
