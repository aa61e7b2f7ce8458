# What finds the installed libraries again: the CMake package, for
# find_package(QuenfoldEditorUtils CONFIG), and a pkg-config file for each
# library, for everything else
include(CMakePackageConfigHelpers)
set(QUENFOLD_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuenfoldEditorUtils)
install(EXPORT QuenfoldEditorUtilsTargets
    NAMESPACE QuenfoldEditorUtils::
    DESTINATION ${QUENFOLD_CMAKE_INSTALL_DIR}
    COMPONENT QuenfoldEditorUtils_Development)
configure_package_config_file(cmake/QuenfoldEditorUtilsConfig.cmake.in
    ${PROJECT_BINARY_DIR}/QuenfoldEditorUtilsConfig.cmake
    INSTALL_DESTINATION ${QUENFOLD_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QuenfoldEditorUtilsConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/QuenfoldEditorUtilsConfig.cmake
    ${PROJECT_BINARY_DIR}/QuenfoldEditorUtilsConfigVersion.cmake
    cmake/QuenfoldRapidJSON.cmake
    DESTINATION ${QUENFOLD_CMAKE_INSTALL_DIR}
    COMPONENT QuenfoldEditorUtils_Development)

# The .pc files find the prefix from where they are, through pkg-config's
# ${pcfiledir}, so that the installed tree, or an unpacked Debian package,
# can be moved anywhere. Folders given as absolute paths stay as they are.
set(QUENFOLD_PKGCONFIG_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${QUENFOLD_PKGCONFIG_INSTALL_DIR}")
    set(QUENFOLD_PKGCONFIG_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    file(RELATIVE_PATH path /prefix/${QUENFOLD_PKGCONFIG_INSTALL_DIR} /prefix)
    string(REGEX REPLACE "/$" "" path ${path})
    set(QUENFOLD_PKGCONFIG_PREFIX "\${pcfiledir}/${path}")
endif()
function(quenfold_pkgconfig_path variable directory)
    if(IS_ABSOLUTE "${directory}")
        set(${variable} "${directory}" PARENT_SCOPE)
    else()
        set(${variable} "\${prefix}/${directory}" PARENT_SCOPE)
    endif()
endfunction()
quenfold_pkgconfig_path(QUENFOLD_PKGCONFIG_LIBDIR ${CMAKE_INSTALL_LIBDIR})
quenfold_pkgconfig_path(QUENFOLD_PKGCONFIG_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})

# Corrade and Magnum have no .pc files: the flags for the ones the library
# was built with go into ours. The bundled subset is installed beside the
# library; for the real ones, their headers and libraries where CMake found
# them, and the flags their targets require of every user.
if(QUENFOLD_USING_BUNDLED_CORRADE)
    quenfold_pkgconfig_path(compatIncludeDir ${QUENFOLD_COMPAT_INCLUDE_DIR})
    set(QUENFOLD_PKGCONFIG_CORRADE_CFLAGS "-I${compatIncludeDir}")
    set(QUENFOLD_PKGCONFIG_CORRADE_LIBS "-lQuenfoldCorradeUtility")
    set(QUENFOLD_PKGCONFIG_MAGNUM_CFLAGS "")
    set(QUENFOLD_PKGCONFIG_MAGNUM_LIBS "")
else()
    foreach(library Corrade::Utility Magnum::Magnum)
        string(REGEX REPLACE "::.*" "" name ${library})
        string(TOUPPER ${name} name)
        set(includes "$<REMOVE_DUPLICATES:$<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>>")
        set(QUENFOLD_PKGCONFIG_${name}_CFLAGS "$<$<BOOL:${includes}>:-I$<JOIN:${includes}, -I>> $<JOIN:$<REMOVE_DUPLICATES:$<TARGET_PROPERTY:${library},INTERFACE_COMPILE_OPTIONS>>, >")
        set(QUENFOLD_PKGCONFIG_${name}_LIBS "$<TARGET_LINKER_FILE:${library}>")
    endforeach()
endif()

# quenfold_pkgconfig(<library> <description> REQUIRES <modules> CFLAGS <flags> LIBS <flags>)
# Generates <library>.pc, the generator expressions in the flags evaluated
# for each configuration: the real Corrade's libraries differ between them
function(quenfold_pkgconfig library description)
    cmake_parse_arguments(PC "" "REQUIRES;CFLAGS;LIBS" "" ${ARGN})
    set(PC_NAME ${library})
    set(PC_DESCRIPTION ${description})
    set(directory ${PROJECT_BINARY_DIR}/pkgconfig)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/QuenfoldPkgConfig.pc.in ${directory}/${library}.pc.in @ONLY)
    file(GENERATE OUTPUT ${directory}/$<CONFIG>/${library}.pc INPUT ${directory}/${library}.pc.in)
    install(FILES ${directory}/$<CONFIG>/${library}.pc
        DESTINATION ${QUENFOLD_PKGCONFIG_INSTALL_DIR}
        COMPONENT QuenfoldEditorUtils_Development)
endfunction()

quenfold_pkgconfig(QuenfoldEngine "The engine library's services that the editor utilities call"
    CFLAGS "${QUENFOLD_PKGCONFIG_CORRADE_CFLAGS}"
    LIBS "${QUENFOLD_PKGCONFIG_CORRADE_LIBS}")
quenfold_pkgconfig(QuenfoldEditorUtils "JSON access, text templates and file watching for the editor"
    REQUIRES "QuenfoldEngine = ${PROJECT_VERSION}, RapidJSON"
    CFLAGS "${QUENFOLD_PKGCONFIG_MAGNUM_CFLAGS}"
    LIBS "${QUENFOLD_PKGCONFIG_MAGNUM_LIBS}")
