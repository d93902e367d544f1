// The sort run: mlfsort's one job, from the input name to the sorted output
// file.
//
// The input name is the first argument, or a line typed after the prompt
// "Enter MLF file to sort: ". The output name is the input name up to and
// including its first ".", then "srt" (train.mlf gives train.srt, labels
// gives srt). Empty lines and lines beginning with "#" go to the output at
// once, in input order; every other line is held, and at the end of input
// one line per sort key (bytes 3 to 101 of the line) is written in key
// order: of lines with equal keys, the last one read. Every failure ends
// the run through the failure check.

#ifndef MLFSORT_SORTER_SORT_RUN_H_
#define MLFSORT_SORTER_SORT_RUN_H_

#include <string>
#include <string_view>

#include "failure/process_frame.h"

namespace mlfsort {

// The output name derived from `input_name`.
std::string OutputNameFor(std::string_view input_name);

// The sort key of a sortable line: its bytes 3 to 101 (counted from 1),
// empty for a line of 1 or 2 bytes.
std::string_view SortKeyOf(std::string_view line);

// True for a line that passes straight through: empty, or beginning with
// "#".
bool IsPassThroughLine(std::string_view line);

// How a sort run may use the machine; every setting keeps the output the
// same.
struct SortSettings {
  // Threads the run may use: 1 keeps all work on the calling thread; with
  // 2 or more, one worker thread sorts while the calling thread reads and
  // writes (more than 2 use no more).
  int threads = DefaultSortThreads();

  // 2 on a machine with two cores or more, else 1.
  static int DefaultSortThreads();
};

// Runs the whole sort inside the process frame, with the default settings.
void RunSort(Process& process);

// The same with `settings`.
void RunSortWith(Process& process, const SortSettings& settings);

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_SORT_RUN_H_
