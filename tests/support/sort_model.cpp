#include "support/sort_model.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <utility>

namespace mlfsort {
namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kEndOfText = '\x1a';
constexpr std::size_t kKeyStart = 2;  // byte 3, counted from 0
constexpr std::size_t kKeyLength = 99;

// Where each byte value stands: its rank at the first level, or its rank
// among the tie-breakers; the other rank is -1.
struct ByteRanks {
  std::array<int, 256> first_level;
  std::array<int, 256> tie_breaker;
};

const ByteRanks& Ranks() {
  static const ByteRanks ranks = [] {
    ByteRanks built;
    built.first_level.fill(-1);
    built.tie_breaker.fill(-1);

    std::string tie_breakers;
    tie_breakers.push_back('\0');
    for (int byte = 1; byte <= 8; ++byte) tie_breakers.push_back(char(byte));
    for (int byte = 14; byte <= 31; ++byte) tie_breakers.push_back(char(byte));
    tie_breakers += "\x7f'-";
    for (std::size_t i = 0; i < tie_breakers.size(); ++i) {
      built.tie_breaker[static_cast<unsigned char>(tie_breakers[i])] =
          static_cast<int>(i);
    }

    const std::string ascii_order =
        " \t\n\v\f\r"
        "!\"#$%&()*,./:;?@[\\]^_`{|}~"
        "+<=>"
        "0123456789"
        "abcdefghijklmnopqrstuvwxyz";
    int rank = 0;
    for (char byte : ascii_order) {
      built.first_level[static_cast<unsigned char>(byte)] = rank++;
    }
    for (int upper = 'A'; upper <= 'Z'; ++upper) {
      built.first_level[upper] = built.first_level[upper - 'A' + 'a'];
    }
    for (int byte = 128; byte <= 255; ++byte) built.first_level[byte] = rank++;
    return built;
  }();
  return ranks;
}

// A key taken apart into its two levels.
struct KeyLevels {
  std::vector<int> first;
  // (position in the key, tie-breaker rank)
  std::vector<std::pair<std::size_t, int>> second;
};

KeyLevels LevelsOf(std::string_view key) {
  const ByteRanks& ranks = Ranks();
  KeyLevels levels;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(key[i]);
    if (ranks.tie_breaker[byte] >= 0) {
      levels.second.emplace_back(i, ranks.tie_breaker[byte]);
    } else {
      levels.first.push_back(ranks.first_level[byte]);
    }
  }
  return levels;
}

int CompareFirstLevel(const std::vector<int>& a, const std::vector<int>& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareSecondLevel(const std::vector<std::pair<std::size_t, int>>& a,
                       const std::vector<std::pair<std::size_t, int>>& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i].first != b[i].first) return a[i].first > b[i].first ? -1 : 1;
    if (a[i].second != b[i].second) return a[i].second < b[i].second ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

std::vector<std::string> ModelSplitLines(std::string_view input,
                                         LineConvention convention) {
  const bool lf = convention == LineConvention::kLf;
  if (!lf) input = input.substr(0, input.find(kEndOfText));
  const std::string_view line_ends =
      lf ? std::string_view("\r\n") : std::string_view("\r");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < input.size()) {
    const std::size_t end = input.find_first_of(line_ends, start);
    if (end == std::string_view::npos) {
      lines.emplace_back(input.substr(start));
      break;
    }
    lines.emplace_back(input.substr(start, end - start));
    start = end + 1;
    if (input[end] == kCarriageReturn && start < input.size() &&
        input[start] == kLineFeed) {
      ++start;
    }
  }
  return lines;
}

bool ModelIsPassThrough(std::string_view line) {
  return line.empty() || line.front() == '#';
}

std::string ModelSortKey(std::string_view line) {
  if (line.size() <= kKeyStart) return std::string();
  return std::string(line.substr(kKeyStart, kKeyLength));
}

int ModelCompareKeys(std::string_view a, std::string_view b) {
  const KeyLevels levels_a = LevelsOf(a);
  const KeyLevels levels_b = LevelsOf(b);
  const int first = CompareFirstLevel(levels_a.first, levels_b.first);
  if (first != 0) return first;
  return CompareSecondLevel(levels_a.second, levels_b.second);
}

bool ModelIsSubdirectoryLine(std::string_view line) {
  // Tries every arrow in the line as the one after the pattern.
  for (std::size_t arrow = 0; arrow + 1 < line.size(); ++arrow) {
    const std::string_view at = line.substr(arrow, 2);
    if (at != "->" && at != "=>") continue;
    std::string_view pattern = line.substr(0, arrow);
    while (!pattern.empty() &&
           (pattern.back() == ' ' || pattern.back() == '\t')) {
      pattern.remove_suffix(1);
    }
    if (pattern.size() >= 2 && pattern.front() == '"' &&
        pattern.back() == '"' &&
        pattern.substr(1, pattern.size() - 2).find('"') ==
            std::string_view::npos) {
      return true;
    }
    if (!pattern.empty() && pattern.front() != '"' &&
        pattern.find_first_of(" \t") == std::string_view::npos &&
        pattern.find("->") == std::string_view::npos &&
        pattern.find("=>") == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

std::string ModelEntryKey(std::string_view first_line) {
  return first_line.size() <= 2 ? std::string()
                                : std::string(first_line.substr(2));
}

namespace {

std::string ModelSortedEntries(std::vector<std::string> lines,
                               LineConvention convention) {
  const char* const line_end =
      convention == LineConvention::kLf ? "\n" : "\r\n";
  std::string output;
  std::vector<std::vector<std::string>> entries;
  bool open = false;
  for (std::string& line : lines) {
    const bool dot = line == ".";
    if (open) {
      entries.back().push_back(std::move(line));
      open = !dot;
    } else if (ModelIsPassThrough(line) || ModelIsSubdirectoryLine(line)) {
      output += line;
      output += line_end;
    } else {
      entries.push_back({std::move(line)});
      open = !dot;
    }
  }
  std::stable_sort(
      entries.begin(), entries.end(),
      [](const std::vector<std::string>& a, const std::vector<std::string>& b) {
        return ModelCompareKeys(ModelEntryKey(a.front()),
                                ModelEntryKey(b.front())) < 0;
      });
  for (const std::vector<std::string>& entry : entries) {
    for (const std::string& line : entry) {
      output += line;
      output += line_end;
    }
  }
  return output;
}

std::string ModelSortedLines(std::vector<std::string> lines,
                             LineConvention convention, ModelMode mode) {
  if (mode == ModelMode::kEntries) {
    return ModelSortedEntries(std::move(lines), convention);
  }
  struct Held {
    std::string key;
    std::string line;
  };
  const char* const line_end =
      convention == LineConvention::kLf ? "\n" : "\r\n";
  std::string output;
  std::vector<Held> held;
  for (std::string& line : lines) {
    if (ModelIsPassThrough(line)) {
      output += line;
      output += line_end;
    } else {
      held.push_back({ModelSortKey(line), std::move(line)});
    }
  }
  // Stable, so lines with equal keys stay in input order and the last of
  // each run of equal keys is the last one read.
  std::stable_sort(held.begin(), held.end(), [](const Held& a, const Held& b) {
    return ModelCompareKeys(a.key, b.key) < 0;
  });
  for (std::size_t i = 0; i < held.size(); ++i) {
    const bool last_of_its_key =
        i + 1 == held.size() ||
        ModelCompareKeys(held[i].key, held[i + 1].key) != 0;
    if (last_of_its_key) {
      output += held[i].line;
      output += line_end;
    }
  }
  return output;
}

}  // namespace

std::string ModelSortedOutput(std::string_view input, LineConvention convention,
                              ModelMode mode) {
  return ModelSortedLines(ModelSplitLines(input, convention), convention, mode);
}

std::vector<std::string> ModelMergedLines(
    const std::vector<std::string>& inputs, LineConvention convention) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < inputs.size(); ++at) {
    std::vector<std::string> input_lines =
        ModelSplitLines(inputs[at], convention);
    const bool repeated_header =
        at > 0 && !input_lines.empty() && input_lines.front() == "#!MLF!#";
    lines.insert(lines.end(),
                 std::make_move_iterator(input_lines.begin() +
                                         (repeated_header ? 1 : 0)),
                 std::make_move_iterator(input_lines.end()));
  }
  return lines;
}

std::string ModelSortedInputs(const std::vector<std::string>& inputs,
                              LineConvention convention, ModelMode mode) {
  return ModelSortedLines(ModelMergedLines(inputs, convention), convention,
                          mode);
}

namespace {

// A line of a check and where it stands.
struct PlacedLine {
  const ModelInput* input;
  std::size_t number;
  std::string line;
};

std::string PlaceOf(const PlacedLine& line) {
  return line.input->name + ":" + std::to_string(line.number) + ": ";
}

// How a finding shows a line: each byte as itself, or a control byte as
// \n, \r, \t or \xHH; the longest run of whole bytes that shows in at most
// 200, not ending inside a UTF-8 character, then "..." when bytes are left.
std::string ModelShownLine(std::string_view line) {
  std::vector<std::string> shown_bytes;
  for (const char byte : line) {
    const unsigned value = static_cast<unsigned char>(byte);
    if (byte == '\n') {
      shown_bytes.push_back("\\n");
    } else if (byte == '\r') {
      shown_bytes.push_back("\\r");
    } else if (byte == '\t') {
      shown_bytes.push_back("\\t");
    } else if (value < 32 || value == 127) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", value);
      shown_bytes.push_back(escape);
    } else {
      shown_bytes.push_back(std::string(1, byte));
    }
  }
  std::size_t kept = 0;
  std::size_t width = 0;
  while (kept < line.size() && width + shown_bytes[kept].size() <= 200) {
    width += shown_bytes[kept++].size();
  }
  if (kept < line.size()) {
    while (kept > 0 &&
           (static_cast<unsigned char>(line[kept]) & 0xC0) == 0x80) {
      --kept;
    }
  }
  std::string shown;
  for (std::size_t i = 0; i < kept; ++i) shown += shown_bytes[i];
  if (kept < line.size()) shown += "...";
  return shown;
}

// The first difference among `lines`, read one after another. `keyed[i]`
// says whether line i is checked by its key (a sortable line, an entry's
// first line), `passes[i]` whether it passes through; `key_of` gives the
// key. Equal keys are a difference unless `equal_keys_in_order`.
template <typename KeyOf>
std::string FirstDifference(const std::vector<PlacedLine>& lines,
                            const std::vector<bool>& keyed,
                            const std::vector<bool>& passes, KeyOf key_of,
                            bool equal_keys_in_order) {
  std::optional<std::size_t> last_keyed;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (passes[i] && last_keyed) {
      return PlaceOf(lines[i]) + "pass-through line after sorted lines";
    }
    if (!keyed[i]) continue;
    if (last_keyed) {
      const PlacedLine& before = lines[*last_keyed];
      const int order =
          ModelCompareKeys(key_of(lines[i].line), key_of(before.line));
      if (order < 0) {
        return PlaceOf(lines[i]) + "disorder: " + ModelShownLine(lines[i].line);
      }
      if (order == 0 && !equal_keys_in_order) {
        const std::string later = before.input == lines[i].input
                                      ? "line "
                                      : lines[i].input->name + ":";
        return PlaceOf(before) + "dropped: the key of " + later +
               std::to_string(lines[i].number) + " is the same";
      }
    }
    last_keyed = i;
  }
  return "";
}

}  // namespace

ModelCheckResult ModelCheck(const std::vector<ModelInput>& inputs,
                            LineConvention convention, ModelMode mode) {
  std::vector<PlacedLine> lines;
  for (const ModelInput& input : inputs) {
    std::vector<std::string> split = ModelSplitLines(input.bytes, convention);
    for (std::size_t i = 0; i < split.size(); ++i) {
      if (i == 0 && &input != &inputs.front() && split[i] == "#!MLF!#") {
        continue;
      }
      lines.push_back({&input, i + 1, std::move(split[i])});
    }
  }
  const char* const line_end =
      convention == LineConvention::kLf ? "\n" : "\r\n";
  std::string joined;
  for (const PlacedLine& line : lines) joined += line.line + line_end;

  ModelCheckResult result;
  result.in_order = ModelSortedOutput(joined, convention, mode) == joined;
  std::vector<bool> keyed;
  std::vector<bool> passes;
  if (mode == ModelMode::kLines) {
    for (const PlacedLine& line : lines) {
      passes.push_back(ModelIsPassThrough(line.line));
      keyed.push_back(!passes.back());
    }
    result.finding = FirstDifference(lines, keyed, passes, ModelSortKey,
                                     /*equal_keys_in_order=*/false);
  } else {
    // As ModelSortedOutput reads entries: a line outside an entry passes
    // through or starts one, which runs through the next ".".
    bool open = false;
    for (const PlacedLine& line : lines) {
      const bool outside = !open;
      const bool pass = outside && (ModelIsPassThrough(line.line) ||
                                    ModelIsSubdirectoryLine(line.line));
      passes.push_back(pass);
      keyed.push_back(outside && !pass);
      if (!pass) open = line.line != ".";
    }
    result.finding = FirstDifference(lines, keyed, passes, ModelEntryKey,
                                     /*equal_keys_in_order=*/true);
  }
  return result;
}

}  // namespace mlfsort
