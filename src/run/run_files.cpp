#include "run/run_files.h"

#include <cstdint>
#include <utility>

#include "failure/failure_check.h"
#include "failure/failure_words.h"
#include "platform/platform.h"
#include "run/run_warnings.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

constexpr std::string_view kChooseAnother = "; choose another output with -o";

// Why a name cannot be used as it stands.
std::string NameRefusalWords(std::uint32_t refusal, std::string_view name,
                             const Platform& platform) {
  if (refusal == platform_error::kInvalidName) {
    return "the name " + QuotedName(name) + " holds a zero byte";
  }
  return "the name " + QuotedName(name) + " is longer than the " +
         WithThousands(platform.MaxNameBytes()) + " bytes a name may hold";
}

// The first refusal of a name of the run, with its words.
std::uint32_t RefuseNames(const Platform& platform, const RunNames& names,
                          std::string* words) {
  std::vector<const std::string*> named;
  for (const std::string& input : names.inputs) named.push_back(&input);
  if (names.writes_a_file()) named.push_back(&names.output);
  for (const std::string* name : named) {
    const std::uint32_t refusal = TextStream::NameRefusal(*name, platform);
    if (refusal != 0) {
      *words = NameRefusalWords(refusal, *name, platform);
      return refusal;
    }
  }
  return 0;
}

// Whether standard error leads to one of the run's files: then not a word
// may be written there.
bool StandardErrorMeetsTheRunsFiles(Platform& platform, const RunNames& names) {
  const Handle standard_error = platform.GetStdHandle(StandardHandle::kError);
  if (standard_error == kInvalidHandle) return false;
  if (names.writes_a_file() &&
      platform.IsFileOfHandle(names.output.c_str(), standard_error)) {
    return true;
  }
  for (const std::string& input : names.inputs) {
    if (!input.empty() &&
        platform.IsFileOfHandle(input.c_str(), standard_error)) {
      return true;
    }
  }
  return false;
}

// Why writing the output would destroy a file the run still needs: an
// input (emptied before it is read), the file behind standard output (the
// run's own line ends would land in the sorted copy) or, when standard
// input is an input, the file behind it. Empty when it would not.
std::string OutputInUseWords(Process& process, const RunNames& names) {
  Platform& platform = process.platform;
  const char* const output = names.output.c_str();
  const std::string quoted_output = QuotedName(names.output);
  bool reads_standard_input = false;
  for (const std::string& input : names.inputs) {
    if (input.empty()) {
      reads_standard_input = true;
    } else if (input == names.output) {
      return quoted_output + " is the input file" + std::string(kChooseAnother);
    } else if (platform.IsSameFile(input.c_str(), output)) {
      return quoted_output + " is the input file " + QuotedName(input) +
             " under another name" + std::string(kChooseAnother);
    }
  }
  if (platform.IsFileOfHandle(output, process.streams.output.handle())) {
    return "standard output leads to the output file " + quoted_output +
           std::string(kChooseAnother);
  }
  if (reads_standard_input &&
      platform.IsFileOfHandle(output, process.streams.input.handle())) {
    return quoted_output +
           " is the file behind standard input, which is being sorted" +
           std::string(kChooseAnother);
  }
  return {};
}

// Why standard output must not be written: it leads to an input, which the
// shell has emptied, or which the run's lines would land in.
std::string InputBehindStandardOutputWords(Process& process,
                                           const RunNames& names) {
  const Handle standard_output =
      names.output_kind == RunNames::Output::kStandardOutput
          ? process.platform.GetStdHandle(StandardHandle::kOutput)
          : process.streams.output.handle();
  for (const std::string& input : names.inputs) {
    if (!input.empty() &&
        process.platform.IsFileOfHandle(input.c_str(), standard_output)) {
      return "standard output leads to the input file " + QuotedName(input) +
             "; send it elsewhere";
    }
  }
  return {};
}

}  // namespace

std::string ShownInputName(std::string_view name) {
  return name.empty() ? std::string("standard input") : std::string(name);
}

void RefuseConflictingFiles(Process& process, const RunNames& names) {
  Platform& platform = process.platform;
  std::string words;
  std::uint32_t refusal = RefuseNames(platform, names, &words);
  if (refusal == 0 && StandardErrorMeetsTheRunsFiles(platform, names)) {
    process.diagnostics.Silence();
    refusal = platform_error::kSharingViolation;
  }
  if (refusal == 0 && names.writes_a_file()) {
    words = OutputInUseWords(process, names);
  }
  // A check writes nothing on standard output.
  if (refusal == 0 && words.empty() &&
      names.output_kind != RunNames::Output::kNone) {
    words = InputBehindStandardOutputWords(process, names);
  }
  if (refusal == 0 && !words.empty()) {
    refusal = platform_error::kSharingViolation;
  }
  if (refusal != 0) {
    process.diagnostics.Explain(std::move(words));
    SetPendingIoError(static_cast<std::int32_t>(refusal));
    CheckIo();
  }
}

RunFiles::RunFiles(Process& process, const RunNames& names,
                   LineConvention convention)
    : has_output_(names.output_kind != RunNames::Output::kNone),
      output_(process.platform) {
  files_.reserve(names.inputs.size());
  inputs_.reserve(names.inputs.size());
  output_.SetLineConvention(convention);
  if (has_output_) {
    // The empty name is standard output, as a stream of the run's own, so
    // that the sorted lines go out in blocks as they do to a file.
    output_.Name(names.writes_a_file() ? names.output : std::string_view());
    output_.OpenForWriting(TextStream::Contents::kKept);
    CheckIo();
  }
  // Every input is opened before the output is emptied: a name that fails
  // must not cost an earlier sorted copy.
  for (const std::string& name : names.inputs) {
    if (name.empty()) {
      // Standard input goes on where the name line ended: a second stream
      // on the same handle would lose what the first had already taken into
      // its buffer.
      inputs_.push_back(&process.streams.input);
      continue;
    }
    auto file = std::make_unique<TextStream>(process.platform);
    file->SetLineConvention(convention);
    file->Name(name);
    file->OpenForReading();
    CheckIo();
    files_.push_back(std::move(file));
    inputs_.push_back(files_.back().get());
  }
  if (has_output_) {
    output_.Empty();
    CheckIo();
  }
}

void RunFiles::Close() {
  if (has_output_) {
    output_.Close();
    CheckIo();
  }
  for (TextStream* input : inputs_) {
    input->Close();
    CheckIo();
  }
}

}  // namespace mlfsort
