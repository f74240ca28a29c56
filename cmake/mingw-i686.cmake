# Cross build for 32-bit Windows with mingw-w64: the programs as they ship.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
