# Linux on another machine, chosen by OCTET_ARCH (Debian's name for it), from
# Debian's cross compiler (package g++-PREFIX); its programs run under
# qemu-user (package qemu-user) with the cross compiler's libraries.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OCTET_ARCH)

# OCTET_ARCH        compiler prefix              qemu-user's name
set(cross_s390x     s390x-linux-gnu              s390x)
set(cross_aarch64   aarch64-linux-gnu            aarch64)
set(cross_armhf     arm-linux-gnueabihf          arm)
set(cross_ppc64el   powerpc64le-linux-gnu        ppc64le)
set(cross_i386      i686-linux-gnu               i386)

if(NOT DEFINED cross_${OCTET_ARCH})
  message(FATAL_ERROR "OCTET_ARCH '${OCTET_ARCH}' is none of s390x, aarch64, armhf, ppc64el, i386")
endif()
list(GET cross_${OCTET_ARCH} 0 prefix)
list(GET cross_${OCTET_ARCH} 1 qemu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${OCTET_ARCH})
set(CMAKE_C_COMPILER ${prefix}-gcc)
set(CMAKE_CXX_COMPILER ${prefix}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu};-L;/usr/${prefix})
