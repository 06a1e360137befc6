#include <gtest/gtest.h>

#include <string>

#include "diagnostics/diagnostics_address.h"
#include "diagnostics/os_version.h"
#include "diagnostics/web_addresses.h"

namespace qvr::diagnostics {
namespace {

TEST(WindowsVersionText, TheWholeNameTable) {
  struct Case {
    std::uint32_t major, minor, build;
    std::uint8_t productType;
    std::uint16_t suiteMask;
    const char* name;
  };
  const Case cases[] = {
      {3, 51, 1057, 1, 0, "Windows NT 3.5 Workstation"},
      {3, 0, 1, 3, 0, "Windows NT 3.5 Server"},
      {4, 0, 1381, 1, 0, "Windows NT 4.0 Workstation"},
      {4, 9, 1381, 2, 0, "Windows NT 4.0 Server"},
      {5, 0, 2195, 1, 0, "Windows 2000 Workstation"},
      {5, 0, 2195, 3, 0, "Windows 2000 Server"},
      {5, 1, 2600, 1, 0x300, "Windows XP Home Edition"},
      {5, 1, 2600, 1, 0x100, "Windows XP Professional"},
      {5, 1, 2600, 3, 0x200, "Windows XP Home Edition"},
      {5, 2, 3790, 3, 0, "Windows Server 2003"},
      {5, 2, 3790, 1, 0, "Windows XP 64-bit Edition"},
      {5, 3, 1, 1, 0, "Unrecognized Version"},
      {6, 0, 6002, 1, 0, "Windows Vista"},
      {6, 0, 6002, 3, 0, "Windows Server 2008"},
      {6, 1, 7601, 1, 0, "Windows 7"},
      {6, 1, 7601, 2, 0, "Windows Server 2008 R2"},
      {6, 2, 9200, 1, 0, "Windows 8"},
      {6, 2, 9200, 3, 0, "Windows Server 2012"},
      {6, 3, 9600, 1, 0, "Windows 8.1"},
      {6, 3, 9600, 3, 0, "Windows Server 2012 R2"},
      {6, 4, 1, 1, 0, "Unrecognized Version"},
      {10, 0, 19045, 1, 0, "Windows 10"},
      {10, 0, 21999, 1, 0, "Windows 10"},
      {10, 0, 22000, 1, 0, "Windows 11"},
      {10, 5, 22631, 1, 0, "Windows 11"},
      {10, 0, 20348, 3, 0, "Windows Server 2016"},
      {10, 0, 26100, 2, 0, "Windows Server 2016"},
      {11, 0, 1, 3, 0, "Windows 11"},
      {0, 0, 0, 1, 0, "Unrecognized Version"},
      {2, 0, 0, 1, 0, "Unrecognized Version"},
      {7, 0, 1, 1, 0, "Unrecognized Version"},
      {9, 0, 1, 1, 0, "Unrecognized Version"},
      {12, 0, 1, 1, 0, "Unrecognized Version"},
  };
  for (const Case& c : cases) {
    WindowsVersionRecord r{c.major, c.minor, c.build, 0, 0, c.suiteMask, c.productType};
    const std::string expected = std::string(c.name) + " (v" + std::to_string(c.major) + "." +
                                 std::to_string(c.minor) + "." + std::to_string(c.build) + ")";
    EXPECT_EQ(windowsVersionText(r), expected);
  }
}

TEST(WindowsVersionText, ServicePacksAndFailure) {
  EXPECT_EQ(windowsVersionText(WindowsVersionRecord{6, 1, 7601, 1, 0, 0, 1}),
            "Windows 7 SP1 (v6.1.7601)");
  EXPECT_EQ(windowsVersionText(WindowsVersionRecord{5, 1, 2600, 3, 0, 0, 1}),
            "Windows XP Professional SP3 (v5.1.2600)");
  EXPECT_EQ(windowsVersionText(WindowsVersionRecord{5, 2, 3790, 2, 1, 0, 3}),
            "Windows Server 2003 SP2.1 (v5.2.3790)");
  EXPECT_EQ(windowsVersionText(WindowsVersionRecord{6, 0, 6000, -1, 5, 0, 1}),
            "Windows Vista (v6.0.6000)");
  EXPECT_EQ(windowsVersionText(WindowsVersionRecord{6, 0, 6000, 2, -1, 0, 1}),
            "Windows Vista SP2 (v6.0.6000)");
  EXPECT_EQ(windowsVersionText(WindowsVersionRecord{7, 0, 1, 0, 0, 0, 1}),
            "Unrecognized Version (v7.0.1)");
  EXPECT_EQ(windowsVersionText(std::nullopt), "Failed to retrieve Windows version");
}

TEST(LinuxVersionText, NameFromOsReleaseAndKernel) {
  const std::string osRelease =
      "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
      "(bookworm)\"\nID=debian\n";
  EXPECT_EQ(osReleasePrettyName(osRelease), "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(osReleasePrettyName("PRETTY_NAME='Fedora Linux 41'"), "Fedora Linux 41");
  EXPECT_EQ(osReleasePrettyName("PRETTY_NAME=Arch"), "Arch");
  EXPECT_EQ(osReleasePrettyName("NAME=x\n"), "");
  EXPECT_EQ(osReleasePrettyName("PRETTY_NAME=\"a&b\x01\x7F\"\n"), "a&b");
  EXPECT_EQ(linuxVersionText("Debian GNU/Linux 12 (bookworm)", "6.1.0-18-amd64"),
            "Debian GNU/Linux 12 (bookworm) (v6.1.0-18-amd64)");
  EXPECT_EQ(linuxVersionText("", "6.1.0"), "Linux (v6.1.0)");
}

DiagnosticsState workedExample() {
  DiagnosticsState s;
  s.serialNumber = "123456";
  s.latitude = 51.5012345;
  s.longitude = -0.1234567;
  s.altitude = 35.2;
  s.firmwareText = "1.08";
  s.firmware = {1, 8};
  s.satellitesUsed = 12;
  s.averageCno = 38;
  s.out1Text = "10000000";
  s.out2Text = "10000000";
  s.statusByte = 5;
  s.fll = 0;
  s.clockDrift = -123;
  s.osVersion = "Windows 10 (v10.0.19045)";
  s.gnssSelection = 0x47;
  s.dynamicModel = 2;
  s.antennaCurrent = 12;
  s.nmea = 0;
  return s;
}

TEST(DiagnosticsAddress, WorkedExample) {
  EXPECT_EQ(
      diagnosticsAddress("https://maker.example/diagnostics/7130/diag.php", workedExample(), '.'),
      "https://maker.example/diagnostics/7130/"
      "diag.php?v=1.09&sn=123456&lat=51.50&lon=-0.12&alt=35&fw=1.08"
      "&sat=12&cno=38&f1out=10000000&f2out=10000000&flags=5&fll=0&tcxo=-123&os=Windows%2010%20"
      "(v10.0.19045)"
      "&gnss=71&dynmodel=2&Iant=12&nmea=0");
}

TEST(DiagnosticsAddress, FieldsByFirmware) {
  struct Case {
    protocol::FirmwareVersion firmware;
    const char* ending;
  };
  const Case cases[] = {
      {{1, 6}, "&os=Windows%2010%20(v10.0.19045)"},
      {{1, 7}, "&os=Windows%2010%20(v10.0.19045)&gnss=71&dynmodel=2"},
      {{1, 8}, "&gnss=71&dynmodel=2&Iant=12&nmea=0"},
      {{1, 0x1A}, "&gnss=71&dynmodel=2&Iant=12&nmea=0"},
      {{2, 0}, "&os=Windows%2010%20(v10.0.19045)"},
      {{0, 9}, "&os=Windows%2010%20(v10.0.19045)"},
  };
  for (const Case& c : cases) {
    DiagnosticsState s = workedExample();
    s.firmware = c.firmware;
    const std::string address = diagnosticsAddress("p", s, '.');
    EXPECT_TRUE(address.ends_with(c.ending)) << address;
  }
}

TEST(DiagnosticsAddress, NumberFormsAndMissingValues) {
  DiagnosticsState s = workedExample();
  s.latitude.reset();
  s.longitude.reset();
  s.altitude = -3.5;
  s.statusByte = 0x1F;
  s.antennaCurrent = -1;
  s.out1Text = "1PPS";
  s.firmware = {1, 8};
  const std::string a = diagnosticsAddress("p", s, '.');
  EXPECT_NE(a.find("&lat=&lon=&alt=-4&"), std::string::npos) << a;
  EXPECT_NE(a.find("&f1out=1PPS&"), std::string::npos);
  EXPECT_NE(a.find("&flags=1F&"), std::string::npos);
  EXPECT_NE(a.find("&Iant=-1&"), std::string::npos);

  s.latitude = -0.125;
  s.longitude = 51.5012345;
  s.statusByte = 0;
  const std::string comma = diagnosticsAddress("p", s, ',');
  EXPECT_NE(comma.find("&lat=-0,13&lon=51,50&"), std::string::npos) << comma;
  EXPECT_NE(comma.find("&flags=0&"), std::string::npos);
}

TEST(QueryValue, EncodesWhatWouldBreakTheQuery) {
  struct Case {
    std::string value;
    const char* encoded;
  };
  const Case cases[] = {
      {"QVR000123", "QVR000123"},
      {"", ""},
      {"A#1", "A%231"},
      {"x&y=z", "x%26y%3Dz"},
      {"1+1", "1%2B1"},
      {"50%", "50%25"},
      {"%23", "%2523"},
      {"a b", "a%20b"},
      {"why?", "why%3F"},
      {"\xE9", "%E9"},
      {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
      {std::string("a\0b", 3), "a%00b"},
      {"\t\r\n\x1F\x7F", "%09%0D%0A%1F%7F"},
      {"\"<>[]\\^`{|}", "%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D"},
      {"-._~!$'()*,;:@/", "-._~!$'()*,;:@/"},
      {"Windows 10 (v10.0.19045)", "Windows%2010%20(v10.0.19045)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(queryValue(c.value), c.encoded) << c.value;
  }
}

TEST(MapSearchAddress, PointInEveryLocaleAndNoExponent) {
  const std::string prefix = "https://www.google.com/maps/search/?api=1&query=";
  EXPECT_EQ(mapSearchAddress(51.5012345, -0.1234567, ','), prefix + "51.5012345,-0.1234567");
  EXPECT_EQ(mapSearchAddress(51.5012345, -0.1234567, '.'), prefix + "51.5012345,-0.1234567");
  EXPECT_EQ(mapSearchAddress(0.0000001, -0.0000001, '.'), prefix + "0.0000001,-0.0000001");
  EXPECT_EQ(mapSearchAddress(0, 0, '.'), prefix + "0,0");
}

}  // namespace
}  // namespace qvr::diagnostics
