#include "app/form1.h"

#include <cstddef>
#include <cstdint>

#include "app/archive_dialogs.h"
#include "sys/system.h"
#include "ui/application.h"
#include "ui/dialogs.h"

namespace app {
namespace resources {
extern const std::uint8_t form1_dfm[];
extern const std::size_t form1_dfm_size;
}  // namespace resources

const char kAdministratorWarning[] =
    "Корневые сертификаты не будут установлены.\r\nЗапустите программу от имени администратора.";

namespace {

template <typename T>
T* Require(ui::Form& form, const char* name) {
  T* component = form.Find<T>(name);
  if (!component) throw ui::DescriptionError(std::string("Window description: ") + name + " is missing");
  return component;
}

std::string_view StoredDescription() {
  return {reinterpret_cast<const char*>(resources::form1_dfm), resources::form1_dfm_size};
}

}  // namespace

ArchiverComponent::ArchiverComponent(const ui::ObjectDescription& description) : ui::Component(description.name) {
  archiver.SetName(std::u16string(description.name.begin(), description.name.end()));
  archiver.SetDialogs(&ArchiveDialogs());
  for (const auto& [name, value] : description.properties) {
    // The place of a non-visual component on the form at design time.
    if (name == "Left" || name == "Top") continue;
    std::string text;
    switch (value.kind) {
      case ui::PropertyValue::Kind::Integer: text = std::to_string(value.integer); break;
      case ui::PropertyValue::Kind::Identifier: text = value.text; break;
      case ui::PropertyValue::Kind::String: text = "'" + value.text + "'"; break;
      default: text.clear(); break;
    }
    if (text.empty() || !archiver.SetPublishedProperty(name, text))
      throw ui::DescriptionError("Window description: " + description.name + "." + name + " cannot be set");
  }
}

TForm1::TForm1(sys::System& system) : TForm1(system, StoredDescription()) {}

TForm1::TForm1(sys::System& system, std::string_view description) : system_(system) {
  ui::FormBindings bindings;
  bindings.handlers = {
      {"FormActivate", [this] { FormActivate(); }},
      {"FormClose", [this] { FormClose(); }},
      {"Button1Click", [this] { Button1Click(); }},
      {"Timer1Timer", [this] { Timer1Timer(); }},
  };
  bindings.componentClasses["TZipArchiver"] = [](const ui::ObjectDescription& d) {
    return std::make_unique<ArchiverComponent>(d);
  };
  form_ = ui::BuildForm(ui::ParseDescription(description), bindings);
  ui::Form& f = *form_;
  Button1 = Require<ui::Button>(f, "Button1");
  CheckBox1 = Require<ui::CheckBox>(f, "CheckBox1");
  CheckBox2 = Require<ui::CheckBox>(f, "CheckBox2");
  CheckBox3 = Require<ui::CheckBox>(f, "CheckBox3");
  ZipArchiver1 = &Require<ArchiverComponent>(f, "ZipArchiver1")->archiver;
  Panel1 = Require<ui::Panel>(f, "Panel1");
  Timer1 = Require<ui::Timer>(f, "Timer1");
  Image1 = Require<ui::Image>(f, "Image1");
  Bevel1 = Require<ui::Bevel>(f, "Bevel1");
  Bevel2 = Require<ui::Bevel>(f, "Bevel2");
  Bevel3 = Require<ui::Bevel>(f, "Bevel3");
  Bevel4 = Require<ui::Bevel>(f, "Bevel4");
  Image2 = Require<ui::Image>(f, "Image2");
  Image3 = Require<ui::Image>(f, "Image3");
  Image4 = Require<ui::Image>(f, "Image4");
  Image5 = Require<ui::Image>(f, "Image5");
  Label1 = Require<ui::Label>(f, "Label1");
}

TForm1::~TForm1() = default;

std::string TForm1::WorkingFolder() const { return AppDataPath + "\\tempEE\\"; }

void TForm1::FormActivate() {
  if (startupStarted_) return;
  startupStarted_ = true;
  AppDataPath = system_.GetSpecialFolder(sys::kFolderAppData);
  WindowsPath = system_.GetSpecialFolder(sys::kFolderWindows);
  if (!system_.IsUserAnAdmin())
    ui::ShowMessageBox(kAdministratorWarning, ui::Application::Instance().Title(),
                       {ui::DialogIcon::None, ui::DialogButtons::Ok});
  Panel1->Show();
  form_->Repaint();
  UnpackPayload(AppDataPath);
  Panel1->Hide();
}

void TForm1::Button1Click() {
  if (running_) return;
  running_ = true;
  // The button is given back as it was, also when a task raises.
  const bool enabled = Button1->Enabled();
  const bool focused = form_->ActiveControl() == Button1;
  Button1->SetEnabled(false);
  struct Restore {
    TForm1& form;
    bool enabled, focused;
    ~Restore() {
      form.Button1->SetEnabled(enabled);
      if (focused && !form.form_->Closed()) form.form_->FocusControl(*form.Button1);
      form.running_ = false;
    }
  } restore{*this, enabled, focused};
  RunTasks();
}

void TForm1::RunTasks() {
  ++presses_;
  InstallerResult = 0;
  installer_.reset();
  package_.reset();
  Image1->Hide();
  Image2->Hide();
  Image3->Hide();
  Image4->Hide();
  Timer1->SetEnabled(false);
  if (CheckBox2->Checked()) CapicomTask();
  if (CheckBox1->Checked()) CertificateTask();
  if (CheckBox3->Checked()) BrowserTask();
}

void TForm1::Timer1Timer() {
  if (system_.IsProcessRunning("msiexec.exe", false)) {
    Image4->Show();
    Image2->Hide();
    return;
  }
  Image4->Hide();
  // More than 32: the shell reported a successful launch of the installer;
  // only the installer's own status tells that it installed.
  if (InstallerResult > 32 && InstallerSucceeded())
    Image2->Show();
  else
    Image2->Hide();
}

void TForm1::FormClose() {
  // Let go of what is held, so that only what others still use stays.
  package_.reset();
  if (workingFolderSetUp_) system_.DeleteFolder(WorkingFolder());
}

}  // namespace app
