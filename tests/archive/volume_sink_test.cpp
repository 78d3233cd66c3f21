// Writing straight into volumes: where bytes land, records kept whole,
// patches and truncations that reach back into earlier volumes, and a
// failed entry of a split archive that leaves no trace.
#include "../../archive/src/volume_sink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "archive/archiver.h"
#include "archive/errors.h"
#include "../../archive/src/write_state.h"
#include "native_error.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using za::TZAVolumeSink;

class VolumeSinkTest : public za::testing::TempDirTest {
 protected:
  VolumeSinkTest() : state_(zip_), transaction_(state_) {}

  std::unique_ptr<TZAVolumeSink> Sink(TZAVolumeSink::TZAShape shape, const std::string& folder = "") {
    return std::make_unique<TZAVolumeSink>(transaction_, WidePath(folder), shape);
  }
  static void Put(TZAVolumeSink& sink, std::uint64_t at, const std::string& bytes) {
    sink.SetPosition(static_cast<std::int64_t>(at));
    sink.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
  static std::string ReadFile(const std::u16string& name) {
    std::ifstream in(fs::path(std::string(name.begin(), name.end())), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::size_t FilesHere() const {
    std::size_t n = 0;
    for (auto& e : fs::directory_iterator(Path(""))) n += e.is_regular_file();
    return n;
  }

  za::TZipArchiver zip_;
  za::TZABaseArchiver::TZAWriteState state_;
  za::TZATransaction transaction_;
};

TEST_F(VolumeSinkTest, RecordsStayWholeAndPatchesReachBackIntoEarlierVolumes) {
  auto sink = Sink({100, 64, true, true});
  sink->BeginRecord(0, 30);  // nothing in front: the signature comes first
  Put(*sink, 0, std::string(80, 'a'));
  sink->BeginRecord(80, 30);  // 16 bytes left on the first volume
  Put(*sink, 80, std::string(100, 'b'));
  EXPECT_EQ(sink->DiskAt(79), 0u);
  EXPECT_EQ(sink->OffsetAt(0), 4u);
  EXPECT_EQ(sink->DiskAt(80), 1u);
  EXPECT_EQ(sink->OffsetAt(80), 0u);
  EXPECT_EQ(sink->DiskAt(150), 2u);
  Put(*sink, 80, "HDR");  // a volume behind the newest
  Put(*sink, 2, "PQ");    // and the first one, past its signature
  Put(*sink, 170, "end");
  const std::vector<std::u16string> files = sink->Finish();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(ReadFile(files[0]), std::string("PK\x07\x08", 4) + "aaPQ" + std::string(76, 'a'));
  EXPECT_EQ(ReadFile(files[1]), "HDR" + std::string(61, 'b'));
  EXPECT_EQ(ReadFile(files[2]), std::string(26, 'b') + "end" + std::string(7, 'b'));
  sink.reset();
  EXPECT_EQ(FilesHere(), 3u);  // the caller's now
}

TEST_F(VolumeSinkTest, ATruncationDropsTheVolumesBegunAfterItAndWritingGoesOnFromThere) {
  // Numbered pieces: no records, no signature, cut at any byte.
  auto sink = Sink({10, 10, false, false});
  Put(*sink, 0, std::string(35, 'x'));
  EXPECT_EQ(FilesHere(), 4u);
  sink->SetSize(15);
  EXPECT_EQ(FilesHere(), 2u);
  EXPECT_EQ(sink->Size(), 15);
  EXPECT_EQ(sink->Position(), 15);
  sink->WriteBuffer("zzzzzzzzzz", 10);
  // Back to the first piece, which is no longer the newest.
  Put(*sink, 0, "A");
  const std::vector<std::u16string> files = sink->Finish();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(ReadFile(files[0]), "A" + std::string(9, 'x'));
  EXPECT_EQ(ReadFile(files[1]), "xxxxxzzzzz");
  EXPECT_EQ(ReadFile(files[2]), "zzzzz");

  // A set cut between records: a record's volume goes with it.
  auto records = Sink({100, 64, true, true});
  records->BeginRecord(0, 10);
  Put(*records, 0, std::string(90, 'a'));
  records->BeginRecord(90, 20);
  Put(*records, 90, std::string(200, 'b'));
  records->SetSize(90);
  records->BeginRecord(90, 5);  // fits what is left of the first volume now
  Put(*records, 90, "cccc");
  const std::vector<std::u16string> kept = records->Finish();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ReadFile(kept[0]), std::string("PK\x07\x08", 4) + std::string(90, 'a') + "cccc");
}

TEST_F(VolumeSinkTest, ASetThatFitsItsFirstVolumeBecomesAPlainFileWithoutTheSignature) {
  auto sink = Sink({100, 64, true, true});
  sink->BeginRecord(0, 30);
  Put(*sink, 0, std::string(50, 'a'));
  sink->KeepPlain();
  EXPECT_TRUE(sink->Plain());
  Put(*sink, 50, std::string(150, 'b'));  // bounded no more
  Put(*sink, 0, "P");
  const std::vector<std::u16string> files = sink->Finish();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadFile(files[0]), "P" + std::string(49, 'a') + std::string(150, 'b'));
  EXPECT_EQ(FilesHere(), 1u);
}

TEST_F(VolumeSinkTest, AVolumeThatCannotBeMadeKeepsItsOwnFailure) {
  auto sink = Sink({100, 64, true, true}, "missing/");
  EXPECT_THROW(Put(*sink, 0, "abc"), za::EWriteError);
  ASSERT_TRUE(sink->Failure());
  EXPECT_EQ(za::testing::NativeErrorOf([&] { std::rethrow_exception(sink->Failure()); }), za::neCannotCreateFile);
}

// A source that fails after `good` bytes, as a file on a failing disk does.
struct FailingSource : za::TZAStream {
  FailingSource(std::string bytes, std::int64_t good) : bytes(std::move(bytes)), good(good) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    if (position >= good) return -1;
    std::int64_t n = std::min<std::int64_t>(count, static_cast<std::int64_t>(bytes.size()) - position);
    std::memcpy(buffer, bytes.data() + position, static_cast<std::size_t>(n));
    position += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, za::TZASeekOrigin origin) override {
    position = origin == za::TZASeekOrigin::soBeginning ? offset : position + offset;
    return position;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes.size()); }
  void SetSize(std::int64_t) override {}
  std::string bytes;
  std::int64_t good, position = 0;
};

TEST_F(VolumeSinkTest, AFailedEntryOfASplitArchiveLeavesNoTraceInItsVolumes) {
  std::mt19937 random(5);
  std::string noise(150000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::string text(3000, 't');
  auto make = [&](const std::string& name, bool withFailure) {
    za::TZipArchiver zip;
    zip.SetSpanningMode(za::smSplitting);
    zip.SpanningOptions().VolumeSize = za::vsCustom;
    zip.SpanningOptions().SetCustomVolumeSize(65536);
    zip.SpanningOptions().FirstVolumeSize = 100000;
    zip.SetFileName(WidePath(name + ".zip"));
    std::vector<std::int32_t> failures;
    zip.OnProcessFileFailure = [&](za::TZABaseArchiver*, const std::u16string&, za::TZAProcessOperation,
                                   std::int32_t error, std::int32_t, const std::u16string&, za::TZAAction& action) {
      failures.push_back(error);
      action = za::fxaIgnore;
    };
    zip.OpenArchive();
    zip.BeginUpdate();
    zip.AddFromBuffer(u"a.bin", noise.data(), 120000);
    // Runs over two volumes before its source fails.
    FailingSource failing(noise, 140000);
    if (withFailure) zip.AddFromStream(u"bad.bin", failing, false);
    zip.AddFromBuffer(u"c.txt", text.data(), text.size());
    zip.EndUpdate();
    EXPECT_EQ(failures, withFailure ? std::vector<std::int32_t>{za::neCannotOpenFile} : std::vector<std::int32_t>{});
    std::vector<std::uintmax_t> sizes;
    for (int i = 1; fs::exists(Path(name + ".z0" + std::to_string(i))); ++i)
      sizes.push_back(fs::file_size(Path(name + ".z0" + std::to_string(i))));
    sizes.push_back(fs::file_size(Path(name + ".zip")));
    return sizes;
  };
  const std::vector<std::uintmax_t> with = make("with", true);
  EXPECT_EQ(with, make("without", false));
  EXPECT_EQ(with.size(), 2u);
  for (auto& e : fs::directory_iterator(Path(""))) EXPECT_NE(e.path().extension(), ".tmp") << e.path();
  za::TZipArchiver again;
  again.SetFileName(WidePath("with.zip"));
  again.OpenArchive();
  ASSERT_EQ(again.Count(), 2);
  za::TZAMemoryStream data;
  again.ExtractItemToStream(1, data);
  EXPECT_EQ(std::string(data.Data().begin(), data.Data().end()), text);
}

}  // namespace
