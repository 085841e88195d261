// SubstituteClass holds the placeholder names and values of one section (or
// one registry entry): a marker character and an ordered list of entries. It
// replaces the placeholders in a line, in a text, and in the text of a whole
// file, which the caller then saves where it pleases. Section processing
// makes one per section with the marker "\" and the entries TAVRO (product
// root) and WINDOWS (Windows directory).
#ifndef SRC_FILEOPS_SUBSTITUTE_CLASS_H_
#define SRC_FILEOPS_SUBSTITUTE_CLASS_H_

#include <cstddef>
#include <list>
#include <string>

struct SubstituteEntry {
  std::string name;
  std::string value;
};

class SubstituteClass {
 public:
  explicit SubstituteClass(char marker);

  // Appends a copy of the pair; 1, or 0 when memory could not be had.
  int addEntry(const std::string& name, const std::string& value);
  int addEntry(const SubstituteEntry& entry);

  // Iteration: 1 on success, 0 otherwise (current then stays where it was).
  int moveFirst();
  int moveNext();
  int getCurrent(SubstituteEntry* entry) const;

  // Replaces every marker + name in line by the value of the first entry, in
  // list order, whose name follows the marker (without regard to case); a
  // doubled marker stands for one. Inserted values are not searched again.
  void substituteLine(std::string& line);

  // The text with every line substituted, each line end written as CR LF
  // (a last line without one stays without).
  std::string substituteText(const std::string& content);

  // Reads the text file at path whole and gives in *text its text
  // substituted as substituteText does; the file itself is left alone. 1 on
  // success, 0 when the file cannot be read. Raises Error 1 (module tvpfile,
  // the file's size) when memory for the text cannot be had.
  int readSubstituted(const std::string& path, std::string* text);

 private:
  std::list<SubstituteEntry> entries;
  std::list<SubstituteEntry>::iterator current;
  char marker;
};

#endif  // SRC_FILEOPS_SUBSTITUTE_CLASS_H_
