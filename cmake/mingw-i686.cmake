# Cross build for 32-bit Windows with Debian's mingw-w64 (posix threads: std::thread needs
# them) against a Qt cross-built by scripts/windows/qt.sh.
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQT_MINGW_PREFIX=DIR ...
#        (or QT_MINGW_PREFIX in the environment). Tests run through the emulator the build
#        script sets (CMAKE_CROSSCOMPILING_EMULATOR=wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(QT_MINGW_PREFIX "$ENV{QT_MINGW_PREFIX}" CACHE PATH "Qt cross-built for this toolchain")
if(NOT IS_DIRECTORY "${QT_MINGW_PREFIX}/lib/cmake/Qt5")
    message(FATAL_ERROR "QT_MINGW_PREFIX (\"${QT_MINGW_PREFIX}\") is no Qt tree; scripts/windows/qt.sh prints one")
endif()
# try_compile projects see only cache entries listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QT_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${QT_MINGW_PREFIX})
set(CMAKE_PREFIX_PATH ${QT_MINGW_PREFIX})
# Host tools (moc, uic, rcc) run here; headers, libraries and packages come from the targets.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
