#ifndef DEDUPE_FUZZ_IN_PROCESS_RUN_H_
#define DEDUPE_FUZZ_IN_PROCESS_RUN_H_

#include <string>
#include <string_view>

#include "model.h"

// Runs the real run_dedupe inside this process, in `folder`, on `infile` as
// infile.euc, with no outputs there beforehand. Standard output and standard
// error go to anonymous in-memory files. The current folder is the old one
// again when this returns. Throws std::system_error when the folder cannot be
// prepared or read back.
model::Outcome run_in_folder(const std::string& folder, std::string_view infile);

// Empty when the two outcomes are equal; otherwise a short account of the
// first difference: which part, at which offset, and the bytes around it
// with the unprintable ones as \xHH.
std::string describe_difference(const model::Outcome& expected,
                                 const model::Outcome& actual);

// `bytes` with every byte outside printable ASCII as \xHH.
std::string escaped(std::string_view bytes);

#endif  // DEDUPE_FUZZ_IN_PROCESS_RUN_H_
