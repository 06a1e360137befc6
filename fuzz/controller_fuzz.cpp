// The whole window against a device whose identity, strings, report lengths, configuration
// and input reports all come from the fuzzer, with the user clicking, typing and choosing in
// between, and the device going away and coming back. Afterwards no handle may be left open.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sim/sim_hid.h"
#include "platform/sim/sim_system.h"
#include "ui/controls.h"
#include "ui/main_window.h"

namespace {

using qvr::platform::sim::DeviceProfile;

std::u16string utf16(FuzzedDataProvider& p) {
  std::u16string text;
  for (std::size_t n = p.ConsumeIntegralInRange<std::size_t>(0, 60); n > 0; --n) {
    text.push_back(p.ConsumeIntegral<char16_t>());
  }
  return text;
}

DeviceProfile profile(FuzzedDataProvider& p, const char16_t* serial) {
  DeviceProfile d;
  d.serial = serial;
  d.versionNumber = p.ConsumeIntegral<std::uint16_t>();
  d.inputLength = p.ConsumeIntegralInRange<std::uint16_t>(0, 300);
  d.featureLength = p.ConsumeIntegralInRange<std::uint16_t>(0, 80);
  d.manufacturer = utf16(p);
  d.product = utf16(p);
  d.unreadableStrings = p.ConsumeBool();
  d.receiver = p.ConsumeBool();
  d.configuration = p.ConsumeBytes<std::uint8_t>(p.ConsumeIntegralInRange<std::size_t>(0, 80));
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider p(data, size);
  qvr::platform::sim::SimHid hid;
  qvr::platform::sim::SimSystem system;
  hid.setClock([&system] { return system.now(); });
  qvr::platform::sim::SimDevice& first = hid.attach(profile(p, u"F1"));
  qvr::platform::sim::SimDevice& second = hid.attach(profile(p, u"F2"));
  qvr::ui::MainWindow window(hid, system);
  qvr::ui::Form& form = window.form();
  window.load();

  for (int steps = 0; steps < 400 && p.remaining_bytes() > 0; ++steps) {
    qvr::platform::sim::SimDevice& device = p.ConsumeBool() ? first : second;
    switch (p.ConsumeIntegralInRange(0, 9)) {
      case 0:
        device.injectBytes(p.ConsumeBytes<std::uint8_t>(p.ConsumeIntegralInRange(0, 300)));
        break;
      case 1:
        device.queueInputReport(p.ConsumeBytes<std::uint8_t>(p.ConsumeIntegralInRange(0, 300)));
        break;
      case 2:
        device.present() ? hid.unplug(device) : hid.plug(device);
        break;
      case 3:
        form.userClick(p.ConsumeIntegralInRange<qvr::ui::ControlId>(0, form.size() - 1));
        break;
      case 4:
        form.userType(p.PickValueInArray({qvr::ui::ctl::Out1Freq, qvr::ui::ctl::Out2Freq}),
                      p.ConsumeRandomLengthString(40));
        break;
      case 5:
        form.userChoose(p.PickValueInArray({qvr::ui::ctl::SerNo, qvr::ui::ctl::dynmodel}),
                        p.ConsumeIntegralInRange(-1, 3));
        break;
      case 6:
        form.userKey(qvr::ui::ctl::Out1Freq, p.ConsumeIntegral<std::uint8_t>());
        break;
      case 7:
        system.setDecimalSeparator(p.ConsumeBool() ? ',' : '.');
        break;
      case 8:
        system.advance(std::chrono::milliseconds(p.ConsumeIntegralInRange(0, 1000)));
        break;
      default:
        for (int n = p.ConsumeIntegralInRange(1, 8); n > 0; --n) {
          system.advance(std::chrono::milliseconds(form[qvr::ui::ctl::Timer].interval));
          window.tick();
        }
        break;
    }
  }
  window.unload();
  if (hid.openHandles() != 0) {
    __builtin_trap();  // a handle leaked
  }
  return 0;
}
