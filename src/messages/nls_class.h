// NLSClass is the message catalogue and the installer's output channel. It
// loads the numbered messages of the .MSG file beside the program, hands them
// out by number, and writes console output, copying every text into the log
// file while one is open. The run driver creates the one NLSClass of a run
// first and destroys it after the engine, which closes the log.
#ifndef SRC_MESSAGES_NLS_CLASS_H_
#define SRC_MESSAGES_NLS_CLASS_H_

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// mingw-w64 checks formats against the printf that the program links with,
// which its headers name __MINGW_PRINTF_FORMAT.
#if defined(__MINGW_PRINTF_FORMAT)
#define TVPAT_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define TVPAT_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define TVPAT_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// The character that opens every error line (see printError).
constexpr char kBel = 7;

// Shows an absent text the way trace and error lines print it.
inline const char* orNull(const char* text) { return text ? text : "(null)"; }

class NLSClass {
 public:
  explicit NLSClass(const std::string& cataloguePath);
  ~NLSClass();

  NLSClass(const NLSClass&) = delete;
  NLSClass& operator=(const NLSClass&) = delete;

  // Reads the catalogue. Returns 1 when it was read, 0 after writing one of
  // the fixed diagnostics to standard error.
  int load();

  // Message n for 1 <= n <= the number loaded; beyond that, the built-in
  // English text of a message newer than some catalogues (38 on), where n
  // names one; message 2 for any other n (the empty text when the catalogue
  // holds fewer than two messages).
  const char* getMessage(int number) const;
  int getMessageCount() const { return static_cast<int>(messages.size()); }
  // The built-in English text of message n, for a catalogue that cannot be
  // trusted; null where n names none.
  static const char* getBuiltInMessage(int number);

  // Closes an open log; then, when path is not empty, opens it for appending
  // (append nonzero) or afresh. A log that cannot be opened is silently none.
  void openLog(const std::string& path, int append);
  bool isLogOpen() const { return log != nullptr; }
  const std::string& getLogPath() const { return logPath; }

  // Formatted output to standard output, and once more to the log when one is
  // open; the log is flushed after every text, so it is complete however the
  // process ends. Returns the number of characters written to standard output.
  int print(const char* format, ...) TVPAT_PRINTF_FORMAT(2, 3);

  // The same to `stream` (always standard error) and the log. Standard output
  // is flushed first, so that the two console streams keep their order.
  int printTo(std::FILE* stream, const char* format, ...) TVPAT_PRINTF_FORMAT(3, 4);

  // An error line, through printTo on standard error: a line feed, the BEL
  // character, message `number` (messages/message_numbers.h), the detail
  // formatted from detailFormat (": %s" or ":\n\t%s" for a path, say), a
  // line feed. Returns the number of characters written to standard error.
  int printError(int number, const char* detailFormat, ...) TVPAT_PRINTF_FORMAT(3, 4);

  // The same error line without a detail.
  int printError(int number);

  // Sends every text meant for the console to console instead, with toErrors
  // for standard error; the log still gets its copy. An empty function puts
  // the console back.
  void setConsole(std::function<void(const std::string& text, bool toErrors)> newConsole) {
    console = std::move(newConsole);
  }

 private:
  // Writes one of the catalogue's own fixed diagnostics, text and the detail
  // when there is one, to standard error (or the console in its place), never
  // to the log.
  void writeDiagnostic(const char* text, const char* detail);
  // Writes the text to stream and, when one is open, to the log.
  int write(std::FILE* stream, const char* format, va_list arguments);

  std::vector<std::string> messages;
  std::string cataloguePath;
  std::FILE* log;
  std::string logPath;
  std::function<void(const std::string& text, bool toErrors)> console;
};

#endif  // SRC_MESSAGES_NLS_CLASS_H_
