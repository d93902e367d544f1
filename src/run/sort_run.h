// The sort run: mlfsort's one job, from the input name to the sorted output
// file.
//
// The input name is the first plain argument, or a line typed after the
// prompt "Enter MLF file to sort: ". The output name is the one --output
// gives, or else the input name up to and including its first ".", then
// "srt" (train.mlf gives train.srt, labels gives srt). Empty lines and lines
// beginning with "#" go to the output at once, in input order; every other
// line is held, and at the end of input one line per sort key (bytes 3 to
// 101 of the line) is written in key order: of lines with equal keys, the
// last one read. With --entries, whole label entries are held instead
// (label_entries.h) and written in the key order of their first lines,
// entries of equal keys in input order. Lines are read and written under
// the line convention of --lf. Every failure ends the run through the
// failure check; --help, --version and a wrong option end it before
// anything is read or created.

#ifndef MLFSORT_RUN_SORT_RUN_H_
#define MLFSORT_RUN_SORT_RUN_H_

#include <string>
#include <string_view>

#include "process/process_frame.h"

namespace mlfsort {

// The output name derived from `input_name`.
std::string OutputNameFor(std::string_view input_name);

// Runs the whole sort inside the process frame.
void RunSort(Process& process);

}  // namespace mlfsort

#endif  // MLFSORT_RUN_SORT_RUN_H_
