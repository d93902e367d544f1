// The failure family: every failure of a run is one of these objects, raised
// as a C++ exception and reported by the top-level handler of the process
// frame. Nothing in mlfsort catches them on the way up.

#ifndef MLFSORT_FAILURE_EXCEPTIONS_H_
#define MLFSORT_FAILURE_EXCEPTIONS_H_

#include <cstdint>
#include <memory>
#include <string>

namespace mlfsort {

// The root of the family. A failure object is made with its message
// complete and never changed. Copies share the message, so raising a copy
// (every raise copies) allocates nothing for it.
class Exception {
 public:
  explicit Exception(std::string message);
  virtual ~Exception() = default;

  // The class name the failure report shows, spelled exactly so.
  virtual const char* ClassName() const { return "Exception"; }

  const std::string& message() const { return *message_; }

  // The code position just after the call that detected the failure; set
  // when the object is raised.
  const void* address() const { return address_; }
  void set_address(const void* address) { address_ = address; }

 protected:
  // A message that outlives every failure object made with it; making such
  // a failure allocates nothing.
  struct LastingMessage {
    const std::string* text;
  };
  explicit Exception(LastingMessage message)
      : message_(std::shared_ptr<const void>(), message.text) {}

 private:
  std::shared_ptr<const std::string> message_;
  const void* address_ = nullptr;
};

// A failed text-stream operation, raised by the failure check.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, std::int32_t error_code)
      : Exception(std::move(message)), error_code_(error_code) {}
  const char* ClassName() const override { return "EInOutError"; }
  std::int32_t error_code() const { return error_code_; }

 private:
  std::int32_t error_code_;
};

class EHeapException : public Exception {
 public:
  using Exception::Exception;

 protected:
  explicit EHeapException(LastingMessage message) : Exception(message) {}

 public:
  const char* ClassName() const override { return "EHeapException"; }
};

// Memory that could not be had. One object is made at start-up and raised
// for every failed allocation, so reporting it needs no memory.
class EOutOfMemory : public EHeapException {
 public:
  // Made with a message that outlives it, so making it allocates nothing.
  explicit EOutOfMemory(const std::string& lasting_message)
      : EHeapException(LastingMessage{&lasting_message}) {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// A position outside the line store or the sorted key index.
class EStringListError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EStringListError"; }
};

// Raises the index error for `position`: an EStringListError with the
// message "List index out of bounds (<position>)", failing at `address`.
[[noreturn]] void RaiseIndexError(std::int32_t position, const void* address);

// Raises the out-of-memory failure made at start-up, failing at `address`.
// Before start-up made it (or after shutdown released it), a std::bad_alloc
// is thrown instead, which the process frame treats alike.
[[noreturn]] void RaiseOutOfMemory(const void* address);

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_EXCEPTIONS_H_
