#pragma once
// What the shared model asks of a backend. Each backend (win32/, headless/)
// defines these functions; the build links exactly one.
#include <cstdint>
#include <functional>

#include "ui/controls.h"
#include "ui/dialogs.h"

namespace ui::backend {

void ControlChanged(Control& control, Change what);
void ControlDestroyed(Control& control);
void TimerChanged(Timer& timer);
void TimerDestroyed(Timer& timer);

// Gives `control` the keyboard focus.
void FocusControl(Control& control);

void ShowForm(Form& form);
void RepaintForm(Form& form);
void BringToFront(Form& form);
void DestroyForm(Form& form);

void TitleChanged(const std::string& title);
void RunMessageLoop(Form& mainForm);
void ProcessMessages();
void WaitForMessages(std::uint32_t ms);
void QuitMessageLoop();
// Queues `call` for the UI thread and returns at once.
void PostToUiThread(std::function<void()> call);

DialogResult ShowMessageBox(const std::string& text, const std::string& caption,
                            const MessageBoxOptions& options);
bool ShowPasswordDialog(const std::string& caption, const std::string& prompt, std::string& text);

}  // namespace ui::backend
