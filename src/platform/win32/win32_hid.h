#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace qvr::platform::win32 {

// The HID seam over hid.dll and SetupAPI. Handles are the system's own, opened exactly as the
// window has always opened them; the seam's numbers map onto them.
//
// Reads: the device handle is a synchronous handle, and a synchronous ReadFile waits for as
// long as the device stays silent. The first read on a device handle therefore opens a third
// handle on the same path with FILE_FLAG_OVERLAPPED, and every read goes through that one with
// a bounded wait. Each handle on a HID device has its own queue of input reports, filled from
// the moment it is opened, so reading from one handle only keeps the order of its reports.
class Win32Hid final : public Hid {
 public:
  Win32Hid() = default;
  ~Win32Hid() override;
  Win32Hid(const Win32Hid&) = delete;
  Win32Hid& operator=(const Win32Hid&) = delete;

  // Handles given out and not closed yet, so that tests can prove a scan leaves none open.
  [[nodiscard]] std::size_t openHandles() const { return handles_.size(); }

  [[nodiscard]] bool presentInterfaces(std::vector<std::string>& paths) override;
  [[nodiscard]] HidHandle open(const std::string& path, OpenMode mode) override;
  bool close(HidHandle handle) override;
  [[nodiscard]] bool attributes(HidHandle handle, HidAttributes& out) override;
  [[nodiscard]] bool capabilities(HidHandle handle, HidCaps& out) override;
  [[nodiscard]] bool serialNumber(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool manufacturer(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool product(HidHandle handle, DeviceStringBuffer& out) override;
  [[nodiscard]] bool getFeature(HidHandle handle, std::span<std::uint8_t> buffer) override;
  [[nodiscard]] bool setFeature(HidHandle handle, std::span<const std::uint8_t> report) override;
  [[nodiscard]] bool read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                          std::chrono::milliseconds firstReportWait) override;
  [[nodiscard]] ReadStamp readStamp() const override { return readStamp_; }
  [[nodiscard]] std::string lastErrorText() const override { return lastError_; }

 private:
  // Windows handles are kept as void*, which HANDLE is, so this header needs no windows.h.
  struct OpenHandle {
    void* handle = nullptr;
    std::string path;
    void* reader = nullptr;       // the overlapped handle for reads; opened by the first one
    void* readerEvent = nullptr;  // signalled when a read on it completes
  };
  [[nodiscard]] void* native(HidHandle handle) const;
  [[nodiscard]] bool openReader(OpenHandle& open);
  static void closeReader(OpenHandle& open);
  // Records the system's message for the error code and returns what a failed call returns.
  bool fail(std::uint32_t errorCode);
  // The same for the thread's last error, which must be taken before any other system call.
  bool failWithLastError();

  std::map<HidHandle, OpenHandle> handles_;
  HidHandle nextHandle_ = 1;
  std::vector<std::uint8_t> detailBuffer_;  // reused from one interface to the next
  std::string lastError_;
  ReadStamp readStamp_;
};

// The system's message for an error code as one line: no line break and no closing period.
// "error N" when the system has no message for it.
[[nodiscard]] std::string systemErrorText(std::uint32_t errorCode);

}  // namespace qvr::platform::win32
