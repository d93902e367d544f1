#include "support/memory_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace mlfsort {

using platform_error::kAccessDenied;
using platform_error::kFilenameTooLong;
using platform_error::kFileNotFound;
using platform_error::kPathNotFound;
using platform_error::kSharingViolation;

void MemoryPlatform::AddFile(const std::string& name, std::string contents) {
  files_[name] = std::move(contents);
}

void MemoryPlatform::AddDirectory(const std::string& name) {
  directories_.insert(name);
}

bool MemoryPlatform::HasFile(const std::string& name) const {
  return files_.contains(name);
}

std::string MemoryPlatform::FileContents(const std::string& name) const {
  const auto file = files_.find(name);
  return file == files_.end() ? std::string() : file->second;
}

bool MemoryPlatform::IsOpen(const std::string& name) const {
  return std::ranges::any_of(
      open_files_, [&](const auto& open) { return open.second.name == name; });
}

void MemoryPlatform::SetMaxNameBytes(std::size_t max_name_bytes) {
  max_name_bytes_ = max_name_bytes;
}

void MemoryPlatform::SetStandardInput(std::string contents, FileType type) {
  standard_input_ = std::move(contents);
  standard_input_offset_ = 0;
  standard_input_type_ = type;
}

void MemoryPlatform::CloseStandardInput() { standard_input_.reset(); }

void MemoryPlatform::CloseStandardOutput() { standard_output_open_ = false; }

void MemoryPlatform::CloseStandardError() { standard_error_open_ = false; }

void MemoryPlatform::SetStandardOutputType(FileType type) {
  standard_output_type_ = type;
}

void MemoryPlatform::SetStandardFile(StandardHandle which, std::string name) {
  const Handle handle = which == StandardHandle::kInput    ? kStandardInput
                        : which == StandardHandle::kOutput ? kStandardOutput
                                                           : kStandardError;
  standard_files_[handle] = std::move(name);
}

void MemoryPlatform::SetMaxReadBytes(std::uint32_t max_read_bytes) {
  max_read_bytes_ = max_read_bytes;
}

void MemoryPlatform::SetCommandLine(std::string command_line) {
  command_line_ = std::move(command_line);
}

void MemoryPlatform::SetArguments(std::vector<std::string> arguments) {
  command_line_.reset();
  arguments_ = std::move(arguments);
}

void MemoryPlatform::SetModule(std::uintptr_t base, std::string name) {
  module_base_ = base;
  module_name_ = std::move(name);
}

void MemoryPlatform::ClearCalls() {
  calls_.clear();
  counted_calls_ = 0;
  calls_of_kind_.fill(0);
}

std::vector<std::uint32_t> MemoryPlatform::WriteSizes(Handle handle) const {
  std::vector<std::uint32_t> sizes;
  for (const PlatformCall& call : calls_) {
    if (call.kind == PlatformCall::kWriteFile && call.handle == handle) {
      sizes.push_back(call.bytes);
    }
  }
  return sizes;
}

std::vector<std::uint32_t> MemoryPlatform::WriteSizesTo(
    const std::string& name) const {
  std::vector<std::uint32_t> sizes;
  for (const PlatformCall& call : calls_) {
    if (call.kind == PlatformCall::kWriteFile && call.name == name) {
      sizes.push_back(call.bytes);
    }
  }
  return sizes;
}

std::vector<std::uint32_t> MemoryPlatform::WriteSizesToStandardOutput() const {
  return WriteSizes(kStandardOutput);
}

void MemoryPlatform::FailCall(int n, std::uint32_t code) {
  armed_failures_.push_back({std::nullopt, n, false, code});
}

void MemoryPlatform::FailCallsFrom(int n, std::uint32_t code) {
  armed_failures_.push_back({std::nullopt, n, true, code});
}

void MemoryPlatform::FailNext(PlatformCall::Kind kind, int nth,
                              std::uint32_t code) {
  armed_failures_.push_back({kind, calls_of_kind_[kind] + nth, false, code});
}

void MemoryPlatform::ResetFailures() {
  armed_failures_.clear();
  counted_calls_ = 0;
  calls_of_kind_.fill(0);
}

Handle MemoryPlatform::OpenForReading(const char* name) {
  return Open(PlatformCall::kOpenForReading, name);
}

Handle MemoryPlatform::OpenForWriting(const char* name) {
  return Open(PlatformCall::kOpenForWriting, name);
}

bool MemoryPlatform::EmptyFile(Handle handle) {
  std::optional<std::uint32_t> error = Count(PlatformCall::kEmptyFile);
  const auto open = open_files_.find(handle);
  const auto temporary = temporary_files_.find(handle);
  const bool writable = open != open_files_.end() && open->second.writing;
  if (!error && !writable && temporary == temporary_files_.end()) {
    error = platform_error::kInvalidHandle;
  }
  if (!error && writable) files_[open->second.name].clear();
  if (!error && temporary != temporary_files_.end()) {
    temporary_bytes_ -= temporary->second.size();
    temporary->second.clear();
  }
  return Record(PlatformCall::kEmptyFile, handle, 0, error, NameOf(handle));
}

void MemoryPlatform::SetTemporaryDirectory(std::string name) {
  temporary_directory_ = std::move(name);
}

void MemoryPlatform::SetTemporarySpace(std::size_t bytes) {
  temporary_space_ = bytes;
}

void MemoryPlatform::SetPhysicalMemory(std::uint64_t bytes) {
  physical_memory_ = bytes;
}

void MemoryPlatform::SetMemoryLimit(std::uint64_t bytes) {
  memory_limit_ = bytes;
}

Handle MemoryPlatform::CreateTemporaryFile(const char* directory) {
  std::optional<std::uint32_t> error =
      Count(PlatformCall::kCreateTemporaryFile);
  if (!error && directory != temporary_directory_ &&
      !directories_.contains(directory)) {
    error = kPathNotFound;
  }
  Handle handle = kInvalidHandle;
  if (!error) {
    handle = next_file_handle_++;
    temporary_files_[handle];
  }
  Record(PlatformCall::kCreateTemporaryFile, handle, 0, error, directory);
  return handle;
}

bool MemoryPlatform::ReadFileAt(Handle handle, std::uint64_t offset,
                                void* buffer, std::uint32_t size,
                                std::uint32_t* bytes_read) {
  *bytes_read = 0;
  std::optional<std::uint32_t> error = Count(PlatformCall::kReadFileAt);
  const auto temporary = temporary_files_.find(handle);
  if (!error && temporary == temporary_files_.end()) {
    error = platform_error::kInvalidHandle;
  }
  if (!error && offset < temporary->second.size()) {
    const std::size_t count = std::min<std::size_t>(
        {size, max_read_bytes_,
         temporary->second.size() - static_cast<std::size_t>(offset)});
    std::memcpy(buffer, temporary->second.data() + offset, count);
    *bytes_read = static_cast<std::uint32_t>(count);
  }
  return Record(PlatformCall::kReadFileAt, handle, size, error, "");
}

Handle MemoryPlatform::GetStdHandle(StandardHandle which) {
  std::optional<std::uint32_t> error = Count(PlatformCall::kGetStdHandle);
  bool present = standard_input_.has_value();
  Handle handle = kStandardInput;
  if (which == StandardHandle::kOutput) {
    present = standard_output_open_;
    handle = kStandardOutput;
  } else if (which == StandardHandle::kError) {
    present = standard_error_open_;
    handle = kStandardError;
  }
  if (!error && !present) error = platform_error::kInvalidHandle;
  return Record(PlatformCall::kGetStdHandle, handle, 0, error, "")
             ? handle
             : kInvalidHandle;
}

FileType MemoryPlatform::GetFileType(Handle handle) {
  std::optional<std::uint32_t> error = Count(PlatformCall::kGetFileType);
  FileType type = FileType::kUnknown;
  if (handle == kStandardInput && standard_input_) {
    type = standard_input_type_;
  } else if (handle == kStandardOutput && standard_output_open_) {
    type = standard_output_type_;
  } else if (handle == kStandardError && standard_error_open_) {
    type = FileType::kPipe;
  } else if (open_files_.contains(handle)) {
    type = FileType::kDisk;
  } else if (!error) {
    error = platform_error::kInvalidHandle;
  }
  return Record(PlatformCall::kGetFileType, handle, 0, error, NameOf(handle))
             ? type
             : FileType::kUnknown;
}

bool MemoryPlatform::ReadFile(Handle handle, void* buffer, std::uint32_t size,
                              std::uint32_t* bytes_read) {
  *bytes_read = 0;
  std::optional<std::uint32_t> error = Count(PlatformCall::kReadFile);
  const std::string* source = nullptr;
  std::size_t* offset = nullptr;
  const auto open = open_files_.find(handle);
  if (handle == kStandardInput && standard_input_) {
    source = &*standard_input_;
    offset = &standard_input_offset_;
  } else if (open != open_files_.end() && !open->second.writing) {
    source = &files_[open->second.name];
    offset = &open->second.read_offset;
  } else if (!error) {
    // As on Windows: a handle that exists but was not opened
    // for reading is refused, an unknown one is invalid.
    const bool known = open != open_files_.end() ||
                       (handle == kStandardOutput && standard_output_open_);
    error = known ? kAccessDenied : platform_error::kInvalidHandle;
  }
  if (!error) {
    const std::size_t count =
        std::min({std::size_t{size}, std::size_t{max_read_bytes_},
                  source->size() - *offset});
    if (count > 0) std::memcpy(buffer, source->data() + *offset, count);
    *offset += count;
    *bytes_read = static_cast<std::uint32_t>(count);
  }
  return Record(PlatformCall::kReadFile, handle, size, error, NameOf(handle));
}

bool MemoryPlatform::WriteFile(Handle handle, const void* buffer,
                               std::uint32_t size,
                               std::uint32_t* bytes_written) {
  *bytes_written = 0;
  std::optional<std::uint32_t> error = Count(PlatformCall::kWriteFile);
  std::string* target = nullptr;
  const auto open = open_files_.find(handle);
  const auto temporary = temporary_files_.find(handle);
  if (temporary != temporary_files_.end()) {
    if (!error && temporary_bytes_ + size > temporary_space_) {
      error = platform_error::kDiskFull;
    }
    if (!error) {
      temporary_bytes_ += size;
      temporary_bytes_peak_ = std::max(temporary_bytes_peak_, temporary_bytes_);
    }
    target = &temporary->second;
  } else if (handle == kStandardOutput && standard_output_open_) {
    target = &standard_output_;
  } else if (handle == kStandardError && standard_error_open_) {
    target = &standard_error_;
  } else if (open != open_files_.end() && open->second.writing) {
    target = &files_[open->second.name];
  } else if (!error) {
    const bool known = open != open_files_.end() ||
                       (handle == kStandardInput && standard_input_);
    error = known ? kAccessDenied : platform_error::kInvalidHandle;
  }
  if (!error) {
    if (size > 0) target->append(static_cast<const char*>(buffer), size);
    *bytes_written = size;
  }
  return Record(PlatformCall::kWriteFile, handle, size, error, NameOf(handle));
}

bool MemoryPlatform::FlushFile(Handle handle) {
  const std::optional<std::uint32_t> error = Count(PlatformCall::kFlushFile);
  return Record(PlatformCall::kFlushFile, handle, 0, error, NameOf(handle));
}

bool MemoryPlatform::CloseHandle(Handle handle) {
  std::optional<std::uint32_t> error = Count(PlatformCall::kCloseHandle);
  std::string name = NameOf(handle);
  const auto temporary = temporary_files_.find(handle);
  if (!error && !open_files_.contains(handle) &&
      temporary == temporary_files_.end()) {
    error = platform_error::kInvalidHandle;
  }
  if (!error && temporary != temporary_files_.end()) {
    temporary_bytes_ -= temporary->second.size();
    temporary_files_.erase(temporary);
  }
  if (!error) open_files_.erase(handle);
  return Record(PlatformCall::kCloseHandle, handle, 0, error, std::move(name));
}

void MemoryPlatform::DescribeError(std::uint32_t code, char* text,
                                   std::size_t size) {
  std::snprintf(text, size, "error %u", static_cast<unsigned>(code));
}

ProcessArguments MemoryPlatform::GetCommandLine() {
  ProcessArguments arguments;
  if (command_line_) {
    arguments.command_line = *command_line_;
    return arguments;
  }
  arguments.is_split = true;
  arguments.split.assign(arguments_.begin(), arguments_.end());
  return arguments;
}

void MemoryPlatform::AddLink(const std::string& link,
                             const std::string& target) {
  links_[link] = target;
}

bool MemoryPlatform::IsSameFile(const char* a, const char* b) {
  const auto resolve = [this](const std::string& name) {
    const auto link = links_.find(name);
    return link == links_.end() ? name : link->second;
  };
  const std::string file = resolve(a);
  return files_.count(file) != 0 && file == resolve(b);
}

bool MemoryPlatform::IsFileOfHandle(const char* name, Handle handle) {
  const auto standard = standard_files_.find(handle);
  const auto open = open_files_.find(handle);
  const std::string file = standard != standard_files_.end() ? standard->second
                           : open != open_files_.end()       ? open->second.name
                                                             : std::string();
  return !file.empty() && IsSameFile(name, file.c_str());
}

bool MemoryPlatform::LocateCode(const void*, CodeLocation* where) {
  *where = CodeLocation();
  if (module_name_.empty()) return false;
  where->module_base = module_base_;
  const std::size_t length =
      std::min(module_name_.size(), sizeof(where->module_name) - 1);
  std::memcpy(where->module_name, module_name_.data(), length);
  return true;
}

void MemoryPlatform::ExitProcess(int status) {
  exited_ = true;
  exit_status_ = status;
}

std::optional<std::uint32_t> MemoryPlatform::Count(PlatformCall::Kind kind) {
  ++counted_calls_;
  const int of_kind = ++calls_of_kind_[kind];
  for (const ArmedFailure& failure : armed_failures_) {
    const int number = failure.kind ? of_kind : counted_calls_;
    if (failure.kind && *failure.kind != kind) continue;
    if (failure.onward ? number >= failure.number : number == failure.number) {
      return failure.code;
    }
  }
  return std::nullopt;
}

bool MemoryPlatform::Record(PlatformCall::Kind kind, Handle handle,
                            std::uint32_t bytes,
                            std::optional<std::uint32_t> error,
                            std::string name) {
  if (error) last_error_ = *error;
  calls_.push_back(
      {kind, handle, bytes, !error, error.value_or(0), std::move(name)});
  return !error;
}

std::optional<std::uint32_t> MemoryPlatform::OpenRefusal(
    const std::string& name, bool for_writing) const {
  if (name.size() > max_name_bytes_) return kFilenameTooLong;
  const std::size_t slash = name.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      !directories_.contains(name.substr(0, slash))) {
    return kPathNotFound;
  }
  if (directories_.contains(name)) return kAccessDenied;
  if (!for_writing && !files_.contains(name)) return kFileNotFound;
  // Every open lets others read but not write: a reader blocks writers, a
  // writer blocks everyone.
  for (const auto& [handle, open] : open_files_) {
    if (open.name == name && (for_writing || open.writing)) {
      return kSharingViolation;
    }
  }
  return std::nullopt;
}

Handle MemoryPlatform::Open(PlatformCall::Kind kind, const std::string& name) {
  const bool for_writing = kind == PlatformCall::kOpenForWriting;
  std::optional<std::uint32_t> error = Count(kind);
  if (!error) error = OpenRefusal(name, for_writing);
  Handle handle = kInvalidHandle;
  if (!error) {
    if (for_writing) files_.try_emplace(name);
    handle = next_file_handle_++;
    open_files_[handle] = {name, for_writing, 0};
  }
  Record(kind, handle, 0, error, name);
  return handle;
}

std::string MemoryPlatform::NameOf(Handle handle) const {
  const auto open = open_files_.find(handle);
  return open == open_files_.end() ? std::string() : open->second.name;
}

}  // namespace mlfsort
