#include "app/form1.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "fake_system.h"
#include "support/temp_dir.h"
#include "ui/application.h"
#include "ui/headless.h"
#include "ui/icon.h"

namespace app {
namespace {

using testing::FakeSystem;
using Calls = std::vector<std::string>;

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::Reset();
    ui::Application::Instance().SetTitle("Настройка");
    system.sandbox = sandbox.str();
    system.appData = appData;
    std::filesystem::create_directories(appData);
  }
  support::TempDir sandbox;
  const std::string appData = sandbox.str() + "/AppData/Roaming";
  FakeSystem system;
  TForm1 form{system};
};

TEST_F(Form1Test, WindowMatchesItsDescription) {
  ui::Form& f = form.Form();
  EXPECT_EQ(f.Caption(), "Ровенд настройка");
  EXPECT_EQ(f.clientWidth, 354);
  EXPECT_EQ(f.clientHeight, 185);
  EXPECT_EQ(f.Bounds().left, 554);
  EXPECT_EQ(f.Bounds().top, 211);
  EXPECT_EQ(f.position, ui::FormPosition::DesktopCenter);
  EXPECT_EQ(f.color, ui::clBtnFace);
  EXPECT_EQ(f.GetFont(), (ui::Font{"Tahoma", -11, ui::clWindowText, false, 1}));

  EXPECT_EQ(form.Button1->Caption(), "Выполнить");
  EXPECT_EQ(form.Button1->Bounds(), (ui::Rect{96, 144, 129, 25}));
  EXPECT_EQ(form.Button1->GetFont(), (ui::Font{"Tahoma", -13, ui::clBlack, false, 1}));
  EXPECT_EQ(form.Button1->tabOrder, 0);

  struct Box {
    ui::CheckBox* box;
    const char* caption;
    ui::Rect bounds;
    int tab;
  };
  for (const Box& b : {Box{form.CheckBox1, "Установить корневые сертификаты УЦ ОРБИНА", {32, 16, 265, 17}, 1},
                       Box{form.CheckBox2, "Установить CAPICOM", {32, 48, 161, 17}, 2},
                       Box{form.CheckBox3, "Настроить браузер Internet Explorer", {32, 80, 249, 17}, 3}}) {
    EXPECT_EQ(b.box->Caption(), b.caption);
    EXPECT_EQ(b.box->Bounds(), b.bounds);
    EXPECT_TRUE(b.box->Checked());
    EXPECT_EQ(b.box->tabOrder, b.tab);
  }
  EXPECT_TRUE(form.CheckBox3->showHint);
  EXPECT_EQ(form.CheckBox3->hint.rfind(
                "Настройка браузера Internet explorer для получения сертификата, работы на площадке ", 0),
            0u);
  EXPECT_NE(form.CheckBox3->hint.find(" и для использования электронного документооборота "), std::string::npos);

  EXPECT_EQ(form.Bevel1->Bounds(), (ui::Rect{16, 8, 289, 97}));
  EXPECT_EQ(form.Bevel2->Bounds(), (ui::Rect{304, 8, 33, 33}));
  EXPECT_EQ(form.Bevel3->Bounds(), (ui::Rect{304, 40, 33, 33}));
  EXPECT_EQ(form.Bevel4->Bounds(), (ui::Rect{304, 72, 33, 33}));
  EXPECT_EQ(form.Bevel1->shape, ui::BevelShape::Box);
  EXPECT_EQ(form.Bevel1->style, ui::BevelStyle::Lowered);

  EXPECT_EQ(form.Image1->Bounds(), (ui::Rect{308, 13, 25, 25}));
  EXPECT_EQ(form.Image2->Bounds(), (ui::Rect{308, 44, 25, 25}));
  EXPECT_EQ(form.Image3->Bounds(), (ui::Rect{308, 76, 25, 25}));
  EXPECT_EQ(form.Image4->Bounds(), (ui::Rect{304, 40, 33, 33}));
  for (ui::Image* mark : {form.Image1, form.Image2, form.Image3}) {
    EXPECT_FALSE(mark->Visible());
    auto* icon = dynamic_cast<ui::IconPicture*>(mark->GetPicture());
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->Width(), 24);
    EXPECT_EQ(icon->Height(), 24);
    EXPECT_EQ(icon->ImageCount(), 2);
  }
  EXPECT_FALSE(form.Image4->Visible());

  EXPECT_EQ(form.Panel1->Bounds(), (ui::Rect{0, 0, 353, 201}));
  EXPECT_FALSE(form.Panel1->Visible());
  EXPECT_EQ(form.Panel1->tabOrder, 4);
  EXPECT_EQ(form.Image5->Parent(), form.Panel1);
  EXPECT_EQ(form.Image5->Bounds(), (ui::Rect{24, 32, 289, 65}));
  EXPECT_TRUE(form.Image5->Visible());
  EXPECT_EQ(form.Label1->Parent(), form.Panel1);
  EXPECT_EQ(form.Label1->Caption(), "Распаковка...");
  EXPECT_EQ(form.Label1->Bounds(), (ui::Rect{120, 96, 114, 19}));
  EXPECT_EQ(form.Label1->GetFont(), (ui::Font{"Tahoma", -16, ui::clGray, true, 1}));

  EXPECT_EQ(form.Timer1->Interval(), 500u);
  EXPECT_FALSE(form.Timer1->Enabled());
  EXPECT_EQ(form.InstallerResult, 0);

  // Components in declared order.
  std::vector<std::string> names;
  for (const auto& c : f.Components()) names.push_back(c->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"Button1", "CheckBox1", "CheckBox2", "CheckBox3", "ZipArchiver1",
                                             "Panel1", "Image5", "Label1", "Timer1", "Image1", "Bevel1", "Bevel2",
                                             "Bevel3", "Bevel4", "Image2", "Image3", "Image4"}));
}

TEST_F(Form1Test, StoredPicturesAreTheIconFile) {
  const char* root = ROVEND_SOURCE_DIR;
  std::ifstream file(std::string(root) + "/resources/pictures/check.ico", std::ios::binary);
  std::vector<std::uint8_t> icon((std::istreambuf_iterator<char>(file)), {});
  ASSERT_EQ(icon.size(), 4918u);
  std::ifstream dfm(std::string(root) + "/resources/Form1.dfm", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(dfm)), {});
  ui::ObjectDescription d = ui::ParseDescription(text);
  int checked = 0;
  for (const auto& child : d.children) {
    if (child.name != "Image1" && child.name != "Image2" && child.name != "Image3") continue;
    const ui::PropertyValue* data = child.Find("Picture.Data");
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->binary.size(), 4924u) << child.name;
    EXPECT_EQ(std::string(data->binary.begin(), data->binary.begin() + 6), "\x05TIcon");
    EXPECT_TRUE(std::equal(icon.begin(), icon.end(), data->binary.begin() + 6)) << child.name;
    ++checked;
  }
  EXPECT_EQ(checked, 3);
}

TEST_F(Form1Test, StartUpAsAdministrator) {
  bool panelShownWhileUnpacking = false;
  int repaintsBeforeUnpacking = -1;
  system.duringCreateFolder = [&] {
    panelShownWhileUnpacking = form.Panel1->Visible();
    repaintsBeforeUnpacking = ui::headless::RepaintCount(form.Form());
  };
  form.Form().Activated();
  EXPECT_EQ(system.calls, (Calls{"GetSpecialFolder(26)", "GetSpecialFolder(36)", "IsUserAnAdmin",
                                 "RemoveLink(" + appData + "\\tempEE\\)",
                                 "CreateFolder(" + appData + "\\tempEE\\)",
                                 "HoldFolder(" + appData + "\\tempEE\\)",
                                 "ForceFolders(" + appData + "\\tempEE\\\\)",
                                 "FindModuleResource(sometype, test)",
                                 "WriteNewFile(" + appData + "\\tempEE\\\\tempEE.zip, 22)"}));
  EXPECT_EQ(form.AppDataPath, appData);
  EXPECT_TRUE(std::filesystem::exists(appData + "/tempEE/tempEE.zip"));
  EXPECT_EQ(form.WindowsPath, "C:\\Windows");
  EXPECT_TRUE(panelShownWhileUnpacking);
  EXPECT_EQ(repaintsBeforeUnpacking, 1);
  EXPECT_FALSE(form.Panel1->Visible());
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
}

TEST_F(Form1Test, NonAdministratorIsWarnedBeforeUnpackingAndOnlyOnce) {
  system.admin = false;
  size_t dialogsBeforeUnpacking = 0;
  system.duringCreateFolder = [&] { dialogsBeforeUnpacking = ui::headless::ShownDialogs().size(); };
  form.Form().Activated();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_EQ(box.text, "Корневые сертификаты не будут установлены.\r\nЗапустите программу от имени администратора.");
  EXPECT_EQ(box.caption, "Настройка");
  EXPECT_EQ(box.options.icon, ui::DialogIcon::None);
  EXPECT_EQ(box.options.buttons, ui::DialogButtons::Ok);
  EXPECT_EQ(dialogsBeforeUnpacking, 1u);
  EXPECT_EQ(system.calls[4], "CreateFolder(" + appData + "\\tempEE\\)");

  // Closing the box activates the window again: nothing may run twice.
  const size_t calls = system.calls.size();
  form.Form().Activated();
  form.Form().Activated();
  EXPECT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_EQ(system.calls.size(), calls);
}

TEST_F(Form1Test, TheButtonHasTheFocusAtStartAndAfterTheProgramsBoxes) {
  system.admin = false;
  ui::Control* focusedDuringBox = form.Button1;
  ui::headless::SetDialogResponder([&](const ui::headless::DialogRecord&) {
    focusedDuringBox = ui::headless::FocusedControl();
    return ui::DialogResult::Ok;
  });
  form.Form().ShowWindow();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  EXPECT_EQ(focusedDuringBox, nullptr) << "the warning had it";
  EXPECT_EQ(ui::headless::FocusedControl(), form.Button1);

  // A box of the run sequence gives it back to where the user had put it.
  for (ui::CheckBox* box : {form.CheckBox1, form.CheckBox2}) box->SetChecked(false);
  form.Form().FocusControl(*form.CheckBox3);
  form.Button1->Click();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 2u);
  EXPECT_EQ(ui::headless::ShownDialogs()[1].caption, "Error");
  EXPECT_EQ(ui::headless::FocusedControl(), form.CheckBox3);
}

TEST_F(Form1Test, PressResetsMarksAndStopsTheTimer) {
  for (ui::CheckBox* box : {form.CheckBox1, form.CheckBox2, form.CheckBox3}) box->SetChecked(false);
  form.InstallerResult = 42;
  for (ui::Image* mark : {form.Image1, form.Image2, form.Image3, form.Image4}) mark->Show();
  form.Timer1->SetEnabled(true);
  form.Button1->Click();
  EXPECT_EQ(form.InstallerResult, 0);
  for (ui::Image* mark : {form.Image1, form.Image2, form.Image3, form.Image4}) EXPECT_FALSE(mark->Visible());
  EXPECT_FALSE(form.Timer1->Enabled());
  EXPECT_TRUE(system.calls.empty());
}

TEST_F(Form1Test, InstallerWatchFollowsTheProcessListAndTheLaunchResult) {
  // A press that launches an installer which then ends well.
  system.payload = FakeSystem::BuiltPayload();
  form.Form().Activated();
  form.CheckBox1->SetChecked(false);
  form.CheckBox3->SetChecked(false);
  form.Button1->Click();
  system.calls.clear();
  system.processes = {"C:\\Windows\\explorer.exe", "C:\\WINDOWS\\system32\\MsiExec.EXE"};
  form.Timer1->Fire();
  EXPECT_TRUE(form.Image4->Visible());
  EXPECT_FALSE(form.Image2->Visible());

  system.processes = {"C:\\Windows\\explorer.exe", "C:\\tools\\msiexec.exe.bak", "C:\\xmsiexec.exe"};
  form.Timer1->Fire();
  EXPECT_FALSE(form.Image4->Visible());
  EXPECT_TRUE(form.Image2->Visible());

  form.InstallerResult = 32;  // the shell's failure values
  form.Timer1->Fire();
  EXPECT_FALSE(form.Image4->Visible());
  EXPECT_FALSE(form.Image2->Visible());
  EXPECT_TRUE(form.Timer1->Enabled());  // the watch never stops itself

  // A bare file name, as the tool-help route lists processes.
  system.processes = {"msiexec.exe"};
  form.Timer1->Fire();
  EXPECT_TRUE(form.Image4->Visible());
  EXPECT_EQ(std::count(system.calls.begin(), system.calls.end(), "FillProcessList"), 4);
}

TEST_F(Form1Test, DisabledTimerDoesNotWatch) {
  form.Timer1->Fire();
  EXPECT_TRUE(system.calls.empty());
}

TEST_F(Form1Test, CloseDeletesTheWorkingFolder) {
  form.Form().Activated();
  system.deleteResult = false;  // ignored
  form.Form().Close();
  EXPECT_EQ(system.calls.back(), "DeleteFolder(" + appData + "\\tempEE\\)");
  EXPECT_TRUE(ui::headless::ShownDialogs().empty());
}

TEST_F(Form1Test, CloseDeletesNothingWithoutAnApplicationDataFolder) {
  system.appData.clear();
  form.Form().Activated();
  EXPECT_EQ(system.calls[4], "CreateFolder(\\tempEE\\)");
  form.Form().Close();
  for (const auto& call : system.calls) EXPECT_EQ(call.rfind("DeleteFolder", 0), std::string::npos) << call;
}

TEST_F(Form1Test, CloseBeforeStartUpDeletesNothing) {
  form.Form().Close();
  EXPECT_TRUE(system.calls.empty());
}

class ThrowingSystem : public FakeSystem {
 public:
  bool CreateFolder(const std::string&) override { throw std::runtime_error("Access denied"); }
};

TEST(Form1Failure, ErrorLeavingAHandlerShowsTheDefaultBoxAndLeavesThePanel) {
  ui::headless::Reset();
  ui::Application::Instance().SetTitle("Настройка");
  ThrowingSystem system;
  system.appData = "/nonexistent";
  TForm1 form(system);
  form.Form().Activated();
  ASSERT_EQ(ui::headless::ShownDialogs().size(), 1u);
  const auto& box = ui::headless::ShownDialogs()[0];
  EXPECT_EQ(box.text, "Access denied.");
  EXPECT_EQ(box.caption, "Настройка");
  EXPECT_EQ(box.options.icon, ui::DialogIcon::Error);
  EXPECT_EQ(box.options.buttons, ui::DialogButtons::Ok);
  EXPECT_TRUE(form.Panel1->Visible());  // the unpacking screen stays on view
}

}  // namespace
}  // namespace app

namespace app {
namespace {

// At 150 % the window is laid out as the runtime scales a form stored at 96
// pixels per inch: edges and fonts by 3/2, the status marks with their
// cells, the GIF pictures at their own size.
TEST(Form1Scaling, TheWindowIsLaidOutAtTheSystemDpi) {
  ui::headless::Reset();
  ui::headless::SetScreenPixelsPerInch(144);
  FakeSystem system;
  TForm1 form(system);
  ui::headless::SetScreenPixelsPerInch(96);
  ui::Form& f = form.Form();
  EXPECT_EQ(f.clientWidth, 531);
  EXPECT_EQ(f.clientHeight, 278);
  EXPECT_EQ(form.Button1->Bounds(), (ui::Rect{144, 216, 194, 38}));
  EXPECT_EQ(form.CheckBox1->Bounds(), (ui::Rect{48, 24, 398, 26}));
  EXPECT_EQ(form.Bevel2->Bounds(), (ui::Rect{456, 12, 50, 50}));
  EXPECT_EQ(form.Bevel3->Bounds().top, form.Bevel2->Bounds().bottom() - 2);  // the cells still overlap
  EXPECT_EQ(form.Image1->Bounds(), (ui::Rect{462, 20, 38, 37}));
  EXPECT_EQ(form.Image4->Bounds(), (ui::Rect{456, 60, 50, 50}));
  EXPECT_EQ(f.GetFont().height, -16);  // 8 points
  EXPECT_EQ(form.Button1->GetFont().height, -20);
  EXPECT_EQ(form.Label1->GetFont().height, -24);
  EXPECT_EQ(form.CheckBox1->GetFont(), f.GetFont());  // still the form's

  // The mark fills its larger cell: painted at 36 pixels, its right part
  // lies where a 24-pixel mark would leave the surface bare.
  form.Image1->Show();
  const ui::Bitmap32 shown = ui::headless::PaintImages(f);
  const ui::Rect box = form.Image1->Bounds();
  const std::uint32_t surface = shown.At(1, 1);
  EXPECT_NE(shown.At(box.left + 30, box.top + 18), surface);
  EXPECT_NE(shown.At(box.left + 18, box.top + 30), surface);
  EXPECT_EQ(shown.At(box.left + 37, box.top + 36), surface);
}

}  // namespace
}  // namespace app
