// The disk boxes of a spanned archive on real windows (under Wine): each
// asks for a disk with OK and Cancel; a user thread reads it, puts the disk
// asked for in the drive and presses OK, or Cancel.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "../memory_volumes.h"
#include "../split_builder.h"

namespace {

const wchar_t kDrive[] = L"A:\\set.zip";

struct Box {
  std::wstring text, ok, cancel;
};

// Answers every "Confirm" box until told to stop: the disk it names goes
// into the drive (the last one for any other text), then the button is
// pressed.
class User {
 public:
  User(za::testing::MemoryVolumes& zip, std::vector<std::string> disks, int button)
      : zip_(zip), disks_(std::move(disks)), button_(button), thread_([this] { Run(); }) {}
  ~User() {
    stop_ = true;
    thread_.join();
  }
  std::vector<Box> boxes;

 private:
  static std::wstring Text(HWND w) {
    wchar_t buffer[512] = {};
    GetWindowTextW(w, buffer, 512);
    return buffer;
  }
  void Run() {
    HWND answered = nullptr;
    while (!stop_) {
      // A box already answered may linger hidden for a while: only a shown
      // one that is new counts.
      HWND box = nullptr;
      for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", L"Confirm"); w && !box;
           w = FindWindowExW(nullptr, w, L"#32770", L"Confirm"))
        if (w != answered && IsWindowVisible(w)) box = w;
      if (!box) {
        Sleep(20);
        continue;
      }
      Sleep(30);  // let it finish laying itself out
      Box seen{Text(GetDlgItem(box, 0xFFFF)), Text(GetDlgItem(box, IDOK)), Text(GetDlgItem(box, IDCANCEL))};
      std::size_t disk = disks_.size() - 1;
      if (seen.text == L"Please insert the first disk") disk = 0;
      const std::wstring numbered = L"Please insert disk #";
      if (seen.text.compare(0, numbered.size(), numbered) == 0) disk = std::stoul(seen.text.substr(numbered.size())) - 1;
      // Written before the click: the program reads the drive only once the
      // box has returned.
      zip_.files[std::u16string(kDrive, kDrive + 10)] = disks_[disk];
      boxes.push_back(seen);
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button_)));
      answered = box;
    }
  }
  za::testing::MemoryVolumes& zip_;
  std::vector<std::string> disks_;
  int button_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SpannedDialogs, EachDiskIsAskedForInABoxWithOkAndCancel) {
  za::testing::SplitArchive a;
  // The first entry runs from the first disk onto the second, the second
  // from there onto the last; the directory is on the last, which is in the
  // drive.
  a.entries = {za::testing::Entry("one.bin", za::testing::Noise(420, 1)), za::testing::Entry("two.txt", "two")};
  a.volumeSize = 250;
  std::vector<std::string> disks = a.Build();
  ASSERT_EQ(disks.size(), 3u);
  za::testing::MemoryVolumes zip;
  zip.removable = true;
  zip.SetFileName(std::u16string(kDrive, kDrive + 10));
  zip.files[zip.FileName()] = disks[2];
  std::vector<std::string> contents;
  {
    User user(zip, disks, IDOK);
    zip.OpenArchive(za::kZAModeReadOnly);
    contents = zip.Contents();
    Sleep(100);
    std::vector<std::wstring> texts;
    for (const Box& box : user.boxes) {
      texts.push_back(box.text);
      EXPECT_EQ(box.ok, L"OK");
      EXPECT_EQ(box.cancel, L"Cancel");
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Please insert the first disk", L"Please insert disk #2",
                                                L"Please insert the last disk"}));
  }
  EXPECT_EQ(zip.SpanningMode(), za::smSpanning);
  ASSERT_EQ(contents.size(), 2u);
  EXPECT_EQ(contents[0], za::testing::Noise(420, 1));
  EXPECT_EQ(contents[1], "two");

  // Cancel refuses the disk.
  User refusing(zip, disks, IDCANCEL);
  try {
    zip.Contents();
    ADD_FAILURE() << "no refusal";
  } catch (const za::EZAException& e) {
    EXPECT_EQ(e.NativeError, 45);
  }
}

}  // namespace
