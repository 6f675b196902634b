#include "app/header_edit.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "platform/scripted_platform.h"

namespace kestrim {
namespace {

TEST(HeaderEdit, ValidEditIsStoredAndMarksTheSpectrumChanged) {
  ScriptedPlatform ui;
  State state(ui);
  HeaderEdit e = header_edit_from(state);
  e.title = "Milk";
  e.description = "Farm 4, morning";
  e.sample_number = "1234";
  e.sampling_uncertainty = "7.5";
  e.live_time = "3600";
  e.sample_size = "1.5";
  e.units = "l";
  e.sample_date = "03-Apr-24";
  e.sample_time = "08:15";
  e.collection_date = "4/4/2024";
  e.collection_time = "9:00";
  ASSERT_EQ(apply_header_edit(state, e), 1);
  const SpectrumHeader& h = state.spectrum.header;
  EXPECT_EQ(header_description(h), "Farm 4, morning");
  EXPECT_EQ(h.sample_number, 1234);
  EXPECT_EQ(h.sampled, (DateTime{3, 4, 2024, 8, 15}));
  EXPECT_EQ(h.collected, (DateTime{4, 4, 2024, 9, 0}));
  EXPECT_EQ(state.params.default_sampling_uncertainty, 7.5f);
  EXPECT_TRUE(state.app.spectrum_changed);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(HeaderEdit, BadFieldsKeepTheDialogOpenAndChangeNothing) {
  ScriptedPlatform ui;
  State state(ui);
  HeaderEdit good = header_edit_from(state);
  good.sample_date = "1-Jan-20";
  good.collection_date = "1-Jan-20";
  good.sample_time = "0:00";
  good.collection_time = "0:00";

  HeaderEdit bad = good;
  bad.sample_date = "31-Feb-20";
  EXPECT_EQ(apply_header_edit(state, bad), 0);
  EXPECT_EQ(ui.texts().back(), "This Date is invalid");
  bad = good;
  bad.units = "Bq/kg";
  EXPECT_EQ(apply_header_edit(state, bad), 0);
  bad = good;
  bad.sample_number = "12x";
  EXPECT_EQ(apply_header_edit(state, bad), 0);
  bad = good;
  bad.collection_time = "25:00";
  EXPECT_EQ(apply_header_edit(state, bad), 0);
  EXPECT_EQ(ui.texts().back(), "The Time should be in the format hh:mm");
  EXPECT_FALSE(state.app.spectrum_changed);
  EXPECT_EQ(state.spectrum.header.sampled.day, 0);
}

TEST(HeaderEdit, SampleSizeDisplayFormats) {
  EXPECT_EQ(format_sample_size(0.05), "5.000e-02");
  EXPECT_EQ(format_sample_size(2e6), "2.000e+06");
  EXPECT_EQ(format_sample_size(1.0), "1.000");
  EXPECT_EQ(format_sample_size(0.5), "0.5000");
}

}  // namespace
}  // namespace kestrim
