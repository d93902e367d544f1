// A platform that hands every call on to another one, for tests that change
// a few calls of a platform and keep the rest: derive from it and override
// only those. An override reaches the wrapped platform through the base
// method (PlatformWrapper::ReadFile and so on).

#ifndef MLFSORT_TESTS_SUPPORT_PLATFORM_WRAPPER_H_
#define MLFSORT_TESTS_SUPPORT_PLATFORM_WRAPPER_H_

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace mlfsort {

class PlatformWrapper : public Platform {
 public:
  // `target` must outlive the wrapper.
  explicit PlatformWrapper(Platform& target) : target_(target) {}

  std::size_t MaxNameBytes() const override { return target_.MaxNameBytes(); }
  Handle OpenForReading(const char* name) override {
    return target_.OpenForReading(name);
  }
  Handle OpenForWriting(const char* name) override {
    return target_.OpenForWriting(name);
  }
  bool EmptyFile(Handle handle) override { return target_.EmptyFile(handle); }
  Handle CreateTemporaryFile(const char* directory) override {
    return target_.CreateTemporaryFile(directory);
  }
  bool ReadFileAt(Handle handle, std::uint64_t offset, void* buffer,
                  std::uint32_t size, std::uint32_t* bytes_read) override {
    return target_.ReadFileAt(handle, offset, buffer, size, bytes_read);
  }
  std::string TemporaryDirectory() override {
    return target_.TemporaryDirectory();
  }
  std::uint64_t PhysicalMemoryBytes() override {
    return target_.PhysicalMemoryBytes();
  }
  std::uint64_t MemoryLimitBytes() override {
    return target_.MemoryLimitBytes();
  }
  Handle GetStdHandle(StandardHandle which) override {
    return target_.GetStdHandle(which);
  }
  FileType GetFileType(Handle handle) override {
    return target_.GetFileType(handle);
  }
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    return target_.ReadFile(handle, buffer, size, bytes_read);
  }
  bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    return target_.WriteFile(handle, buffer, size, bytes_written);
  }
  bool FlushFile(Handle handle) override { return target_.FlushFile(handle); }
  bool CloseHandle(Handle handle) override {
    return target_.CloseHandle(handle);
  }
  std::uint32_t GetLastError() override { return target_.GetLastError(); }
  void DescribeError(std::uint32_t code, char* text,
                     std::size_t size) override {
    target_.DescribeError(code, text, size);
  }
  bool IsSameFile(const char* a, const char* b) override {
    return target_.IsSameFile(a, b);
  }
  bool IsFileOfHandle(const char* name, Handle handle) override {
    return target_.IsFileOfHandle(name, handle);
  }
  ProcessArguments GetCommandLine() override {
    return target_.GetCommandLine();
  }
  const LocaleCollation* Collation() override { return target_.Collation(); }
  GrowableMemory& BulkMemory() override { return target_.BulkMemory(); }
  bool LocateCode(const void* code, CodeLocation* where) override {
    return target_.LocateCode(code, where);
  }
  void ExitProcess(int status) override { target_.ExitProcess(status); }

 private:
  Platform& target_;
};

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_PLATFORM_WRAPPER_H_
