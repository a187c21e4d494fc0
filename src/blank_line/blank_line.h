#ifndef DEDUPE_BLANK_LINE_BLANK_LINE_H_
#define DEDUPE_BLANK_LINE_BLANK_LINE_H_

// True when the NUL-terminated line holds nothing but white space: the six
// single-byte white-space bytes of the "C" locale (HT, LF, VT, FF, CR, space)
// and the double-byte full-width space 0x81 0x40. Every byte of 0x81 or more
// opens a two-byte unit, so the test never mistakes the second byte of a
// double-byte character for a space. The locale is never consulted.
bool is_blank_line(const char* line);

#endif  // DEDUPE_BLANK_LINE_BLANK_LINE_H_
