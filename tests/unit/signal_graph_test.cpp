#include "ui/signal_graph.h"

#include <gtest/gtest.h>

#include "ui/controls.h"

namespace qvr::ui {
namespace {

class SignalGraphTest : public ::testing::Test {
 protected:
  SignalGraphTest() { graph.layOut(); }
  Form form{controlTable()};
  SignalGraph graph{form, kTwipsPerPixel};
};

TEST_F(SignalGraphTest, LayoutAtFifteenTwipsPerPixel) {
  EXPECT_EQ(graph.geometry().barPitch, 165);
  EXPECT_EQ(graph.geometry().barWidth, 150);
  EXPECT_EQ(graph.geometry().restingTop, 1425);
  for (int i = 0; i < ctl::kSatCount; ++i) {
    const Control& bar = form[ctl::Sat(i)];
    EXPECT_EQ(bar.left, (i + 2) * 165);
    EXPECT_EQ(bar.width, 150);
    EXPECT_EQ(bar.height, 0);
    EXPECT_EQ(bar.top, 1425);
    EXPECT_TRUE(bar.visible);
    EXPECT_EQ(bar.backColor, kDarkGrey);
  }
  EXPECT_EQ(form[ctl::Sat(31)].left, 5445);
  const Control& average = form[ctl::Sat_average];
  EXPECT_EQ(average.left, 15);
  EXPECT_EQ(average.width, 225);
  EXPECT_EQ(average.height, 0);
}

TEST_F(SignalGraphTest, GridLinesAndScaleLabels) {
  // The inner height is the box less its one-pixel border: 1470 twips.
  const int expectedY[] = {1198, 926, 653, 381, 109};
  for (int i = 0; i < ctl::kScaleCount; ++i) {
    const Control& line = form[ctl::CNoLine(i)];
    const Control& label = form[ctl::CNoLbl(i)];
    EXPECT_EQ(line.top, expectedY[i]) << i;
    EXPECT_EQ(line.height, 0);
    EXPECT_EQ(line.left, 336);  // 1.4 x the scale label's width
    EXPECT_EQ(line.left + line.width, 5580);
    EXPECT_EQ(line.borderColor, kLightGrey);
    EXPECT_EQ(label.text, std::to_string((i + 1) * 10));
    EXPECT_EQ(label.top, expectedY[i] - 90);
    EXPECT_EQ(label.left, i == 0 ? 0 : 15);
  }
}

TEST_F(SignalGraphTest, BarsStandOnTheBottomEdge) {
  graph.setBar(0, 45);
  EXPECT_EQ(form[ctl::Sat(0)].height, 1250);
  EXPECT_EQ(form[ctl::Sat(0)].top, 250);
  graph.setBar(1, 30);
  EXPECT_EQ(form[ctl::Sat(1)].height, 833);
  EXPECT_EQ(form[ctl::Sat(1)].top, 667);
  graph.setBar(2, 60);  // taller than the box: clipped by it, not by us
  EXPECT_EQ(form[ctl::Sat(2)].height, 1667);
  EXPECT_EQ(form[ctl::Sat(2)].top, -167);
  graph.restBar(0);
  EXPECT_EQ(form[ctl::Sat(0)].height, 0);
  EXPECT_EQ(form[ctl::Sat(0)].top, 1425);
}

TEST_F(SignalGraphTest, AverageBarHeightColourAndPlacement) {
  graph.setAverageHeight(120, 3);  // 30, 40 and 50 dB-Hz
  EXPECT_EQ(form[ctl::Sat_average].height, 1111);
  graph.placeAverage();
  EXPECT_EQ(form[ctl::Sat_average].top, 389);

  struct Case {
    int average;
    Rgb colour;
  };
  const Case cases[] = {{10, {255, 0, 0}},  {20, {255, 143, 0}}, {28, {243, 255, 0}},
                        {40, {71, 255, 0}}, {45, {0, 255, 0}},   {9, {255, 0, 0}},
                        {0, {255, 0, 0}},   {60, {0, 255, 0}}};
  for (const Case& c : cases) {
    graph.setAverageColour(c.average);
    EXPECT_EQ(form[ctl::Sat_average].backColor, c.colour) << c.average;
    EXPECT_EQ(form[ctl::Sat_average].borderColor, c.colour) << c.average;
  }
}

TEST_F(SignalGraphTest, StatusLineFromTheStatusByte) {
  struct Case {
    std::uint8_t status;
    const char* text;
    bool opaque;
  };
  const Case cases[] = {{0x00, " GPS antenna shorted", true}, {0x01, " GPS antenna shorted", true},
                        {0x04, " No GPS signal", true},       {0x05, " GPS signal OK", false},
                        {0xFD, " GPS signal OK", false},      {0xFA, " GPS antenna shorted", true}};
  for (const Case& c : cases) {
    graph.showStatus(c.status);
    EXPECT_EQ(form[ctl::Status].text, c.text) << int{c.status};
    EXPECT_EQ(form[ctl::Status].backOpaque, c.opaque);
    if (c.opaque) {
      EXPECT_EQ(form[ctl::Status].backColor, kLightRed);
    }
  }
}

TEST_F(SignalGraphTest, PositionAndTimeTexts) {
  graph.showPosition(51.5012341, -0.1412338, 35.2, '.');
  EXPECT_EQ(form[ctl::GPSposition].text, " 51.501234, -0.141234, 35");
  graph.showPosition(0, 0, 0, '.');
  EXPECT_EQ(form[ctl::GPSposition].text, " 0.000000, 0.000000, 0");
  graph.showPosition(-33.8567844, 151.2152967, -3.5, ',');
  EXPECT_EQ(form[ctl::GPSposition].text, " -33,856784, 151,215297, -4");

  graph.showTime(2025, 3, 7, 14, 5, 9);
  EXPECT_EQ(form[ctl::UTC].text, " 2025.03.07 14:05:09");
  graph.showTime(2025, 1, 2, 3, 4, 5);
  EXPECT_EQ(form[ctl::UTC].text, " 2025.01.02 03:04:05");
  graph.showUnknownTime();
  EXPECT_EQ(form[ctl::UTC].text, " Unknown");
}

}  // namespace
}  // namespace qvr::ui
