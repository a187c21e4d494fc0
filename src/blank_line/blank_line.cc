#include "blank_line/blank_line.h"

namespace {

bool is_single_byte_space(unsigned char b) {
  return b == ' ' || (b >= '\t' && b <= '\r');  // HT LF VT FF CR
}

}  // namespace

bool is_blank_line(const char* line) {
  const auto* p = reinterpret_cast<const unsigned char*>(line);
  for (;;) {
    const unsigned char b = p[0];
    if (b == 0) return true;
    if (b <= 0x80) {
      if (!is_single_byte_space(b)) return false;
      p += 1;
    } else {
      // A lead byte pairs with the next one, which may be the terminating
      // NUL: then the unit is not a space and the scan stops right there.
      if (b != 0x81 || p[1] != 0x40) return false;
      p += 2;
    }
  }
}
