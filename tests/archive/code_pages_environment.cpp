// The tests expect the code pages of a Russian Windows, which are the POSIX
// defaults; on Windows (and under Wine) they are set explicitly.
#include <gtest/gtest.h>

#include "sys/codepage.h"

namespace {

class CodePagesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    sys::SetOemCodePage(866);
    sys::SetAnsiCodePage(1251);
  }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new CodePagesEnvironment);

}  // namespace
