# The cross build for Windows x64 (toolchain file cmake/mingw-w64-x86_64.cmake):
# the nine user-mode deliverables as DLLs, compiled against the toolchain's
# own headers and import libraries. The stand-ins, the simulated boards, the
# driver's own code, the tests, the programs and the benchmarks are not part
# of it; only the device interface header of driver/, the configuration image
# of tools/rbfgen and two programs built as applications are
# (tests/exports/import). bin/ also gets the toolchain's runtime DLLs that the
# nine import.

if(KV_SANITIZE OR KV_SANITIZE_THREAD)
  message(FATAL_ERROR "the cross build has no sanitizer builds")
endif()

list(REMOVE_ITEM KV_DIRS platform sim tools tests)
list(APPEND KV_DIRS tools/rbfgen tests/exports/import)

# Everything this build compiles goes into a deliverable: no API is imported
# (the programs of tests/exports/import, built as applications, drop it).
add_compile_definitions(KV_BUILT_IN)
# The DLLs go to bin/, their import libraries to lib/.
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

find_program(KV_CXXFILT NAMES ${KV_MINGW_TRIPLET}-c++filt c++filt REQUIRED)
if(NOT CMAKE_OBJDUMP)
  message(FATAL_ERROR "no objdump for the cross build's DLLs")
endif()

set(KV_CHECK_IMPORTS ${CMAKE_COMMAND} -E env OBJDUMP=${CMAKE_OBJDUMP}
  ${CMAKE_SOURCE_DIR}/tests/exports/check_imports.sh)

# The toolchain's runtime DLLs go into bin/ beside the nine, which import
# libstdc++-6.dll and libgcc_s_seh-1.dll; both of those import
# libwinpthread-1.dll. The build checks that each of them finds what it
# imports beside it or among the platform's DLLs.
set(KV_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "the cross compiler has no ${dll}")
  endif()
  file(REAL_PATH ${path} path)
  set(copy ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${dll})
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy ${path} ${copy}
    DEPENDS ${path}
    COMMENT "Copying the toolchain's ${dll}"
    VERBATIM)
  list(APPEND KV_RUNTIME_DLLS ${copy})
endforeach()
set(stamp ${CMAKE_BINARY_DIR}/runtime-imports-checked)
add_custom_command(OUTPUT ${stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${stamp}
  COMMAND ${KV_CHECK_IMPORTS} ${KV_RUNTIME_DLLS}
  COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
  DEPENDS ${KV_RUNTIME_DLLS} ${CMAKE_SOURCE_DIR}/tests/exports/check_imports.sh
  COMMENT "Checking the imports of the runtime DLLs"
  VERBATIM)
add_custom_target(kv_runtime_dlls ALL DEPENDS ${stamp})

# Takes the place of kv_check_exports of kv.cmake: a DLL exports what its
# sources mark with dllexport, so no version script is made; the build checks
# the names of the DLL's export table against the list (as the Linux build's
# test checks a shared library's dynamic symbols) and fails when they differ.
# The list is read when the check runs, so a changed list is checked again.
# It also checks that the DLL finds what it imports (the runtime DLLs copied
# first).
function(kv_check_exports target listfile)
  set(check ${CMAKE_SOURCE_DIR}/tests/exports)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports-checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${stamp}
    COMMAND ${CMAKE_COMMAND} -E env OBJDUMP=${CMAKE_OBJDUMP} CXXFILT=${KV_CXXFILT}
      ${check}/check_exports.sh --pe $<TARGET_FILE:${target}> ${listfile}
    COMMAND ${KV_CHECK_IMPORTS} $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${target} ${listfile} ${check}/check_exports.sh ${check}/export_alternatives.awk
      ${CMAKE_SOURCE_DIR}/cmake/kv_export_patterns.awk ${check}/check_imports.sh
    COMMENT "Checking the export and import tables of ${target}"
    VERBATIM)
  add_custom_target(exports_${target} ALL DEPENDS ${stamp})
  add_dependencies(exports_${target} kv_runtime_dlls)
endfunction()
