// zarc: lists, tests and extracts zip archives through the archive engine
// (TZipArchiver), with the options and exit statuses of unzip where they
// mean the same.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "sys/codepage.h"

namespace zarc {

namespace {

const char kUsage[] =
    "usage: zarc list    [options] ARCHIVE [MASK...] [-x MASK]...\n"
    "       zarc test    [options] ARCHIVE [MASK...] [-x MASK]...\n"
    "       zarc extract [options] ARCHIVE [-d DIR] [MASK...] [-x MASK]...\n"
    "       zarc COMMAND --help | zarc --help | zarc --version\n";

const char kMasks[] =
    "ARCHIVE '-' is standard input (a pipe is copied to the temporary folder\n"
    "first, TMPDIR, since a zip archive is read from its end).\n"
    "MASK: '*' and '?' over a stored name or its last component, without case\n"
    "(default: every entry). -x MASK leaves out entries whose stored name matches.\n";

const char kNameOptions[] =
    "  --setup-names  read names exactly as the setup program does: through the\n"
    "                 code pages below, whatever their UTF-8 flag says\n"
    "  --no-oem       names are in the ANSI code page, not the OEM one\n"
    "  --oem-cp N     OEM code page of stored names (POSIX default 866)\n"
    "  --ansi-cp N    ANSI code page (POSIX default 1251; 65001 for UTF-8)\n";

const char kProcessOptions[] =
    "  -P PASSWORD    password of encrypted entries; without it a password is\n"
    "                 asked for on the terminal, and an empty answer skips\n"
    "  -v             one line per entry as it is processed\n"
    "  -q             no progress bar\n"
    "  -qq            nothing but errors: no progress bar, no summary line\n";

const char kStatuses[] =
    "exit status: 0 all done, 1 some entries failed, 2 damaged archive or data,\n"
    "3 archive unreadable, 9 no such archive or not a zip archive, 10 bad command\n"
    "line, 11 a mask matched nothing, 50 disk full or write error, 81 unsupported\n"
    "method or encryption, 82 wrong or missing password for every entry.\n";

void CommandHelp(Settings::Command command) {
  switch (command) {
    case Settings::kList:
      std::printf("usage: zarc list [options] ARCHIVE [MASK...] [-x MASK]...\n"
                  "Lists the selected entries, one line each (length, method, packed size,\n"
                  "ratio, date and time, CRC-32, attributes, encryption, name), the archive\n"
                  "comment above them and an entry's comment under its line. Times are local\n"
                  "where the entry keeps them in UTC; a link shows 'l' and its text.\n%s\n"
                  "  --utc          times kept in UTC shown in UTC\n"
                  "  -1             the names alone, one a line\n"
                  "  --json         one JSON object a line for each entry: name, size,\n"
                  "                 packed_size, method, crc32 (hex), time (ISO 8601, UTC),\n"
                  "                 attributes, unix_mode (a number, or null), link_target,\n"
                  "                 encrypted, comment (null when there is none)\n"
                  "  -qq            the entry lines alone, without headings and totals\n%s",
                  kMasks, kNameOptions);
      break;
    case Settings::kTest:
      std::printf("usage: zarc test [options] ARCHIVE [MASK...] [-x MASK]...\n"
                  "Decodes the selected entries and checks their sizes and CRC-32, writing\n"
                  "nothing.\n%s\n%s%s",
                  kMasks, kProcessOptions, kNameOptions);
      break;
    case Settings::kExtract:
      std::printf("usage: zarc extract [options] ARCHIVE [-d DIR] [MASK...] [-x MASK]...\n"
                  "Writes the selected entries under DIR with their times and permissions,\n"
                  "folders' times too, and makes symbolic links of the entries stored as links.\n%s\n"
                  "  -d DIR         extract into DIR (default: the current folder)\n"
                  "  -o             replace existing files without asking\n"
                  "  -n             never replace an existing file\n"
                  "  -u             replace an existing file only when the entry is newer\n"
                  "                 (default: ask on a terminal; without one, keep the\n"
                  "                 file and say so)\n"
                  "  -j             no folders: every file straight into DIR\n"
                  "  -p             write the entries' data to standard output, nothing else\n"
                  "  --keep-damaged write an entry that fails its size or CRC-32 check as it\n"
                  "                 decoded, and name it as damaged (default: remove it)\n"
                  "  --unsafe-links make links whose text is absolute or leads out of DIR\n"
                  "                 (default: such a link is written as a file holding its\n"
                  "                 text, with a warning)\n"
                  "  -X             give files the user and group the archive names (the\n"
                  "                 default when run as root; otherwise a file whose owner\n"
                  "                 cannot be set is named)\n"
                  "%s%s",
                  kMasks, kProcessOptions, kNameOptions);
      break;
  }
  std::printf("\n%s", kStatuses);
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "zarc: %s\n%s", text.c_str(), kUsage);
  return Status::kUsage;
}

bool ParseCommand(const std::u16string& word, Settings::Command& command) {
  if (word == u"list" || word == u"l") command = Settings::kList;
  else if (word == u"test" || word == u"t") command = Settings::kTest;
  else if (word == u"extract" || word == u"x") command = Settings::kExtract;
  else return false;
  return true;
}

// Fills `settings` and the component's name options; -1 to go on, else the
// exit status.
int Parse(const std::vector<std::u16string>& args, Settings& s, za::TZipArchiver& zip) {
  bool list = s.command == Settings::kList, extract = s.command == Settings::kExtract;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string& a = args[i];
    bool more = i + 1 < args.size();
    auto overwrite = [&](Overwrite mode) {
      if (s.overwriteGiven && s.overwrite != mode) return false;
      s.overwrite = mode;
      s.overwriteGiven = true;
      return true;
    };
    if (a == u"-h" || a == u"--help") {
      CommandHelp(s.command);
      return kOk;
    } else if (a == u"-x" && more) {
      s.exclusions.push_back(args[++i]);
    } else if (extract && a == u"-d" && more) {
      zip.SetBaseDir(args[++i]);
    } else if (extract && (a == u"-o" || a == u"-n" || a == u"-u")) {
      if (!overwrite(a == u"-o" ? Overwrite::Always : a == u"-n" ? Overwrite::Never : Overwrite::IfNewer))
        return UsageError("-o, -n and -u exclude each other");
    } else if (extract && a == u"-j") {
      s.junkPaths = true;
    } else if (extract && a == u"--keep-damaged") {
      s.keepDamaged = true;
      zip.SetExtractCorruptedFiles(true);
    } else if (extract && a == u"--unsafe-links") {
      zip.Fidelity().UnsafeLinks = true;
    } else if (extract && a == u"-X") {
      zip.Fidelity().RestoreOwners = true;
    } else if (list && a == u"--utc") {
      s.utc = true;
    } else if (extract && a == u"-p") {
      s.toStdout = true;
    } else if (!list && a == u"-P" && more) {
      s.password = args[++i];
      s.givenPassword = true;
    } else if (!list && a == u"-q") {
      s.progress = false;
    } else if (a == u"-qq") {
      s.progress = s.verbose = false;
      s.quiet = true;
    } else if (list && (a == u"-1" || a == u"--json")) {
      s.listing = a == u"-1" ? Settings::kNames : Settings::kJson;
    } else if (!list && a == u"-v") {
      s.verbose = true;
    } else if (a == u"--setup-names") {
      zip.SetUtf8FlagNames(false);
    } else if (a == u"--no-oem") {
      zip.Options().OEMFileNames = false;
    } else if ((a == u"--oem-cp" || a == u"--ansi-cp") && more) {
      unsigned cp = static_cast<unsigned>(std::strtoul(sys::WideToUtf8(args[++i]).c_str(), nullptr, 10));
      if (cp == 0) return UsageError("bad code page '" + sys::WideToUtf8(args[i]) + "'");
      if (a == u"--oem-cp")
        sys::SetOemCodePage(cp);
      else
        sys::SetAnsiCodePage(cp);
    } else if (a.size() > 1 && a[0] == u'-') {
      return UsageError("unknown option '" + sys::WideToUtf8(a) + "'" + (more ? "" : " or missing value"));
    } else if (s.archive.empty()) {
      s.archive = a;
    } else {
      s.masks.push_back(a);
    }
  }
  if (s.archive.empty()) return UsageError("no archive named");
  if (s.toStdout && s.verbose) return UsageError("-p and -v exclude each other");
  if (s.quiet && s.verbose) return UsageError("-qq and -v exclude each other");
  // Without a terminal to ask, an existing file is the user's until told
  // otherwise.
  if (!s.overwriteGiven) s.overwrite = IsTerminal(StdStream::Input) ? Overwrite::Ask : Overwrite::Never;
  // After all options: --ansi-cp may come after -P.
  if (s.givenPassword) zip.SetPassword(sys::WideToAnsi(s.password));
  return -1;
}

int Run(const std::vector<std::u16string>& args) {
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return Status::kUsage;
  }
  if (args[0] == u"-h" || args[0] == u"--help") {
    std::printf("%s%s\n%s\nzarc COMMAND --help tells a command's options.\n\n%s", kUsage, WriteUsage(), kMasks,
                kStatuses);
    return kOk;
  }
  if (args[0] == u"--version") {
    za::TZipArchiver zip;
    std::string engine = sys::WideToUtf8(zip.CurrentVersion());
    while (!engine.empty() && engine.back() == ' ') engine.pop_back();
    std::printf("zarc %s (archive engine %s)\n", ROVEND_TOOLS_VERSION, engine.c_str());
    return kOk;
  }
  if (int status = RunWriteCommand(args); status >= 0) return status;
  Settings settings;
  if (!ParseCommand(args[0], settings.command)) return UsageError("unknown command '" + sys::WideToUtf8(args[0]) + "'");
  za::TZipArchiver zip;
  // As every other zip tool: a name flagged UTF-8 is UTF-8.
  zip.SetUtf8FlagNames(true);
  zip.SetPaddedEndRecord(true);
  zip.SetExtraMethods(&za::ZAExtraMethods());
  zip.SetOutputAhead(true);
  zip.SetOutputAheadFrom(SmallestFileMadeAhead());
  zip.SetTestAhead(true);
  zip.SetExtractAhead(true);
  zip.SetFastInflate(true);
  zip.SetMappedReads(true);
  // As unzip, 7z and bsdtar: an entry whose local header is not there is
  // damaged, even one with no data to fail its check.
  zip.SetLocalHeadersChecked(true);
  // A local header past the end of the archive fails its entry alone, as
  // unzip and 7z go on with the others.
  zip.SetReadErrorFailsEntry(true);
  // Files come back as they went in, as unzip and bsdtar give them back.
  zip.Fidelity().ExactTimes = true;
  zip.Fidelity().MakeLinks = true;
  zip.Fidelity().DropEmptyComponents = true;
  zip.Fidelity().RestoreOwners = RestoresOwnersByDefault();
  int status = Parse(args, settings, zip);
  if (status >= 0) return status;
  TemporaryFile spool;
  if (settings.archive == u"-") {
    std::string error;
    settings.named = settings.archive;
    if (IsTerminal(StdStream::Input)) return UsageError("standard input is a terminal, not an archive");
    if (!OpenStandardInput(settings.archive, spool, error)) {
      std::fprintf(stderr, "zarc: -: %s\n", error.c_str());
      return Status::kDiskFull;
    }
  }
  LoadOnlyNamed(zip, settings);
  if (settings.command == Settings::kList) return List(zip, settings);
  return Process(zip, settings);
}

}  // namespace

int Main(const std::vector<std::u16string>& args) {
  za::SetZADefaultDialogs(&ZarcDialogs());
  try {
    return Run(args);
  } catch (const za::Exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zarc: %s\n", EngineText(e.Message()).c_str());
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "zarc: out of memory\n");
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "zarc: %s\n", e.what());
  }
  return kSevere;
}

}  // namespace zarc
