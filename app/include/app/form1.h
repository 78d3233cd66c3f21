#pragma once
// The setup window: its controls, its state and its four event handlers.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "archive/archiver.h"
#include "ui/controls.h"
#include "ui/form_description.h"

namespace sys {
class HeldFile;
class Registry;
class Process;
struct MessagePump;
class System;
}

namespace app {

struct UnattendedOptions;

// The archive component as the window owns it, made from its stored
// property values.
class ArchiverComponent final : public ui::Component {
 public:
  explicit ArchiverComponent(const ui::ObjectDescription& description);
  za::TZipArchiver archiver;
};

class TForm1 {
 public:
  // Makes the window from the stored description; the services are those of
  // the platform, or a test's fake.
  explicit TForm1(sys::System& system);
  TForm1(sys::System& system, std::string_view description);
  ~TForm1();

  ui::Form& Form() { return *form_; }

  // Components, in declared order.
  ui::Button* Button1;
  ui::CheckBox* CheckBox1;
  ui::CheckBox* CheckBox2;
  ui::CheckBox* CheckBox3;
  za::TZipArchiver* ZipArchiver1;
  ui::Panel* Panel1;
  ui::Timer* Timer1;
  ui::Image* Image1;
  ui::Bevel* Bevel1;
  ui::Bevel* Bevel2;
  ui::Bevel* Bevel3;
  ui::Bevel* Bevel4;
  ui::Image* Image2;
  ui::Image* Image3;
  ui::Image* Image4;
  ui::Image* Image5;
  ui::Label* Label1;

  // State. Paths are UTF-8, as every text of the program.
  std::string WindowsPath;
  std::string AppDataPath;
  std::int32_t InstallerResult = 0;

  // Handlers.
  void FormActivate();
  void Button1Click();
  void Timer1Timer();
  void FormClose();

  // The working folder: the application-data folder followed by "\tempEE\".
  std::string WorkingFolder() const;

  // The unattended run: the start-up sequence, the chosen tasks, a wait for
  // the programs they started and the close, with no window and no box;
  // each step goes to `note`. Returns the exit status (app/unattended.h).
  int RunUnattended(const UnattendedOptions& options, std::function<void(const std::string&)> note);

 private:
  void UnpackPayload(const std::string& appDataPath);
  // The three tasks of a press, run in this order when their boxes are ticked.
  void CapicomTask();
  void CertificateTask();
  void BrowserTask();
  // Writes a value of the browser task, noted for the log.
  void Write(sys::Registry& registry, const std::string& name, std::int32_t data);
  // True once the installer launched by the last press has ended with one of
  // Windows Installer's success statuses.
  bool InstallerSucceeded();
  // The window's message loop, for waits that keep the window responsive.
  sys::MessagePump Pump();
  // The file `name` of the working folder, held (see sys::HeldFile), when it
  // holds exactly what extraction wrote there; else null. The program runs
  // elevated, and anyone without elevation can write to the working folder.
  std::unique_ptr<sys::HeldFile> HoldUnpacked(const std::string& name);
  // The file at `path`, held, when it holds exactly what extraction wrote
  // as `name`; else null.
  std::unique_ptr<sys::HeldFile> HoldAsUnpacked(const std::string& path, const std::string& name);
  // The ticked tasks of one press.
  void RunTasks();
  // A step of an unattended run, for its log.
  void Note(const std::string& line) {
    if (note_) note_(line);
  }

  sys::System& system_;
  std::unique_ptr<ui::Form> form_;
  // The start-up sequence runs once: the window is activated again each time
  // one of its own message boxes closes.
  bool startupStarted_ = false;
  // Set once the start-up sequence has set up the working folder under a
  // known application-data folder; only then does closing delete it.
  bool workingFolderSetUp_ = false;
  // What extraction wrote, by file name in lower case.
  struct Unpacked {
    std::uint64_t size;
    za::TZASha256::Digest digest;
  };
  std::map<std::u16string, Unpacked> unpacked_;
  // The installer launched by the last press, whose status decides Image2,
  // and its package, held until it has ended.
  std::unique_ptr<sys::Process> installer_;
  std::unique_ptr<sys::HeldFile> package_;
  // The CAPICOM files of the last press were all our own.
  bool capicomIntact_ = false;
  // Counts presses: a task that waited while messages flowed must not mark
  // a press that a newer one has replaced.
  unsigned presses_ = 0;
  // A press is being handled: the waits let further clicks through, and a
  // second run over the first would start every program twice.
  bool running_ = false;
  // An unattended run: no window is shown and no box, and what the boxes
  // would say goes to note_.
  bool quiet_ = false;
  std::function<void(const std::string&)> note_;
};

// The administrator warning, shown at start-up to other users.
extern const char kAdministratorWarning[];

}  // namespace app
