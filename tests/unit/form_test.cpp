#include "ui/form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/controls.h"

namespace qvr::ui {
namespace {

class FormTest : public ::testing::Test {
 protected:
  Form form{controlTable()};
  std::vector<std::string> log;

  void record(ControlId id) {
    form.setHandler(id, [this, id] { log.push_back(form.nameOf(id)); });
  }
};

TEST_F(FormTest, ControlTableNamesMatchTheirIdentifiers) {
  EXPECT_EQ(form.size(), ctl::kControlCount);
  EXPECT_EQ(form.nameOf(ctl::Timer), "Timer");
  EXPECT_EQ(form.nameOf(ctl::GNSS_GLONASS), "GNSS_GLONASS");
  EXPECT_EQ(form.nameOf(ctl::Sat(0)), "Sat(0)");
  EXPECT_EQ(form.nameOf(ctl::Sat(31)), "Sat(31)");
  EXPECT_EQ(form.nameOf(ctl::CNoLbl(4)), "CNoLbl(4)");
  EXPECT_EQ(form.nameOf(ctl::CNoLine(0)), "CNoLine(0)");
  for (ControlId id = 0; id < form.size(); ++id) {
    EXPECT_EQ(form.find(form.nameOf(id)), id) << form.nameOf(id);
  }
  EXPECT_EQ(form.find("Nonsense"), kNoControl);
  EXPECT_EQ(form.find("Sat(32)"), kNoControl);
}

TEST_F(FormTest, ControlTableKeepsCaptionsTooltipsAndStyles) {
  EXPECT_EQ(form[ctl::Label12].tooltip, "Click to open in Google maps");
  EXPECT_EQ(form[ctl::GPSposition].tooltip, "Click to open Google Maps");
  EXPECT_EQ(form[ctl::UTC].tooltip, "Click to set your computer local time from GPS");
  EXPECT_EQ(form[ctl::Out1power].tooltip, "Reduce OUT1 power to +1dBm");
  EXPECT_EQ(form[ctl::Factory].text, "Factory reset");
  EXPECT_EQ(form[ctl::Status].backColor, kLightRed);
  EXPECT_TRUE(form[ctl::Status].backOpaque);
  EXPECT_EQ(form[ctl::Out2Freq].font, (Font{"Microsoft Sans Serif", 13.5}));
  EXPECT_EQ(form[ctl::CNoLbl(2)].font, (Font{"Small Fonts", 6.75}));
  EXPECT_EQ(form[ctl::CNoLbl(2)].foreColor, kDarkGrey);
  EXPECT_FALSE(form[ctl::NMEA].enabled);
  EXPECT_FALSE(form[ctl::Timer].enabled);
  EXPECT_EQ(form[ctl::Timer].interval, 100);
  EXPECT_EQ(form[ctl::Sat(5)].parent, ctl::PicSat);
  const Control& freq = form[ctl::FindFreq2];
  EXPECT_EQ((std::vector<int>{freq.left, freq.top, freq.width, freq.height}),
            (std::vector<int>{3650, 4095, 1000, 480}));
}

TEST_F(FormTest, ValueSetRunsTheHandlerOncePerActualChange) {
  record(ctl::FLL);
  form.setValue(ctl::FLL, 0);
  EXPECT_TRUE(log.empty());
  form.setValue(ctl::FLL, 1);
  form.setValue(ctl::FLL, 1);
  form.setValue(ctl::FLL, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"FLL", "FLL"}));
}

TEST_F(FormTest, NestedHandlersFinishBeforeTheOuterOneGoesOn) {
  form.setHandler(ctl::GNSS_GPS, [this] {
    log.push_back("GPS in");
    form.setValue(ctl::GNSS_BeiDou, 0);
    log.push_back("GPS out");
  });
  record(ctl::GNSS_BeiDou);
  form.setValue(ctl::GNSS_BeiDou, 1);
  log.clear();
  form.userClick(ctl::GNSS_GPS);
  EXPECT_EQ(log, (std::vector<std::string>{"GPS in", "GNSS_BeiDou", "GPS out"}));
  EXPECT_EQ(form[ctl::GNSS_GPS].value, 1);
}

TEST_F(FormTest, ListSelectionRunsTheHandlerEmptyingDoesNot) {
  record(ctl::dynmodel);
  form.addItem(ctl::dynmodel, "Stationary");
  form.addItem(ctl::dynmodel, "Portable");
  form.setListIndex(ctl::dynmodel, 1);
  form.setListIndex(ctl::dynmodel, 1);
  form.setListIndex(ctl::dynmodel, 5);  // no such row
  EXPECT_EQ(form[ctl::dynmodel].text, "Portable");
  form.clearItems(ctl::dynmodel);
  EXPECT_EQ(log, (std::vector<std::string>{"dynmodel"}));
  EXPECT_EQ(form[ctl::dynmodel].listIndex, -1);
  EXPECT_EQ(form[ctl::dynmodel].text, "");
}

TEST_F(FormTest, InputAimedAtDisabledOrHiddenControlsDoesNothing) {
  for (const ControlId id : {ctl::FLL, ctl::Label13, ctl::FindFreq, ctl::Image1}) {
    record(id);
  }
  form.setEnabled(ctl::FLL, false);
  form.userClick(ctl::FLL);
  form.setVisible(ctl::Label13, false);
  form.userClick(ctl::Label13);
  form.setEnabled(ctl::Out1Freq, false);
  form.userType(ctl::Out1Freq, "42");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(form[ctl::FLL].value, 0);
  EXPECT_EQ(form[ctl::Out1Freq].text, "1000000000");

  form.userClick(ctl::FindFreq);
  form.userClick(ctl::Image1);
  form.userClick(ctl::Label12);  // no handler: nothing to run, nothing breaks
  EXPECT_EQ(log, (std::vector<std::string>{"FindFreq", "Image1"}));
}

TEST_F(FormTest, MembersOfADisabledGraphTakeNoInput) {
  record(ctl::Sat(3));
  form.setEnabled(ctl::PicSat, false);
  form.userClick(ctl::Sat(3));
  EXPECT_FALSE(form.acceptsInput(ctl::Sat(3)));
  EXPECT_TRUE(log.empty());
}

TEST_F(FormTest, KeysReachTheKeyHandlerUntouched) {
  std::vector<int> keys;
  form.setKeyHandler(ctl::Out1Freq, [&](int& code) { keys.push_back(code); });
  form.userKey(ctl::Out1Freq, 13);
  form.userKey(ctl::Out1Freq, '5');
  form.userKey(ctl::Out2Freq, 13);  // no key handler there
  EXPECT_EQ(keys, (std::vector<int>{13, '5'}));
}

TEST_F(FormTest, CaretIsClampedToTheText) {
  form.setText(ctl::Out1Freq, "10.5");
  form.setSelStart(ctl::Out1Freq, 99);
  EXPECT_EQ(form[ctl::Out1Freq].selStart, 4);
  form.setText(ctl::Out1Freq, "1");
  EXPECT_EQ(form[ctl::Out1Freq].selStart, 1);
  form.userType(ctl::Out2Freq, "12.5");
  EXPECT_EQ(form[ctl::Out2Freq].text, "12.5");
  EXPECT_EQ(form[ctl::Out2Freq].selStart, 4);
}

class RecordingObserver : public FormObserver {
 public:
  std::vector<std::pair<ControlId, Property>> changes;
  int shown = 0;
  void controlChanged(ControlId id, Property property) override {
    changes.emplace_back(id, property);
  }
  void windowShown() override { ++shown; }
};

TEST_F(FormTest, ObserverHearsOfRealChangesOnly) {
  RecordingObserver observer;
  form.setObserver(&observer);
  form.setEnabled(ctl::FLL, true);  // already enabled
  form.setText(ctl::Label5, "Device");
  form.setTop(ctl::Sat(0), 0);
  EXPECT_TRUE(observer.changes.empty());
  form.setEnabled(ctl::FLL, false);
  form.setTop(ctl::Sat(0), 1425);
  form.setFocus(ctl::Out1Freq);
  form.showWindow();
  using P = std::pair<ControlId, Property>;
  EXPECT_EQ(observer.changes, (std::vector<P>{{ctl::FLL, Property::Enabled},
                                              {ctl::Sat(0), Property::Geometry},
                                              {ctl::Out1Freq, Property::Focus}}));
  EXPECT_EQ(observer.shown, 1);
}

}  // namespace
}  // namespace qvr::ui
