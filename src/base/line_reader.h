// LineReader walks a text one line at a time, the one way every text file of
// the run is cut into lines: the profile store, the catalogue, substitution
// and the POSIX stand-ins' registry file and restart queue. A line ends at a
// line feed; the carriage return of a CR LF pair belongs to the line end,
// while a lone carriage return (also one ending the text) stays in the line.
// A reader borrows the text and must not outlive it.
//
// Unlike the rest of base/, the reader is defined in this header: the POSIX
// stand-ins under platform/ use it too, and platform/ links nothing of ours,
// so the one definition has to come with the include.
#ifndef SRC_BASE_LINE_READER_H_
#define SRC_BASE_LINE_READER_H_

#include <cstddef>
#include <string>

class LineReader {
 public:
  // Reads `text` from position `start` on (past a byte-order mark, say).
  explicit LineReader(const std::string& text, std::size_t start = 0)
      : text(text), position(start), lineEnded(false) {}
  // The reader keeps a reference: a temporary text would be gone before the
  // first line is read.
  LineReader(std::string&& text, std::size_t start = 0) = delete;

  // Copies the next line, without its line end, to *line and returns true;
  // returns false, leaving *line alone, when the text is used up. A text that
  // ends in a line feed has no empty line after it.
  bool next(std::string* line) {
    if (position >= text.size()) return false;
    std::size_t end = text.find('\n', position);
    lineEnded = end != std::string::npos;
    if (!lineEnded) end = text.size();
    std::size_t length = end - position;
    if (lineEnded && length > 0 && text[end - 1] == '\r') --length;
    line->assign(text, position, length);
    position = lineEnded ? end + 1 : end;
    return true;
  }

  // Whether the line last read ended in a line feed; false for a last line
  // the text breaks off.
  bool hasLineEnd() const { return lineEnded; }

 private:
  const std::string& text;
  std::size_t position;
  bool lineEnded;
};

#endif  // SRC_BASE_LINE_READER_H_
