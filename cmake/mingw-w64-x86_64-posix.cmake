# As mingw-w64-x86_64.cmake, with the posix thread model compilers, whose
# C++ runtime has the std::mutex and std::thread that GoogleTest needs.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
