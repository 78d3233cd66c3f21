#include "archive/dialogs.h"

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "zip_builder.h"

namespace {

// Without a program's dialogs the engine asks nobody and keeps what is
// there.
struct Unattended {
  Unattended() : saved(&za::ZADefaultDialogs()) { za::SetZADefaultDialogs(nullptr); }
  ~Unattended() { za::SetZADefaultDialogs(saved); }
  za::TZAUserDialogs* saved;
};

TEST(DialogsTest, UnattendedAnswersKeepWhatIsThere) {
  Unattended unattended;
  za::TZAUserDialogs& d = za::ZADefaultDialogs();
  EXPECT_EQ(d.ConfirmFailure(u"failed", true), za::fxaAbort);
  EXPECT_EQ(d.ConfirmFailure(u"failed", false), za::fxaAbort);
  EXPECT_EQ(d.ConfirmOverwrite(u"replace?"), za::TZAUserDialogs::oaNo);
  std::string password = "kept";
  EXPECT_FALSE(d.AskPassword(u"Password", password));
  EXPECT_EQ(password, "kept");
  EXPECT_FALSE(d.ConfirmVolume(u"Insert disk"));
}

TEST(DialogsTest, AnEncryptedEntryWithoutAPasswordIsSkippedUnattended) {
  Unattended unattended;
  za::testing::Archive a;
  a.entries.push_back(za::testing::ClassicEncrypted("secret", "content", "right"));
  std::string bytes = a.Build();
  za::TZABufferStream stream(bytes.data(), bytes.size());
  za::TZipArchiver zip;
  zip.OpenArchive(stream);
  za::TZAMemoryStream out;
  zip.ExtractItemToStream(0, out);  // skipped: no failure, nothing written
  EXPECT_EQ(out.Size(), 0);
}

}  // namespace
