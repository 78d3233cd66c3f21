#pragma once
// The commands of zarc over the archive engine, and what they share: the
// settings from the command line, the selection of entries, the exit status.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "archive/archiver.h"
#include "sys/wide_file.h"

namespace zarc {

// Exit statuses, numbered as unzip numbers them.
enum Status : int {
  kOk = 0,
  kWarning = 1,         // some entries failed, the archive itself is sound
  kDamaged = 2,         // the archive is damaged: rebuilt directory, bad data
  kSevere = 3,          // the archive could not be read to its end
  kNoArchive = 9,       // no archive, or not a zip archive
  kUsage = 10,          // bad command line
  kNothingMatched = 11, // a mask matched no entry
  kLocked = 75,         // another zarc is changing the archive (try again later)
  kDiskFull = 50,       // writing failed: disk full or another write error
  kUnsupported = 81,    // a compression method or encryption zarc cannot decode
  kBadPassword = 82,    // entries skipped for a wrong or missing password
};

// The worst of the statuses noted so far. A wrong password alone counts as
// a warning once any entry was processed, as unzip counts it.
class Outcome {
 public:
  void Note(Status status);
  int Final(bool anyProcessed) const;

 private:
  static int Rank(Status status);
  Status worst_ = kOk;
};

enum class Overwrite { Always, Never, Ask, IfNewer };

struct Settings {
  const std::u16string& Named() const { return named.empty() ? archive : named; }
  enum Command { kList, kTest, kExtract } command = kList;
  std::u16string archive;
  za::TZAWideStrings masks, exclusions;
  // What the user named when `archive` is a copy of standard input ("-").
  std::u16string named;
  bool progress = true;
  bool verbose = false;
  bool quiet = false;     // -qq: nothing but errors (list: the entry lines alone)
  enum Listing { kLines, kNames, kJson } listing = kLines;  // list, list -1, list --json
  bool toStdout = false;  // -p
  bool junkPaths = false; // -j
  bool keepDamaged = false;  // --keep-damaged
  bool utc = false;          // list --utc
  bool overwriteGiven = false;
  Overwrite overwrite = Overwrite::Always;
  bool givenPassword = false;
  std::u16string password;
};

// Messages on stderr, as "zarc: ARCHIVE: ENTRY: text".
class Reporter {
 public:
  explicit Reporter(const std::u16string& archive);
  void Archive(const std::string& text) const;
  void Entry(const std::u16string& name, const std::string& text) const;
  const std::string& ArchiveName() const { return archive_; }

 private:
  std::string archive_;
};

// Appends one byte of UTF-8 text as Printable shows it: a control
// character as ^X, any other byte as it is.
inline void AppendPrintable(std::string& out, char byte) {
  unsigned char u = static_cast<unsigned char>(byte);
  if (u < 0x20 || u == 0x7F) {
    out.push_back('^');
    out.push_back(static_cast<char>(u ^ 0x40));
  } else {
    out.push_back(byte);
  }
}
// Text for a terminal: UTF-8, control characters shown as ^X.
std::string Printable(const std::u16string& text);
// A name or path for a terminal: Printable, with the system's separator.
std::string Shown(const std::u16string& name);
// The engine's message with its native error put last, and the system's
// reason for `systemError` (0: none) after the text.
std::string EngineText(const std::u16string& message, int systemError = 0);
// The system's text for an error code.
std::string SystemReason(int code);
std::string MethodName(const za::TDirItem& item);
// An entry's modification time as the listing shows it, "YYYY-MM-DD HH:MM:SS":
// from its time blocks in local time (UTC with `utc`) where it has them,
// else its MS-DOS fields as they stand.
std::string EntryTimeText(const za::TDirItem& item, bool utc);
// The exact modification time the entry's extra blocks give, in UTC
// seconds; false when it has only the MS-DOS fields.
bool ExactModifiedTime(const za::TDirItem& item, std::time_t& seconds);
// The stored text of entry `index` (at most 4096 bytes), decoded whole;
// false when it is longer or cannot be read.
bool ReadLinkText(za::TZipArchiver& zip, std::int32_t index, std::string& text);
// The text of a link entry, printable ("?" when it cannot be read); empty
// for an entry that is no link.
std::string LinkTarget(za::TZipArchiver& zip, std::int32_t index);
// The engine's questions that no handler answers, asked on the terminal.
za::TZAUserDialogs& ZarcDialogs();

// The entries that the masks select and the exclusions leave, in directory
// order, as the engine selects them; `unmatched` gets every mask that
// selects nothing.
std::vector<std::int32_t> Select(za::TZipArchiver& zip, const Settings& settings, za::TZAWideStrings& unmatched);
// How many entries Select selects, with no list of them where it needs none.
std::size_t CountSelected(za::TZipArchiver& zip, const Settings& settings, za::TZAWideStrings& unmatched);
// With masks that name entries outright, only the entries they may select
// are loaded: one name out of a million entries costs little.
void LoadOnlyNamed(za::TZipArchiver& zip, const Settings& settings);
// Whether the open archive holds no entries at all (also none left out by
// LoadOnlyNamed).
inline bool EmptyArchive(const za::TZipArchiver& zip) {
  return zip.Count() == 0 && zip.DirManager()->EntriesLeftOut == 0;
}
// Opens the archive and says on stderr what is wrong with it: a rebuilt
// directory and the entries it could not take in. False (and the status
// noted) when it cannot be opened.
bool Open(za::TZipArchiver& zip, const Settings& settings, const Reporter& report, Outcome& outcome);
// Reports masks that matched nothing, and a selection that came to nothing;
// true when nothing at all is selected.
bool ReportUnmatched(const za::TZAWideStrings& unmatched, bool nothingSelected, bool emptyArchive,
                     const Reporter& report, Outcome& outcome);

// A file of zarc's own in the temporary folder (TMPDIR), removed with it.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();
  // False, with the reason in `error`, when none can be made.
  bool Create(const char* suffix, std::string& error);
  // Closes and removes the file now; false when it cannot be removed.
  bool Forget();
  const std::u16string& Name() const { return name_; }
  sys::WideFile& File() { return file_; }

 private:
  sys::WideFile file_;
  std::u16string name_;
};

// The archive named "-": standard input, as a name to open (the redirected
// file itself, or `spool` holding a copy of what came through a pipe).
bool OpenStandardInput(std::u16string& archive, TemporaryFile& spool, std::string& error);
// The file's bytes to standard output.
bool CopyToStandardOutput(const std::u16string& name, std::string& error);

int List(za::TZipArchiver& zip, const Settings& settings);
// The writing commands (create, add, delete, rename, comment): the exit
// status, or -1 when args[0] names none of them.
int RunWriteCommand(const std::vector<std::u16string>& args);
const char* WriteUsage();
int Process(za::TZipArchiver& zip, const Settings& settings);

}  // namespace zarc
