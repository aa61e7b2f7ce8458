# Debian packages, split the Debian way: one runtime package per shared
# library, named after its soname, a -dev package with what building against
# them needs, and a package of the tools. `make package` builds them for
# /usr, without RPATH, with Debian's build flags.
set(QUENFOLD_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)

# The latest entry of the Debian changelog gives the package's revision; its
# upstream version has to be the project's
file(STRINGS ${QUENFOLD_DEBIAN_DIR}/changelog latestEntry LIMIT_COUNT 1)
if(NOT latestEntry MATCHES "^quenfoldeditorutils \\(([^)]+)-([^)-]+)\\)")
    message(FATAL_ERROR "cmake/debian/changelog: no version in the first line: ${latestEntry}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "cmake/debian/changelog: the latest entry is for ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}: add an entry for it")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
set(QUENFOLD_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_SOURCE quenfoldeditorutils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "QuenfoldEditorUtils maintainers <maintainers@quenfold.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies on the C and C++ runtime from dpkg-shlibdeps, which finds the
# project's own libraries in the folders they are built in and leaves them
# out: their packages are named below. Each runtime package tells, in its
# shlibs file, that any later version with the same soname will do.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
foreach(library QuenfoldEditorUtils QuenfoldEngine CorradeUtility)
    if(TARGET ${library})
        get_target_property(directory ${library} BINARY_DIR)
        list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${directory})
    endif()
endforeach()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# The files each package has in /usr/share/doc: the changelogs, Debian's and
# the project's, compressed without a name or a time stamp, and the licence
# in Debian's machine-readable form. And the trigger that has the loader's
# cache updated for a shared library.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
function(quenfold_debian_gzip source compressed)
    execute_process(COMMAND gzip -9nc ${source}
        OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/${compressed}
        COMMAND_ERROR_IS_FATAL ANY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
quenfold_debian_gzip(${QUENFOLD_DEBIAN_DIR}/changelog changelog.Debian.gz)
quenfold_debian_gzip(${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog.gz)
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE copyright REGEX "^Copyright ")
string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" copyright "${copyright}")
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(STRIP "${license}" license)
string(REGEX REPLACE "\n\n" "\n.\n" license "${license}")
string(REGEX REPLACE "\n" "\n " license "${license}")
file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: QuenfoldEditorUtils\n"
    "\n"
    "Files: *\n"
    "Copyright: ${copyright}\n"
    "License: Expat\n"
    " ${license}\n")

string(CONCAT about
    "QuenfoldEditorUtils gives the editor of a 3D engine typed access to values in\n"
    "RapidJSON documents, a small {{ ... }} text-template engine and a recursive\n"
    "watcher of files and directories, over Corrade's containers and Magnum's\n"
    "math types.\n")

# quenfold_debian_package(<component> <package> <section> <synopsis> <lines...>
#     [SHARED_LIBRARY] [DEPENDS <packages>])
# The package of an install component: its description, the text common to
# all packages between the synopsis and the lines that say what it holds. A
# package of a shared library has the loader's cache updated through the
# ldconfig trigger.
function(quenfold_debian_package component package section synopsis)
    cmake_parse_arguments(ARG "SHARED_LIBRARY" "" "DEPENDS" ${ARGN})
    string(CONCAT contents ${ARG_UNPARSED_ARGUMENTS})
    string(TOUPPER ${component} COMPONENT)
    set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package} PARENT_SCOPE)
    set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_SECTION ${section} PARENT_SCOPE)
    set(CPACK_DEBIAN_${COMPONENT}_DESCRIPTION "${synopsis}\n${about}\n${contents}" PARENT_SCOPE)
    list(JOIN ARG_DEPENDS ", " depends)
    set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_DEPENDS "${depends}" PARENT_SCOPE)
    if(ARG_SHARED_LIBRARY)
        set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers PARENT_SCOPE)
    endif()
    # Only in the packages, not in a plain install
    install(FILES
        ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
        ${PROJECT_BINARY_DIR}/debian/changelog.gz
        ${PROJECT_BINARY_DIR}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
    set(QUENFOLD_DEBIAN_COMPONENTS ${QUENFOLD_DEBIAN_COMPONENTS} ${component} PARENT_SCOPE)
endfunction()

# Each runtime package as a binary linked against its library depends on it,
# in the words of its shlibs file
foreach(library QuenfoldEditorUtils QuenfoldEngine QuenfoldCorradeUtility)
    string(TOLOWER lib${library}${QUENFOLD_SOVERSION} ${library}_PACKAGE)
    set(${library}_NEEDED "${${library}_PACKAGE} (>= ${PROJECT_VERSION})")
endforeach()
set(runtimePackages ${QuenfoldEditorUtils_PACKAGE} ${QuenfoldEngine_PACKAGE})

if(QUENFOLD_USING_BUNDLED_CORRADE)
    set(corradeNeeded ${QuenfoldCorradeUtility_NEEDED})
    list(APPEND runtimePackages ${QuenfoldCorradeUtility_PACKAGE})
    quenfold_debian_package(QuenfoldCorradeUtility_Runtime ${QuenfoldCorradeUtility_PACKAGE} libs
        "subset of Corrade and Magnum for the Quenfold editor utilities"
        "This package holds the shared library QuenfoldCorradeUtility: the parts of\n"
        "Corrade's containers and utilities, and of Magnum's math types, that the\n"
        "library uses, for systems without the real Corrade and Magnum."
        SHARED_LIBRARY)
else()
    set(corradeNeeded)
endif()
quenfold_debian_package(QuenfoldEngine_Runtime ${QuenfoldEngine_PACKAGE} libs
    "engine services that the Quenfold editor utilities call"
    "This package holds the shared library QuenfoldEngine, which stands in for the\n"
    "engine's own library: paths and string arrays."
    SHARED_LIBRARY DEPENDS ${corradeNeeded})
quenfold_debian_package(QuenfoldEditorUtils_Runtime ${QuenfoldEditorUtils_PACKAGE} libs
    "JSON access, text templates and file watching for a 3D engine's editor"
    "This package holds the shared library QuenfoldEditorUtils."
    SHARED_LIBRARY DEPENDS ${QuenfoldEngine_NEEDED} ${corradeNeeded})

# Headers and libraries of one build only
list(TRANSFORM runtimePackages APPEND " (= ${QUENFOLD_DEBIAN_VERSION})")
quenfold_debian_package(QuenfoldEditorUtils_Development libquenfoldeditorutils-dev libdevel
    "development files of the Quenfold editor utilities"
    "This package holds the headers, the CMake package for\n"
    "find_package(QuenfoldEditorUtils) and the pkg-config files of\n"
    "QuenfoldEditorUtils and QuenfoldEngine."
    DEPENDS ${runtimePackages} rapidjson-dev)

if(QUENFOLD_BUILD_TOOLS)
    quenfold_debian_package(QuenfoldEditorUtils_Tools quenfoldeditorutils-tools utils
        "command-line tools of the Quenfold editor utilities"
        "quenfold-template renders a text template against JSON documents, or\n"
        "previews it live as the files are saved, and quenfold-watch prints the\n"
        "changes to files and directories as they happen."
        DEPENDS ${QuenfoldEditorUtils_NEEDED} ${QuenfoldEngine_NEEDED} ${corradeNeeded})
endif()

set(CPACK_COMPONENTS_ALL ${QUENFOLD_DEBIAN_COMPONENTS})
include(CPack)
