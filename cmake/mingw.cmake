# Windows with mingw-w64 (posix threads), for the processor the including toolchain file
# sets; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(QV3_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${QV3_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV3_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QV3_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QV3_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Runs a Windows program under Wine with the build tree's own prefix; the script picks
# the loader from the program's header.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
