#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/read_stamp.h"

namespace qvr::platform {

// An open HID handle. Backends hand out small positive numbers; kInvalidHandle stands for the
// invalid handle a failed open returns, and every call made with it fails.
using HidHandle = std::int64_t;
inline constexpr HidHandle kInvalidHandle = -1;

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;  // USB release number; the device's firmware version
};

// Report lengths include the report ID byte, as the Windows HID class driver counts them.
struct HidCaps {
  std::uint16_t inputReportByteLength = 0;
  std::uint16_t featureReportByteLength = 0;
};

// Device strings arrive as UTF-16 code units, little-endian, in a zero-filled buffer of this
// many bytes (so at most 50 code units, zero-terminated only when they fit).
inline constexpr std::size_t kDeviceStringBytes = 100;
using DeviceStringBuffer = std::array<std::uint8_t, kDeviceStringBytes>;

// The device handle is opened for synchronous use; the string handle is a second handle on the
// same path that only the manufacturer and product string queries use.
enum class OpenMode { Device, Strings };

// The HID seam, with Windows semantics whatever the platform; a backend converts at its edge.
// Every bool result is the Windows call's success (non-zero) and is stored by the caller as
// its last result.
class Hid {
 public:
  virtual ~Hid() = default;

  // Paths of the HID interfaces present right now, in enumeration order, into `paths`. The list
  // is a snapshot: it lives only as long as one scan or search needs it. False when the system
  // could not make it (or a backend with deadlines gave up on it); `paths` is then empty and
  // says nothing about what is present.
  [[nodiscard]] virtual bool presentInterfaces(std::vector<std::string>& paths) = 0;

  // Runs `calls` on this backend as one piece of work: a scan, which lists the interfaces and
  // opens each one to read who it is. That is the system's work more than any device's, and
  // takes as long as the machine is busy, so a backend with deadlines gives the whole of it a
  // budget of its own instead of each call the deadline of a call on a device. False when it
  // was given up on (lastErrorText() says why); `calls` may then still be running on another
  // thread, so it keeps what it finds in memory of its own until this has returned true.
  [[nodiscard]] virtual bool scan(const std::function<void(Hid&)>& calls) {
    calls(*this);
    return true;
  }

  // What tells this plug-in of the device at `path` from the next one, without opening it: a
  // path may be given to the next device plugged in, or to the same one plugged in again.
  // Empty when the backend cannot tell; a caller then takes a path that stayed listed from one
  // listing to the next for the same plug-in.
  [[nodiscard]] virtual std::string plugIn(const std::string& /*path*/) { return {}; }

  // Opens a path for reading and writing with shared access; kInvalidHandle on failure.
  [[nodiscard]] virtual HidHandle open(const std::string& path, OpenMode mode) = 0;
  virtual bool close(HidHandle handle) = 0;

  [[nodiscard]] virtual bool attributes(HidHandle handle, HidAttributes& out) = 0;
  [[nodiscard]] virtual bool capabilities(HidHandle handle, HidCaps& out) = 0;
  [[nodiscard]] virtual bool serialNumber(HidHandle handle, DeviceStringBuffer& out) = 0;
  [[nodiscard]] virtual bool manufacturer(HidHandle handle, DeviceStringBuffer& out) = 0;
  [[nodiscard]] virtual bool product(HidHandle handle, DeviceStringBuffer& out) = 0;

  // Feature reports: byte 0 of the buffer is the report ID (always 0 here) and the buffer's
  // size is the device's feature report length. getFeature fills the buffer with the report
  // whose ID the caller put in byte 0.
  [[nodiscard]] virtual bool getFeature(HidHandle handle, std::span<std::uint8_t> buffer) = 0;
  [[nodiscard]] virtual bool setFeature(HidHandle handle, std::span<const std::uint8_t> report) = 0;

  // Reads whole input reports back to back into the buffer, each one input report length long
  // and starting with its report ID byte 0: everything already queued that fits, waiting at
  // most `firstReportWait` for the first one. Success with bytesRead 0 means nothing arrived
  // in time; failure means the device is gone or the handle is no longer valid.
  [[nodiscard]] virtual bool read(HidHandle handle, std::span<std::uint8_t> buffer,
                                  std::size_t& bytesRead,
                                  std::chrono::milliseconds firstReportWait) = 0;
  // When the latest read that succeeded came back, taken by the backend as its call returned,
  // on the thread that made it. Every report of one read shares it and arrived no later; one
  // that waited in the system's queue (while the program was stopped, say) arrived much
  // earlier, which only the receiver's own time can reveal. A simulated backend stamps with its
  // simulated clock.
  [[nodiscard]] virtual ReadStamp readStamp() const = 0;

  // False while the device does not answer: a call missed its deadline and has not come back
  // yet, so calls fail at once whatever they ask. A caller tells a hung device from a gone one
  // by asking this right after a call failed; a backend without deadlines always answers.
  [[nodiscard]] virtual bool answering() const { return true; }

  // The system's reason for the most recent call that failed on this backend, captured at the
  // moment it failed (errno text on Linux, the GetLastError message on Windows); empty before
  // any failure.
  [[nodiscard]] virtual std::string lastErrorText() const = 0;
};

}  // namespace qvr::platform
