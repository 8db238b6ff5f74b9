// What the tables of cases run between the fakes share, GoogleTest and GoogleMock included.
#ifndef ZEBCMD_TESTS_FAKE_TEST_H
#define ZEBCMD_TESTS_FAKE_TEST_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "fakes.h"

namespace fake {

// A table of cases run between the fakes, each from an empty log and a server that answers.
template <typename Case>
class FakeTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { reset(); }
};

// Names each instance of a table after its case's name field.
inline const auto by_name = [](const auto& info) { return std::string(info.param.name); };

}  // namespace fake

#endif
