# MinGW-w64 cross toolchain. The -posix compilers carry std::thread and std::mutex.
set(CMAKE_C_COMPILER ${QUARROW2_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARROW2_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARROW2_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUARROW2_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every binary stands alone under Wine: no MinGW runtime DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
