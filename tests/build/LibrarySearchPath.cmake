# Checks the library search path that shared libraries carry, from their dynamic section:
#   cmake -DREADELF=<readelf> -DLIBRARIES=<files> -P LibrarySearchPath.cmake
# LIBRARIES is separated by "|". No entry of a RUNPATH or RPATH may be empty: the loader takes an
# empty entry as the working directory, so a library placed in whatever folder a job runs in
# (the web-service plug-in, which the platform library loads by file name) would be loaded.
cmake_minimum_required(VERSION 3.25)

foreach(var READELF LIBRARIES)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/DynamicSection.cmake)

set(nProblems 0)
string(REPLACE "|" ";" lstLibraries "${LIBRARIES}")
foreach(strLibrary IN LISTS lstLibraries)
    idx_dynamic_section("${strLibrary}" strDynamic)
    # Lines such as " 0x...1d (RUNPATH)            Library runpath: [$ORIGIN]".
    string(REGEX MATCHALL "\\((RUNPATH|RPATH)\\)[^\n]*\\[[^]\n]*\\]" lstPaths "${strDynamic}")
    foreach(strLine IN LISTS lstPaths)
        string(REGEX REPLACE "^.*\\[([^]]*)\\]$" "\\1" strPath "${strLine}")
        # Entries are separated by ":"; an empty one is at either end or between two of them.
        if(strPath STREQUAL "" OR strPath MATCHES "(^:|::|:$)")
            message(SEND_ERROR "${strLibrary} has an empty library search path entry: "
                "[${strPath}]")
            math(EXPR nProblems "${nProblems} + 1")
        endif()
    endforeach()
endforeach()

if(nProblems GREATER 0)
    message(FATAL_ERROR "${nProblems} library search path(s) with an empty entry")
endif()
message(STATUS "library search paths checked: ${LIBRARIES}")
