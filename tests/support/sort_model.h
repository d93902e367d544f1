// A plain reference model of what mlfsort writes, for tests and fuzz targets.
//
// It shares no code with the tool (only the name of the line convention):
// lines are split, classified and ordered here the slow, obvious way, so
// that a test can compare the tool's output file byte for byte with
// ModelSortedOutput(input) for any input.

#ifndef MLFSORT_TESTS_SUPPORT_SORT_MODEL_H_
#define MLFSORT_TESTS_SUPPORT_SORT_MODEL_H_

#include <string>
#include <string_view>
#include <vector>

#include "textio/text_stream.h"

namespace mlfsort {

// The lines of `input` without their line ends. Under the CR convention a
// line ends at a CR or at a CR LF pair; an LF anywhere else is an ordinary
// byte of the line; a byte 26 ends the input wherever it stands. Under the
// LF convention a line ends at an LF, a CR LF pair or a CR, and byte 26 is
// an ordinary byte. The end of the data ends the last line, and a line end
// just before it adds no empty line.
std::vector<std::string> ModelSplitLines(
    std::string_view input, LineConvention convention = LineConvention::kCr);

// True for the lines copied through at once: empty lines and lines whose
// first byte is "#".
bool ModelIsPassThrough(std::string_view line);

// The sort key of a sortable line: bytes 3 to 101 of the line, counted from
// 1; empty for lines of 1 or 2 bytes.
std::string ModelSortKey(std::string_view line);

// The sort key of an entry whose first line is `first_line`: the whole line
// from its third byte on; empty for a line of 1 or 2 bytes.
std::string ModelEntryKey(std::string_view first_line);

// Orders two sort keys: negative when `a` sorts first, 0 when they are equal
// (equal exactly when they are equal ignoring ASCII letter case), positive
// when `b` sorts first.
//
// First level: the keys with their tie-breaker bytes (0, 1-8, 14-31, 127,
// apostrophe, hyphen) left out, compared byte by byte by class: white space
// (space, TAB, LF, VT, FF, CR in that order), then the other punctuation,
// then + < = >, then digits, then letters ignoring case, then bytes 128-255
// by value; a key that is a prefix of the other sorts first.
// Second level, only when the first is equal: the (position, byte) lists of
// the tie-breaker bytes, compared pair by pair; at the first differing pair
// the one at the larger position sorts first, at the same position the byte
// order 0, 1-8, 14-31, 127, apostrophe, hyphen decides; a shorter list sorts
// first.
int ModelCompareKeys(std::string_view a, std::string_view b);

// True for a subdirectory line: it begins with a pattern, which is a
// double-quoted text or else a run of bytes without blanks or arrows (not
// beginning with a double quote), followed by blanks (spaces or TABs) if any,
// then by an arrow "->" or "=>".
bool ModelIsSubdirectoryLine(std::string_view line);

// What the tool sorts: single lines (its default) or whole label entries
// (--entries).
enum class ModelMode { kLines, kEntries };

// The exact bytes of the output file for `input`. Every line ends with CR
// LF, or with LF under the LF convention.
//
// kLines: every pass-through line in input order, then for each distinct
// sort key the last sortable line read with that key, in ascending key
// order.
//
// kEntries: outside an entry, pass-through and subdirectory lines in input
// order; any other line starts an entry, which runs through the next line
// that is exactly "." (or to the end of the input). Then every entry, in
// ascending order of its key (ModelEntryKey), entries of equal keys in
// input order, each entry's lines in input order.
std::string ModelSortedOutput(std::string_view input,
                              LineConvention convention = LineConvention::kCr,
                              ModelMode mode = ModelMode::kLines);

// The lines of several inputs read one after another as one input: each
// split on its own (the end of an input ends its last line), and a line
// that is exactly "#!MLF!#" as the first line of the second or a later
// input left out, so that a merged file has one header.
std::vector<std::string> ModelMergedLines(
    const std::vector<std::string>& inputs, LineConvention convention);

// The output file for those inputs, as ModelSortedOutput gives it for one.
std::string ModelSortedInputs(const std::vector<std::string>& inputs,
                              LineConvention convention, ModelMode mode);

// One input of a check: the name its lines are shown under, and its bytes.
struct ModelInput {
  std::string name;
  std::string bytes;
};

// What checking inputs gives.
struct ModelCheckResult {
  // Whether sorting gives the lines back as they stand: ModelSortedOutput
  // of the inputs' lines, each ended with the convention's line end, is
  // those same bytes.
  bool in_order = false;
  // Empty when in order; else the first difference, in OrderCheck's words
  // (labels/order_check.h), found by comparing each sortable line (kLines)
  // or entry's first line (kEntries) with the one before it, and each
  // pass-through line with whether any came before it.
  std::string finding;
};

// Checks the lines of `inputs`, taken one after another (each split on its
// own, so that a byte 26 ends only its input); a line that is exactly
// "#!MLF!#" as the first of the second or a later input is left out, but
// counted in its input's line numbers.
ModelCheckResult ModelCheck(const std::vector<ModelInput>& inputs,
                            LineConvention convention, ModelMode mode);

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_SORT_MODEL_H_
