#include "app/setup.h"

#include <exception>

#include "app/form1.h"
#include "app/payload.h"
#include "app/unattended.h"
#include "gif/registration.h"
#include "sys/system.h"
#include "ui/application.h"
#include "ui/dialogs.h"

namespace app {

const char kApplicationTitle[] = "Настройка";

int RunSetup(const std::vector<std::string>& args) {
  ui::Application& application = ui::Application::Instance();
  application.SetTitle(kApplicationTitle);
  RegisterEmbeddedResources();
  gif::StartUp();
  try {
    const CommandLine command = ParseCommandLine(args);
    if (command.kind != CommandLine::Kind::Window) return RunFromCommandLine(sys::Platform(), command);
    TForm1 form1(sys::Platform());
    application.Run(form1.Form());
  } catch (const std::exception& error) {
    // Only a damaged window description gets here: there is no window to run.
    application.ShowException(error);
    return 1;
  }
  return 0;
}

}  // namespace app
