// The system calls the POSIX platform makes on paths and descriptors, as
// one table of function pointers. A table made by default holds the
// system's own calls; the platform reaches the system only through its
// table, so that a test can put a call of its own in place of any of them
// (posix_platform_test_helper.h) and fail the real write() with ENOSPC,
// interrupt a read() or take a block in pieces. Each member has the
// system call's meaning, errno included.
//
// Memory mapping and dladdr are not in the table: they touch no file.

#ifndef MLFSORT_PLATFORM_POSIX_SYSTEM_CALLS_H_
#define MLFSORT_PLATFORM_POSIX_SYSTEM_CALLS_H_

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>

namespace mlfsort {

struct PosixSystemCalls {
  // open() and fcntl() take a variable argument list, which a replacement
  // could not take apart portably; the platform passes only these.
  int (*open)(const char* path, int flags,
              mode_t mode) = [](const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
  };
  int (*fcntl)(int descriptor, int command) = [](int descriptor, int command) {
    return ::fcntl(descriptor, command);
  };
  int (*close)(int descriptor) = &::close;
  ssize_t (*read)(int descriptor, void* buffer, std::size_t size) = &::read;
  ssize_t (*pread)(int descriptor, void* buffer, std::size_t size,
                   off_t offset) = &::pread;
  ssize_t (*write)(int descriptor, const void* bytes,
                   std::size_t size) = &::write;
  off_t (*lseek)(int descriptor, off_t offset, int whence) = &::lseek;
  int (*ftruncate)(int descriptor, off_t length) = &::ftruncate;
  int (*fstat)(int descriptor, struct stat* status) = &::fstat;
  int (*stat)(const char* path, struct stat* status) = &::stat;
  int (*flock)(int descriptor, int operation) = &::flock;
  int (*poll)(pollfd* watched, nfds_t count, int timeout) = &::poll;
  int (*isatty)(int descriptor) = &::isatty;
  ssize_t (*readlink)(const char* path, char* buffer,
                      std::size_t size) = &::readlink;
  int (*unlink)(const char* path) = &::unlink;
};

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_POSIX_SYSTEM_CALLS_H_
