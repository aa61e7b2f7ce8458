# Warnings for the project's own targets
function(quenfold_target_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${QUENFOLD_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<BOOL:${QUENFOLD_WERROR}>:-Werror>)
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

# quenfold_add_tool(<name>)
# A command-line tool built from the current directory's main.cpp, installed,
# with its tests in Test/
function(quenfold_add_tool name)
    add_executable(${name} main.cpp)
    target_link_libraries(${name} PRIVATE QuenfoldEditorUtils)
    quenfold_target_warnings(${name})
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(QUENFOLD_BUILD_TESTS)
        add_subdirectory(Test)
    endif()
endfunction()
