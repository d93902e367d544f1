#include "textio/text_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/memory_platform.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

using Kind = PlatformCall::Kind;
using Sizes = std::vector<std::uint32_t>;

class TextStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPendingIoError(0); }

  // Reads `contents` as the sort run does: test for the end, then a line
  // and its line end, until the end of input; and again taking each line
  // that lies whole in the buffer from there, which must read the same
  // lines with the same platform calls.
  // With `max_read_bytes`, each read hands over at most that many bytes.
  std::vector<std::string> LinesOf(
      const std::string& contents,
      LineConvention convention = LineConvention::kCr,
      std::uint32_t max_read_bytes = 0) {
    std::vector<std::string> lines[2];
    std::vector<std::pair<Kind, std::uint32_t>> calls[2];
    MemoryPlatform buffered_platform;
    for (const bool from_buffer : {false, true}) {
      MemoryPlatform& platform = from_buffer ? buffered_platform : platform_;
      const std::size_t calls_before = platform.calls().size();
      if (max_read_bytes != 0) platform.SetMaxReadBytes(max_read_bytes);
      platform.AddFile("in.mlf", contents);
      TextStream stream(platform);
      stream.SetLineConvention(convention);
      stream.Name("in.mlf");
      stream.OpenForReading();
      std::string line;
      for (;;) {
        if (from_buffer) {
          stream.ReadBufferedLines([&lines](std::string_view buffered) {
            lines[1].emplace_back(buffered);
          });
        }
        if (stream.AtEndOfInput()) break;
        stream.ReadLine(&line);
        stream.SkipLineEnd();
        lines[from_buffer].push_back(line);
      }
      EXPECT_EQ(PendingIoError(), 0);
      for (std::size_t at = calls_before; at < platform.calls().size(); ++at) {
        calls[from_buffer].emplace_back(platform.calls()[at].kind,
                                        platform.calls()[at].bytes);
      }
    }
    EXPECT_EQ(lines[1], lines[0]);
    EXPECT_EQ(calls[1], calls[0]);
    return lines[0];
  }

  int ReadCalls() const {
    int count = 0;
    for (const PlatformCall& call : platform_.calls()) {
      count += call.kind == Kind::kReadFile;
    }
    return count;
  }

  MemoryPlatform platform_;
};

using Lines = std::vector<std::string>;

TEST_F(TextStreamTest, LinesEndAtCrOrCrLf) {
  EXPECT_EQ(LinesOf("A\r\nB\r\n"), (Lines{"A", "B"}));
  EXPECT_EQ(LinesOf("A\rB"), (Lines{"A", "B"}));
  EXPECT_EQ(LinesOf("A\r\r\nB"), (Lines{"A", "", "B"}));
  EXPECT_EQ(LinesOf("A\r"), (Lines{"A"}));
  EXPECT_EQ(LinesOf("A"), (Lines{"A"}));
  EXPECT_EQ(LinesOf(""), Lines{});
}

TEST_F(TextStreamTest, LoneLfIsAnOrdinaryByte) {
  EXPECT_EQ(LinesOf("A\nB\n"), (Lines{"A\nB\n"}));
  EXPECT_EQ(LinesOf("A\n\rB"), (Lines{"A\n", "B"}));
}

// A CR LF and a lone LF at every place in the buffer, across the 16-byte
// chunks and the two words of the map of line stops: the same lines, and
// one line that holds an LF.
TEST_F(TextStreamTest, CrLfAndLoneLfReadAlikeAnywhereInTheBuffer) {
  for (std::size_t lead = 0; lead <= 130; ++lead) {
    const std::string first(lead, 'a');
    // The first line is read before the buffer is, the long way.
    const std::string contents = "x\r\n" + first + "\r\nb\r\nc\nd\r\n";
    EXPECT_EQ(LinesOf(contents), (Lines{"x", first, "b", "c\nd"})) << lead;
    MemoryPlatform platform;
    platform.AddFile("in.mlf", contents);
    TextStream stream(platform);
    stream.Name("in.mlf");
    stream.OpenForReading();
    std::string line;
    for (;;) {
      stream.ReadBufferedLines([](std::string_view) {});
      if (stream.AtEndOfInput()) break;
      stream.ReadLine(&line);
      stream.SkipLineEnd();
    }
    EXPECT_EQ(stream.LinesHoldingLineFeeds(), 1u) << lead;
  }
}

TEST_F(TextStreamTest, EndOfTextByteEndsTheInputWhereverItStands) {
  EXPECT_EQ(LinesOf(std::string("A\x1A"
                                "B\r\n")),
            (Lines{"A"}));
  EXPECT_EQ(LinesOf(std::string("A\r\n\x1A"
                                "B\r\n")),
            (Lines{"A"}));
  EXPECT_EQ(LinesOf(std::string("A\r\x1A\n")), (Lines{"A"}));
}

TEST_F(TextStreamTest, LinesHaveNoLengthLimitAndKeepZeroBytes) {
  for (std::size_t length :
       {127u, 128u, 129u, 255u, 256u, 510u, 511u, 70000u}) {
    const std::string line(length, 'x');
    EXPECT_EQ(LinesOf(line + "\r\n" + "y"), (Lines{line, "y"})) << length;
  }
  const std::string with_zero("a\0b", 3);
  EXPECT_EQ(LinesOf(with_zero + "\r\n"), Lines{with_zero});
}

TEST_F(TextStreamTest, CrLfSplitAcrossRefillsIsOneLineEnd) {
  const std::string first(127, 'a');
  EXPECT_EQ(LinesOf(first + "\r\nB"), (Lines{first, "B"}));
  EXPECT_EQ(LinesOf("A\r\nB\r\rC", LineConvention::kCr, 1),
            (Lines{"A", "B", "", "C"}));
}

// Under the LF convention a line ends at LF, CR LF or a CR alone, and byte
// 26 is an ordinary byte.
TEST_F(TextStreamTest, LfConventionEndsLinesAtLfCrLfOrCr) {
  const auto lf_lines = [this](const std::string& contents,
                               std::uint32_t max_read_bytes = 0) {
    return LinesOf(contents, LineConvention::kLf, max_read_bytes);
  };
  EXPECT_EQ(lf_lines("A\nB\r\nC\rD"), (Lines{"A", "B", "C", "D"}));
  EXPECT_EQ(lf_lines("A\n\nB\n"), (Lines{"A", "", "B"}));
  EXPECT_EQ(lf_lines("A\n\r\r\nB"), (Lines{"A", "", "", "B"}));
  EXPECT_EQ(lf_lines("A\x1a"
                     "B\n\x1a"),
            (Lines{"A\x1a"
                   "B",
                   "\x1a"}));
  EXPECT_EQ(lf_lines("A\r"), (Lines{"A"}));
  EXPECT_EQ(lf_lines(""), Lines{});
  // A CR LF split across refills is one line end: at the edge of the
  // 128-byte buffer, and at the edge of a 64 KiB block of the platform.
  for (const std::size_t first : {std::size_t{127}, std::size_t{65535}}) {
    const std::string line(first, 'a');
    EXPECT_EQ(lf_lines(line + "\r\nB\n"), (Lines{line, "B"})) << first;
  }
  EXPECT_EQ(lf_lines("A\r\nB\n\nC", 1), (Lines{"A", "B", "", "C"}));
}

TEST_F(TextStreamTest, RefillsAskForWholeBuffersAndStopAtTheEnd) {
  EXPECT_EQ(LinesOf(std::string(300, 'x')).size(), 1u);
  std::vector<std::uint32_t> asked;
  for (const PlatformCall& call : platform_.calls()) {
    if (call.kind == Kind::kReadFile) asked.push_back(call.bytes);
  }
  // Three reads bring 128, 128 and 44 bytes; the fourth meets the end.
  EXPECT_EQ(asked, (Sizes{128, 128, 128, 128}));
}

TEST_F(TextStreamTest, EndOfInputIsFinal) {
  platform_.AddFile("in.mlf", "A");
  TextStream stream(platform_);
  stream.Name("in.mlf");
  stream.OpenForReading();
  std::string line;
  stream.ReadLine(&line);
  EXPECT_TRUE(stream.AtEndOfInput());
  const int reads = ReadCalls();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(stream.AtEndOfInput());
    stream.ReadLine(&line);
    stream.SkipLineEnd();
    EXPECT_EQ(line, "");
  }
  EXPECT_EQ(ReadCalls(), reads);
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextStreamTest, FailingRefillIsNotLatched) {
  platform_.AddFile("in.mlf", "A\r\nB\r\n");
  TextStream stream(platform_);
  stream.Name("in.mlf");
  stream.OpenForReading();
  platform_.FailNext(Kind::kReadFile, 1, platform_error::kIoDevice);
  EXPECT_TRUE(stream.AtEndOfInput());
  EXPECT_EQ(TakePendingIoError(), 1117);
  // The next read asks the platform again and gets the data.
  EXPECT_FALSE(stream.AtEndOfInput());
  std::string line;
  stream.ReadLine(&line);
  EXPECT_EQ(line, "A");
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextStreamTest, FailingRefillMidLineEndsTheLineWithWhatWasRead) {
  platform_.AddFile("in.mlf", std::string(200, 'x'));
  TextStream stream(platform_);
  stream.Name("in.mlf");
  stream.OpenForReading();
  platform_.FailNext(Kind::kReadFile, 2, platform_error::kIoDevice);
  std::string line;
  stream.ReadLine(&line);
  EXPECT_EQ(line.size(), 128u);
  EXPECT_EQ(TakePendingIoError(), 1117);
}

TEST_F(TextStreamTest, BrokenPipeIsTheEndOfTheData) {
  platform_.SetStandardInput("A");
  TextStream stream(platform_, TextStream::Role::kStandardInput);
  stream.Name("");
  platform_.FailNext(Kind::kReadFile, 2, platform_error::kBrokenPipe);
  std::string line;
  stream.ReadLine(&line);
  EXPECT_EQ(line, "A");
  EXPECT_TRUE(stream.AtEndOfInput());
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextStreamTest, OpeningFailuresLeaveTheirCodeAndAClosedStream) {
  TextStream stream(platform_);
  stream.OpenForReading();
  EXPECT_EQ(TakePendingIoError(), kStreamUnnamed);

  stream.Name("missing.mlf");
  stream.OpenForReading();
  EXPECT_EQ(TakePendingIoError(), 2);
  EXPECT_EQ(stream.state(), TextStream::State::kClosed);
  std::string line = "kept?";
  stream.ReadLine(&line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(TakePendingIoError(), kStreamNotReading);
  EXPECT_TRUE(stream.AtEndOfInput());
  EXPECT_EQ(TakePendingIoError(), kStreamNotReading);

  stream.Close();
  EXPECT_EQ(TakePendingIoError(), kStreamNotOpen);
}

TEST_F(TextStreamTest, NamesAreNeverCut) {
  platform_.SetMaxNameBytes(20);
  const std::string long_name(21, 'n');
  platform_.AddFile(long_name.substr(0, 20), "cut name");
  TextStream stream(platform_);
  stream.Name(long_name);
  stream.OpenForWriting();
  EXPECT_EQ(TakePendingIoError(), 206);
  stream.Name(std::string("in.mlf\0.txt", 11));
  stream.OpenForReading();
  EXPECT_EQ(TakePendingIoError(), 123);
  // Neither name reached the platform, so nothing was opened or created.
  EXPECT_TRUE(platform_.calls().empty());
  EXPECT_EQ(platform_.FileContents(long_name.substr(0, 20)), "cut name");

  stream.Name(long_name.substr(0, 20));
  stream.OpenForReading();
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextStreamTest, StandardInputOpensOnFirstReadAndClosesQuietly) {
  platform_.SetStandardInput("name\r\n");
  TextStream stream(platform_, TextStream::Role::kStandardInput);
  stream.Name("");
  stream.Close();  // closed: closing the standard input stream does nothing
  EXPECT_EQ(PendingIoError(), 0);
  std::string line;
  stream.ReadLine(&line);
  EXPECT_EQ(line, "name");
  stream.Close();
  EXPECT_EQ(stream.state(), TextStream::State::kReading);
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextStreamTest, MissingStandardInputReadsAsEndWith104) {
  platform_.CloseStandardInput();
  TextStream stream(platform_, TextStream::Role::kStandardInput);
  stream.Name("");
  EXPECT_TRUE(stream.AtEndOfInput());
  EXPECT_EQ(TakePendingIoError(), kStreamNotReading);
}

TEST_F(TextStreamTest, SecondStreamOnStandardInputBeginsAfterTheFirstsBlock) {
  std::string input = "name\r\n" + std::string(200, 'x') + "\r\n";
  platform_.SetStandardInput(input);
  TextStream first(platform_, TextStream::Role::kStandardInput);
  first.Name("");
  std::string line;
  first.ReadLine(&line);
  first.SkipLineEnd();
  TextStream second(platform_);
  second.Name("");
  second.OpenForReading();
  second.ReadLine(&line);
  EXPECT_EQ(line, std::string(200 - 122, 'x'));
}

class TextOutputTest : public TextStreamTest {
 protected:
  TextStream& OpenOutput(const std::string& name) {
    stream_.Name(name);
    stream_.OpenForWriting();
    return stream_;
  }
  void WriteLine(std::string_view text) {
    stream_.WriteText(text);
    stream_.WriteLineEnd();
  }

  TextStream stream_{platform_};
};

TEST_F(TextOutputTest, LinesEndInCrLf) {
  OpenOutput("out.srt");
  WriteLine("A");
  stream_.WriteLineEnd();
  WriteLine("B");
  stream_.Close();
  EXPECT_EQ(platform_.FileContents("out.srt"), "A\r\n\r\nB\r\n");
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextOutputTest, LfConventionEndsLinesInLf) {
  stream_.SetLineConvention(LineConvention::kLf);
  OpenOutput("out.srt");
  WriteLine("A");
  stream_.WriteLineEnd();
  stream_.Close();
  EXPECT_EQ(platform_.FileContents("out.srt"), "A\n\n");
}

TEST_F(TextOutputTest, FileReceivesWholeBlocksThenTheRestAtClose) {
  OpenOutput("out.srt");
  WriteLine(std::string(148, 'a'));
  WriteLine(std::string(148, 'b'));
  EXPECT_EQ(platform_.WriteSizesTo("out.srt"), (Sizes{128, 128}));
  stream_.Close();
  EXPECT_EQ(platform_.WriteSizesTo("out.srt"), (Sizes{128, 128, 44}));
  EXPECT_EQ(platform_.FileContents("out.srt").size(), 300u);
}

TEST_F(TextOutputTest, ExactlyFullBufferGoesOutAtOnce) {
  OpenOutput("out.srt");
  WriteLine(std::string(126, 'a'));
  EXPECT_EQ(platform_.WriteSizesTo("out.srt"), (Sizes{128}));
  stream_.Close();
  EXPECT_EQ(platform_.WriteSizesTo("out.srt"), (Sizes{128}));
}

TEST_F(TextOutputTest, WholeLineWritesAsTextThenLineEnd) {
  // Lines of every length around the buffer's size, from every place in
  // it, to a file and to a console.
  for (const FileType type : {FileType::kPipe, FileType::kCharacter}) {
    std::string written[2];
    Sizes sizes[2];
    for (const bool whole : {false, true}) {
      MemoryPlatform platform;
      platform.SetStandardOutputType(type);
      TextStream stream(platform, TextStream::Role::kStandardOutput);
      stream.Name("");
      for (std::size_t length = 0; length < 300; length += 7) {
        const std::string line(length % 131,
                               static_cast<char>('a' + length % 26));
        if (whole) {
          stream.WriteLine(line);
        } else {
          stream.WriteText(line);
          stream.WriteLineEnd();
        }
      }
      stream.Close();
      written[whole] = platform.StandardOutput();
      sizes[whole] = platform.WriteSizesToStandardOutput();
    }
    EXPECT_EQ(written[1], written[0]);
    EXPECT_EQ(sizes[1], sizes[0]);
  }
}

TEST_F(TextOutputTest, OpeningEmptiesAnExistingFile) {
  platform_.AddFile("out.srt", "old contents");
  OpenOutput("out.srt");
  EXPECT_EQ(platform_.FileContents("out.srt"), "");
  stream_.Close();
  EXPECT_EQ(platform_.FileContents("out.srt"), "");
}

TEST_F(TextOutputTest, UnclosedStreamLeavesOnlyWholeBlocks) {
  OpenOutput("out.srt");
  WriteLine(std::string(298, 'a'));
  EXPECT_EQ(platform_.FileContents("out.srt").size(), 256u);
}

TEST_F(TextOutputTest, FailingWriteOutDropsTheBufferAndTheRestOfTheText) {
  OpenOutput("out.srt");
  platform_.FailNext(Kind::kWriteFile, 1, platform_error::kDiskFull);
  stream_.WriteText(std::string(300, 'a'));
  EXPECT_EQ(TakePendingIoError(), 112);
  WriteLine("B");
  stream_.Close();
  EXPECT_EQ(platform_.FileContents("out.srt"), "B\r\n");
}

TEST_F(TextOutputTest, FailingCloseKeepsTheStreamOpen) {
  OpenOutput("out.srt");
  WriteLine("A");
  platform_.FailNext(Kind::kWriteFile, 1, platform_error::kDiskFull);
  stream_.Close();
  EXPECT_EQ(TakePendingIoError(), 112);
  EXPECT_EQ(stream_.state(), TextStream::State::kWriting);
  EXPECT_TRUE(platform_.IsOpen("out.srt"));
}

TEST_F(TextOutputTest, WritingToAClosedStreamLeaves103) {
  TextStream stream(platform_);
  stream.Name("out.srt");
  stream.WriteText("A");
  EXPECT_EQ(TakePendingIoError(), kStreamNotWriting);
  stream.WriteText("A");
  stream.WriteLineEnd();
  EXPECT_EQ(TakePendingIoError(), kStreamNotOpen);
  EXPECT_FALSE(platform_.HasFile("out.srt"));
}

TEST_F(TextOutputTest, ConsoleGetsEveryWriteStatementAtOnce) {
  platform_.SetStandardOutputType(FileType::kCharacter);
  TextStream console(platform_, TextStream::Role::kStandardOutput);
  console.Name("");
  console.WriteText("Enter MLF file to sort: ");
  console.EndOfWrite();
  EXPECT_EQ(platform_.StandardOutput(), "Enter MLF file to sort: ");
  console.WriteLineEnd();
  EXPECT_EQ(platform_.WriteSizesToStandardOutput(), (Sizes{24, 2}));
}

TEST_F(TextOutputTest, PipeGetsStandardOutputOnlyInBlocksAndAtClose) {
  TextStream standard_output(platform_, TextStream::Role::kStandardOutput);
  standard_output.Name("");
  standard_output.WriteText("Enter MLF file to sort: ");
  standard_output.EndOfWrite();
  standard_output.WriteLineEnd();
  EXPECT_EQ(platform_.StandardOutput(), "");
  standard_output.Close();
  EXPECT_EQ(platform_.StandardOutput(), "Enter MLF file to sort: \r\n");
  // Closing keeps the standard output stream open and usable.
  standard_output.WriteLineEnd();
  standard_output.Close();
  EXPECT_EQ(platform_.StandardOutput(), "Enter MLF file to sort: \r\n\r\n");
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(TextOutputTest, StandardOutputOfUnknownKindWritesNothing) {
  platform_.SetStandardOutputType(FileType::kUnknown);
  TextStream standard_output(platform_, TextStream::Role::kStandardOutput);
  standard_output.Name("");
  standard_output.WriteText("A");
  standard_output.WriteLineEnd();
  EXPECT_EQ(TakePendingIoError(), kStreamNotOpen);
  standard_output.Close();
  EXPECT_EQ(platform_.StandardOutput(), "");
}

}  // namespace
}  // namespace mlfsort
