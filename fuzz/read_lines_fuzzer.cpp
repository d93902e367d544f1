// Reads arbitrary bytes line by line through a text stream, the way the sort
// run does, and checks the lines against a plain split of the same bytes.
//
// Input: one control byte, then the data. The control byte picks how many
// bytes each platform read delivers (refills that stop short move line ends
// and end-of-text bytes across buffer edges) and whether the data is a named
// file or standard input. Every input is read under both line conventions.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/memory_platform.h"
#include "support/sort_model.h"
#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {
namespace {

// Aborts with a message, so libFuzzer keeps the input as a crash.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "read_lines: %s\n", what);
    std::abort();
  }
}

int ReadCalls(const MemoryPlatform& platform) {
  int count = 0;
  for (const PlatformCall& call : platform.calls()) {
    if (call.kind == PlatformCall::kReadFile) {
      Require(call.bytes <= TextStream::kBufferCapacity,
              "a refill asks for more than the buffer holds");
      ++count;
    }
  }
  return count;
}

void ReadAllLines(std::uint8_t control, std::string_view data,
                  LineConvention convention) {
  SetPendingIoError(0);
  MemoryPlatform platform;
  // 0 leaves reads unlimited (whole 128-byte refills); 1 to 127 cut them.
  const std::uint32_t max_read_bytes = control & 0x7f;
  if (max_read_bytes != 0) platform.SetMaxReadBytes(max_read_bytes);
  const bool from_standard_input = (control & 0x80) != 0;
  if (from_standard_input) {
    platform.SetStandardInput(std::string(data));
  } else {
    platform.AddFile("in.mlf", std::string(data));
  }

  TextStream stream(platform);
  stream.SetLineConvention(convention);
  stream.Name(from_standard_input ? "" : "in.mlf");
  stream.OpenForReading();
  Require(PendingIoError() == 0, "opening the input failed");

  // Every line but the last ends in at least one byte, so a stream that
  // yields more lines than there are bytes is not advancing.
  const std::vector<std::string> expected = ModelSplitLines(data, convention);
  std::vector<std::string> lines;
  std::string line;
  while (!stream.AtEndOfInput()) {
    Require(lines.size() <= data.size(), "reading does not advance");
    stream.ReadLine(&line);
    stream.SkipLineEnd();
    lines.push_back(line);
  }
  Require(PendingIoError() == 0, "reading left an error");
  Require(lines == expected, "the lines differ from a plain split");
  // Every byte up to the end of the input was taken, and no more.
  const std::size_t input_bytes = convention == LineConvention::kCr
                                      ? data.substr(0, data.find('\x1a')).size()
                                      : data.size();
  Require(stream.BytesTaken() == input_bytes,
          "the count of bytes taken is not the input's");

  // The end of input is final: more reads give nothing and ask the platform
  // for nothing.
  const int reads_at_end = ReadCalls(platform);
  stream.ReadLine(&line);
  stream.SkipLineEnd();
  Require(line.empty(), "a read after the end gave bytes");
  Require(stream.AtEndOfInput(), "the end of input did not last");
  Require(ReadCalls(platform) == reads_at_end, "the platform was read again");
  Require(PendingIoError() == 0, "reading after the end left an error");

  stream.Close();
  Require(PendingIoError() == 0, "closing the input failed");
  Require(from_standard_input || !platform.IsOpen("in.mlf"),
          "the input file stayed open");
}

}  // namespace
}  // namespace mlfsort

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1,
                               size - 1);
  mlfsort::ReadAllLines(data[0], bytes, mlfsort::LineConvention::kCr);
  mlfsort::ReadAllLines(data[0], bytes, mlfsort::LineConvention::kLf);
  return 0;
}
