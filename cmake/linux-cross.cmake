# Linux on another machine (OCTET_ARCH: s390x, aarch64, ...) from Debian's
# cross compiler (g++-ARCH-linux-gnu); its programs run under qemu-user
# (package qemu-user).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OCTET_ARCH)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${OCTET_ARCH})
set(CMAKE_C_COMPILER ${OCTET_ARCH}-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER ${OCTET_ARCH}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${OCTET_ARCH}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${OCTET_ARCH};-L;/usr/${OCTET_ARCH}-linux-gnu)
