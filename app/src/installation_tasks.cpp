// The CAPICOM task and the certificate task: copies and programs started
// from the unpacked payload, never waited for; their marks are all the user
// learns of them.
#include "app/form1.h"
#include "sys/system.h"
#include "ui/application.h"

namespace app {
namespace {

// Puts a path in double quotes for a command line. The application-data
// folder may hold blanks ("C:\Documents and Settings\..."), and unquoted the
// command line would be split there, so the tool would get the store file
// in pieces and import nothing while its mark still showed.
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

void TForm1::CapicomTask() {
  Timer1->SetEnabled(true);
  const std::string work = WorkingFolder();
  system_.CopyFile(work + "capicom.inf", WindowsPath + "\\syswow64\\capicom.inf", true);
  system_.CopyFile(work + "capicom.dll", WindowsPath + "\\syswow64\\capicom.dll", true);
  const std::string parameters = "/qb-! INSTALLDIR=\"" + WindowsPath + "\\system32\"";
  const std::string package = work + "capicom2.msi";
  InstallerResult = system_.ShellExecute(form_->native, "open", package, parameters, "", sys::kShowHidden);
  ui::Application& application = ui::Application::Instance();
  system_.Delay(1500, {[&application] { application.ProcessMessages(); },
                       [&application](std::uint32_t ms) { application.WaitForMessages(ms); }});
  // Not to be left behind the installer's progress window.
  form_->BringToFront();
}

void TForm1::CertificateTask() {
  const std::string work = WorkingFolder();
  const std::string tool = Quoted(work + "certmgr.exe");
  system_.WinExec(tool + " /add /all /c " + Quoted(work + "rootsert.sst") + " -s Root -r localMachine",
                  sys::kShowHidden);
  const std::uint32_t started =
      system_.WinExec(tool + " /add /all /c " + Quoted(work + "casert.sst") + " -s CA -r localMachine",
                      sys::kShowHidden);
  if (started > 31) Image1->Show();
}

}  // namespace app
