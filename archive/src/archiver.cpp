#include "archive/archiver.h"

#include <charconv>
#include <exception>
#include <cstdio>

#include "decoder.h"
#include "entry_reader.h"
#include "paths.h"
#include "sys/codepage.h"
#include "sys/wide_file.h"

namespace za {

// Backslash and colon as on Windows; the slash too, for POSIX paths.
std::u16string_view ZAFileNamePart(std::u16string_view path) { return paths::NamePart(path, paths::kAnyCuts); }

namespace {

// What closing a new archive leaves: an end record and nothing else.
void WriteEmptyDirectory(TZAStream& stream) {
  std::uint8_t bytes[EndOfCentralDirectory::kSize];
  EndOfCentralDirectory end;
  end.Signature = kEndRecordSignature;
  end.Store(bytes);
  stream.SetPosition(0);
  stream.WriteBuffer(bytes, sizeof bytes);
}

}  // namespace

std::int64_t TZASpanningOptions::VolumeSizeBytes() const {
  switch (VolumeSize) {
    case vsAutoDetect: return -1;
    case vsCustom: return customVolumeSize_;
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
    case vs4700MB: return 4928307200LL;
  }
  return -1;
}

// ---- TZABaseArchiver

TZABaseArchiver::TZABaseArchiver() = default;

TZABaseArchiver::~TZABaseArchiver() {
  try {
    CloseArchive();
  } catch (...) {
  }
}

void TZABaseArchiver::SetCompressionLevel(TZACompressionLevel level) {
  compressionLevel_ = level;
  switch (level) {
    case clNone: compressionMode_ = 0; break;
    case clFastest: compressionMode_ = 1; break;
    case clNormal: compressionMode_ = 6; break;
    case clMax: compressionMode_ = 9; break;
  }
}

void TZABaseArchiver::SetCompressionMode(std::uint8_t mode) {
  if (mode > 9) throw EZAException(neCompressionMode, this);
  compressionMode_ = mode;
  compressionLevel_ = mode == 0 ? clNone : mode <= 3 ? clFastest : mode <= 6 ? clNormal : clMax;
}

std::u16string TZABaseArchiver::CurrentVersion() const {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", 5.01);
  std::string s(text);
  for (char& c : s)
    if (c == ',') c = '.';
  s += " ";  // a blank and an empty edition suffix
  return std::u16string(s.begin(), s.end());
}

void TZABaseArchiver::SetSpanningMode(TZASpanningMode mode) {
  if (open_) throw Exception(u"Cannot set spanning mode on open archive");
  spanningMode_ = mode;
}

const TDirItem& TZABaseArchiver::Item(std::int32_t index) const {
  if (!dirManager_ || !open_) throw EZAException(neArchiveNotOpen, this);
  return dirManager_->Items.GetItem(index);
}

void TZABaseArchiver::OpenArchive() {
  if (!inMemory_ && ZAFileNamePart(fileName_).empty()) throw EZAException(neBlankFileName, this);
  std::uint16_t mode;
  if (inMemory_ || !VolumeExists(fileName_)) {
    mode = kZAModeCreate;
  } else {
    sys::WideFile probe;
    if (ZAOpenFile(probe, fileName_, kZAModeReadWrite)) {
      probe.Close();
      mode = kZAModeReadWrite;
    } else {
      mode = kZAModeReadOnly;
    }
  }
  OpenArchive(mode);
}

void TZABaseArchiver::OpenArchive(std::uint16_t mode) {
  if (!inMemory_ && ZAFileNamePart(fileName_).empty()) throw EZAException(neBlankFileNameMode, this);
  if (mode != kZAModeCreate && !VolumeExists(fileName_) && spanningMode_ != smSpanning &&
      !OnRemovableMedia(fileName_))
    throw EZAException(neArchiveNotFound, this, {fileName_});
  if (mode != kZAModeCreate && inMemory_) throw EZAException(neInMemoryFromFile, this);
  CloseArchive();
  openMode_ = mode;
  if (mode == kZAModeCreate || inMemory_) {
    // Held in memory until the first commit writes the file whole.
    if (inMemory_ || createOnCommit_)
      stream_.Own(std::make_unique<TZAMemoryStream>());
    else
      stream_.Own(std::make_unique<TZAFileStream>(fileName_, fmCreate));
    dirManager_ = MakeDirManager(true, false);
  } else {
    OpenExisting(mode);
  }
  open_ = true;
  if (AfterOpen) AfterOpen(this);
}

void TZABaseArchiver::OpenArchive(TZAStream& stream, bool create) {
  CloseArchive();
  stream_.Borrow(stream);
  openMode_ = create ? kZAModeCreate : kZAModeReadWrite;
  if (create) {
    dirManager_ = MakeDirManager(true, true);
  } else {
    OpenExisting(0);
  }
  open_ = true;
  if (AfterOpen) AfterOpen(this);
}

// Volume probe and directory load: over the archive's files, or over the
// caller's stream (which is taken as an archive in one piece).
void TZABaseArchiver::OpenExisting(std::uint16_t mode) {
  spanningMode_ = smNone;
  bool savedRepair = repair_;
  repair_ = false;
  bool found;
  try {
    if (!stream_.Borrowed()) {
      found = ProbeVolumes(mode);
    } else {
      std::int32_t last;
      found = CheckEnd(last);
    }
  } catch (...) {
    repair_ = savedRepair;
    throw;
  }
  repair_ = savedRepair;
  if (!found && !repair_) {
    ReleaseArchive();
    throw EZAException(neArchiveDamaged, this);
  }
  dirManager_->Options.Repair = repair_;  // the probe ran without it
  dirManager_->LoadDirectory();
}

void TZABaseArchiver::ReleaseArchive() {
  dirManager_.reset();
  volumes_ = nullptr;
  if (entryReader_) entryReader_->Forget();
  stream_.Reset();
}

void TZABaseArchiver::CloseArchive() {
  // The archive is always released; a pending update that could not be
  // committed is then still reported, so that lost changes never pass for
  // saved ones (the archive itself is left as it was).
  std::exception_ptr failed;
  if (open_) {
    if (updateLevel_ > 0) {
      updateLevel_ = 1;
      try {
        EndUpdate();
      } catch (...) {
        failed = std::current_exception();
      }
      updateLevel_ = 0;
    }
    try {
      if (stream_ && stream_->Size() == 0) WriteEmptyDirectory(*stream_);
    } catch (...) {
    }
    open_ = false;
  }
  ReleaseArchive();
  if (failed) std::rethrow_exception(failed);
}

void TZABaseArchiver::SetInMemory(bool value) {
  if (value == inMemory_) return;
  if (open_) {
    if (inMemory_) {
      if (ZAFileNamePart(fileName_).empty()) throw EZAException(neBlankFileNameInMemory, this);
      {
        if (stream_->Size() == 0) WriteEmptyDirectory(*stream_);
        TZAFileStream file(fileName_, fmCreate);
        file.CopyFrom(*stream_, 0);
      }
      CloseArchive();
      inMemory_ = false;
      OpenArchive();
      return;
    }
    CloseArchive();
    inMemory_ = true;
    OpenArchive();
    return;
  }
  inMemory_ = value;
}

// ---- published properties by name

namespace {

bool ParseBool(std::string_view v, bool& out) {
  if (v == "True" || v == "true") return out = true, true;
  if (v == "False" || v == "false") return out = false, true;
  return false;
}

bool ParseInt(std::string_view v, std::int64_t& out) {
  if (!v.empty() && v[0] == '$') {  // hexadecimal, as written in a form
    auto r = std::from_chars(v.data() + 1, v.data() + v.size(), out, 16);
    return r.ec == std::errc() && r.ptr == v.data() + v.size();
  }
  auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

template <class E, std::size_t N>
bool ParseEnum(std::string_view v, const char* const (&names)[N], E& out) {
  for (std::size_t i = 0; i < N; ++i)
    if (v == names[i]) {
      out = static_cast<E>(i);
      return true;
    }
  return false;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') return v.substr(1, v.size() - 2);
  return v;
}

const char* const kLevels[] = {"clNone", "clFastest", "clNormal", "clMax"};
const char* const kSpanning[] = {"smNone", "smSpanning", "smSplitting"};
const char* const kVolumeSizes[] = {"vsAutoDetect", "vsCustom", "vs1_44MB", "vs100MB", "vs200MB",
                                    "vs250MB",      "vs600MB",  "vs650MB",  "vs700MB", "vs4700MB"};
const char* const kStorePath[] = {"spNoPath", "spRelativePath", "spFullPath", "spFullPathWithDrive"};
const char* const kShare[] = {"smShareCompat", "smShareExclusive", "smShareDenyWrite", "smShareDenyRead",
                              "smShareDenyNone"};
const char* const kOverwrite[] = {"omPrompt", "omAlways", "omNever", "omIfNewer", "omIfOlder"};
const char* const kZip64[] = {"zmDisabled", "zmAuto", "zmAlways"};
const char* const kCrypto[] = {"caPkzipClassic", "caAES_128", "caAES_192", "caAES_256"};

}  // namespace

bool TZABaseArchiver::SetPublishedProperty(std::string_view name, std::string_view value) {
  bool b;
  std::int64_t n;
  std::u16string text = sys::Utf8ToWide(Unquote(value));
  auto* zip = dynamic_cast<TZipArchiver*>(this);
  if (name == "Name") return SetName(text), true;
  if (name == "ExtractCorruptedFiles") return ParseBool(value, b) && (SetExtractCorruptedFiles(b), true);
  if (name == "CompressionLevel") {
    TZACompressionLevel l;
    return ParseEnum(value, kLevels, l) && (SetCompressionLevel(l), true);
  }
  if (name == "CompressionMode") {
    if (!ParseInt(value, n) || n < 0 || n > 255) return false;
    SetCompressionMode(static_cast<std::uint8_t>(n));
    return true;
  }
  if (name == "CurrentVersion") return SetCurrentVersion(text), true;
  if (name == "Password") return SetPassword(std::string(Unquote(value))), true;
  if (name == "FileName") return SetFileName(text), true;
  if (name == "BaseDir") return SetBaseDir(text), true;
  if (name == "TempDir") return SetTempDir(text), true;
  if (name == "SFXStub") return SetSFXStub(text), true;
  if (name == "SpanningMode") {
    TZASpanningMode m;
    return ParseEnum(value, kSpanning, m) && (SetSpanningMode(m), true);
  }
  if (name == "SpanningOptions.AdvancedNaming") return ParseBool(value, spanningOptions_.AdvancedNaming);
  if (name == "SpanningOptions.FirstVolumeSize") return ParseInt(value, spanningOptions_.FirstVolumeSize);
  if (name == "SpanningOptions.VolumeSize") return ParseEnum(value, kVolumeSizes, spanningOptions_.VolumeSize);
  if (name == "SpanningOptions.CustomVolumeSize")
    return ParseInt(value, n) && (spanningOptions_.SetCustomVolumeSize(n), true);
  if (name == "Options.Recurse") return ParseBool(value, options_.Recurse);
  if (name == "Options.StorePath") return ParseEnum(value, kStorePath, options_.StorePath);
  if (name == "Options.ShareMode") return ParseEnum(value, kShare, options_.ShareMode);
  if (name == "Options.OverwriteMode") return ParseEnum(value, kOverwrite, options_.OverwriteMode);
  if (name == "Options.CreateDirs") return ParseBool(value, options_.CreateDirs);
  if (name == "Options.ReplaceReadOnly") return ParseBool(value, options_.ReplaceReadOnly);
  if (name == "Options.SetAttributes") return ParseBool(value, options_.SetAttributes);
  if (name == "Options.SearchAttr") {
    if (!ParseInt(value, n)) return false;
    options_.SearchAttr = static_cast<std::int32_t>(n);
    return true;
  }
  if (name == "Options.FlushBuffers") return ParseBool(value, options_.FlushBuffers);
  if (name == "Options.OEMFileNames") return ParseBool(value, options_.OEMFileNames);
  if (name == "InMemory") return ParseBool(value, b) && (SetInMemory(b), true);
  if (zip) {
    if (name == "Zip64Mode") {
      TZip64Mode m;
      return ParseEnum(value, kZip64, m) && (zip->SetZip64Mode(m), true);
    }
    if (name == "UnicodeFilenames") return ParseBool(value, b) && (zip->SetUnicodeFilenames(b), true);
    if (name == "EncryptionMethod") {
      TZACryptoAlgorithm c;
      return ParseEnum(value, kCrypto, c) && (zip->SetEncryptionMethod(c), true);
    }
  }
  return false;
}

// ---- TZipArchiver

TZipArchiver::TZipArchiver() {
  zip64Mode_ = zmDisabled;
  useEncryptionMethod_ = true;
  unicodeFilenames_ = true;
  encryptionMethod_ = caPkzipClassic;
}

void TZipArchiver::SetPassword(std::string_view password) {
  if (Password().empty()) encryptionMethod_ = caPkzipClassic;
  TZABaseArchiver::SetPassword(password);
}

const TZAStoredProperty kZipArchiver1StoredProperties[] = {
    {"ExtractCorruptedFiles", "False"},
    {"CompressionLevel", "clFastest"},
    {"CompressionMode", "1"},
    {"CurrentVersion", "'5.01 '"},
    {"SpanningMode", "smNone"},
    {"SpanningOptions.AdvancedNaming", "False"},
    {"SpanningOptions.VolumeSize", "vsAutoDetect"},
    {"Options.FlushBuffers", "True"},
    {"Options.OEMFileNames", "True"},
    {"InMemory", "False"},
    {"Zip64Mode", "zmDisabled"},
    {"UnicodeFilenames", "True"},
    {"EncryptionMethod", "caPkzipClassic"},
};
const std::size_t kZipArchiver1StoredPropertyCount =
    sizeof kZipArchiver1StoredProperties / sizeof kZipArchiver1StoredProperties[0];

void ApplyZipArchiver1StoredProperties(TZipArchiver& archiver) {
  archiver.SetName(u"ZipArchiver1");
  for (const auto& p : kZipArchiver1StoredProperties) archiver.SetPublishedProperty(p.Name, p.Value);
}

}  // namespace za
