set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# A build tree configured for the other Windows target keeps its compilers whatever the preset
# says now: stop rather than build the wrong program.
if(DEFINED CACHE{CMAKE_CXX_COMPILER} AND NOT "$CACHE{CMAKE_CXX_COMPILER}" MATCHES "${MINGW_TRIPLET}")
  message(FATAL_ERROR "${CMAKE_BINARY_DIR} was configured with $CACHE{CMAKE_CXX_COMPILER}, not for "
    "${MINGW_TRIPLET}: remove that build tree and configure again")
endif()
