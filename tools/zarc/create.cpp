// zarc's writing commands: create, add, delete, rename and comment, with
// the options of Info-ZIP's zip where they mean the same. Every change is
// one transaction of the engine: the archive is written anew and takes the
// old one's place only when complete, so a failure leaves it as it was.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "archive/volumes.h"
#include "commands.h"
#include "sys/wide_dir.h"
#include "console.h"
#include "guard.h"
#include "progress.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace zarc {

namespace {

struct WriteSettings {
  enum Command { kCreate, kAdd, kDelete, kRename, kComment } command = kCreate;
  std::u16string archive;
  std::vector<std::u16string> names;  // files, masks, or old and new name
  za::TZAWideStrings exclusions, stored;
  int level = 6;
  bool update = false, freshen = false, junkPaths = false, recurse = true;
  bool progress = true, verbose = false;
  bool commentGiven = false;
  bool encrypt = false, passwordGiven = false;
  std::u16string password;
  za::TZACryptoAlgorithm cipher = za::caPkzipClassic;
  std::string comment;
  std::u16string sfx;
  std::int64_t split = 0;  // bytes of a volume; 0: one file
  bool numbered = false;   // volumes ARCHIVE.001, ... rather than ARCHIVE.z01, ... ARCHIVE.zip
  std::int64_t waitMs = 0;  // for another zarc changing the archive; below 0: as long as it takes
};

// "100k", "64m", "1g" or plain bytes; 0 when it does not read.
std::int64_t ParseSize(const std::u16string& text) {
  std::string s = sys::WideToUtf8(text);
  char* end = nullptr;
  double value = std::strtod(s.c_str(), &end);
  if (!end || end == s.c_str() || value <= 0) return 0;
  std::string unit(end);
  double scale = unit.empty() || unit == "b" ? 1 : unit == "k" || unit == "K" ? 1024.0
               : unit == "m" || unit == "M" ? 1024.0 * 1024 : unit == "g" || unit == "G" ? 1024.0 * 1024 * 1024 : 0;
  return static_cast<std::int64_t>(value * scale);
}

const char kWriteUsage[] =
    "usage: zarc create  [options] ARCHIVE FILE...\n"
    "       zarc add     [options] ARCHIVE FILE...\n"
    "       zarc delete  [options] ARCHIVE MASK... [-x MASK]...\n"
    "       zarc rename  ARCHIVE OLD NEW\n"
    "       zarc comment ARCHIVE [TEXT]\n";

const char kWriteOptions[] =
    "  -0 ... -9      compression level: 0 stores, 9 packs best (default 6)\n"
    "  -x MASK        leave out files (or entries) whose name matches\n"
    "  --store MASK   store files whose name matches without compressing them\n"
    "  -j             store file names without their folders\n"
    "  -e             encrypt new entries with a password asked for on the terminal\n"
    "  -P PASSWORD    encrypt new entries with PASSWORD (classic zip encryption\n"
    "                 unless --aes is given)\n"
    "  --aes BITS     WinZip AES encryption (AE-2) with 128, 192 or 256-bit keys\n"
    "  --zipcrypto    classic zip encryption, which every zip tool reads but which\n"
    "                 is weak\n"
    "  --no-recurse   files in the folders named, not below them\n"
    "  --sfx STUB     create: put the self-extractor STUB in front\n"
    "  --split SIZE   create: split the archive into volumes of at most SIZE (k, m,\n"
    "                 g; at least 64k) named NAME.z01, NAME.z02, ... NAME.zip as\n"
    "                 zip -s writes them\n"
    "  --numbered     create, with --split: cut the archive into volumes named\n"
    "                 ARCHIVE.001, ARCHIVE.002, ... as 7z -v does\n"
    "  -u             add: only files that are newer than their entries, and new ones\n"
    "  -f             add: only files that are newer than their entries, none new\n"
    "  --wait[=SECS]  when another zarc is changing the archive, wait for it (at\n"
    "                 most SECS seconds) rather than fail at once\n"
    "  -v             one line per file as it is stored\n"
    "  -q             no progress bar\n";

const char kWriteStatuses[] =
    "exit status: 0 all done, 1 some files could not be read and were left out,\n"
    "2 the archive's directory is damaged (it is left unchanged), 3 the archive\n"
    "cannot be changed (read-only, or split over volumes), 9 no such archive or not\n"
    "a zip archive, 10 bad command line or create over an existing archive, 11 a\n"
    "name or mask matched nothing, 50 the archive could not be written (it is then\n"
    "left as it was), 75 another zarc is changing the archive (nothing done).\n";

int WriteUsageError(const std::string& text) {
  std::fprintf(stderr, "zarc: %s\n%s", text.c_str(), kWriteUsage);
  return kUsage;
}

bool ParseWriteCommand(const std::u16string& word, WriteSettings::Command& command) {
  if (word == u"create" || word == u"c") command = WriteSettings::kCreate;
  else if (word == u"add" || word == u"a") command = WriteSettings::kAdd;
  else if (word == u"delete" || word == u"d") command = WriteSettings::kDelete;
  else if (word == u"rename" || word == u"rn") command = WriteSettings::kRename;
  else if (word == u"comment") command = WriteSettings::kComment;
  else return false;
  return true;
}

int ParseWrite(const std::vector<std::u16string>& args, WriteSettings& s) {
  bool adding = s.command == WriteSettings::kCreate || s.command == WriteSettings::kAdd;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string& a = args[i];
    bool more = i + 1 < args.size();
    if (a == u"-h" || a == u"--help") {
      std::printf("%s\nFILE: a file, a folder (with everything below it) or a pattern with '*' and '?'.\n"
                  "Names are stored relative to the current folder, in UTF-8.\n\n%s\n%s",
                  kWriteUsage, kWriteOptions, kWriteStatuses);
      return kOk;
    } else if (a.size() == 2 && a[0] == u'-' && a[1] >= u'0' && a[1] <= u'9' && adding) {
      s.level = a[1] - u'0';
    } else if (a == u"-x" && more && s.command != WriteSettings::kRename) {
      s.exclusions.push_back(args[++i]);
    } else if (a == u"--store" && more && adding) {
      s.stored.push_back(args[++i]);
    } else if (a == u"-j" && adding) {
      s.junkPaths = true;
    } else if (a == u"--no-recurse" && adding) {
      s.recurse = false;
    } else if (a == u"--split" && more && s.command == WriteSettings::kCreate) {
      s.split = ParseSize(args[++i]);
      if (s.split < 65536) return WriteUsageError("--split takes a size of at least 64k");
    } else if (a == u"--numbered" && s.command == WriteSettings::kCreate) {
      s.numbered = true;
    } else if (a == u"--sfx" && more && s.command == WriteSettings::kCreate) {
      s.sfx = args[++i];
    } else if (a == u"-u" && s.command == WriteSettings::kAdd) {
      s.update = true;
    } else if (a == u"-f" && s.command == WriteSettings::kAdd) {
      s.freshen = true;
    } else if (a == u"--wait") {
      s.waitMs = -1;
    } else if (a.rfind(u"--wait=", 0) == 0) {
      const std::string secs = sys::WideToUtf8(a.substr(7));
      char* end = nullptr;
      const double value = std::strtod(secs.c_str(), &end);
      if (secs.empty() || *end != '\0' || !(value >= 0 && value < 1e9))
        return WriteUsageError("--wait= takes a number of seconds");
      s.waitMs = static_cast<std::int64_t>(value * 1000);
    } else if (a == u"-v") {
      s.verbose = true;
    } else if (a == u"-q") {
      s.progress = false;
    } else if (a == u"-P" && more && adding) {
      s.password = args[++i];
      s.passwordGiven = s.encrypt = true;
    } else if (a == u"-e" && adding) {
      s.encrypt = true;
    } else if (a == u"--aes" && more && adding) {
      const std::u16string& bits = args[++i];
      if (bits == u"128") s.cipher = za::caAES_128;
      else if (bits == u"192") s.cipher = za::caAES_192;
      else if (bits == u"256") s.cipher = za::caAES_256;
      else return WriteUsageError("--aes takes 128, 192 or 256");
      s.encrypt = true;
    } else if (a == u"--zipcrypto" && adding) {
      s.cipher = za::caPkzipClassic;
      s.encrypt = true;
    } else if (a.size() > 1 && a[0] == u'-' && a != u"-") {
      return WriteUsageError("unknown option '" + sys::WideToUtf8(a) + "'" + (more ? "" : " or missing value"));
    } else if (s.archive.empty()) {
      s.archive = a;
    } else {
      s.names.push_back(a);
    }
  }
  if (s.archive.empty()) return WriteUsageError("no archive named");
  if (s.update && s.freshen) return WriteUsageError("-u and -f exclude each other");
  if (s.numbered && !s.split) return WriteUsageError("--numbered goes with --split");
  if (s.encrypt && !s.passwordGiven) {
    // As zip -e: asked twice, without echo, and never taken empty.
    std::string first, second;
    if (!IsTerminal(StdStream::Input)) return WriteUsageError("no terminal to ask for the password; give -P");
    if (!ReadSecretLine("password: ", first) || !ReadSecretLine("again: ", second))
      return WriteUsageError("no password");
    if (first != second) return WriteUsageError("the passwords differ");
    if (first.empty()) return WriteUsageError("an empty password encrypts nothing");
    s.password = sys::Utf8ToWide(first);
    s.passwordGiven = true;
  }
  if (s.passwordGiven && s.password.empty()) return WriteUsageError("an empty password encrypts nothing");
  switch (s.command) {
    case WriteSettings::kCreate:
    case WriteSettings::kAdd:
    case WriteSettings::kDelete:
      if (s.names.empty()) return WriteUsageError("nothing named");
      break;
    case WriteSettings::kRename:
      if (s.names.size() != 2) return WriteUsageError("rename takes the old name and the new one");
      break;
    case WriteSettings::kComment:
      if (s.names.size() > 1) return WriteUsageError("comment takes one text");
      if (!s.names.empty()) {
        s.commentGiven = true;
        s.comment = sys::WideToUtf8(s.names[0]);
      }
      break;
  }
  return -1;
}

class Writer {
 public:
  explicit Writer(const WriteSettings& s)
      : s_(s), report_(s.archive), guard_(s.archive), bar_(s.progress && !s.verbose && IsTerminal(StdStream::Error)) {}

  int Run() {
    // Everything below, the checks of what exists included, is decided
    // under the lock: two runs must not both take the archive as it was.
    if (int status = guard_.Lock(s_.waitMs, s_.progress, report_); status >= 0) return status;
    guard_.SweepLeftovers(report_);
    bool existed = sys::WideFileExists(s_.archive);
    const std::u16string firstVolume =
        s_.numbered ? za::ZANumberedVolumeName(s_.archive, 0) : za::ZASplitVolumeName(s_.archive, 0, 1);
    if (s_.command == WriteSettings::kCreate && s_.split && sys::WideFileExists(firstVolume)) {
      // The volume with the directory is named last: without it, the
      // others are what a stopped run left, not an archive.
      report_.Archive(existed || s_.numbered ? "a split archive of this name exists already"
                                             : "its volume " + Shown(firstVolume) +
                                                   " is there but not the archive itself, as a stopped run leaves "
                                                   "them; remove the volumes to create it anew");
      return kUsage;
    }
    if (s_.command == WriteSettings::kCreate && existed) {
      report_.Archive("exists already; 'zarc add' changes it");
      return kUsage;
    }
    if (s_.command != WriteSettings::kCreate && s_.command != WriteSettings::kAdd && !existed) {
      report_.Archive("no such archive");
      return kNoArchive;
    }
    Configure();
    try {
      zip_.SetFileName(s_.archive);
      zip_.OpenArchive();
      if (existed && !Readable()) return outcome_.Final(false);
      Work();
      zip_.CloseArchive();
    } catch (const za::EZAException& e) {
      bar_.Clear();
      outcome_.Note(e.NativeError == za::neArchiveNotFound || e.NativeError == za::neInvalidArchive ? kNoArchive
                    : e.NativeError == za::neMultiVolumeUpdate || e.NativeError == za::neReadOnlyUpdate ? kSevere
                                                                 : kDiskFull);
      report_.Archive(EngineText(e.Message()));
    } catch (const za::EStreamError& e) {
      bar_.Clear();
      outcome_.Note(kDiskFull);
      report_.Archive("writing failed" + (e.SystemError ? ": " + SystemReason(e.SystemError) : std::string()) +
                      "; the archive is left as it was");
    }
    bar_.Clear();
    zip_.CloseArchive();
    // A new archive that got nothing is not left behind.
    if (!existed && (written_ == 0 || outcome_.Final(true) == kDiskFull)) {
      sys::WideDirEntry info;
      if (sys::WideStat(s_.archive, info) && info.Size <= 22) sys::WideDeleteFile(s_.archive);
    }
    return outcome_.Final(true);
  }

 private:
  void Configure() {
    // As other zip tools on this system: UTF-8 names with their flag.
    zip_.SetUtf8FlagNames(true);
    zip_.SetUtf8NamesOnWrite(true);
    zip_.SetUnixModesOnWrite(true);
    // Until it is complete, a new archive is only a temporary file of this
    // run's name, which a later run removes if this one is killed.
    zip_.SetCreateOnCommit(true);
    zip_.SetTempFilePrefix(guard_.TempFilePrefix());
    zip_.SetUnicodeFilenames(false);
    zip_.SetZip64Mode(za::zmAuto);
    zip_.SetCompressionMode(static_cast<std::uint8_t>(s_.level));
    zip_.SetNoCompressionMasks(s_.stored);
    zip_.SetExclusionMasks(s_.exclusions);
    zip_.SetSFXStub(s_.sfx);
    zip_.Options().Recurse = s_.recurse;
    if (s_.split) {
      zip_.SetSpanningMode(za::smSplitting);
      zip_.SpanningOptions().AdvancedNaming = s_.numbered;
      zip_.SpanningOptions().VolumeSize = za::vsCustom;
      zip_.SpanningOptions().SetCustomVolumeSize(s_.split);
    }
    if (s_.passwordGiven) {
      // Into the ANSI code page, as zarc takes passwords to read with.
      zip_.SetPassword(sys::WideToAnsi(s_.password));
      zip_.SetEncryptionMethod(s_.cipher);
    }
    zip_.Options().StorePath = s_.junkPaths ? za::spNoPath : za::spRelativePath;
    zip_.OnConfirmProcessFile = [this](za::TZABaseArchiver*, const std::u16string& name,
                                       za::TZAProcessOperation operation, bool& confirm) {
      if (s_.freshen && operation == za::poUpdate) {
        std::u16string slashed = name;
        for (char16_t& c : slashed)
          if (c == u'\\') c = u'/';
        confirm = zip_.DirManager()->Items.IndexOfName(slashed) >= 0;
      }
      if (!confirm) return;
      ++matched_;
      if (s_.verbose && operation == za::poDelete) std::printf("deleting: %s\n", Shown(name).c_str());
    };
    zip_.OnOverallProgress = [this](za::TZABaseArchiver*, double percent, za::TZAProcessOperation,
                                    za::TZAProgressPhase, bool&) { bar_.Update(percent); };
    zip_.OnFileProgress = [this](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                                 za::TZAProgressPhase phase, bool&) {
      if (phase != za::ppEnd) return;
      ++written_;
      if (s_.verbose) std::printf("  adding: %s\n", Shown(name).c_str());
    };
    zip_.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                       std::int32_t, std::int32_t, const std::u16string& message,
                                       za::TZAAction& action) {
      bar_.Clear();
      report_.Entry(name, EngineText(message) + "; left out");
      outcome_.Note(kWarning);
      action = za::fxaIgnore;
    };
  }

  // An existing archive must have been read whole before it is rewritten.
  bool Readable() {
    if (!zip_.DirManager()->Rebuilt) return true;
    report_.Archive("the central directory is missing or damaged; repair it before changing the archive");
    outcome_.Note(kDamaged);
    return false;
  }

  void Work() {
    switch (s_.command) {
      case WriteSettings::kCreate:
      case WriteSettings::kAdd: Add(); break;
      case WriteSettings::kDelete: Delete(); break;
      case WriteSettings::kRename:
        if (!zip_.RenameFile(s_.names[0], s_.names[1])) {
          report_.Entry(s_.names[0], zip_.DirManager()->Items.IndexOfName(s_.names[0]) < 0
                                         ? "no such entry"
                                         : "cannot take the name of another entry");
          outcome_.Note(kNothingMatched);
        }
        break;
      case WriteSettings::kComment: Comment(); break;
    }
  }

  void Add() {
    zip_.BeginUpdate();
    for (const std::u16string& name : s_.names) {
      std::size_t before = matched_;
      if (s_.update || s_.freshen)
        zip_.UpdateFiles(name);
      else
        zip_.AddFiles(name);
      if (matched_ == before && !s_.freshen) {
        report_.Entry(name, sys::WideFileExists(name) || sys::WideDirectoryExists(name) ? "nothing to add"
                                                                                        : "no such file");
        outcome_.Note(kNothingMatched);
      }
    }
    zip_.EndUpdate();
  }

  void Delete() {
    // The engine takes the entries out in one pass, however many.
    zip_.SetExclusionMasks(s_.exclusions);
    zip_.BeginUpdate();
    for (const std::u16string& mask : s_.names) {
      std::size_t before = matched_;
      zip_.DeleteFiles(mask);
      if (matched_ == before) {
        report_.Entry(mask, "no entry matches");
        outcome_.Note(kNothingMatched);
      }
    }
    zip_.EndUpdate();
  }

  void Comment() {
    std::string text = s_.comment;
    if (!s_.commentGiven) {
      // As zip -z: the comment from standard input, up to its end.
      if (IsTerminal(StdStream::Input)) std::fprintf(stderr, "enter the comment, end with Ctrl-D:\n");
      text.assign(std::istreambuf_iterator<char>(std::cin), {});
    }
    zip_.SetZipComment(text);
  }

  const WriteSettings& s_;
  Reporter report_;
  ArchiveGuard guard_;  // outlives zip_: the lock is let go once the archive is closed
  ProgressBar bar_;
  Outcome outcome_;
  za::TZipArchiver zip_;
  std::size_t matched_ = 0, written_ = 0;
};

}  // namespace

int RunWriteCommand(const std::vector<std::u16string>& args) {
  WriteSettings settings;
  if (args.empty() || !ParseWriteCommand(args[0], settings.command)) return -1;
  int status = ParseWrite(args, settings);
  if (status >= 0) return status;
  return Writer(settings).Run();
}

const char* WriteUsage() { return kWriteUsage; }

}  // namespace zarc
