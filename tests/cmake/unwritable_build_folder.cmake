# A build folder that this user cannot write, as another user's is: no one
# may make a file in /proc/self.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/kv.cmake)
kv_check_build_folder(/proc/self)
message("kv_check_build_folder went on past a folder it cannot write")
