// A small statistics device for the tests, shaped like the NFS client's: a
// one-byte command in (0 start, 2 collect, 1 stop) and seven 32-bit words out
// from request 0x70020; request 0x70024 echoes its input reversed; any other
// request is refused.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "qx/devices.h"

namespace qxtest {

class StatFile : public qx::DeviceFile {
 public:
  explicit StatFile(std::string rest) : rest_(std::move(rest)) {}
  DWORD IoControl(DWORD code, const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) override {
    if (code == 0x70024) {
      if (out.size() < in.size()) return ERROR_INSUFFICIENT_BUFFER;
      out.assign(in.rbegin(), in.rend());
      return 0;
    }
    if (code != 0x70020 || in.size() != 1) return ERROR_INVALID_FUNCTION;
    if (in[0] == 0) started_ = true;
    if (in[0] == 1) started_ = false;
    if (in[0] != 2) {
      out.clear();
      return 0;
    }
    if (!started_) return ERROR_NOT_READY;
    ++collections_;
    std::uint32_t words[7] = {collections_, static_cast<std::uint32_t>(rest_.size()), 100, 200, 5, 7, 9};
    out.resize(std::min(out.size(), sizeof words));
    std::memcpy(out.data(), words, out.size());
    return out.size() < sizeof words ? ERROR_MORE_DATA : 0;
  }

 private:
  std::string rest_;
  bool started_ = false;
  std::uint32_t collections_ = 0;
};

class StatProvider : public qx::DeviceProvider {
 public:
  DWORD Open(const std::string &rest, DWORD access, std::shared_ptr<qx::DeviceFile> &file) override {
    if (!(access & GENERIC_READ)) return ERROR_ACCESS_DENIED;
    file = std::make_shared<StatFile>(rest);
    return 0;
  }
};

}  // namespace qxtest
