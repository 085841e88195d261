// Profile holds one INI-style text file in memory as an ordered list of lines
// and answers queries and edits on it. The file on disk is the master copy:
// every query and edit first re-reads the file when its size or time changed,
// and every edit saves the file before it returns. Lines that are neither
// section headers nor key lines stay verbatim.
//
// A Profile is created by its user around a task and destroyed after it; the
// run configuration keeps the two TAVRO.INI profiles for the whole run.
#ifndef SRC_PROFILE_PROFILE_H_
#define SRC_PROFILE_PROFILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Profile {
 public:
  static constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

  // Keeps the path and reads the file; a missing file gives an empty profile.
  explicit Profile(const std::string& path);
  // Writes the lines back when an edit's own save failed and close() was not
  // called. Never throws: the edit raised that failure already.
  ~Profile();

  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  // Re-reads the file when its size or time differ from the last read. A file
  // that is there but cannot be read leaves the profile empty, and every save
  // then fails (Error 21) rather than write the few lines held over it. A
  // missing file whose last save was cut short is put back from its aside
  // copy first.
  void refresh();

  // Writes every line, each followed by CR LF, to a new file beside the
  // original and puts it in the original's place only when all of it was
  // written and flushed to disk (platform::saveWholeFile); raises Error 21
  // with the path otherwise, when the file may not be written (read-only),
  // or when the file is there but its lines could not be read, leaving the
  // file as it was.
  void save();

  // Saves when an edit's own save failed (raising Error 21 like save), so that
  // the destructor has nothing left to write. Every other edit is on disk
  // already, and writing its lines again could only put back what another
  // program has written since. Later edits still save as they are made.
  void close();

  // Position of the first line that begins with "[" + section + "]", without
  // regard to case; kNoLine when there is none. No refresh.
  std::size_t findSection(const std::string& section) const;

  // True when the first character that is not white space is "[".
  static bool isSectionHeader(const std::string& line);

  std::size_t lineCount() const { return lines.size(); }
  const std::string& line(std::size_t position) const { return lines[position]; }
  const std::string& getPath() const { return path; }

  // The value of the first matching key of the first matching section, or
  // defaultValue. Refreshes first.
  std::string getString(const std::string& section, const std::string& key,
                        const std::string& defaultValue);

  // Whether the first matching section holds the key, and its value when it
  // does. Refreshes first.
  bool findString(const std::string& section, const std::string& key, std::string* value);

  // The lines of the first matching section, its header first, as a
  // deletion of the section would remove them, and the position of its
  // header; none when it is missing. Refreshes first.
  std::vector<std::string> sectionLines(const std::string& section, std::size_t* position);

  // Puts back the lines sectionLines gave: they replace the section where it
  // is, or go back to position (at most the end) where it is missing. Saves
  // (Error 21).
  void restoreSection(const std::string& section, const std::vector<std::string>& sectionLines,
                      std::size_t position);

  // The same search, the value read like "%d"; defaultValue when the section
  // or key is missing or the value holds no number.
  // The line of key in section, as an edit finds it; kNoLine when there is
  // none. Refreshes first.
  std::size_t keyLine(const std::string& section, const std::string& key);

  // Gives key in section the value, as writeString does, except that a key
  // the section lacks goes in at line `line` when that lies within the
  // section: where a deletion took it from.
  void restoreString(const std::string& section, const std::string& key, const std::string& value,
                     std::size_t line);

  // Deletes section when it holds nothing but empty lines, together with the
  // empty line before it when it is the file's last section: the inverse of
  // writing a key into a section the file did not have. Saves like
  // writeString; does nothing to a section that holds a line.
  void removeEmptySection(const std::string& section);

  int getInt(const std::string& section, const std::string& key, int defaultValue);

  // Sets or replaces key=value; a null value deletes the key line; a null key
  // deletes the whole section. Refreshes first and saves after (Error 21),
  // unless the edit leaves every line as it was.
  void writeString(const std::string& section, const char* key, const char* value);

  // Adds key=value to the section unless an identical line stands at or after
  // its header; saves only when a line was added (Error 21).
  void appendString(const std::string& section, const std::string& key, const std::string& value);

 private:
  // Appends "[" + section + "]", after an empty line when the last line is
  // not empty.
  void appendSection(const std::string& section);
  // Drops the lines held and the stamp, so that the next query reads again.
  void forget();
  // Replaces the lines held by those of content; Error 1 when they cannot be
  // held, leaving the profile empty.
  void takeLines(const std::string& content);

  // An edit changed the lines held and they have not been saved since.
  bool unsaved;
  bool closed;
  // The file is there but its last read failed, so the lines held are not
  // its content.
  bool unreadable;
  std::string path;
  std::vector<std::string> lines;
  std::uint64_t stampTime;
  std::uint64_t stampSize;
};

#endif  // SRC_PROFILE_PROFILE_H_
