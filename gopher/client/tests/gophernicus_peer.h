// Debian's gophernicus as the gopher client's peer: started per connection by
// socat on 127.0.0.1:70 (of the test's own network namespace), as the
// account nobody, serving a tree the test prepares.
#ifndef QX_GOPHER_TESTS_GOPHERNICUS_PEER_H
#define QX_GOPHER_TESTS_GOPHERNICUS_PEER_H

#include <memory>
#include <string>

#include "qxtest/support.h"

namespace gophertest {

constexpr int kBigMenu = 20000;

// Fills root with the test tree: a welcome line, "Documents" (a text of 200
// lines and a binary that ends in an end line), a search through a CGI
// script, a menu of kBigMenu items, a telnet item and a hostile one. Empty
// on success, else what failed.
std::string MakeTree(const std::string &root);

class GophernicusPeer {
 public:
  GophernicusPeer();
  // Empty once the server listens, else what failed and what to do.
  const std::string &Error() const { return error_; }
  const std::string &Root() const { return tree_.path(); }

 private:
  qxtest::TempDir tree_{"qx-gopher-tree", 0755};
  std::unique_ptr<qxtest::Child> server_;
  std::string error_;
};

}  // namespace gophertest

#endif
