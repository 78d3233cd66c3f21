// Password boxes on the headless backend, as the engine's tests rely on them.
#include "ui/dialogs.h"

#include <gtest/gtest.h>

#include <string>

#include "ui/headless.h"

namespace ui {
namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(PasswordDialog, WithoutAResponderTheBoxIsCancelledAndTheTextKept) {
  headless::Reset();
  std::string text = "kept";
  EXPECT_FALSE(ShowPasswordDialog("Password for \"a\"", "Enter password: ", text));
  EXPECT_EQ(text, "kept");
  ASSERT_EQ(headless::ShownPasswordDialogs().size(), 1u);
  EXPECT_EQ(headless::ShownPasswordDialogs()[0].caption, "Password for \"a\"");
  EXPECT_EQ(headless::ShownPasswordDialogs()[0].prompt, "Enter password: ");
  EXPECT_EQ(headless::ShownPasswordDialogs()[0].text, "kept");
  EXPECT_TRUE(headless::ShownDialogs().empty());
}

TEST(PasswordDialog, TheResponderTypesAndTheBoxKeepsAtMost255Characters) {
  headless::Reset();
  int asked = 0;
  headless::SetPasswordResponder([&](const headless::PasswordDialogRecord& box) -> std::optional<std::string> {
    switch (asked++) {
      case 0: return box.text + "!";
      case 1: return Repeat("я", 300);  // two bytes a character: the limit counts characters
      default: return std::nullopt;
    }
  });
  std::string text = "first";
  EXPECT_TRUE(ShowPasswordDialog("c", "p", text));
  EXPECT_EQ(text, "first!");
  EXPECT_TRUE(ShowPasswordDialog("c", "p", text));
  EXPECT_EQ(text, Repeat("я", 255));
  EXPECT_FALSE(ShowPasswordDialog("c", "p", text));
  EXPECT_EQ(text, Repeat("я", 255));
  ASSERT_EQ(headless::ShownPasswordDialogs().size(), 3u);
  EXPECT_EQ(headless::ShownPasswordDialogs()[1].text, "first!");

  headless::Reset();
  EXPECT_TRUE(headless::ShownPasswordDialogs().empty());
  EXPECT_FALSE(ShowPasswordDialog("c", "p", text));  // the responder is gone too
}

}  // namespace
}  // namespace ui
