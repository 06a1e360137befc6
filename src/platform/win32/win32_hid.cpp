#include "platform/win32/win32_hid.h"

#include <windows.h>
// After windows.h, which they build on; winternl.h for NTSTATUS, which the HID headers use
// without including anything that declares it.
#include <setupapi.h>
#include <winternl.h>
// mingw's HID headers declare hid.dll's C functions without extern "C" of their own.
// hidsdi.h brings hidusage.h and hidpi.h in the order they need.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/win32/interface_detail.h"

namespace qvr::platform::win32 {
namespace {

// The detail record's fixed part as this platform lays it out: the size field and one path
// character, padded to 8 bytes on 64-bit Windows, packed to 5 on 32-bit.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 8 ? 8 : 5));
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == kDetailPathOffset);

// Every handle of this backend is opened the same way: for reading and writing, shared with
// the other programs and handles on the device, and inheritable.
HANDLE openDevicePath(const std::string& path, DWORD flags) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = TRUE;
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &security, OPEN_EXISTING, flags, nullptr);
}

bool valid(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

ULONG length(std::size_t size) {
  return static_cast<ULONG>(size);
}

}  // namespace

std::string systemErrorText(std::uint32_t errorCode) {
  char text[512];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, errorCode,
                     0, text, static_cast<DWORD>(sizeof text), nullptr);
  std::string message(text, length);
  // Messages end in a period and CR LF, which a reason quoted inside a sentence must not.
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(errorCode) : message;
}

bool Win32Hid::fail(std::uint32_t errorCode) {
  lastError_ = systemErrorText(errorCode);
  return false;
}

bool Win32Hid::failWithLastError() {
  return fail(GetLastError());
}

Win32Hid::~Win32Hid() {
  for (auto& [number, open] : handles_) {
    closeReader(open);
    CloseHandle(open.handle);
  }
}

void* Win32Hid::native(HidHandle handle) const {
  const auto it = handles_.find(handle);
  // An invalid handle makes every call fail, as it does on the system's own handles.
  return it == handles_.end() ? INVALID_HANDLE_VALUE : it->second.handle;
}

bool Win32Hid::presentInterfaces(std::vector<std::string>& paths) {
  paths.clear();
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  const HDEVINFO set =
      SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    return failWithLastError();
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
      break;
    }
    // The first query only learns the size; it fails with ERROR_INSUFFICIENT_BUFFER by design.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required, nullptr);
    prepareDetailBuffer(detailBuffer_, required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detailBuffer_.data());
    if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr, nullptr)) {
      paths.push_back(interfaceDetailPath(detailBuffer_));
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return true;
}

HidHandle Win32Hid::open(const std::string& path, OpenMode mode) {
  // Only the string queries use the overlapped handle, and they complete at once: the driver
  // answers them from what it read from the device when it was plugged in.
  const DWORD flags = mode == OpenMode::Strings ? FILE_FLAG_OVERLAPPED : 0;
  const HANDLE handle = openDevicePath(path, flags);
  if (!valid(handle)) {
    failWithLastError();
    return kInvalidHandle;
  }
  const HidHandle number = nextHandle_++;
  handles_.emplace(number, OpenHandle{.handle = handle, .path = path});
  return number;
}

bool Win32Hid::close(HidHandle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    return fail(ERROR_INVALID_HANDLE);
  }
  closeReader(it->second);
  const bool ok = CloseHandle(it->second.handle) != 0;
  if (!ok) {
    failWithLastError();
  }
  handles_.erase(it);
  return ok;
}

bool Win32Hid::attributes(HidHandle handle, HidAttributes& out) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  attributes.VendorID = 0;
  attributes.ProductID = 0;
  if (!HidD_GetAttributes(native(handle), &attributes)) {
    return failWithLastError();
  }
  out.vendorId = attributes.VendorID;
  out.productId = attributes.ProductID;
  out.versionNumber = attributes.VersionNumber;
  return true;
}

bool Win32Hid::capabilities(HidHandle handle, HidCaps& out) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(native(handle), &preparsed)) {
    return failWithLastError();
  }
  HIDP_CAPS caps{};
  const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
  HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS) {
    // HidP_ calls answer with a status of their own and leave the last error alone.
    char text[96];
    std::snprintf(text, sizeof text, "the device's capabilities are unreadable (status 0x%08lX)",
                  static_cast<unsigned long>(status));
    lastError_ = text;
    return false;
  }
  out.inputReportByteLength = caps.InputReportByteLength;
  out.featureReportByteLength = caps.FeatureReportByteLength;
  return true;
}

// The string queries fill the seam's buffer as it is: UTF-16 little-endian, zero-filled.
bool Win32Hid::serialNumber(HidHandle handle, DeviceStringBuffer& out) {
  return HidD_GetSerialNumberString(native(handle), out.data(), length(out.size())) != 0 ||
         failWithLastError();
}

bool Win32Hid::manufacturer(HidHandle handle, DeviceStringBuffer& out) {
  return HidD_GetManufacturerString(native(handle), out.data(), length(out.size())) != 0 ||
         failWithLastError();
}

bool Win32Hid::product(HidHandle handle, DeviceStringBuffer& out) {
  return HidD_GetProductString(native(handle), out.data(), length(out.size())) != 0 ||
         failWithLastError();
}

bool Win32Hid::getFeature(HidHandle handle, std::span<std::uint8_t> buffer) {
  return HidD_GetFeature(native(handle), buffer.data(), length(buffer.size())) != 0 ||
         failWithLastError();
}

bool Win32Hid::setFeature(HidHandle handle, std::span<const std::uint8_t> report) {
  // The parameter is not const in the header, but the driver only reads the report.
  return HidD_SetFeature(native(handle), const_cast<std::uint8_t*>(report.data()),
                         length(report.size())) != 0 ||
         failWithLastError();
}

bool Win32Hid::openReader(OpenHandle& open) {
  if (open.reader != nullptr) {
    return true;
  }
  const HANDLE reader = openDevicePath(open.path, FILE_FLAG_OVERLAPPED);
  if (!valid(reader)) {
    return failWithLastError();
  }
  // Manual reset, as GetOverlappedResult expects of the event it waits on.
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    failWithLastError();  // before CloseHandle, which may set its own
    CloseHandle(reader);
    return false;
  }
  open.reader = reader;
  open.readerEvent = event;
  return true;
}

void Win32Hid::closeReader(OpenHandle& open) {
  if (open.reader != nullptr) {
    CloseHandle(open.reader);
    CloseHandle(open.readerEvent);
    open.reader = nullptr;
    open.readerEvent = nullptr;
  }
}

bool Win32Hid::read(HidHandle handle, std::span<std::uint8_t> buffer, std::size_t& bytesRead,
                    std::chrono::milliseconds firstReportWait) {
  bytesRead = 0;
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    return fail(ERROR_INVALID_HANDLE);
  }
  if (!openReader(it->second)) {
    return false;
  }
  const HANDLE reader = it->second.reader;
  OVERLAPPED overlapped{};
  overlapped.hEvent = it->second.readerEvent;
  // The driver places as many whole queued reports as fit, and completes the read at once when
  // one is queued; otherwise it completes with the first report to arrive.
  if (!ReadFile(reader, buffer.data(), length(buffer.size()), nullptr, &overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      return fail(error);  // the device is gone, or the handle no longer valid
    }
  }
  const auto wait = static_cast<DWORD>(firstReportWait.count() < 0 ? 0 : firstReportWait.count());
  if (WaitForSingleObject(overlapped.hEvent, wait) != WAIT_OBJECT_0) {
    CancelIo(reader);
  }
  // Waits for the read's end either way: a report that arrived while it was being cancelled
  // completes the read instead and is taken now, so nothing is lost and nothing reordered.
  DWORD transferred = 0;
  const bool completed = GetOverlappedResult(reader, &overlapped, &transferred, TRUE) != 0;
  const DWORD error = completed ? ERROR_SUCCESS : GetLastError();
  const ReadStamp returned = stampNow();
  if (!completed && error != ERROR_OPERATION_ABORTED) {
    return fail(error);  // the device is gone, or the handle no longer valid
  }
  // Aborted: nothing came in time, which is a read too.
  readStamp_ = returned;
  bytesRead = completed ? transferred : 0;
  return true;
}

}  // namespace qvr::platform::win32
