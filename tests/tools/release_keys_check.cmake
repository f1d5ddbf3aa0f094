# movora_check_release_keys in script mode, as configure runs it:
#   cmake -DKEYS=<value> -P release_keys_check.cmake
# Ends with configure's own error when the function stops; otherwise prints
# whether the value holds a test key.
# The policies of the project itself.
cmake_minimum_required(VERSION 3.20)
set(CMAKE_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/../..")
include("${CMAKE_SOURCE_DIR}/cmake/release_keys.cmake")
movora_check_release_keys("${KEYS}" testKey)
message(STATUS "holds a test key: ${testKey}")
