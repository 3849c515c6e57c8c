# Cross build for 64-bit little-endian PowerPC Linux, the platform the hosts run on, with
# Debian's cross compilers (g++-powerpc64le-linux-gnu):
#   cmake -S . -B build/ppc64le -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc64le.cmake \
#         -DPISNP_GTEST_SOURCE=/usr/src/googletest
# tools/ppc-stage.sh does this and runs the tests under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)

set(PISNP_PPC_TRIPLET powerpc64le-linux-gnu)
set(CMAKE_C_COMPILER ${PISNP_PPC_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PISNP_PPC_TRIPLET}-g++)

# The target's libraries and headers come only from the cross root; programs run during the
# build (none but the compilers) stay the machine's own.
set(PISNP_PPC_ROOT /usr/${PISNP_PPC_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${PISNP_PPC_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest (and test discovery) start the target's programs through the emulator, so they run
# even where no binfmt entry hands PowerPC programs to it; programs started from scripts or
# by other programs still need that entry.
find_program(PISNP_PPC_QEMU qemu-ppc64le)
if(PISNP_PPC_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PISNP_PPC_QEMU} -L ${PISNP_PPC_ROOT})
endif()
