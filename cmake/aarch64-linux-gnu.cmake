# Cross-compiles for arm64 with Debian's g++-aarch64-linux-gnu against the
# arm64 packages installed beside the amd64 ones (dpkg --add-architecture
# arm64), and runs what the build runs (the tests' discovery) under
# qemu-user. The cross compiler's own headers come first; /usr/include, which
# holds the arch-independent headers of OpenCV, Highway and GoogleTest, is
# searched after them, so that glibc's amd64 headers never shadow arm64's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CXX_FLAGS_INIT "-idirafter /usr/include")
set(CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES /usr/include)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
