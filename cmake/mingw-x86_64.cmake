# Cross build for 64-bit Windows with mingw-w64: the same programs, for
# servers that run no 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
