# Cross build for 64-bit Windows with MinGW-w64 from Linux; the tests run
# under Wine. On Debian: g++-mingw-w64-x86-64-posix and wine64.
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# The -posix compilers, whose C++ runtime has std::thread. The runtime is
# linked dynamically, so that a std::locale and its facets passed from one
# DLL to another are the same objects on both sides: each DLL with a static
# copy of libstdc++ would have facet ids of its own. Its DLLs are then needed
# at run time: QUENFOLD_MINGW_RUNTIME_DIRS lists where they are, for WINEPATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUENFOLD_MINGW_TARGET x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER ${QUENFOLD_MINGW_TARGET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${QUENFOLD_MINGW_TARGET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${QUENFOLD_MINGW_TARGET}-windres)

# Libraries, headers and packages of the target only: the host's
# /usr/include would otherwise be taken for the target's
set(CMAKE_FIND_ROOT_PATH /usr/${QUENFOLD_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package installs the loader outside PATH; the wine package
# adds /usr/bin/wine. A full path, since ctest runs it directly.
find_program(QUENFOLD_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine)
if(QUENFOLD_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENFOLD_WINE})
endif()

# Where libstdc++-6.dll, libgcc_s_seh-1.dll and libwinpthread-1.dll are
if(NOT QUENFOLD_MINGW_RUNTIME_DIRS)
    set(_quenfoldRuntimeDirs)
    foreach(_quenfoldRuntime libstdc++-6.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_quenfoldRuntime}
            OUTPUT_VARIABLE _quenfoldRuntimePath OUTPUT_STRIP_TRAILING_WHITESPACE)
        # Only the name comes back when the compiler does not have it
        if(IS_ABSOLUTE "${_quenfoldRuntimePath}")
            get_filename_component(_quenfoldRuntimePath "${_quenfoldRuntimePath}" REALPATH)
            get_filename_component(_quenfoldRuntimePath "${_quenfoldRuntimePath}" DIRECTORY)
            list(APPEND _quenfoldRuntimeDirs "${_quenfoldRuntimePath}")
        endif()
    endforeach()
    set(QUENFOLD_MINGW_RUNTIME_DIRS "${_quenfoldRuntimeDirs}" CACHE STRING "Folders of the MinGW runtime DLLs")
    unset(_quenfoldRuntimeDirs)
    unset(_quenfoldRuntimePath)
endif()
