// The unattended mode: what Group Policy start-up scripts, Configuration
// Manager and Intune run. The same start-up, tasks and close as the window,
// with no window and no box, an exit status and a log.
#include "app/unattended.h"

#include <exception>
#include <optional>

#include "app/form1.h"
#include "sys/codepage.h"
#include "sys/system.h"
#include "sys/text.h"
#include "ui/application.h"
#include "ui/dialogs.h"

namespace app {
namespace {

// The installer is watched by the window for as long as it runs; a run
// with nobody to close it gets a bound, past which it counts as failed.
constexpr std::int32_t kInstallerWaitMs = 15 * 60 * 1000;

bool IsSwitch(const std::string& arg, const char* name) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
  return sys::EqualsAsciiNoCase(std::string_view(arg).substr(1), name);
}

// Windows Installer's statuses for done, but a restart is needed (or was
// started).
bool RestartRequested(std::uint32_t status) { return status == 3010 || status == 1641; }

}  // namespace

const char kUsage[] =
    "rovend-setup.exe [/quiet [/log ФАЙЛ] [/tasks capicom,certificates,zone]]\r\n"
    "\r\n"
    "Без параметров открывается окно настройки.\r\n"
    "/quiet — настройка без окна: выбранные задачи выполняются, программа ждёт их завершения.\r\n"
    "/log ФАЙЛ — журнал шагов в UTF-8.\r\n"
    "/tasks — задачи через запятую (по умолчанию все три): capicom, certificates, zone.\r\n"
    "\r\n"
    "Коды завершения:\r\n"
    "0 — все выбранные задачи выполнены;\r\n"
    "3010 — выполнены, установщик CAPICOM просит перезагрузку;\r\n"
    "1603 — CAPICOM не установлен;\r\n"
    "10 — не удалось распаковать файлы;\r\n"
    "11 — сертификаты не установлены;\r\n"
    "12 — браузер не настроен;\r\n"
    "13 — не удалось записать журнал;\r\n"
    "1639 — неверная командная строка.";

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine command;
  if (args.empty()) return command;
  bool logGiven = false, tasksGiven = false;
  const auto bad = [&command](std::string error) {
    command.kind = CommandLine::Kind::Bad;
    command.error = std::move(error);
    return command;
  };
  for (const std::string& arg : args)
    if (IsSwitch(arg, "?") || IsSwitch(arg, "help")) {
      command.kind = CommandLine::Kind::Help;
      return command;
    }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsSwitch(arg, "quiet")) {
      command.quiet = true;
    } else if (IsSwitch(arg, "log") || IsSwitch(arg, "tasks")) {
      if (i + 1 == args.size() || args[i + 1].empty()) return bad("После " + arg + " нужно значение.");
      const std::string& value = args[++i];
      if (IsSwitch(arg, "log")) {
        logGiven = true;
        command.options.log = value;
        continue;
      }
      tasksGiven = true;
      UnattendedOptions& o = command.options;
      o.capicom = o.certificates = o.zone = false;
      std::size_t start = 0;
      for (;;) {
        const std::size_t comma = value.find(',', start);
        const std::string name = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (sys::EqualsAsciiNoCase(name, "capicom"))
          o.capicom = true;
        else if (sys::EqualsAsciiNoCase(name, "certificates"))
          o.certificates = true;
        else if (sys::EqualsAsciiNoCase(name, "zone"))
          o.zone = true;
        else
          return bad("Неизвестная задача «" + name + "».");
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else {
      return bad("Неизвестный параметр «" + arg + "».");
    }
  }
  if (!command.quiet)
    return bad(std::string(logGiven || tasksGiven ? "/log и /tasks действуют только вместе с /quiet."
                                                   : "Нет параметра /quiet."));
  command.kind = CommandLine::Kind::Quiet;
  return command;
}

bool UnattendedLog::Write(const std::string& line) {
  if (path_.empty()) return true;
  text_ += line;
  text_ += "\r\n";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text_.data());
  return system_.WriteNewFile(path_, {bytes, text_.size()}) == 0;
}

int TForm1::RunUnattended(const UnattendedOptions& options, std::function<void(const std::string&)> note) {
  quiet_ = true;
  startupStarted_ = true;  // the window's own start-up must never run as well
  note_ = std::move(note);
  // No box may wait for an answer that nobody gives: the engine's own
  // unattended answers, and a failed entry ends the unpacking.
  ZipArchiver1->SetDialogs(nullptr);
  ZipArchiver1->OnProcessFileFailure = [this](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                              std::int32_t, std::int32_t, const std::u16string& message,
                                              za::TZAAction& action) {
    Note("unpacking: " + sys::WideToUtf8(message));
    action = za::fxaAbort;
  };
  ZipArchiver1->OnPassword = [](za::TZABaseArchiver*, const std::u16string&, std::string&, bool& skip) { skip = true; };

  AppDataPath = system_.GetSpecialFolder(sys::kFolderAppData);
  WindowsPath = system_.GetSpecialFolder(sys::kFolderWindows);
  Note("application-data folder: " + AppDataPath + "; Windows folder: " + WindowsPath);
  if (!system_.IsUserAnAdmin())
    Note("not an administrator: the certificates and the CAPICOM files need administrator rights");
  try {
    UnpackPayload(AppDataPath);
    Note("unpacked " + std::to_string(unpacked_.size()) + " files into " + WorkingFolder());
  } catch (const std::exception& error) {
    Note("unpacking failed: " + std::string(error.what()));
    FormClose();
    return kExitUnpackingFailed;
  }

  bool capicomOk = true, certificatesOk = true, zoneOk = true, restart = false;
  if (options.capicom) CapicomTask();
  if (options.certificates) {
    CertificateTask();
    certificatesOk = Image1->Visible();
    if (!certificatesOk) Note("certificates: failed");
  }
  if (options.zone) {
    try {
      BrowserTask();
      zoneOk = Image3->Visible();
      if (!zoneOk) Note("zone: no host entry was written");
    } catch (const std::exception& error) {
      zoneOk = false;
      Note("zone: failed: " + std::string(error.what()));
    }
  }
  if (options.capicom) {
    std::optional<std::uint32_t> status;
    if (installer_ &&
        system_.WaitUntil([this, &status] { return (status = installer_->ExitStatus()).has_value(); },
                          kInstallerWaitMs, Pump()))
      Note("installer ended with status " + std::to_string(*status));
    else if (installer_)
      Note("installer: still running after " + std::to_string(kInstallerWaitMs / 60000) + " minutes");
    capicomOk = status && InstallerSucceeded();
    restart = capicomOk && RestartRequested(*status);
    if (!capicomOk)
      Note(!capicomIntact_  ? "CAPICOM: failed: its files were not all copied, or not the ones unpacked"
           : !installer_    ? "CAPICOM: failed: the installer did not start"
           : !status        ? "CAPICOM: failed: the installer did not end"
                            : "CAPICOM: failed: the installer ended with status " + std::to_string(*status));
  }
  package_.reset();
  const bool removed = workingFolderSetUp_ && system_.DeleteFolder(WorkingFolder());
  Note((removed ? "working folder removed: " : "working folder not removed: ") + WorkingFolder());

  const int status = !capicomOk        ? kExitCapicomFailed
                     : !certificatesOk ? kExitCertificatesFailed
                     : !zoneOk         ? kExitZoneFailed
                     : restart         ? kExitRestartRequired
                                       : kExitSuccess;
  Note("exit status " + std::to_string(status));
  return status;
}

int RunFromCommandLine(sys::System& system, const CommandLine& command) {
  const std::string& title = ui::Application::Instance().Title();
  switch (command.kind) {
    case CommandLine::Kind::Window:
      break;
    case CommandLine::Kind::Help:
      ui::ShowMessageBox(kUsage, title, {ui::DialogIcon::Information, ui::DialogButtons::Ok});
      return kExitSuccess;
    case CommandLine::Kind::Bad:
      if (!command.quiet)
        ui::ShowMessageBox(command.error + "\r\n\r\n" + kUsage, title, {ui::DialogIcon::Error, ui::DialogButtons::Ok});
      return kExitBadCommandLine;
    case CommandLine::Kind::Quiet: {
      UnattendedLog log(system, command.options.log);
      if (!log.Write("rovend-setup: unattended run")) return kExitLogFailed;
      bool logged = true;
      TForm1 form(system);
      const int status = form.RunUnattended(command.options, [&](const std::string& line) { logged &= log.Write(line); });
      // A run whose log was asked for and lost has not done all it was asked.
      return status == kExitSuccess && !logged ? kExitLogFailed : status;
    }
  }
  return -1;
}

}  // namespace app
