// The volume probe of OpenArchive and the volumes of split and spanned
// archives: which files make up an archive, and asking for each one when it
// is wanted. The naming schemes are described in archive/volumes.h.
#include <algorithm>

#include "archive/archiver.h"
#include "sys/wide_file.h"

namespace za {

namespace {

const char16_t kInsertFirstDisk[] = u"Please insert the first disk";
const char16_t kInsertLastDisk[] = u"Please insert the last disk";
const char16_t kLastDiskMissing[] = u"File '%s' not found on inserted disk. Please insert last disk with required file";
const char16_t kInsertDisk[] = u"Please insert disk #%d";

// More numbered pieces than this are not looked for one by one.
constexpr std::int32_t kMaxNumberedVolumes = 1000000;

}  // namespace

bool TZABaseArchiver::VolumeExists(const std::u16string& fileName) { return sys::WideFileExists(fileName); }

std::unique_ptr<TZAStream> TZABaseArchiver::OpenVolume(const std::u16string& fileName, std::uint16_t mode) {
  return std::make_unique<TZAFileStream>(fileName, mode);
}

bool TZABaseArchiver::OnRemovableMedia(const std::u16string& fileName) {
  return sys::WideIsRemovableDrive(fileName);
}

void TZABaseArchiver::AdoptStream(std::unique_ptr<TZAStream> stream) {
  dirManager_.reset();
  volumes_ = nullptr;
  stream_.Own(std::move(stream));
}

std::unique_ptr<TZAStream> TZABaseArchiver::TakeStream() {
  dirManager_.reset();
  volumes_ = nullptr;
  return stream_.Release();
}

TZADirOptions TZABaseArchiver::DirOptions() const {
  TZADirOptions options;
  options.OemNames = options_.OEMFileNames;
  options.Utf8FlagNames = utf8FlagNames_;
  options.PaddedEndRecord = paddedEndRecord_;
  options.Repair = repair_;
  options.MultiVolume = volumes_ != nullptr;
  options.KeepEntry = loadFilter_;
  return options;
}

std::unique_ptr<TZADirManager> TZABaseArchiver::MakeDirManager(bool createMode, bool customStream) {
  return std::make_unique<TZADirManager>(stream_.get(), DirOptions(), createMode, customStream,
                                         [this](std::int32_t number) { return SwitchVolume(number); });
}

bool TZABaseArchiver::CheckEnd(std::int32_t& lastVolume) {
  dirManager_ = MakeDirManager(false, stream_.Borrowed());
  bool found = dirManager_->CheckEndRecord();
  lastVolume = found ? dirManager_->EndRecordLastVolume() : 0;
  return found;
}

void TZABaseArchiver::UseVolumes(std::unique_ptr<TZAStream> current, std::int32_t volume, std::int32_t lastVolume) {
  auto volumes = std::make_unique<TZAVolumeStream>(
      [this](std::int32_t number) { return RequestVolume(number, volumes_ && number == volumes_->LastVolume()); });
  volumes->SetLastVolume(lastVolume);
  volumes->Attach(volume, std::move(current));
  TZAVolumeStream* raw = volumes.get();
  AdoptStream(std::move(volumes));
  volumes_ = raw;
}

TZAStream* TZABaseArchiver::SwitchVolume(std::int32_t number) {
  if (!volumes_) {
    if (number == 0 && stream_) return stream_.get();
    throw EZAException(neVolumeRefused, this);
  }
  volumes_->Select(number);
  return stream_.get();
}

// The end record decides. Found in the file named, it reports one volume
// (done), or several: then the others are files beside it (split) or, on
// removable media without such files, the other disks of a spanned set.
// Not found, the file may be an earlier volume of a split set (".z01",
// ".exe": the last volume is the ".zip"), or a disk of a spanned set that
// is not the last. A numbered name ("x.zip.001") is a split set of the
// other scheme from the start.
bool TZABaseArchiver::ProbeVolumes(std::uint16_t mode) {
  std::u16string stem;
  std::uint32_t number;
  // A name such as "report.2024" is a file of its own unless pieces of a
  // set stand beside it: the first, or the one before it.
  if (ZANumberedVolume(fileName_, stem, number) &&
      (number == 1 || VolumeExists(ZANumberedVolumeName(stem, 0)) ||
       VolumeExists(ZANumberedVolumeName(stem, static_cast<std::int32_t>(number) - 2))))
    return ProbeNumbered(stem, number);
  bool removable = OnRemovableMedia(fileName_);
  if (removable && !ZAHasExeExtension(fileName_) && !VolumeExists(fileName_)) return ProbeSpanned(nullptr);
  AdoptStream(OpenVolume(fileName_, mode));
  std::int32_t last;
  if (CheckEnd(last)) {
    if (last == 0) return true;
    if (removable && !VolumeExists(ZASplitVolumeName(fileName_, 0, last))) return ProbeSpanned(TakeStream());
    return ProbeSplit(fileName_, TakeStream());
  }
  std::u16string lastName = ZALastSplitVolumeName(fileName_);
  if (lastName != fileName_ && VolumeExists(lastName)) {
    if (ProbeSplit(lastName, nullptr)) return true;
    AdoptStream(OpenVolume(fileName_, mode));
    CheckEnd(last);
  }
  if (removable) return ProbeSpanned(TakeStream());
  spanningMode_ = smNone;
  return false;
}

bool TZABaseArchiver::ProbeSplit(std::u16string lastName, std::unique_ptr<TZAStream> lastVolume) {
  spanningMode_ = smSplitting;
  spanningOptions_.AdvancedNaming = false;
  volumeNames_ = VolumeNames::Split;
  volumeBase_ = std::move(lastName);
  AdoptStream(lastVolume ? std::move(lastVolume) : OpenVolume(volumeBase_, kZAModeReadOnly));
  std::int32_t last;
  if (!CheckEnd(last) || last == 0) {
    spanningMode_ = smNone;
    return false;
  }
  UseVolumes(TakeStream(), last, last);
  return CheckEnd(last);
}

bool TZABaseArchiver::ProbeSpanned(std::unique_ptr<TZAStream> inserted) {
  spanningMode_ = smSpanning;
  volumeNames_ = VolumeNames::Spanned;
  volumeBase_ = fileName_;
  std::int32_t last = 0;
  bool found = false;
  if (inserted) {
    AdoptStream(std::move(inserted));
    found = CheckEnd(last);
  }
  if (!found) {
    // The disk in the drive is not the last one: it goes out first.
    AdoptStream(nullptr);
    AdoptStream(RequestVolume(-1, true));
    found = CheckEnd(last);
    if (found && last == 0) {
      spanningMode_ = smNone;  // a whole archive on the disk
      return true;
    }
  }
  UseVolumes(TakeStream(), last, last);
  std::int32_t again;
  return CheckEnd(again) && found;
}

bool TZABaseArchiver::ProbeNumbered(const std::u16string& stem, std::uint32_t named) {
  spanningMode_ = smSplitting;
  spanningOptions_.AdvancedNaming = true;
  volumeNames_ = VolumeNames::Numbered;
  volumeBase_ = stem;
  // The pieces there from the first on; the one named counts even when one
  // before it is missing, which is then asked for.
  std::int32_t count = 0;
  while (count < kMaxNumberedVolumes && VolumeExists(ZANumberedVolumeName(stem, count))) ++count;
  count = std::max(count, static_cast<std::int32_t>(std::min<std::uint32_t>(named, kMaxNumberedVolumes)));
  for (;;) {
    std::vector<std::int64_t> sizes;
    sizes.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) sizes.push_back(RequestVolume(i, i == count - 1)->Size());
    AdoptStream(std::make_unique<TZAJoinedStream>(
        [this, count](std::int32_t piece) { return RequestVolume(piece, piece == count - 1); }, std::move(sizes)));
    std::int32_t last;
    if (CheckEnd(last)) {
      if (last == 0) return true;
      // Written volume by volume under numbered names: the end record is in
      // the volume it names as the last.
      AdoptStream(nullptr);
      UseVolumes(RequestVolume(last, true), last, last);
      return CheckEnd(last);
    }
    // Without an end record the set goes on in a piece that is not here.
    if (count >= kMaxNumberedVolumes) return false;
    RequestVolume(count, true);
    ++count;
  }
}

std::u16string TZABaseArchiver::VolumeFileName(std::int32_t number, bool last) const {
  switch (volumeNames_) {
    case VolumeNames::Split: return last ? volumeBase_ : ZASplitVolumeName(volumeBase_, number, number + 1);
    case VolumeNames::Numbered: return ZANumberedVolumeName(volumeBase_, number);
    case VolumeNames::Spanned: break;
  }
  return fileName_;  // every disk of a spanned set holds a file of the same name
}

std::unique_ptr<TZAStream> TZABaseArchiver::RequestVolume(std::int32_t number, bool last) {
  std::u16string name = VolumeFileName(number, last);
  for (bool again = false;; again = true) {
    bool cancel = false;
    if (number == 0 && OnRequestFirstVolume)
      OnRequestFirstVolume(this, name, cancel);
    else if (number != 0 && last && OnRequestLastVolume)
      OnRequestLastVolume(this, name, cancel);
    else if (number != 0 && !last && OnRequestMiddleVolume)
      OnRequestMiddleVolume(this, number + 1, name, cancel);
    else if (spanningMode_ == smSpanning)
      cancel = !AskForDisk(number, last, name, again);
    else
      cancel = !VolumeExists(name);
    if (cancel) throw EZAException(neVolumeRefused, this);
    if (!VolumeExists(name)) continue;
    try {
      return OpenVolume(name, kZAModeReadOnly);
    } catch (const EStreamError&) {
      throw EZAException(neVolumeRefused, this);  // there, but it cannot be read
    }
  }
}

bool TZABaseArchiver::AskForDisk(std::int32_t number, bool last, const std::u16string& fileName, bool again) {
  std::u16string text;
  if (number == 0)
    text = kInsertFirstDisk;
  else if (last)
    text = again ? ZAFormat(kLastDiskMissing, {fileName}) : std::u16string(kInsertLastDisk);
  else
    text = ZAFormat(kInsertDisk, {static_cast<std::int64_t>(number) + 1});
  return Dialogs().ConfirmVolume(text);
}

}  // namespace za
