# Adds a folder that has no CMakeLists.txt, as a lost list or a misspelt name
# in a folder list would.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/kv.cmake)
kv_add_folders(no_such_folder)
message("kv_add_folders went on past a folder without a CMakeLists.txt")
