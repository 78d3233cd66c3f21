# The -posix compiler variants carry winpthreads, which std::thread and
# std::recursive_mutex need with GCC 12; it is linked statically below.
set(CMAKE_C_COMPILER ${ROVEND_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ROVEND_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ROVEND_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ROVEND_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Only Windows' own DLLs may be needed at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The shipping build carries no symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
