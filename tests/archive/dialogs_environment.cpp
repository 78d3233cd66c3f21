// The engine's questions are checked as the setup program asks them: in
// the window toolkit's boxes (headless natively, real windows under Wine).
#include <gtest/gtest.h>

#include "app/archive_dialogs.h"

namespace {

class DialogsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { za::SetZADefaultDialogs(&app::ArchiveDialogs()); }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new DialogsEnvironment);

}  // namespace
