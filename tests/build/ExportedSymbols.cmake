# Checks what a shared library exports, from its dynamic symbol table:
#   cmake -DNM=<nm> -DLIBRARY=<file> -DREQUIRED=<symbols> -DFORBIDDEN=<names>
#         [-DREADELF=<readelf> -DPROGRAMS=<files>] -P ExportedSymbols.cmake
# Lists are separated by "|". REQUIRED holds demangled symbols that must be exported (the host's
# calls); FORBIDDEN holds names of internal classes and variables, none of which may appear in
# any exported symbol, whether as an owner, a template argument or a parameter type: a host
# never sees an internal class. PROGRAMS are executables that link the library's objects; none
# of them may also load the library, which would give the process two copies of its globals.
cmake_minimum_required(VERSION 3.25)

foreach(var NM LIBRARY)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
# The name without its version suffix, as programs record it ("libx.so" of "libx.so.1.0.0").
get_filename_component(strLibraryName "${LIBRARY}" NAME)
string(REGEX REPLACE "\\.so\\..*$" ".so" strLibraryName "${strLibraryName}")

execute_process(COMMAND "${NM}" -D --defined-only --demangle "${LIBRARY}"
    OUTPUT_VARIABLE strSymbols ERROR_VARIABLE strError RESULT_VARIABLE nResult)
if(NOT nResult EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${strError}")
endif()

set(nProblems 0)
string(REPLACE "|" ";" lstRequired "${REQUIRED}")
foreach(strSymbol IN LISTS lstRequired)
    string(FIND "${strSymbols}" " ${strSymbol}\n" nAt)
    if(nAt EQUAL -1)
        message(SEND_ERROR "${strLibraryName} does not export ${strSymbol}")
        math(EXPR nProblems "${nProblems} + 1")
    endif()
endforeach()

# The symbols are not split into a CMake list: demangled names hold brackets ("[abi:cxx11]"),
# which a list would take as grouping.
string(REPLACE "|" ";" lstForbidden "${FORBIDDEN}")
foreach(strName IN LISTS lstForbidden)
    string(REGEX MATCHALL "[^\n]*[^A-Za-z0-9_\n]${strName}([^A-Za-z0-9_\n][^\n]*)?\n" lstHits
        "${strSymbols}\n")
    if(lstHits)
        list(LENGTH lstHits nHits)
        list(GET lstHits 0 strFirst)
        string(STRIP "${strFirst}" strFirst)
        message(SEND_ERROR
            "${strLibraryName} exports ${nHits} symbol(s) of the internal ${strName}, "
            "such as: ${strFirst}")
        math(EXPR nProblems "${nProblems} + 1")
    endif()
endforeach()

if(PROGRAMS)
    if(NOT READELF)
        message(FATAL_ERROR "PROGRAMS given without READELF")
    endif()
    include(${CMAKE_CURRENT_LIST_DIR}/DynamicSection.cmake)
    string(REPLACE "|" ";" lstPrograms "${PROGRAMS}")
    foreach(strProgram IN LISTS lstPrograms)
        idx_dynamic_section("${strProgram}" strDynamic)
        string(FIND "${strDynamic}" "[${strLibraryName}" nAt)
        if(NOT nAt EQUAL -1)
            message(SEND_ERROR "${strProgram} links the library's objects and also loads "
                "${strLibraryName}")
            math(EXPR nProblems "${nProblems} + 1")
        endif()
    endforeach()
endif()

if(nProblems GREATER 0)
    message(FATAL_ERROR "${nProblems} problem(s) in what ${strLibraryName} exports")
endif()
message(STATUS "${strLibraryName}: exports checked")
