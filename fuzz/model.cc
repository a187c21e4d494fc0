#include "model.h"

#include <set>

namespace model {

std::vector<std::string> decode_lines(std::string_view file_bytes) {
  const std::string_view data = file_bytes.substr(0, file_bytes.find('\x1a'));
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char c = data[i];
    if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
      lines.push_back(line);
      line.clear();
      ++i;  // the LF of the pair
    } else if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  // Whatever follows the last line end is a line of its own.
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string up_to_nul(std::string_view line) {
  return std::string(line.substr(0, line.find('\0')));
}

bool is_blank(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size()) {
    const unsigned char b = line[i];
    if (b == '\t' || b == '\n' || b == '\v' || b == '\f' || b == '\r' ||
        b == ' ') {
      i += 1;
    } else if (b == 0x81 && i + 1 < line.size() &&
               static_cast<unsigned char>(line[i + 1]) == 0x40) {
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

bool unsigned_less(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const unsigned char x = a[i];
    const unsigned char y = b[i];
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Outcome run(std::string_view file_bytes) {
  Outcome outcome;
  outcome.duplicates = "";  // created before the first line is read
  std::set<std::string, decltype(&unsigned_less)> distinct(&unsigned_less);
  long long lines_in = 0;
  long long number = 0;
  for (const std::string& line : decode_lines(file_bytes)) {
    ++number;
    if (line.size() > kLongestLine) {
      outcome.exit_status = 1;
      outcome.standard_error = "dedupe: infile.euc: line " +
                               std::to_string(number) +
                               " is longer than 1023 bytes\n";
      return outcome;  // outfile.euc is never opened
    }
    const std::string key = up_to_nul(line);
    if (is_blank(key)) continue;
    ++lines_in;
    const bool is_new = distinct.insert(key).second;
    if (!is_new) *outcome.duplicates += key + "\r\n";
  }
  outcome.outfile = "";
  for (const std::string& line : distinct) *outcome.outfile += line + "\r\n";
  outcome.standard_output = "\r\nLines In: " + std::to_string(lines_in) +
                            "\r\nLines Out: " +
                            std::to_string(distinct.size()) + "\r\n\r\n";
  return outcome;
}

}  // namespace model
