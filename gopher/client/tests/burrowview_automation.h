// Driving burrowview's lists through the layer's automation socket: shared
// by the program tests.
#ifndef QX_GOPHER_TESTS_BURROWVIEW_AUTOMATION_H
#define QX_GOPHER_TESTS_BURROWVIEW_AUTOMATION_H

#include <string>

namespace gophertest {

constexpr int kTreeRowHeight = 18;  // a 16-pixel picture cell and 2

// The row count of a list once it is `wanted`, else the last one seen within 15 s.
int WaitForCount(int pid, const std::string &list, int wanted);
// Selects a tree row and double-clicks it, as a person opens an item.
void DoubleClickRow(int pid, const std::string &tree, int row);

}  // namespace gophertest

#endif
