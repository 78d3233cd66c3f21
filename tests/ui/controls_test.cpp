// The model of the controls on the headless backend: where the keyboard
// focus goes.
#include "ui/controls.h"

#include <gtest/gtest.h>

#include "ui/dialogs.h"
#include "ui/headless.h"

namespace ui {
namespace {

TEST(FormFocus, TheFirstTabStopTakesItAndTheLastOneGetsItBackAfterABox) {
  headless::Reset();
  Form form("Form");
  // Made in another order than the tab order; the panel is no tab stop itself.
  auto& panel = form.Add<Panel>("Panel", &form);
  auto& inner = form.Add<CheckBox>("Inner", &panel);
  auto& box = form.Add<CheckBox>("Box", &form);
  auto& button = form.Add<Button>("Button", &form);
  panel.tabOrder = 0, inner.tabOrder = 0, button.tabOrder = 1, box.tabOrder = 2;
  panel.Hide();
  EXPECT_EQ(headless::FocusedControl(), nullptr);
  form.ShowWindow();
  EXPECT_EQ(headless::FocusedControl(), &button) << "the hidden panel's box is passed over";

  form.FocusControl(box);
  ShowMessageBox("text", "caption");
  EXPECT_EQ(headless::FocusedControl(), &box);

  // A control that can no longer take it hands it to the first that can.
  box.SetEnabled(false);
  panel.Show();
  ShowMessageBox("text", "caption");
  EXPECT_EQ(headless::FocusedControl(), &inner);
  EXPECT_EQ(form.ActiveControl(), &inner);
}

}  // namespace
}  // namespace ui
