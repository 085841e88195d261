// Machine is a scratch Windows machine for one end-to-end test: a Windows
// directory, a product root with its TAVRO.INI, and a patch directory that
// holds a copy of the program under test with its catalogue. It runs that
// program natively (the Linux build over its stand-ins) or under Wine (the
// Windows build), as TVPAT_E2E_TARGET says, and lets the test look at files,
// INI files and the registry afterwards. Everything it made is removed when
// it is destroyed.
#ifndef TESTS_E2E_MACHINE_H_
#define TESTS_E2E_MACHINE_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct RunResult {
  int exitCode = -1;
  // Console output with carriage returns dropped, so both builds compare
  // alike.
  std::string out;
  std::string err;
};

// A catalogue of `count` messages whose message n reads "Message n".
std::string numberedCatalogue(int count);

// The error line, as the built catalogue words it, after which a run in which
// an entry failed ends with exit code 1 and leaves the patch unrecorded.
extern const char kPatchNotRecordedLine[];

class Machine {
 public:
  // A Machine owns what it made, through its one state, and is never copied.
  Machine();
  ~Machine();

  bool isWine() const;

  // Linux paths of the machine's directories (no trailing separator). Under
  // Wine the Windows directory is the prefix's C:\windows.
  const std::string& getRoot() const;
  const std::string& getWindowsDir() const;
  const std::string& getProductDir() const;
  const std::string& getPatchDir() const;
  // The installation profile beside the program, TVPAT32.DAT.
  std::string getProfilePath() const;

  // A Linux path as the program sees and prints it: unchanged natively,
  // "Z:\tmp\..." under Wine.
  std::string shown(const std::string& path) const;
  // The Windows directory as the program prints it ("C:\windows" under Wine).
  std::string shownWindowsDir() const;

  // Files, by Linux path. writeFile makes missing directories and writes the
  // bytes as given; readFile returns the bytes, or nullopt when absent.
  void writeFile(const std::string& path, const std::string& content) const;
  std::optional<std::string> readFile(const std::string& path) const;
  bool exists(const std::string& path) const;
  void makeDirectory(const std::string& path) const;
  // Sets the last-write time, in local time.
  void setStamp(const std::string& path, int year, int month, int day, int hour, int minute,
                int second) const;

  // The three INI files the installer starts from. writeWindowsIni writes
  // TAVRO.INI in the Windows directory as given; the constructor writes one
  // naming the product root ([Tavro] root=...) with [Patch] Interactive=1.
  void writeProfile(const std::string& content) const;
  void writeWindowsIni(const std::string& content) const;
  void writeProductIni(const std::string& content) const;
  // The product root as the program sees it (for a TAVRO.INI of one's own).
  std::string shownProductDir() const;

  // The kind of Windows the program sees: 1 the Windows 95 family, 2 NT
  // (default), 4 Win32s. Under Wine, the version the run plays for that kind
  // (see WinePrefix).
  void setPlatformKind(int kind);
  // An environment variable for the next runs (set from inside Wine there).
  void setEnvironment(const std::string& name, const std::string& value);

  // Runs the program in the patch directory (also the current directory).
  RunResult run(const std::vector<std::string>& arguments = {}) const;
  // Runs the profile checker of the same build (TVPAT_E2E_CHECKER) in the
  // patch directory, with the machine's environment.
  RunResult runChecker(const std::vector<std::string>& arguments) const;

  // Sets the machine up from a bundled example (TVPAT_E2E_EXAMPLES/name):
  // its patch files beside the program, its machine/TAVRO as the product,
  // its machine/WINDOWS files in the Windows directory and its REGISTRY.REG
  // in the registry (removed again with the machine under Wine). Installed
  // files are dated 2001-03-01, the patch's 2002-06-01, as in the demo.
  void loadExample(const std::string& name);
  // The registry keys the example brought, as REGEDIT4 text, to tell whether
  // anything changed them.
  std::string registryText() const;
  // Runs another copy of the program, at a path of the test's choosing.
  RunResult runProgramAt(const std::string& programPath,
                         const std::vector<std::string>& arguments) const;
  // Starts the program like run() without waiting for it; its output is
  // discarded. One run at a time may be started.
  void start(const std::vector<std::string>& arguments = {});
  // Ends the started run at once, as a kill from outside would (under Wine
  // the Windows program too, not only its launcher), and waits until it is
  // gone. Does nothing when no run was started or it was ended already.
  void kill();
  // Starts the program like run() without waiting for it, beside any other
  // runs started so, and returns the run's number for the calls below. Its
  // output waits in pipes until it is collected: a run that prints more than
  // a pipe holds (64 KiB) stops there, holding whatever it holds, until then.
  int startCollected(const std::vector<std::string>& arguments);
  // Whether the run has ended; it is left to be collected.
  bool hasEnded(int run) const;
  // Reads the run's output to its end, waits for it and gives its result.
  RunResult collect(int run);
  // Copies the program (and nothing else) to path.
  void copyProgramTo(const std::string& path) const;

  // Registry, with keys written like HKEY_CURRENT_USER\Software\Vendor and
  // an empty name for the default value.
  void setRegistryValue(const std::string& key, const std::string& name,
                        const std::string& value) const;
  std::optional<std::string> getRegistryValue(const std::string& key,
                                              const std::string& name) const;
  bool registryKeyExists(const std::string& key) const;

  // What a restart does with the deferred steps: tvprestart natively,
  // wineboot -r under Wine.
  RunResult restart() const;
  // The MoveFileExA registrations waiting for the restart, in order, each
  // as {source, destination} with an empty destination for a deletion.
  std::vector<std::pair<std::string, std::string>> getPendingMoves() const;

  // Keeps a file in use until release (Wine only): shareRead true lets others
  // read it but not rename, replace or delete it; false blocks every open.
  void holdFile(const std::string& path, bool shareRead);
  // Holds the product's lock, ARCHIVE\TVLOCK, from another process as a run
  // under way does, until releaseFiles; makes ARCHIVE and ARCHIVE\TEMP as
  // that run would have. Under Wine through tvhold.exe, natively through the
  // stand-in's own lockFile in a child process.
  void holdProductLock();
  void releaseFiles();

 private:
  // The command line that runs the program at programPath in the patch
  // directory: under Wine through the launcher, which sets the machine's
  // environment from inside Wine.
  std::vector<std::string> programCommand(const std::string& programPath,
                                          const std::vector<std::string>& arguments) const;

  struct State;
  std::unique_ptr<State> state;
};

// The name of the test case of an example on a kind of Windows (1 the 95
// family, 2 NT), as "driver_update_on_Windows95".
std::string exampleCaseName(const std::string& example, int kind);

#endif  // TESTS_E2E_MACHINE_H_
