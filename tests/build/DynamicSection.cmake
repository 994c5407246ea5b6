# Reading an ELF file's dynamic section in the build checks (cmake -P scripts): include it, then
#   idx_dynamic_section(<file> <variable>)
# sets <variable> to the section as `${READELF} -d` lists it; a file it cannot read is a fatal
# error naming it.
function(idx_dynamic_section strFile strVariable)
    execute_process(COMMAND "${READELF}" -d "${strFile}"
        OUTPUT_VARIABLE strDynamic ERROR_VARIABLE strError RESULT_VARIABLE nResult)
    if(NOT nResult EQUAL 0)
        message(FATAL_ERROR "${READELF} failed on ${strFile}: ${strError}")
    endif()
    set(${strVariable} "${strDynamic}" PARENT_SCOPE)
endfunction()
