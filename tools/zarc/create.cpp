// zarc's writing commands: create, add, delete, rename and comment, with
// the options of Info-ZIP's zip where they mean the same. Every change is
// one transaction of the engine: the archive is written anew and takes the
// old one's place only when complete, so a failure leaves it as it was.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "archive/mask.h"
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
  std::uint16_t method = 8;  // -Z; 0 stores whatever the level
  bool update = false, freshen = false, junkPaths = false, recurse = true;
  bool progress = true, verbose = false;
  bool follow = false;  // -L: what links point to, not the links
  bool noExtras = false;  // -X: no time or owner blocks, as zip -X
  bool commentGiven = false;
  bool encrypt = false, passwordGiven = false;
  std::u16string password;
  za::TZACryptoAlgorithm cipher = za::caPkzipClassic;
  std::string comment;
  std::u16string sfx;
  std::int64_t split = 0;  // bytes of a volume; 0: one file
  bool numbered = false;   // volumes ARCHIVE.001, ... rather than ARCHIVE.z01, ... ARCHIVE.zip
  std::int64_t waitMs = 0;  // for another zarc changing the archive; below 0: as long as it takes
  bool quiet = false;      // -qq
  bool folders = true;     // -D: no folder entries
  bool move = false;       // -m
  bool testFirst = false;  // -T
  bool sync = false;       // -FS
  bool namesFromInput = false;  // -@
  bool toStdout = false;   // create -
  za::TZAWideStrings includes;  // -i
  // -t and -tt: local MS-DOS dates (date in the upper half); -1 for none.
  std::int32_t since = -1, before = -1;
  bool Filtering() const { return !folders || !includes.empty() || since >= 0 || before >= 0 || sync; }
};

// zip's dates: mmddyyyy or yyyy-mm-dd, as a local MS-DOS date and time of
// midnight; -1 when it does not read.
std::int32_t ParseDate(const std::u16string& text) {
  std::string s = sys::WideToUtf8(text);
  unsigned y = 0, m = 0, d = 0;
  auto digits = [&](std::size_t from, std::size_t n, unsigned& out) {
    out = 0;
    for (std::size_t i = from; i < from + n; ++i) {
      if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return true;
  };
  bool read = s.size() == 8 ? digits(0, 2, m) && digits(2, 2, d) && digits(4, 4, y)
            : s.size() == 10 && s[4] == '-' && s[7] == '-' && digits(0, 4, y) && digits(5, 2, m) && digits(8, 2, d);
  if (!read || y < 1980 || y > 2107 || m < 1 || m > 12 || d < 1 || d > 31) return -1;
  return static_cast<std::int32_t>((((y - 1980) << 9) | (m << 5) | d) << 16);
}

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

const char kFileOptions[] =
    "  -0 ... -9      compression level: 0 stores, 9 packs best (default 6)\n"
    "  -Z METHOD      compression method: deflate (the default), store, bzip2, lzma,\n"
    "                 xz or zstd; the level applies to each\n"
    "  -x MASK        leave out files (or entries) whose name matches\n"
    "  --store MASK   store files whose name matches without compressing them\n"
    "  -j             store file names without their folders\n"
    "  -i MASK        take only files (and folders) whose name matches a -i MASK\n"
    "                 (a folder's name ends in /)\n"
    "  -t DATE        only files and folders modified on DATE or later\n"
    "                 (mmddyyyy or yyyy-mm-dd, local time)\n"
    "  -tt DATE       only files and folders modified before DATE\n"
    "  -D             no entries for folders, only for the files in them\n"
    "  -X             no time or owner blocks (extra blocks) beyond those an entry\n"
    "                 needs\n"
    "  -r, -y         accepted as zip takes them: folders are taken with what is\n"
    "                 below them, and links as links, by default\n"
    "  -@             the names of the files from standard input, one a line\n"
    "  -m             delete each file once the new archive holding it has taken\n"
    "                 the old one's place (not with -u, -f or -FS)\n"
    "  -T             test the new archive before it replaces the old one; when a\n"
    "                 test fails the old archive stays as it was\n"
    "  -e             encrypt new entries with a password asked for on the terminal\n"
    "  -P PASSWORD    encrypt new entries with PASSWORD (classic zip encryption\n"
    "                 unless --aes is given)\n"
    "  --aes BITS     WinZip AES encryption (AE-2) with 128, 192 or 256-bit keys\n"
    "  --zipcrypto    classic zip encryption, which every zip tool reads but which\n"
    "                 is weak\n"
    "  --no-recurse   files in the folders named, not below them\n"
    "  -L, --follow   store what symbolic links point to (default: the links)\n"
    "  --wait[=SECS]  when another zarc is changing the archive, wait for it (at\n"
    "                 most SECS seconds) rather than fail at once\n"
    "  -v             one line per file as it is stored\n"
    "  -q             no progress bar\n"
    "  -qq            nothing but errors\n";

const char kCreateOptions[] =
    "  --sfx STUB     put the self-extractor STUB in front\n"
    "  --split SIZE   split the archive into volumes of at most SIZE (k, m, g;\n"
    "                 at least 64k) named NAME.z01, NAME.z02, ... NAME.zip as\n"
    "                 zip -s writes them\n"
    "  --numbered     with --split: cut the archive into volumes named\n"
    "                 ARCHIVE.001, ARCHIVE.002, ... as 7z -v does\n";

const char kAddOptions[] =
    "  -u             only files that are newer than their entries, and new ones\n"
    "  -f             only files that are newer than their entries, none new\n"
    "  -FS            make the archive match the files: add new ones, replace\n"
    "                 entries whose file has another time or size, and delete\n"
    "                 entries whose file is gone\n";

const char kOtherOptions[] =
    "  -v             one line per entry as it is changed\n"
    "  -q, -qq        no progress bar; -qq: nothing but errors\n"
    "  --wait[=SECS]  when another zarc is changing the archive, wait for it (at\n"
    "                 most SECS seconds) rather than fail at once\n";

const char kWriteStatuses[] =
    "exit status: 0 all done, 1 some files could not be read and were left out,\n"
    "2 the archive's directory is damaged (it is left unchanged), 3 the archive\n"
    "cannot be changed (read-only, or split over volumes), 9 no such archive or not\n"
    "a zip archive, 10 bad command line or create over an existing archive, 11 a\n"
    "name or mask matched nothing, 50 the archive could not be written (it is then\n"
    "left as it was), 75 another zarc is changing the archive (nothing done).\n";

const char kFiles[] =
    "FILE: a file, a folder (with everything below it) or a pattern with '*' and '?'.\n"
    "Names are stored relative to the current folder, in UTF-8.\n";

void WriteHelp(WriteSettings::Command command) {
  switch (command) {
    case WriteSettings::kCreate:
      std::printf("usage: zarc create [options] ARCHIVE FILE...\n"
                  "Writes a new archive of the files. ARCHIVE '-' is standard output: the\n"
                  "archive is made whole in the temporary folder (TMPDIR) and then copied out.\n"
                  "%s\n%s%s",
                  kFiles, kFileOptions, kCreateOptions);
      break;
    case WriteSettings::kAdd:
      std::printf("usage: zarc add [options] ARCHIVE FILE...\n"
                  "Adds the files to the archive (a new one when there is none), in place of\n"
                  "entries of the same name.\n%s\n%s%s",
                  kFiles, kFileOptions, kAddOptions);
      break;
    case WriteSettings::kDelete:
      std::printf("usage: zarc delete [options] ARCHIVE MASK... [-x MASK]...\n"
                  "Takes the entries that a MASK selects out of the archive.\n"
                  "MASK: '*' and '?' over a stored name or its last component, without case;\n"
                  "-x MASK keeps the entries whose name matches.\n\n%s",
                  kOtherOptions);
      break;
    case WriteSettings::kRename:
      std::printf("usage: zarc rename [options] ARCHIVE OLD NEW\n"
                  "Gives the entry named OLD the name NEW (a folder's entries move with it).\n\n%s",
                  kOtherOptions);
      break;
    case WriteSettings::kComment:
      std::printf("usage: zarc comment [options] ARCHIVE [TEXT]\n"
                  "Sets the archive's comment to TEXT, or without TEXT to what standard input\n"
                  "holds up to its end; an empty TEXT removes the comment.\n\n%s",
                  kOtherOptions);
      break;
  }
  std::printf("\n%s", kWriteStatuses);
}

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

// -Z METHOD, in zip's words for the methods.
int ParseMethod(const std::u16string& name, std::uint16_t& method) {
  static const struct {
    const char16_t* name;
    std::uint16_t method;
  } kMethods[] = {{u"deflate", 8}, {u"store", 0}, {u"bzip2", 12}, {u"lzma", 14}, {u"xz", 95}, {u"zstd", 93}};
  for (const auto& m : kMethods) {
    if (name != m.name) continue;
    if (m.method != 0 && m.method != 8 && !za::ZAExtraMethodDecodes(m.method))
      return WriteUsageError("-Z " + sys::WideToUtf8(name) + ": this build of zarc has no such encoder");
    method = m.method;
    return kOk;
  }
  return WriteUsageError("-Z takes deflate, store, bzip2, lzma, xz or zstd");
}

int ParseWrite(const std::vector<std::u16string>& args, WriteSettings& s) {
  bool adding = s.command == WriteSettings::kCreate || s.command == WriteSettings::kAdd;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string& a = args[i];
    bool more = i + 1 < args.size();
    if (a == u"-h" || a == u"--help") {
      WriteHelp(s.command);
      return kOk;
    } else if (a.size() == 2 && a[0] == u'-' && a[1] >= u'0' && a[1] <= u'9' && adding) {
      s.level = a[1] - u'0';
    } else if (a == u"-Z" && more && adding) {
      if (int rc = ParseMethod(args[++i], s.method); rc != kOk) return rc;
    } else if (a == u"-x" && more && s.command != WriteSettings::kRename) {
      s.exclusions.push_back(args[++i]);
    } else if (a == u"--store" && more && adding) {
      s.stored.push_back(args[++i]);
    } else if (a == u"-j" && adding) {
      s.junkPaths = true;
    } else if ((a == u"-r" || a == u"-y") && adding) {
      // Already so: folders with what is below them, links as links.
    } else if (a == u"-D" && adding) {
      s.folders = false;
    } else if (a == u"-X" && adding) {
      s.noExtras = true;
    } else if (a == u"-m" && adding) {
      s.move = true;
    } else if (a == u"-T" && s.command != WriteSettings::kComment && s.command != WriteSettings::kRename) {
      s.testFirst = true;
    } else if (a == u"-FS" && s.command == WriteSettings::kAdd) {
      s.sync = true;
    } else if (a == u"-@" && adding) {
      s.namesFromInput = true;
    } else if (a == u"-i" && more && adding) {
      s.includes.push_back(args[++i]);
    } else if ((a == u"-t" || a == u"-tt") && more && adding) {
      std::int32_t date = ParseDate(args[++i]);
      if (date < 0) return WriteUsageError("bad date '" + sys::WideToUtf8(args[i]) + "' (mmddyyyy or yyyy-mm-dd)");
      (a == u"-t" ? s.since : s.before) = date;
    } else if (a == u"-qq") {
      s.progress = s.verbose = false;
      s.quiet = true;
    } else if ((a == u"-L" || a == u"--follow") && adding) {
      s.follow = true;
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
  if (s.sync && (s.update || s.freshen)) return WriteUsageError("-FS excludes -u and -f");
  if (s.move && (s.update || s.freshen || s.sync)) return WriteUsageError("-m goes with neither -u, -f nor -FS");
  if (s.quiet && s.verbose) return WriteUsageError("-qq and -v exclude each other");
  if (s.archive == u"-") {
    if (s.command != WriteSettings::kCreate) return WriteUsageError("'-' (standard output) is for create alone");
    if (s.split) return WriteUsageError("a split archive cannot go to standard output");
    if (s.move) return WriteUsageError("-m needs an archive file that stays");
    if (IsTerminal(StdStream::Output)) return WriteUsageError("standard output is a terminal; redirect it");
    s.toStdout = true;
  }
  if (s.namesFromInput) {
    // As zip -@: one name a line, the line end (and a carriage return) not
    // part of it; empty lines name nothing.
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) s.names.push_back(sys::Utf8ToWide(line));
    }
  }
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
      : s_(s), path_(s.archive), report_(s.archive), guard_(s.archive),
        bar_(s.progress && !s.verbose && IsTerminal(StdStream::Error)), info_(s.toStdout ? stderr : stdout) {}

  int Run() {
    TemporaryFile out;
    if (s_.toStdout) {
      // Made whole in a file first: sizes and CRC-32 are then known ahead of
      // each entry's data, so every reader takes it, and nothing half made
      // is ever written out.
      std::string error;
      if (!out.Create(".zip", error)) {
        report_.Archive(error);
        return kDiskFull;
      }
      // The engine makes the archive itself, as its commit makes any new
      // one: the name is kept, the empty file goes.
      out.File().Close();
      sys::WideDeleteFile(out.Name());
      path_ = out.Name();
    }
    int status = Change();
    if (s_.toStdout && written_ > 0 && status != kDiskFull && !refused_) {
      std::string error;
      if (!CopyToStandardOutput(path_, error)) {
        report_.Archive(error);
        return kDiskFull;
      }
    }
    return status;
  }

 private:
  int Change() {
    // Everything below, the checks of what exists included, is decided
    // under the lock: two runs must not both take the archive as it was.
    // An archive for standard output is this run's own temporary file.
    if (!s_.toStdout) {
      if (int status = guard_.Lock(s_.waitMs, s_.progress, report_); status >= 0) return status;
      guard_.SweepLeftovers(report_);
    }
    bool existed = !s_.toStdout && sys::WideFileExists(path_);
    const std::u16string firstVolume =
        s_.numbered ? za::ZANumberedVolumeName(path_, 0) : za::ZASplitVolumeName(path_, 0, 1);
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
      zip_.SetFileName(path_);
      zip_.OpenArchive();
      if (existed && !Readable()) return outcome_.Final(false);
      Work();
      zip_.CloseArchive();
      if (refused_) {
        report_.Archive("the new archive failed its test; " +
                        std::string(existed ? "the archive is left as it was" : "no archive was made"));
        outcome_.Note(kDamaged);
      } else if (s_.move) {
        RemoveMovedFolders();
      }
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
    if (!existed && !s_.toStdout && (written_ == 0 || refused_ || outcome_.Final(true) == kDiskFull)) {
      sys::WideDirEntry info;
      if (sys::WideStat(path_, info) && info.Size <= 22) sys::WideDeleteFile(path_);
    }
    return outcome_.Final(true);
  }

  void Configure() {
    // As other zip tools on this system: UTF-8 names with their flag.
    zip_.SetUtf8FlagNames(true);
    zip_.SetUtf8NamesOnWrite(true);
    zip_.SetUnixModesOnWrite(true);
    // Deflate by libdeflate where it is faster than zlib at no larger size.
    zip_.SetFastDeflate(true);
    // Until it is complete, a new archive is only a temporary file of this
    // run's name, which a later run removes if this one is killed.
    zip_.SetCreateOnCommit(true);
    zip_.SetTempFilePrefix(guard_.TempFilePrefix());
    zip_.SetUnicodeFilenames(false);
    zip_.SetZip64Mode(za::zmAuto);
    zip_.SetCompressionMode(static_cast<std::uint8_t>(s_.method == 0 ? 0 : s_.level));
    zip_.SetExtraMethods(&za::ZAExtraMethods());
    zip_.SetNewEntryMethod(s_.method == 0 ? 8 : s_.method);
    zip_.SetNoCompressionMasks(s_.stored);
    zip_.SetExclusionMasks(s_.exclusions);
    zip_.SetSFXStub(s_.sfx);
    zip_.Options().Recurse = s_.recurse;
    // Exact times in UTC, links as links and owners, as zip and bsdtar
    // keep them; the NTFS block where file times are NTFS times.
    za::TZAFidelity& f = zip_.Fidelity();
    f.ExactTimes = true;
    f.TimeBlocksOnWrite = f.OwnersOnWrite = !s_.noExtras;
    f.NtfsTimesOnWrite = !s_.noExtras && NtfsFileTimes();
    f.LinksAsLinks = !s_.follow;
    f.Zip64MadeByVersion = true;
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
      if (s_.verbose && operation == za::poDelete) std::fprintf(info_, "deleting: %s\n", Shown(name).c_str());
    };
    zip_.OnOverallProgress = [this](za::TZABaseArchiver*, double percent, za::TZAProcessOperation,
                                    za::TZAProgressPhase, bool&) { bar_.Update(percent); };
    zip_.OnFileProgress = [this](za::TZABaseArchiver*, const std::u16string& name, double, za::TZAProcessOperation,
                                 za::TZAProgressPhase phase, bool&) {
      if (phase != za::ppEnd) return;
      ++written_;
      if (s_.verbose) std::fprintf(info_, "  adding: %s\n", Shown(name).c_str());
    };
    zip_.OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                       std::int32_t, std::int32_t, const std::u16string& message,
                                       za::TZAAction& action) {
      bar_.Clear();
      report_.Entry(name, EngineText(message) + "; left out");
      outcome_.Note(kWarning);
      action = za::fxaIgnore;
    };
    if (s_.Filtering() || s_.move)
      zip_.OnStoreFile = [this](za::TZABaseArchiver*, std::u16string& name, std::uint32_t& attributes, std::string&,
                                const std::u16string& source) { Store(name, attributes, source); };
    if (s_.testFirst)
      zip_.OnVerifyNewArchive = [this](za::TZABaseArchiver*, za::TZAStream& archive, bool& accept) {
        accept = Verify(archive);
      };
  }

  // Entries match files without case, as the engine's name lookup does.
  static std::u16string Key(std::u16string name) {
    sys::WideLowerInPlace(name);
    return name;
  }

  static std::u16string Slashed(std::u16string name) {
    for (char16_t& c : name)
      if (c == u'\\') c = u'/';
    return name;
  }

  // The options that choose among the files found: a file they leave out
  // gets an empty name, which the engine passes by.
  void Store(std::u16string& name, std::uint32_t attributes, const std::u16string& source) {
    bool folder = attributes & 0x10;
    std::u16string stored = Slashed(name);
    auto drop = [&] {
      name.clear();
      --matched_;
    };
    if (!s_.folders && folder) return drop();
    // As zip does, a folder entry is chosen by the same rules as a file, by
    // its name with the closing slash and its own time; a file kept in a
    // folder left out still brings the folder back when extracted.
    if (!s_.includes.empty()) {
      std::u16string named = folder ? stored + u'/' : stored;
      std::u16string_view last = za::ZAFileNamePart(stored);
      bool included = false;
      for (const std::u16string& mask : s_.includes)
        included = included || za::MatchesMask(named, mask) || za::MatchesMask(last, mask);
      if (!included) return drop();
    }
    sys::WideDirEntry file;
    bool stat = (s_.since >= 0 || s_.before >= 0 || s_.sync) && sys::WideStat(source, file);
    if (stat) {
      std::uint32_t date = static_cast<std::uint32_t>(file.DosDateTime) & 0xFFFF0000u;
      if (s_.since >= 0 && date < static_cast<std::uint32_t>(s_.since)) return drop();
      if (s_.before >= 0 && date >= static_cast<std::uint32_t>(s_.before)) return drop();
    }
    if (s_.sync) {
      std::u16string key = folder ? stored + u'/' : stored;
      seen_.insert(Key(key));
      std::int32_t index = zip_.DirManager()->Items.IndexOfName(key);
      if (index >= 0 && stat) {
        const za::TDirItem& old = zip_.Item(index);
        std::int32_t when = static_cast<std::int32_t>((static_cast<std::uint32_t>(old.Header.ModDate) << 16) |
                                                      old.Header.ModTime);
        // The same file as stored: the entry stays as it is.
        if (!old.IsNew && (folder || (when == file.DosDateTime && old.UnpackedSize() == file.Size))) {
          name.clear();
          return;
        }
      }
    }
    if (s_.move && folder) movedFolders_.push_back(source);
  }

  // -T: every entry of the new archive decodes and checks, as `zarc test`
  // would find it.
  bool Verify(za::TZAStream& archive) {
    za::TZipArchiver check;
    check.SetUtf8FlagNames(true);
    if (s_.passwordGiven) check.SetPassword(sys::WideToAnsi(s_.password));
    std::size_t failed = 0;
    check.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string& name, za::TZAProcessOperation,
                                     std::int32_t, std::int32_t, const std::u16string& message,
                                     za::TZAAction& action) {
      bar_.Clear();
      report_.Entry(name, "fails the test of the new archive: " + EngineText(message));
      ++failed;
      action = za::fxaIgnore;
    };
    check.OnPassword = [&](za::TZABaseArchiver*, const std::u16string& name, std::string&, bool& skip) {
      report_.Entry(name, "fails the test of the new archive: wrong password");
      ++failed;
      skip = true;
    };
    try {
      archive.SetPosition(0);
      check.OpenArchive(archive);
      if (check.DirManager()->Rebuilt) ++failed;
      check.TestFiles(u"*.*", check.Options().SearchAttr, u"");
      check.CloseArchive();
    } catch (const za::Exception& e) {
      report_.Archive("the new archive cannot be read: " + EngineText(e.Message()));
      ++failed;
    }
    refused_ = failed > 0;
    return !refused_;
  }

  // zip -m takes the folders too, once what was in them has gone; a folder
  // that still holds anything stays.
  void RemoveMovedFolders() {
    std::sort(movedFolders_.begin(), movedFolders_.end(),
              [](const std::u16string& a, const std::u16string& b) { return a.size() > b.size(); });
    for (const std::u16string& folder : movedFolders_) sys::WideRemoveDirectory(folder);
  }

  // -FS: entries whose file was not found among those named are taken out.
  void DeleteVanished() {
    const za::TZADirArray& items = zip_.DirManager()->Items;
    for (std::int32_t i = items.Count() - 1; i >= 0; --i) {
      const za::TDirItem& item = items.GetItem(i);
      if (item.IsNew || seen_.count(Key(item.EntryName))) continue;
      if (s_.verbose) std::fprintf(info_, "deleting: %s\n", Shown(item.EntryName).c_str());
      zip_.DeleteItem(i);
    }
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
      else if (s_.move)
        zip_.MoveFiles(name);
      else
        zip_.AddFiles(name);
      if (matched_ == before && !s_.freshen) {
        report_.Entry(name, sys::WideFileExists(name) || sys::WideDirectoryExists(name) ? "nothing to add"
                                                                                        : "no such file");
        outcome_.Note(kNothingMatched);
      }
    }
    if (s_.sync) DeleteVanished();
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
  std::u16string path_;  // the archive's file: a temporary one for standard output
  Reporter report_;
  ArchiveGuard guard_;  // outlives zip_: the lock is let go once the archive is closed
  ProgressBar bar_;
  Outcome outcome_;
  za::TZipArchiver zip_;
  std::size_t matched_ = 0, written_ = 0;
  std::FILE* info_;       // -v lines: never into an archive on standard output
  bool refused_ = false;  // -T: the new archive failed its test
  std::vector<std::u16string> movedFolders_;
  std::set<std::u16string> seen_;  // -FS: entries that have their file, by Key
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
