#ifndef DEDUPE_RUN_H_
#define DEDUPE_RUN_H_

// One deduplication run in the current folder: reads "infile.euc", logs each
// repeated line to "duplicates.euc" as it is met, writes the distinct lines
// in ascending byte order to "outfile.euc" and prints the summary on
// `standard_output`. Messages go to `standard_error` as one LF-ended line.
// Returns the exit status: 0 after a complete run, 1 otherwise.
int run_dedupe(int standard_output, int standard_error);

#endif  // DEDUPE_RUN_H_
