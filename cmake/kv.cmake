# Build helpers shared by every folder.
#
# A component is the code of one folder of the system. kv_component records its
# sources and builds <name>_core, a static library that tests and programs link
# directly. A deliverable is a shared library or module that compiles the
# sources of every component it contains once more, with its own export
# definitions, so that deliverables never load one another and each exports
# only its own API (everything else is hidden).

#
# A component that the kernel driver carries names the sources of its kernel
# build with KERNEL_SOURCES (all its SOURCES when not given): the driver
# compiles them once more with KV_KERNEL defined (kv_kernel_sources).
function(kv_component name)
  cmake_parse_arguments(A "" "" "SOURCES;KERNEL_SOURCES;DEPENDS;LIBS" ${ARGN})
  list(TRANSFORM A_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  if(A_KERNEL_SOURCES)
    list(TRANSFORM A_KERNEL_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  else()
    set(A_KERNEL_SOURCES ${A_SOURCES})
  endif()
  set_property(GLOBAL PROPERTY KV_${name}_SOURCES ${A_SOURCES})
  set_property(GLOBAL PROPERTY KV_${name}_KERNEL_SOURCES ${A_KERNEL_SOURCES})
  set_property(GLOBAL PROPERTY KV_${name}_INCLUDE ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL PROPERTY KV_${name}_LIBS ${A_LIBS})
  add_library(${name}_core STATIC ${A_SOURCES})
  target_include_directories(${name}_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(dep IN LISTS A_DEPENDS)
    target_link_libraries(${name}_core PUBLIC ${dep}_core)
  endforeach()
  if(A_LIBS)
    target_link_libraries(${name}_core PUBLIC ${A_LIBS})
  endif()
  # The cross build (cmake/kv_win64.cmake) makes the deliverables only.
  if(WIN32)
    set_property(TARGET ${name}_core PROPERTY EXCLUDE_FROM_ALL ON)
  endif()
endfunction()

# kv_kernel_sources(<sources var> <include dirs var> <component>...): the
# kernel build's sources of the components and their folders.
function(kv_kernel_sources srcvar incvar)
  set(srcs)
  set(incs)
  foreach(c IN LISTS ARGN)
    get_property(s GLOBAL PROPERTY KV_${c}_KERNEL_SOURCES)
    get_property(i GLOBAL PROPERTY KV_${c}_INCLUDE)
    list(APPEND srcs ${s})
    list(APPEND incs ${i})
  endforeach()
  set(${srcvar} ${srcs} PARENT_SCOPE)
  set(${incvar} ${incs} PARENT_SCOPE)
endfunction()

# kv_deliverable(<target> [MODULE] COMPONENTS <c>... [DEFINES <d>...] [SOURCES <extra>...] [LIBS <l>...])
# DEFINES names the export switches of the components whose API this
# deliverable exports (for example FEXROL_EXPORTS).
function(kv_deliverable target)
  cmake_parse_arguments(A "MODULE" "" "COMPONENTS;DEFINES;SOURCES;LIBS" ${ARGN})
  set(srcs ${A_SOURCES})
  set(incs)
  set(libs ${A_LIBS})
  foreach(c IN LISTS A_COMPONENTS)
    get_property(s GLOBAL PROPERTY KV_${c}_SOURCES)
    get_property(i GLOBAL PROPERTY KV_${c}_INCLUDE)
    get_property(l GLOBAL PROPERTY KV_${c}_LIBS)
    list(APPEND srcs ${s})
    list(APPEND incs ${i})
    list(APPEND libs ${l})
  endforeach()
  if(A_MODULE)
    add_library(${target} MODULE ${srcs})
  else()
    add_library(${target} SHARED ${srcs})
  endif()
  target_include_directories(${target} PRIVATE ${incs})
  target_compile_definitions(${target} PRIVATE ${A_DEFINES})
  if(libs)
    list(REMOVE_DUPLICATES libs)
    target_link_libraries(${target} PRIVATE ${libs})
  endif()
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" OUTPUT_NAME ${target})
  if(NOT KV_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# kv_test(<name> SOURCES <s>... LIBS <l>...): one GoogleTest program, its cases
# registered with CTest one by one; it may include the shared test support
# (tests/support).
function(kv_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} kvtest_support GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# kv_add_folders(<folder>...): adds each folder, in the order given, below the
# current one. A folder without a CMakeLists.txt stops the configure: a lost
# list or a misspelt name must not build "fine" without its targets.
function(kv_add_folders)
  foreach(d IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/CMakeLists.txt)
      message(FATAL_ERROR "kv_add_folders: ${CMAKE_CURRENT_SOURCE_DIR}/${d} has no CMakeLists.txt")
    endif()
    add_subdirectory(${d})
  endforeach()
endfunction()

# kv_check_build_folder(<folder>): stops the configure at once when this user
# cannot write the build folder (one made by another user, root's build beside
# a clone that a user builds): every later step would fail on it, and the
# first of those errors would name something else.
function(kv_check_build_folder dir)
  set(probes ${dir}/.kv-writable)
  if(EXISTS ${dir}/CMakeFiles)
    list(APPEND probes ${dir}/CMakeFiles/kv-writable)
  endif()
  foreach(probe IN LISTS probes)
    execute_process(COMMAND ${CMAKE_COMMAND} -E touch ${probe} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc)
      message(FATAL_ERROR "the build folder ${dir} cannot be written by this user (another user's build?); "
        "build in a folder of your own (cmake -B <folder>; ./demo.sh: KV_BUILD_DIR=<folder>)")
    endif()
    file(REMOVE ${probe})
  endforeach()
endfunction()

# kv_check_exports(<deliverable> <expected-symbol-file>): the deliverable
# exports exactly the symbols listed (demangled, one a line): a linker version
# script made from the list keeps them and hides every other, and a test checks
# what the built deliverable exports against the list.
function(kv_check_exports target listfile)
  set(patterns ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/kv_export_patterns.awk)
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/kv_version_script.awk)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  execute_process(COMMAND awk -f ${patterns} -f ${script} ${listfile} OUTPUT_FILE ${map}.made RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "no version script for ${target} from ${listfile}")
  endif()
  # The script is a link dependency: it is written only when its text
  # changes, so that a configure with nothing changed relinks nothing.
  file(COPY_FILE ${map}.made ${map} ONLY_IF_DIFFERENT)
  file(REMOVE ${map}.made)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${listfile} ${patterns} ${script})
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  add_test(NAME exports_${target}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/exports/check_exports.sh $<TARGET_FILE:${target}> ${listfile})
endfunction()
