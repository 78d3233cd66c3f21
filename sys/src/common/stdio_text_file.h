#pragma once
#include <cstdio>
#include <string>

#include "sys/system.h"

namespace sys {

// A text file read through the C library, shared by both backends.
class StdioTextFile final : public TextFile {
 public:
  explicit StdioTextFile(std::FILE* file) : file_(file) {}
  ~StdioTextFile() override { std::fclose(file_); }
  StdioTextFile(const StdioTextFile&) = delete;
  StdioTextFile& operator=(const StdioTextFile&) = delete;

  bool ReadLine(std::string& line, std::size_t limit, bool& longer) override {
    line.clear();
    longer = false;
    int c = std::fgetc(file_);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::fgetc(file_)) {
      if (c == '\r') {
        // CR LF ends a line as LF does; a CR on its own is text.
        int next = std::fgetc(file_);
        if (next == '\n' || next == EOF) break;
        std::ungetc(next, file_);
      }
      if (line.size() < limit)
        line.push_back(static_cast<char>(c));
      else
        longer = true;  // the rest of the line is skipped, never stored
    }
    return true;
  }

 private:
  std::FILE* file_;
};

}  // namespace sys
