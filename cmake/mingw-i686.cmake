# Cross build for 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686).
# The posix thread model is used: the library and its tests need std::mutex and std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TVX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TVX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TVX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TVX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TVX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and DLLs carry their own C++ runtime and thread library, so they run under Wine
# (or on Windows) without MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, in a prefix of the build directory; cmake/wine-run.sh starts it
# headless and quiet.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
