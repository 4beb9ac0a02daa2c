// Names the instances of a parameterised test after their cases' `label` member, so that a
// failure names the case rather than its index.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace lumora::testing {

struct ParamLabel {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return info.param.label;
  }
};

}  // namespace lumora::testing
