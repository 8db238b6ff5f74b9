#ifndef ZEBCMD_TESTS_FAKE_TEST_H
#define ZEBCMD_TESTS_FAKE_TEST_H

#include <gtest/gtest.h>

#include "fakes.h"

namespace fake {

// A table of cases run between the fakes, each from an empty log and a server that answers.
template <typename Case>
class FakeTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { reset(); }
};

}  // namespace fake

#endif
