// The CAPICOM task and the certificate task: copies and programs started
// from the unpacked payload. Their marks are all the user learns of them, so
// a mark shows only when the programs we started said they succeeded. Each
// file is used only while it is held and still what extraction wrote: the
// program runs elevated in a folder that anyone without elevation can write.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "app/form1.h"
#include "sys/system.h"
#include "ui/application.h"

namespace app {
namespace {

// Puts a path in double quotes for a command line. The application-data
// folder may hold blanks ("C:\Documents and Settings\..."), and unquoted the
// command line would be split there, so the tool would get the store file
// in pieces and import nothing.
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The certificate tool imports two small stores in moments; one that has
// not ended after this long is not going to report success.
constexpr std::int32_t kCertificateWaitMs = 3 * 60 * 1000;

// Windows Installer's statuses that mean installed: done, and done but a
// restart is needed (ERROR_SUCCESS_REBOOT_REQUIRED, _INITIATED).
bool InstallerSuccess(std::uint32_t status) { return status == 0 || status == 3010 || status == 1641; }

bool EndedWith(sys::Process& process, std::uint32_t expected) {
  const auto status = process.ExitStatus();
  return status && *status == expected;
}

}  // namespace

sys::MessagePump TForm1::Pump() {
  ui::Application& application = ui::Application::Instance();
  return {[&application] { application.ProcessMessages(); },
          [&application](std::uint32_t ms) { application.WaitForMessages(ms); },
          [this] { return form_->Closed(); }};
}

bool TForm1::InstallerSucceeded() {
  if (!installer_) return false;
  const auto status = installer_->ExitStatus();
  if (!status) return false;
  package_.reset();  // the installer is done with it
  return capicomIntact_ && InstallerSuccess(*status);
}

void TForm1::CapicomTask() {
  Timer1->SetEnabled(true);
  const std::string work = WorkingFolder();
  capicomIntact_ = true;
  for (const std::string name : {"capicom.inf", "capicom.dll"}) {
    const std::string source = work + name, target = WindowsPath + "\\syswow64\\" + name;
    // Held until the copy is done. A file already in place is never
    // replaced, so it counts only when it is ours byte for byte: an older
    // library there, or no such folder (32-bit Windows), is no installation.
    const std::unique_ptr<sys::HeldFile> held = HoldUnpacked(name);
    const bool copied = held && system_.CopyFile(source, target, true);
    const bool ours = held && !copied && HoldAsUnpacked(target, name);
    if (!copied && !ours) capicomIntact_ = false;
    Note(!held    ? "not copied: " + source + " is not the file unpacked"
         : copied ? "copied " + source + " to " + target
         : ours   ? "not copied: " + target + " is already the file unpacked"
                  : "copy failed: " + source + " to " + target + " (a file there is never replaced)");
  }
  const std::string parameters = "/qb-! INSTALLDIR=\"" + WindowsPath + "\\system32\"";
  const std::string package = work + "capicom2.msi";
  package_ = HoldUnpacked("capicom2.msi");
  if (package_) {
    InstallerResult =
        system_.ShellExecute(form_->native, "open", package, parameters, "", sys::kShowHidden, &installer_);
    Note("opened " + package + " " + parameters + ": the shell answered " + std::to_string(InstallerResult) +
         (InstallerResult > 32 ? "" : " (not started)"));
  } else {
    capicomIntact_ = false;
    Note("not started: " + package + " is not the file unpacked");
  }
  system_.Delay(1500, Pump());
  // Not to be left behind the installer's progress window.
  if (!quiet_) form_->BringToFront();
}

void TForm1::CertificateTask() {
  const std::string work = WorkingFolder();
  const std::string tool = Quoted(work + "certmgr.exe");
  // Held until both runs have ended (or the wait is given up).
  const std::unique_ptr<sys::HeldFile> heldTool = HoldUnpacked("certmgr.exe");
  if (!heldTool) return Note("not started: " + work + "certmgr.exe is not the file unpacked");
  const std::unique_ptr<sys::HeldFile> rootStore = HoldUnpacked("rootsert.sst");
  const std::unique_ptr<sys::HeldFile> intermediateStore = HoldUnpacked("casert.sst");
  // Both start before either is waited for, as they always have.
  std::unique_ptr<sys::Process> root, intermediate;
  const auto start = [&](const std::unique_ptr<sys::HeldFile>& store, const std::string& line,
                         std::unique_ptr<sys::Process>& process) -> std::uint32_t {
    if (!store) {
      Note("not started: " + line + " (its store is not the file unpacked)");
      return 0;
    }
    const std::uint32_t started = system_.WinExec(line, sys::kShowHidden, &process);
    Note("started " + line + ": " + (started > 31 ? "running" : "not started (" + std::to_string(started) + ")"));
    return started;
  };
  const std::string rootLine = tool + " /add /all /c " + Quoted(work + "rootsert.sst") + " -s Root -r localMachine";
  const std::string intermediateLine = tool + " /add /all /c " + Quoted(work + "casert.sst") + " -s CA -r localMachine";
  const std::uint32_t rootStarted = start(rootStore, rootLine, root);
  const std::uint32_t intermediateStarted = start(intermediateStore, intermediateLine, intermediate);
  if (rootStarted <= 31 || intermediateStarted <= 31 || !root || !intermediate) return;
  const unsigned press = presses_;
  // Done once both have ended, or as soon as one has failed; an unattended
  // run waits for both, whose tool must not be in use when it cleans up.
  const bool done = system_.WaitUntil(
      [&] {
        const auto a = root->ExitStatus();
        const auto b = intermediate->ExitStatus();
        return (a && b) || (!quiet_ && ((a && *a != 0) || (b && *b != 0)));
      },
      kCertificateWaitMs, Pump());
  for (auto [line, process] : {std::pair{&rootLine, root.get()}, std::pair{&intermediateLine, intermediate.get()}}) {
    const auto status = process->ExitStatus();
    Note(status ? *line + ": ended with status " + std::to_string(*status) : *line + ": still running, not waited for");
  }
  if (done && press == presses_ && EndedWith(*root, 0) && EndedWith(*intermediate, 0)) Image1->Show();
}

}  // namespace app
