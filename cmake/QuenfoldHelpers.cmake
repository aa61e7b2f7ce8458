# Any 0.x minor version may break the ABI, so the soname carries the minor
# version too (libQuenfoldEditorUtils.so.0.1) and patch versions keep it;
# from 1.0 on the major version alone will do
set(QUENFOLD_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

# Warnings for the project's own targets
function(quenfold_target_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${QUENFOLD_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<BOOL:${QUENFOLD_WERROR}>:-Werror>)
    endif()
endfunction()

# quenfold_shared_library(<target> EXPORT <export set> COMPONENT <component>)
# What each shared library of the project carries however it is built:
# C++17 for itself and its users, only the exported symbols visible, the ABI
# version, warnings, and, with QUENFOLD_INSTALL, install rules that put the
# library itself in <component> and what only linking needs in
# QuenfoldEditorUtils_Development
function(quenfold_shared_library target)
    cmake_parse_arguments(ARG "" "EXPORT;COMPONENT" "" ${ARGN})
    target_compile_features(${target} PUBLIC cxx_std_17)
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        VERSION ${PROJECT_VERSION}
        SOVERSION ${QUENFOLD_SOVERSION})
    quenfold_target_warnings(${target})
    if(QUENFOLD_INSTALL)
        install(TARGETS ${target} EXPORT ${ARG_EXPORT}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${ARG_COMPONENT}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${ARG_COMPONENT}
                NAMELINK_COMPONENT QuenfoldEditorUtils_Development
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT QuenfoldEditorUtils_Development)
    endif()
endfunction()

# quenfold_add_test(<name> SOURCES <files> [LIBRARIES <targets>] [LABELS <labels>])
# A GoogleTest executable whose tests are registered with CTest one by one
function(quenfold_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
    quenfold_target_warnings(${name})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${ARG_LABELS}")
endfunction()

# quenfold_add_tool(<name> <summary>)
# A command-line tool built from the current directory's main.cpp, with its
# tests in Test/, installed with QUENFOLD_INSTALL and, with
# QUENFOLD_BUILD_MANPAGES, a man page made from its --help whose NAME line is
# <summary>
function(quenfold_add_tool name summary)
    add_executable(${name} main.cpp)
    target_link_libraries(${name} PRIVATE QuenfoldEditorUtils)
    quenfold_target_warnings(${name})
    if(QUENFOLD_INSTALL)
        install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT QuenfoldEditorUtils_Tools)
    endif()
    if(QUENFOLD_BUILD_MANPAGES)
        find_program(QUENFOLD_HELP2MAN help2man REQUIRED)
        set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
        # Compressed without a name or a time stamp, so that the same sources
        # give the same file
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${QUENFOLD_HELP2MAN} --no-info --name=${summary} --output=${page} $<TARGET_FILE:${name}>
            COMMAND gzip -9nf ${page}
            DEPENDS ${name}
            VERBATIM)
        add_custom_target(${name}-manpage ALL DEPENDS ${page}.gz)
        if(QUENFOLD_INSTALL)
            install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT QuenfoldEditorUtils_Tools)
        endif()
    endif()
    if(QUENFOLD_BUILD_TESTS)
        add_subdirectory(Test)
    endif()
endfunction()
