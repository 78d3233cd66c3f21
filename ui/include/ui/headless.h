#pragma once
// Test driver of the headless backend: it plays the user and the window
// system (activation, clicks, timer ticks, closing) and answers message boxes.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/dialogs.h"

namespace ui::headless {

struct DialogRecord {
  std::string text;
  std::string caption;
  MessageBoxOptions options;
};

// Every box shown since the last Reset, in order.
const std::vector<DialogRecord>& ShownDialogs();
// Answers the boxes; without a responder every box answers Ok (or the first
// button of its set).
void SetDialogResponder(std::function<DialogResult(const DialogRecord&)> responder);
struct PasswordDialogRecord {
  std::string caption;
  std::string prompt;
  std::string text;  // what the edit box started with
};

// Every password box shown since the last Reset, in order.
const std::vector<PasswordDialogRecord>& ShownPasswordDialogs();
// Answers password boxes: a text is typed and OK pressed (the box keeps at
// most 255 characters of it), no text is Cancel. Without a responder every
// box is cancelled.
void SetPasswordResponder(std::function<std::optional<std::string>(const PasswordDialogRecord&)> responder);
// Forgets shown boxes, the responders and pending calls.
void Reset();

// The control with the keyboard focus; null while a box is open or before
// a form has been shown.
Control* FocusedControl();

// How many times each form was painted through Repaint.
int RepaintCount(const Form& form);

// The colour depth the screen reports (32 unless set).
void SetScreenColorBits(int bits);
// The pixels per inch the screen reports (96 unless set).
void SetScreenPixelsPerInch(int dpi);

// What a form or panel shows of its images: its surface in its colour,
// with every visible image child painted into its box as the Win32 backend
// paints it. Bevels and labels are left out.
Bitmap32 PaintImages(Control& container);

}  // namespace ui::headless
