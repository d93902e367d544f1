# Calls of Linux and glibc that the POSIX platform uses where the system has
# them; src/platform/posix_platform.cpp holds a plain POSIX fallback for
# each. Sets MLFSORT_POSIX_FACILITIES, the compile definitions for that file
# alone: MLFSORT_HAVE_<FACILITY> 1 where the facility was found, else 0.
#
# MLFSORT_POSIX_ONLY=ON takes every fallback, as a system without these
# calls would, so that the fallbacks are built and tested on Linux too; it
# also defines MLFSORT_PORTABLE_BUILTINS for every file, which takes the
# fallbacks for the compiler's built-ins (src/platform/compiler.h,
# src/order/wide_key_summary.h) and the scalar line-stop scan in place of
# the SSE2 one (src/textio/text_input.cpp).

option(MLFSORT_POSIX_ONLY
       "Build the POSIX platform on plain POSIX calls only (every fallback)"
       OFF)

if(MLFSORT_POSIX_ONLY)
  message(STATUS "MLFSORT_POSIX_ONLY: no Linux-only calls in the platform")
  add_compile_definitions(MLFSORT_PORTABLE_BUILTINS)
  set(MLFSORT_POSIX_FACILITIES MLFSORT_HAVE_MREMAP=0
      MLFSORT_HAVE_DLADDR1=0 MLFSORT_HAVE_PROC_SELF_EXE=0
      MLFSORT_HAVE_O_TMPFILE=0)
  return()
endif()

include(CheckCXXSourceCompiles)
include(CMakePushCheckState)
cmake_push_check_state(RESET)
# glibc declares these only for _GNU_SOURCE; the platform file gets it too.
set(CMAKE_REQUIRED_DEFINITIONS -D_GNU_SOURCE)
set(CMAKE_REQUIRED_LIBRARIES ${CMAKE_DL_LIBS})

# Growing a mapping by moving its pages onto a reservation (Linux's
# signature; NetBSD's mremap takes other arguments and fails the check).
check_cxx_source_compiles([[
#include <sys/mman.h>
int main() {
  void* moved = mremap(nullptr, 0, 0, MREMAP_MAYMOVE | MREMAP_FIXED, nullptr);
  return moved == MAP_FAILED;
}]] MLFSORT_CHECK_MREMAP)

# dladdr that also gives the module's link map entry, in which the main
# program is the entry without a name.
check_cxx_source_compiles([[
#include <dlfcn.h>
#include <link.h>
static int anchor;
int main() {
  Dl_info info;
  link_map* module = nullptr;
  return dladdr1(&anchor, &info, reinterpret_cast<void**>(&module),
                 RTLD_DL_LINKMAP) != 0 && module->l_name[0] == 0;
}]] MLFSORT_CHECK_DLADDR1)

# A file made in a directory without a name, so that nothing is ever left
# there (Linux's open flag).
check_cxx_source_compiles([[
#include <fcntl.h>
int main() { return open("/tmp", O_TMPFILE | O_RDWR, 0600) == -1; }]]
  MLFSORT_CHECK_O_TMPFILE)

cmake_pop_check_state()

# The running program's path as a symbolic link: a property of the system
# the program runs on, so it is looked for on the build machine only when
# that is the one.
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(MLFSORT_CHECK_PROC_SELF_EXE TRUE)
  endif()
elseif(EXISTS /proc/self/exe)
  set(MLFSORT_CHECK_PROC_SELF_EXE TRUE)
endif()

set(MLFSORT_POSIX_FACILITIES _GNU_SOURCE)
foreach(facility MREMAP DLADDR1 PROC_SELF_EXE O_TMPFILE)
  if(MLFSORT_CHECK_${facility})
    list(APPEND MLFSORT_POSIX_FACILITIES MLFSORT_HAVE_${facility}=1)
  else()
    list(APPEND MLFSORT_POSIX_FACILITIES MLFSORT_HAVE_${facility}=0)
  endif()
endforeach()
