// Runs the built mlfsort binary on hostile inputs, odd kinds of input files,
// failing output locations, broken standard streams and a competing second
// run. Whatever happens, a run must end with status 0 and exactly the
// model's output, or with status 1 and a failure report; it must never die
// of a signal or hang, change its input, or write anything but its output.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/binary_runner.h"
#include "support/binary_test_fixture.h"
#include "support/same_bytes.h"
#include "support/sort_model.h"
#include "support/temp_files.h"

namespace mlfsort {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using std::chrono::milliseconds;

constexpr std::size_t kMillion = 1'000'000;

// Writes to a pipe or FIFO whose reader may be gone. The write runs on a
// thread of its own with SIGPIPE blocked, so a vanished reader shows as a
// failed write rather than killing the test process; the signal left
// pending on that thread goes with it.
bool WriteToPipe(int fd, std::string_view bytes) {
  bool complete = false;
  std::thread writer([&] {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written =
          ::write(fd, bytes.data() + done, bytes.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      done += static_cast<std::size_t>(written);
    }
    complete = true;
  });
  writer.join();
  return complete;
}

// Opens the write end of the FIFO at `path` as soon as `run` holds it open
// for reading (until then a non-blocking open fails with ENXIO), so nothing
// waits on a run that ended or never got that far. -1 when the run ended
// first. Close-on-exec, or a later child would keep the FIFO from ending.
int OpenFifoWriterOnceRead(const std::string& path,
                           const std::future<RunResult>& run) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      // Blocking again: writes wait for the reader instead of failing.
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != ENXIO) return -1;
    if (run.wait_for(milliseconds(2)) == std::future_status::ready) return -1;
  }
}

// Label-file text of `count` utterances, in descending name order.
std::string UtterancesDescending(int count, const char* line_end) {
  std::string text;
  char line[64];
  for (int i = count; i > 0; --i) {
    const int size =
        std::snprintf(line, sizeof line, "\"*/utt%05d.lab\"%s0 100 w%d%s.%s", i,
                      line_end, i % 7, line_end, line_end);
    text.append(line, static_cast<std::size_t>(size));
  }
  return text;
}

// `count` comment lines of 36 bytes, written straight through.
std::string CommentLines(std::size_t count) {
  std::string text;
  text.reserve(count * 36);
  for (std::size_t i = 0; i < count; ++i) {
    text += "# comment line padded to 36 bytes\r\n";
  }
  return text;
}

// Seeded random bytes. A byte 26 would end the input within a few hundred
// bytes, so it is moved off that value: all of it is read.
std::string RandomBytes() {
  std::mt19937 engine(20240611);
  std::string bytes(1 << 18, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(engine() & 0xFF);
    if (byte == 26) byte = 27;
  }
  return bytes;
}

std::string ZeroBytes() {
  return "\0\0\0\0\r\n"s          // nothing but zero bytes
         "ab\0key\r\n"s           // a zero byte inside the key ...
         "ab\0\0key\r\n"s         // ... and a key differing only in zeros
         "\0#not a comment\r\n"s  // a zero byte before "#"
         "#\0a comment\r\n"s +
         std::string(300, '\0') + "\r\n"s +  // zeros beyond byte 101
         "\0\0\0\0\0\r\n"s;
}

// One sortable line of 64 KiB, ended by nothing.
std::string NoLineEnd() {
  std::string text = "\"*/";
  for (int i = 0; i < 65536; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

std::string CarriageReturnsOnly() {
  return "#!MLF!#\r" + UtterancesDescending(2000, "\r");
}

std::string EndOfTextFirst() { return "\x1a"s + std::string(kSmallInput); }

// The model takes seconds over a million keys, so the two inputs below
// come with their output, which is plain: one key, or keys of one width.

// A million lines of one key in alternating letter case, told apart by
// their first two bytes, which are not part of the key.
std::string MillionEqualKeys() {
  std::string text = "#!MLF!#\r\n";
  text.reserve(kMillion * 16 + 64);
  for (std::size_t i = 0; i < kMillion; ++i) {
    text += static_cast<char>('a' + i % 26);
    text += static_cast<char>('a' + i / 26 % 26);
    text += i % 2 == 0 ? "/Utt/One.lab\r\n" : "/uTT/oNE.LAB\r\n";
  }
  return text + "ZZ/utt/one.lab\r\n";
}

std::string MillionEqualKeysSorted(const std::string&) {
  return "#!MLF!#\r\nZZ/utt/one.lab\r\n";
}

constexpr std::string_view kNumberedLine = "\"*/u0000000.lab\"\r\n";
constexpr std::size_t kNumberStart = 4;
constexpr std::size_t kNumberDigits = 7;

std::string MillionKeysDescending() {
  std::string text;
  text.reserve(kMillion * kNumberedLine.size());
  for (std::size_t n = kMillion; n-- > 0;) {
    text += kNumberedLine;
    std::size_t digits = n;
    for (std::size_t i = kNumberDigits; i-- > 0; digits /= 10) {
      text[text.size() - kNumberedLine.size() + kNumberStart + i] =
          static_cast<char>('0' + digits % 10);
    }
  }
  return text;
}

// Numbers of one width sort as numbers: the lines in reverse.
std::string MillionKeysAscending(const std::string& descending) {
  std::string text;
  text.reserve(descending.size());
  for (std::size_t end = descending.size(); end > 0;
       end -= kNumberedLine.size()) {
    text.append(descending, end - kNumberedLine.size(), kNumberedLine.size());
  }
  return text;
}

// Checks that the file at `path` holds `head`, then `zeros` zero bytes,
// then `tail` and nothing more, reading 64 KiB at a time so that a file of
// 100 MB needs no copy in memory.
::testing::AssertionResult HoldsZerosBetween(const std::string& path,
                                             std::string_view head,
                                             std::uintmax_t zeros,
                                             std::string_view tail) {
  std::ifstream file(path, std::ios::binary);
  std::string got(head.size(), '\0');
  file.read(got.data(), static_cast<std::streamsize>(got.size()));
  if (!file || got != head) {
    return ::testing::AssertionFailure()
           << path << " starts with " << ::testing::PrintToString(got);
  }
  std::vector<char> chunk(1 << 16);
  for (std::uintmax_t left = zeros; left > 0;) {
    const std::size_t want = std::min<std::uintmax_t>(left, chunk.size());
    file.read(chunk.data(), static_cast<std::streamsize>(want));
    if (static_cast<std::size_t>(file.gcount()) != want ||
        std::any_of(chunk.begin(), chunk.begin() + want,
                    [](char byte) { return byte != 0; })) {
      return ::testing::AssertionFailure()
             << path << " breaks its run of zero bytes " << zeros - left
             << " bytes into it";
    }
    left -= want;
  }
  got.assign(tail.size() + 1, '\0');
  file.read(got.data(), static_cast<std::streamsize>(got.size()));
  got.resize(static_cast<std::size_t>(file.gcount()));
  if (got != tail) {
    return ::testing::AssertionFailure()
           << path << " ends with " << ::testing::PrintToString(got);
  }
  return ::testing::AssertionSuccess();
}

class HostileTest : public BinaryRunTest {
 protected:
  // What the temporary directory holds, so that a test can tell nothing
  // but the output file was added.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(temp_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::future<RunResult> RunInBackground(std::vector<std::string> arguments,
                                         RunOptions options = {}) {
    return std::async(std::launch::async, [this, arguments, options] {
      return RunUnchecked(arguments, options);
    });
  }
};

class HostileInputs : public HostileTest {};
class HostileInputKinds : public HostileTest {};
class HostileOutputLocations : public HostileTest {};
class HostileStandardInput : public HostileTest {};
class HostileTwoRunsAtOnce : public HostileTest {};
class HostileMemoryChecker : public HostileTest {};
class HostileTemporaryFiles : public HostileTest {};

TEST_F(HostileInputs, AnyBytesSortLikeTheModelAndLeaveTheInputAlone) {
  struct InputCase {
    const char* name;
    std::string (*input)();
    // Set where the model would be too slow.
    std::string (*expected)(const std::string& input) = nullptr;
  };
  const InputCase cases[] = {
      {"random bytes", RandomBytes},
      {"zero bytes", ZeroBytes},
      {"no line end", NoLineEnd},
      {"CR line ends", CarriageReturnsOnly},
      {"byte 26 first", EndOfTextFirst},
      {"a million equal keys", MillionEqualKeys, MillionEqualKeysSorted},
      {"a million keys descending", MillionKeysDescending,
       MillionKeysAscending},
  };
  for (const InputCase& input_case : cases) {
    SCOPED_TRACE(input_case.name);
    const std::string input = input_case.input();
    WriteFile("x.mlf", input);
    ExpectNormalEnd(Run({"x.mlf"}), kTwoLineEnds);
    const std::string expected = input_case.expected
                                     ? input_case.expected(input)
                                     : ModelSortedOutput(input);
    EXPECT_TRUE(SameBytes(ReadFile("x.srt").value_or("<no x.srt>"), expected));
    EXPECT_TRUE(ReadFile("x.mlf") == input) << "the input was changed";
    EXPECT_EQ(Entries(), (std::set<std::string>{"x.mlf", "x.srt"}));
  }
}

// The line is the hole of a sparse file, so it takes no time to write; the
// model would need it in memory several times over, and the output of one
// line and one comment is plain.
TEST_F(HostileInputs, LineOf100MegabytesComesOutWhole) {
  constexpr std::uintmax_t kZeros = 100'000'000;
  constexpr std::string_view kHead = "xx\"*/head";
  constexpr std::string_view kTail = "tail\r\n#after it\r\n";
  WriteFile("x.mlf", kHead);
  fs::resize_file(PathOf("x.mlf"), kHead.size() + kZeros);
  {
    std::ofstream file(PathOf("x.mlf"), std::ios::binary | std::ios::app);
    file << kTail;
    ASSERT_TRUE(file);
  }
  ExpectNormalEnd(Run({"x.mlf"}), kTwoLineEnds);
  EXPECT_TRUE(HoldsZerosBetween(PathOf("x.srt"),
                                "#after it\r\n" + std::string(kHead), kZeros,
                                "tail\r\n"));
  EXPECT_TRUE(HoldsZerosBetween(PathOf("x.mlf"), kHead, kZeros, kTail))
      << "the input was changed";
}

// The directory must stay as it was; the output file was already made.
TEST_F(HostileInputKinds, DirectoryIsAccessDenied) {
  ASSERT_TRUE(fs::create_directory(PathOf("d.mlf")));
  ExpectFailureReport(Run({"d.mlf"}), "\r\n", "EInOutError",
                      "File access denied.");
  EXPECT_TRUE(fs::is_directory(PathOf("d.mlf")));
  EXPECT_TRUE(fs::is_empty(PathOf("d.mlf")));
  EXPECT_EQ(ReadFile("d.srt"), "");
  EXPECT_EQ(Entries(), (std::set<std::string>{"d.mlf", "d.srt"}));
}

// More than a pipe holds, so the tool sees short reads and waits on the
// writer.
TEST_F(HostileInputKinds, FifoFedByAnotherThreadIsSortedCompletely) {
  ASSERT_EQ(::mkfifo(PathOf("x.mlf").c_str(), 0644), 0) << std::strerror(errno);
  const std::string input =
      "#!MLF!#\r\n" + CommentLines(5000) + UtterancesDescending(300, "\r\n");
  std::future<RunResult> run = RunInBackground({"x.mlf"});
  const int writer = OpenFifoWriterOnceRead(PathOf("x.mlf"), run);
  EXPECT_GE(writer, 0) << "the run never opened its input";
  if (writer >= 0) {
    EXPECT_TRUE(WriteToPipe(writer, input));
    ::close(writer);
  }
  ExpectNormalEnd(run.get(), kTwoLineEnds);
  EXPECT_TRUE(SameBytes(ReadFile("x.srt").value_or("<no x.srt>"),
                        ModelSortedOutput(input)));
  EXPECT_TRUE(fs::is_fifo(PathOf("x.mlf")));
}

TEST_F(HostileInputKinds, NullDeviceThroughALinkGivesEmptyOutput) {
  fs::create_symlink("/dev/null", PathOf("x.mlf"));
  ExpectNormalEnd(Run({"x.mlf"}), kTwoLineEnds);
  EXPECT_EQ(ReadFile("x.srt"), "");
  EXPECT_EQ(fs::read_symlink(PathOf("x.mlf")), "/dev/null");
  EXPECT_EQ(Entries(), (std::set<std::string>{"x.mlf", "x.srt"}));
}

// /dev/zero is one endless line, held whole in memory while it grows. With
// no limit only the machine's memory would end it, so the test sets one.
TEST_F(HostileInputKinds, EndlessInputRunsOutOfMemoryUnderALimit) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer reserves far more address space "
                    "than any useful RLIMIT_AS";
  }
  fs::create_symlink("/dev/zero", PathOf("x.mlf"));
  RunOptions options;
  options.address_space_limit = 24u << 20;
  ExpectFailureReport(Run({"x.mlf"}, options), "\r\n", "EOutOfMemory",
                      "Out of memory.");
  EXPECT_EQ(ReadFile("x.srt"), "");
  EXPECT_EQ(fs::read_symlink(PathOf("x.mlf")), "/dev/zero");
}

// Memory may run out anywhere from the first request of the process on, even
// before the runtime has set aside room for raising exceptions. Every such
// start ends in a report (or the loader refuses to start the program at
// all, status 127 with nothing written), never in a signal: the failure
// report once the run has begun (its first line end is out), the runtime
// error and its number before.
TEST_F(HostileInputKinds, MemoryShortFromTheStartEndsInAReport) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer reserves far more address space "
                    "than any useful RLIMIT_AS";
  }
  WriteFile("x.mlf", kSmallInput);
  RunOptions options;
  int reports = 0;
  for (std::uint64_t limit = 2u << 20; limit < 16u << 20; limit += 32u << 10) {
    options.address_space_limit = limit;
    const RunResult result = RunUnchecked({"x.mlf"}, options);
    SCOPED_TRACE("RLIMIT_AS " + std::to_string(limit) + ": " +
                 Describe(result));
    ASSERT_TRUE(result.exited);
    if (result.exit_status == 127 && result.stdout_bytes.empty()) continue;
    if (result.exit_status == 0) {
      EXPECT_EQ(result.stdout_bytes, kTwoLineEnds);
      continue;
    }
    ++reports;
    if (result.exit_status == 1) {
      EXPECT_TRUE(
          result.stdout_bytes.starts_with("\r\nException EOutOfMemory"));
    } else {
      EXPECT_EQ(result.exit_status, 203);
      EXPECT_TRUE(std::regex_match(result.stdout_bytes,
                                   std::regex("Runtime error 203 at "
                                              "[0-9A-F]{8}\r\n")));
    }
  }
  EXPECT_GT(reports, 0);
}

TEST_F(HostileOutputLocations, DirectoryNamedLikeTheOutputIsAccessDenied) {
  WriteFile("x.mlf", kSmallInput);
  ASSERT_TRUE(fs::create_directory(PathOf("x.srt")));
  RunOptions options;
  if (RunningAsRoot()) {
    // Everything belongs to the account, so being a directory is the only
    // reason left to refuse the output.
    for (const std::string& path :
         {temp_.path(), PathOf("x.mlf"), PathOf("x.srt")}) {
      ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0) << path;
    }
    options.run_as_user = kNobody;
    options.run_as_group = kNobody;
  }
  const RunResult result = RunUnchecked({"x.mlf"}, options);
  if (result.exec_failed && options.run_as_user) {
    GTEST_SKIP() << "the unprivileged account cannot start " << kBinary << " ("
                 << std::strerror(result.exec_errno) << ")";
  }
  ExpectFailureReport(result, "\r\n", "EInOutError", "File access denied.");
  EXPECT_EQ(ReadFile("x.mlf"), kSmallInput);
  EXPECT_TRUE(fs::is_directory(PathOf("x.srt")) &&
              fs::is_empty(PathOf("x.srt")));
  EXPECT_EQ(Entries(), (std::set<std::string>{"x.mlf", "x.srt"}));
}

// Once with output small enough to be written only at the close, once with
// blocks written out while reading.
TEST_F(HostileOutputLocations, FullDiskIsIoError112) {
  fs::create_symlink("/dev/full", PathOf("x.srt"));
  for (const std::string& input :
       {std::string(kSmallInput), CommentLines(20000)}) {
    SCOPED_TRACE(input.size());
    WriteFile("x.mlf", input);
    ExpectFailureReport(Run({"x.mlf"}), "\r\n", "EInOutError",
                        "I/O error 112.");
    EXPECT_TRUE(ReadFile("x.mlf") == input) << "the input was changed";
    EXPECT_EQ(fs::read_symlink(PathOf("x.srt")), "/dev/full");
  }
}

// A file-size limit stops the kernel inside a block. The run reports it
// rather than dying of SIGXFSZ, and the output keeps every 128-byte block
// that fits under the limit.
TEST_F(HostileOutputLocations, FileSizeLimitIsIoError223) {
  constexpr std::uint64_t kLimit = 100000;
  const std::string input = "#!MLF!#\r\n" + UtterancesDescending(6000, "\r\n");
  const std::string expected = ModelSortedOutput(input);
  ASSERT_GT(expected.size(), kLimit);
  WriteFile("x.mlf", input);
  RunOptions options;
  options.file_size_limit = kLimit;
  const RunResult result = RunUnchecked({"x.mlf"}, options);
  if (result.exec_failed) {
    GTEST_SKIP() << "cannot set the file-size limit ("
                 << std::strerror(result.exec_errno) << ")";
  }
  EXPECT_FALSE(result.signaled) << Describe(result);
  ExpectFailureReport(result, "\r\n", "EInOutError", "I/O error 223.");
  const std::string written = ReadFile("x.srt").value_or("");
  EXPECT_EQ(written.size(), kLimit / 128 * 128);
  EXPECT_TRUE(written == expected.substr(0, written.size()));
  EXPECT_TRUE(ReadFile("x.mlf") == input) << "the input was changed";
}

// With no name argument the prompt reads standard input. An input that ends
// at once is an empty name, which sorts standard input into "srt"; a closed
// descriptor cannot be read at all and is reported.
TEST_F(HostileStandardInput, GoneWhileThePromptWaits) {
  RunOptions options;
  options.input = ChildInput::kClosed;
  ExpectFailureReport(Run({}, options), kPrompt, "EInOutError",
                      "I/O error 104.");
  EXPECT_TRUE(Entries().empty());

  options.input = ChildInput::kPipe;  // closed before anything is written
  const RunResult result = Run({}, options);
  EXPECT_TRUE(result.exited && result.exit_status == 0) << Describe(result);
  EXPECT_EQ(result.stdout_bytes, kPrompt + std::string(kTwoLineEnds));
  EXPECT_EQ(ReadFile("srt"), "");
  EXPECT_EQ(Entries(), std::set<std::string>{"srt"});
}

// The first run's input is a FIFO, so it stalls, holding both its files,
// wherever the test stops feeding it: here after 1 MB of comments, most of
// them already written through to x.srt. The test knows the run has reached
// its input when it can open the FIFO's write end; a run still waiting in
// that open cannot be told from one that never got there, so the second
// run comes while the first waits for data instead.
TEST_F(HostileTwoRunsAtOnce, SecondRunOnTheSameFilesStopsAndTheFirstEnds) {
  ASSERT_EQ(::mkfifo(PathOf("x.mlf").c_str(), 0644), 0) << std::strerror(errno);
  const std::string head = "#!MLF!#\r\n" + CommentLines(30000);
  const std::string rest = UtterancesDescending(100, "\r\n");
  std::future<RunResult> first = RunInBackground({"x.mlf"});
  const int writer = OpenFifoWriterOnceRead(PathOf("x.mlf"), first);
  ASSERT_GE(writer, 0) << "the first run never opened its input: "
                       << Describe(first.get());
  EXPECT_TRUE(WriteToPipe(writer, head));
  const std::string written_so_far = ReadFile("x.srt").value_or("");

  RunOptions options;
  options.timeout = milliseconds(5000);
  ExpectFailureReport(Run({"x.mlf"}, options), "\r\n", "EInOutError",
                      "I/O error 32.");
  EXPECT_TRUE(ReadFile("x.srt").value_or("").starts_with(written_so_far))
      << "the second run changed the first one's output";

  EXPECT_TRUE(WriteToPipe(writer, rest));
  ::close(writer);
  ExpectNormalEnd(first.get(), kTwoLineEnds);
  EXPECT_TRUE(SameBytes(ReadFile("x.srt").value_or("<no x.srt>"),
                        ModelSortedOutput(head + rest)));
  EXPECT_EQ(Entries(), (std::set<std::string>{"x.mlf", "x.srt"}));
}

// The second run's output name r.srt is a link to the file the first is
// reading. The first writes into a FIFO the test does not read yet, so it
// stalls with its input open (it cannot have read all of it: far more than
// a pipe holds goes straight through).
TEST_F(HostileTwoRunsAtOnce, SecondRunNeverWritesOverTheFirstOnesInput) {
  const std::string input = CommentLines(30000) + std::string(kSmallInput);
  WriteFile("p.mlf", input);
  WriteFile("r.mlf", kSmallInput);
  fs::create_symlink("p.mlf", PathOf("r.srt"));
  ASSERT_EQ(::mkfifo(PathOf("p.srt").c_str(), 0644), 0) << std::strerror(errno);
  const int reader =
      ::open(PathOf("p.srt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0) << std::strerror(errno);

  std::future<RunResult> first = RunInBackground({"p.mlf"});
  int pending = 0;
  while (::ioctl(reader, FIONREAD, &pending) == 0 && pending == 0 &&
         first.wait_for(milliseconds(2)) != std::future_status::ready) {
  }
  EXPECT_GT(pending, 0) << "the first run wrote nothing";

  RunOptions options;
  options.timeout = milliseconds(5000);
  ExpectFailureReport(Run({"r.mlf"}, options), "\r\n", "EInOutError",
                      "I/O error 32.");
  EXPECT_TRUE(ReadFile("p.mlf") == input) << "the input was changed";

  std::string output;
  for (char chunk[65536];;) {
    pollfd readable = {reader, POLLIN, 0};
    if (::poll(&readable, 1, 30000) <= 0) break;
    const ssize_t got = ::read(reader, chunk, sizeof chunk);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) break;
    output.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(reader);
  ExpectNormalEnd(first.get(), kTwoLineEnds);
  EXPECT_TRUE(SameBytes(output, ModelSortedOutput(input)));
  EXPECT_EQ(ReadFile("r.mlf"), kSmallInput);
}

TEST_F(HostileMemoryChecker, SmallSortIsCleanUnderValgrind) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "valgrind cannot run a binary built with the address "
                    "sanitizer";
  }
  std::optional<std::string> valgrind;
  const char* path = std::getenv("PATH");
  for (std::string_view dirs = path ? path : ""; !valgrind;) {
    const std::size_t colon = dirs.find(':');
    const fs::path candidate = fs::path(dirs.substr(0, colon)) / "valgrind";
    if (::access(candidate.c_str(), X_OK) == 0) valgrind = candidate.string();
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  if (!valgrind) GTEST_SKIP() << "valgrind is not installed";

  // Pass-through lines, a duplicate key and enough lines for several
  // output blocks.
  const std::string input = "#!MLF!#\r\n" + UtterancesDescending(200, "\r\n") +
                            "#c\r\n\"*/utt00007.lab\"\r\n";
  WriteFile("x.mlf", input);
  RunOptions options;
  options.working_directory = temp_.path();
  options.arguments = {"--error-exitcode=1", "--leak-check=full", kBinary,
                       "x.mlf"};
  options.timeout = milliseconds(60000);
  const RunResult result = RunBinary(*valgrind, options);
  ASSERT_FALSE(result.exec_failed) << std::strerror(result.exec_errno);
  ExpectNormalEnd(result, kTwoLineEnds);
  EXPECT_TRUE(SameBytes(ReadFile("x.srt").value_or("<no x.srt>"),
                        ModelSortedOutput(input)));
}

// Temporary files are made without a name (or lose it at once): no ending
// of a run that keeps sorted runs in them leaves one behind, not a success,
// not a failure, not an interrupt, not a kill.
TEST_F(HostileTemporaryFiles, NoEndingOfARunLeavesOneBehind) {
  ASSERT_TRUE(fs::create_directory(PathOf("tmp")));
  const std::string input = UtterancesDescending(30000, "\r\n");
  WriteFile("x.mlf", input);
  const std::vector<std::string> spilling = {"-S64K", "-T", "tmp"};
  std::vector<std::string> arguments = spilling;
  arguments.push_back("x.mlf");
  ExpectNormalEnd(Run(arguments));
  EXPECT_TRUE(SameBytes(ReadFile("x.srt").value_or("<no x.srt>"),
                        ModelSortedOutput(input)));
  EXPECT_TRUE(fs::is_empty(PathOf("tmp")));
  arguments.insert(arguments.end() - 1, {"-o", "/dev/full"});
  ExpectFailureReport(Run(arguments), "\r\n", "EInOutError", "I/O error 112.");
  EXPECT_TRUE(fs::is_empty(PathOf("tmp")));

  // Stopped while its input, a FIFO, waits for more, the run has kept
  // several sorted runs.
  ASSERT_EQ(::mkfifo(PathOf("f.mlf").c_str(), 0644), 0) << std::strerror(errno);
  for (const int stop : {SIGINT, SIGKILL}) {
    SCOPED_TRACE(stop);
    RunOptions options;
    options.timeout = milliseconds(1500);
    options.timeout_signal = stop;
    arguments = spilling;
    arguments.push_back("f.mlf");
    std::future<RunResult> run = RunInBackground(arguments, options);
    const int writer = OpenFifoWriterOnceRead(PathOf("f.mlf"), run);
    ASSERT_GE(writer, 0) << "the run never opened its input";
    EXPECT_TRUE(WriteToPipe(writer, input));
    const RunResult result = run.get();
    ::close(writer);
    EXPECT_TRUE(result.signaled && result.signal_number == stop)
        << Describe(result);
    EXPECT_TRUE(fs::is_empty(PathOf("tmp")));
  }
}

// A temporary directory that is missing, that the run may not write to, or
// that fills up (a small file system of its own, where the test may mount
// one) ends the run with the report, the directory named on standard
// error, the input untouched and nothing left in the directory.
TEST_F(HostileTemporaryFiles, FailingTemporaryDirectoryEndsTheRun) {
  const std::string input = "#!MLF!#\r\n" + UtterancesDescending(30000, "\r\n");
  WriteFile("x.mlf", input);
  const RunResult missing = Run({"-S64K", "-T", "missing", "x.mlf"});
  ExpectFailureReport(missing, "\r\n", "EInOutError", "Invalid filename.");
  EXPECT_TRUE(missing.stderr_bytes.starts_with(
      "mlfsort: cannot create a temporary file in 'missing': "))
      << missing.stderr_bytes;
  EXPECT_EQ(ReadFile("x.mlf"), input);
  EXPECT_EQ(ReadFile("x.srt").value_or("").size() % 128, 0u);

  ASSERT_TRUE(fs::create_directory(PathOf("small")));
  if (::mount("tmpfs", PathOf("small").c_str(), "tmpfs", 0, "size=128k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here ("
                 << std::strerror(errno)
                 << "); the in-memory platform fills a temporary directory";
  }
  const RunResult full = Run({"-S64K", "-T", "small", "x.mlf"});
  const bool emptied = fs::is_empty(PathOf("small"));
  ::umount(PathOf("small").c_str());
  ExpectFailureReport(full, "\r\n", "EInOutError", "I/O error 112.");
  EXPECT_EQ(full.stderr_bytes,
            "mlfsort: cannot write a temporary file in "
            "'small': No space left on device\n");
  EXPECT_TRUE(emptied);
  EXPECT_EQ(ReadFile("x.mlf"), input);
  EXPECT_EQ(ReadFile("x.srt").value_or("").size() % 128, 0u);
}

}  // namespace
}  // namespace mlfsort
