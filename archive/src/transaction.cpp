#include "transaction.h"

#include <chrono>
#include <cstdio>

#include "archive/writer.h"
#include "sys/wide_dir.h"
#include "sys/wide_file.h"

namespace za {

std::u16string TZATransaction::CreateTemp(std::u16string folder, std::unique_ptr<TZAStream>& out) const {
  if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
  auto seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  seed ^= reinterpret_cast<std::uintptr_t>(this);
  const std::u16string prefix = folder + state_.Component().TempFilePrefix();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "%08x.tmp", static_cast<unsigned>((seed >> 7) + attempt * 2654435761u));
    std::u16string name = prefix + std::u16string(tag, tag + std::char_traits<char>::length(tag));
    sys::WideFile file;
    if (file.CreateNew(name)) {
      KeepPermissions(name);
      out = std::make_unique<TZAFileStream>(std::move(file), name);
      return name;
    }
    if (sys::WideFileExists(name)) continue;
    break;
  }
  throw EZAException(neCannotCreateFile, &state_.Component(), {prefix + u"*.tmp"});
}

void TZATransaction::KeepPermissions(const std::u16string& name) const {
  // The new file takes the old archive's place, and with it its permissions
  // from its first byte on: a private archive stays private, also while it
  // is written. (The system's defaults would make it readable by all.)
  sys::WideDirEntry old;
  const std::u16string& archive = state_.Component().FileName();
  if (!archive.empty() && sys::WideStat(archive, old) && (old.UnixMode & 0170000) == 0100000)
    sys::WideSetAttributes(name, (old.UnixMode << 16) | (old.Attributes & 0x20));
}

void TZATransaction::Abandon(std::unique_ptr<TZAStream>& out, const std::u16string& temp) const {
  out.reset();
  if (!temp.empty()) sys::WideDeleteFile(temp);
  state_.ReloadDirectory();
}

void TZATransaction::InstallFile(std::unique_ptr<TZAStream> out, std::u16string temp) const {
  out.reset();
  const std::u16string target = state_.Component().FileName();
  // The archive's own handle must go before its file can be replaced.
  state_.ReleaseArchive(false);
  bool moved = sys::WideReplaceFile(temp, target);
  if (!moved && !state_.Component().TempDir().empty()) {
    // Another volume: copied beside the archive first, so that the
    // replacement itself is still one step.
    std::u16string beside;
    try {
      beside = CopyBeside(temp, target);
    } catch (...) {
      sys::WideDeleteFile(temp);
      state_.Reopen(target);
      throw;
    }
    sys::WideDeleteFile(temp);
    temp = beside;
    moved = sys::WideReplaceFile(temp, target);
  }
  if (!moved) {
    sys::WideDeleteFile(temp);
    state_.Reopen(target);
    throw EZAException(neCannotDeleteFile, &state_.Component(), {target});
  }
  state_.Reopen(target);
}

std::u16string TZATransaction::CopyBeside(const std::u16string& temp, const std::u16string& target) const {
  TZABaseArchiver& a = state_.Component();
  TZAFileStream from(temp, fmOpenRead | fmShareDenyWrite);
  std::unique_ptr<TZAStream> to;
  std::u16string name = CreateTemp(ZAFolderOf(target), to);
  try {
    TZAOutput out(*to);
    const std::int64_t size = from.Size();
    bool cancel = false;
    if (a.OnCopyTempFileProgress) a.OnCopyTempFileProgress(&a, 0.0, ppStart, cancel);
    if (!cancel)
      ZACopyBytes(
          from, static_cast<std::uint64_t>(size), [&](const std::uint8_t* data, std::size_t n) { out.Write(data, n); },
          [&](std::uint64_t done) {
            if (a.OnCopyTempFileProgress)
              a.OnCopyTempFileProgress(&a, 100.0 * static_cast<double>(done) / static_cast<double>(size), ppProcess,
                                       cancel);
            return !cancel;
          });
    if (cancel) throw EZAException(neCannotDeleteFile, &a, {target});
    out.Flush();
    ZAFlushFile(*to);
    if (a.OnCopyTempFileProgress) a.OnCopyTempFileProgress(&a, 100.0, ppEnd, cancel);
  } catch (...) {
    to.reset();
    sys::WideDeleteFile(name);
    throw;
  }
  return name;
}

void TZATransaction::InstallStream(std::unique_ptr<TZAStream> out) const {
  if (!state_.BorrowsArchive()) {
    state_.Adopt(std::move(out));
  } else {
    // The caller's stream gets the new archive in place of the old one.
    TZAStream& target = *state_.Archive();
    target.SetSize(0);
    target.SetPosition(0);
    target.CopyFrom(*out, 0);
  }
  state_.ReloadDirectory();
}

void TZATransaction::DropLayout(std::unique_ptr<TZAStream>& out, const std::u16string& temp) const {
  out.reset();
  if (!temp.empty()) sys::WideDeleteFile(temp);
  state_.ReloadDirectory();
}

void TZATransaction::ReleaseForLayout(std::unique_ptr<TZAStream>& out, const std::u16string& temp) const {
  out.reset();
  if (!temp.empty()) sys::WideDeleteFile(temp);
  state_.ReleaseArchive(true);
}

}  // namespace za
