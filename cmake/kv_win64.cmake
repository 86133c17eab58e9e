# The cross build for Windows x64 (toolchain file cmake/mingw-w64-x86_64.cmake):
# the nine user-mode deliverables as DLLs and the kernel driver as its image
# kavorqir.sys, compiled against the toolchain's own headers and import
# libraries. The stand-ins, the simulated boards, the tests, the programs and
# the benchmarks are not part of it; only the configuration image of
# tools/rbfgen, two programs built as applications (tests/exports/import)
# and a user-mode program of the image's probe routine
# (tests/driver/image/probe) are. bin/ also gets the toolchain's runtime DLLs
# that the nine import.

if(KV_SANITIZE OR KV_SANITIZE_THREAD)
  message(FATAL_ERROR "the cross build has no sanitizer builds")
endif()

list(REMOVE_ITEM KV_DIRS platform sim tools tests)
list(APPEND KV_DIRS tools/rbfgen tests/exports/import tests/driver/image/probe)

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

# kv_kernel_image(<target> SOURCES <source>... INCLUDE <dir>... LIBS <lib>...
#                 IMPORTS <module>... PROBE <routine> <kernel routine>)
# A kernel-mode driver image, bin/<target>.sys: the sources compiled as the
# kernel's code (KV_KERNEL; the project's wrappers of the toolchain's kernel
# headers in driver/ddkwrap first on the include path; no C++ exceptions, type
# information, guarded statics, exit-time destructors or stack probes),
# linked without the C runtime or the C++ library against the import
# libraries LIBS, subsystem native, entered at DriverEntry. The build then
# checks the image and fails on any difference (tests/driver/image):
# imports from exactly the modules IMPORTS; subsystem, entry, relocations,
# no-execute compatibility and PE checksum; no TLS, no .CRT or constructor
# section, no writable and executable section; the kernel routine named in
# PROBE called only from the routine named there, inside a scope of its
# structured exception handler; no stack frame over a page; nothing taken
# from a library but the import libraries.
enable_language(ASM)
function(kv_kernel_image target)
  cmake_parse_arguments(A "" "" "SOURCES;INCLUDE;LIBS;IMPORTS;PROBE" ${ARGN})
  add_executable(${target} ${A_SOURCES})
  set_target_properties(${target} PROPERTIES SUFFIX .sys)
  target_include_directories(${target} BEFORE PRIVATE ${CMAKE_SOURCE_DIR}/driver/ddkwrap)
  target_include_directories(${target} PRIVATE ${A_INCLUDE})
  target_compile_definitions(${target} PRIVATE KV_KERNEL)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit -fcheck-new>
    $<$<COMPILE_LANGUAGE:CXX,C>:-mno-stack-arg-probe>)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE -nostdlib -Wl,--subsystem,native -Wl,--entry,DriverEntry
    -Wl,--dynamicbase -Wl,--nxcompat -Wl,--strip-debug -Wl,-Map,${map})
  target_link_libraries(${target} PRIVATE ${A_LIBS})
  # Nor the Win32 libraries that CMake links every program of the platform
  # with (read for the whole folder of the image).
  foreach(lang CXX C ASM)
    set(CMAKE_${lang}_STANDARD_LIBRARIES "" PARENT_SCOPE)
  endforeach()

  # The checks run until they pass, as the DLLs' export checks do.
  set(check ${CMAKE_SOURCE_DIR}/tests/driver/image)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.image-checked)
  string(JOIN " " imports ${A_IMPORTS})
  list(TRANSFORM A_LIBS REPLACE "(.+)" "lib\\1.a" OUTPUT_VARIABLE libfiles)
  list(GET A_PROBE 0 probe)
  list(GET A_PROBE 1 kprobe)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${stamp}
    COMMAND ${CMAKE_COMMAND} -E env OBJDUMP=${CMAKE_OBJDUMP} ${check}/check_kernel_image.sh
      --imports ${imports} --entry DriverEntry --probe ${probe} ${kprobe} $<TARGET_FILE:${target}>
    COMMAND ${check}/check_pe_checksum.sh $<TARGET_FILE:${target}>
    COMMAND ${check}/check_link_map.sh ${map} ${libfiles}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${target} ${check}/check_kernel_image.sh ${check}/check_pe_checksum.sh ${check}/check_link_map.sh
    COMMENT "Checking the kernel image ${target}"
    VERBATIM)
  add_custom_target(image_${target} ALL DEPENDS ${stamp})
endfunction()
