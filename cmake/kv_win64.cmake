# The cross build for Windows x64 (toolchain file cmake/mingw-w64-x86_64.cmake):
# the nine user-mode deliverables as DLLs, compiled against the toolchain's
# own headers and import libraries. The stand-ins, the simulated boards, the
# driver's own code, the tests, the programs and the benchmarks are not part
# of it; only the device interface header of driver/ and the configuration
# image of tools/rbfgen are.

if(KV_SANITIZE OR KV_SANITIZE_THREAD)
  message(FATAL_ERROR "the cross build has no sanitizer builds")
endif()

list(REMOVE_ITEM KV_DIRS platform sim tools tests)
list(APPEND KV_DIRS tools/rbfgen)

# Everything this build compiles goes into a deliverable: no API is imported.
add_compile_definitions(KV_BUILT_IN)
# The DLLs go to bin/, their import libraries to lib/.
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

find_program(KV_CXXFILT NAMES ${KV_MINGW_TRIPLET}-c++filt c++filt REQUIRED)
if(NOT CMAKE_OBJDUMP)
  message(FATAL_ERROR "no objdump for the cross build's DLLs")
endif()

# Takes the place of kv_check_exports of kv.cmake: a DLL exports what its
# sources mark with dllexport, so no version script is made; the build checks
# the names of the DLL's export table against the list (as the Linux build's
# test checks a shared library's dynamic symbols) and fails when they differ.
# The list is read when the check runs, so a changed list is checked again.
function(kv_check_exports target listfile)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports-checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${stamp}
    COMMAND ${CMAKE_COMMAND} -E env OBJDUMP=${CMAKE_OBJDUMP} CXXFILT=${KV_CXXFILT}
      ${CMAKE_SOURCE_DIR}/tests/exports/check_exports.sh --pe $<TARGET_FILE:${target}> ${listfile}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${target} ${listfile} ${CMAKE_SOURCE_DIR}/tests/exports/check_exports.sh
    COMMENT "Checking the export table of ${target}"
    VERBATIM)
  add_custom_target(exports_${target} ALL DEPENDS ${stamp})
endfunction()
