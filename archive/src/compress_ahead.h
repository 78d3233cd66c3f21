#pragma once
// New entries compressed ahead. While the commit writes one entry, helper
// threads read and deflate the files of the next ones into memory, so that
// the cores of the machine share the work; the commit takes each result in
// the archive's order and writes it in one piece. Only files small enough
// to be held whole are taken; the rest, and anything a helper could not
// read, the commit encodes itself as before.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/methods.h"
#include "pipeline.h"

namespace za {

class TZACompressAhead {
 public:
  static constexpr std::uint64_t kLargest = 16u << 20;  // bytes of one file taken
  struct Job {
    std::u16string File;
    int Level = 6;
    std::uint16_t Method = 8;             // of the compressed data
    const TZAMethods* Methods = nullptr;  // where the encoder of another method comes from
    bool Fast = false;                    // deflate by the faster compressor where it stands for zlib's
  };
  struct Result {
    std::vector<std::uint8_t> Data;  // compressed, or the file itself when stored
    std::uint16_t Method = 0;
    std::uint16_t Needed = 0;  // the version needed of a method other than deflate
    std::uint16_t Flags = 0;   // the flag bits of its data
    std::uint32_t Crc32 = 0;
    std::uint64_t Size = 0;
  };

  explicit TZACompressAhead(std::vector<Job> jobs);
  ~TZACompressAhead();
  TZACompressAhead(const TZACompressAhead&) = delete;
  TZACompressAhead& operator=(const TZACompressAhead&) = delete;

  // The result of job `k`, made here when no helper has begun it; false
  // when the file could not be read whole (the caller then encodes it
  // itself and meets the failure there).
  bool Take(std::size_t k, Result& result);

 private:
  struct Work {
    Job job;
    Result result;
  };
  static bool Make(const Job& job, Result& result);

  std::unique_ptr<TZAPipeline<Work>> pipeline_;
};

// Compresses `size` bytes in memory into `out` through `encoder`; false
// when the result is not smaller than the data.
class TZAEncoder;
bool ZAEncodeBuffer(TZAEncoder& encoder, const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

}  // namespace za
