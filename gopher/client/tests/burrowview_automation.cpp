#include "burrowview_automation.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "qxtest/automation.h"
#include "qxtest/support.h"

namespace gophertest {

int WaitForCount(int pid, const std::string &list, int wanted) {
  int count = -1;
  qxtest::WaitUntil(
      [&] {
        const std::string state = qxtest::AutomationCommand(pid, "state " + list);
        const size_t at = state.find("count=");
        if (at == std::string::npos) return false;
        count = atoi(state.c_str() + at + 6);
        return count == wanted;
      },
      15000);
  return count;
}

void DoubleClickRow(int pid, const std::string &tree, int row) {
  EXPECT_EQ(qxtest::AutomationCommand(pid, "select " + tree + " " + std::to_string(row)), "ok");
  EXPECT_EQ(qxtest::AutomationCommand(
                pid, "click " + tree + " 60 " + std::to_string(row * kTreeRowHeight + kTreeRowHeight / 2) + " double"),
            "ok");
}

}  // namespace gophertest
