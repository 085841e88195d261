// Whole directory trees for tests that compare the state of a machine
// before and after runs: a copy that keeps time stamps, and a reading of
// every file's bytes.
#ifndef TESTS_SUPPORT_FILE_TREE_H_
#define TESTS_SUPPORT_FILE_TREE_H_

#include <map>
#include <optional>
#include <string>

// Every entry below a directory by its relative path ('/' between names):
// the bytes of a file, or nullopt for a directory.
using FileTree = std::map<std::string, std::optional<std::string>>;

// Reads the tree below root; an absent root reads as an empty tree.
FileTree readTree(const std::string& root);

// Copies the directory `from` with everything in it to `to` (made when
// missing), keeping every file's last-write time.
void copyTree(const std::string& from, const std::string& to);

#endif  // TESTS_SUPPORT_FILE_TREE_H_
