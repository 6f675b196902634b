// Binary readers against hand-made files built from the documented offsets
// (reader_fixtures.h): header fields, dates, calibrations, and the edges of
// the byte counts (exactly the header, one byte short of a record, more
// channels declared than present).
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>

#include "platform/scripted_platform.h"
#include "spectrum/formats.h"
#include "spectrum/readers/readers.h"
#include "spectrum/reader_fixtures.h"

namespace kestrim {
namespace {

using readers::Bytes;
using test::expected_count;

// Reals are stored as single precision; compare to float resolution.
constexpr double kFloatTol = 1e-5;

struct Read {
  int result = 0;
  SpectrumRecord rec;
  ScriptedPlatform ui;
};

void run(SpectrumReader reader, const Bytes& b, Read& r, const ReaderOptions& o = {}) {
  r.result = reader(b, r.rec, o, r.ui);
}

// ---------------------------------------------------------------- DEC floats

TEST(DecFloat, DecodesPublishedExamples) {
  const std::uint8_t one[] = {0x80, 0x40, 0x00, 0x00};
  const std::uint8_t minus_seven[] = {0xE0, 0xC1, 0x00, 0x00};
  const std::uint8_t cs137[] = {0x25, 0x45, 0x0C, 0x6A};
  const std::uint8_t zero_exponent[] = {0x00, 0x00, 0x12, 0x34};
  EXPECT_DOUBLE_EQ(readers::dec_float(one), 1.0);
  EXPECT_DOUBLE_EQ(readers::dec_float(minus_seven), -7.0);
  EXPECT_NEAR(readers::dec_float(cs137), 661.65698, 1e-4);
  EXPECT_DOUBLE_EQ(readers::dec_float(zero_exponent), 0.0);
}

TEST(DecFloat, WriterRoundTripsThroughReader) {
  for (double x : {1.0, -7.0, 0.5, 661.657, 2.995904, -1e-8, 6.4e-5, 123456.0}) {
    std::uint8_t b[4];
    readers::put_dec_float(b, x);
    EXPECT_NEAR(readers::dec_float(b), x, std::fabs(x) * 1e-7) << x;
  }
}

// ---------------------------------------------------------------- CHN

TEST(ChnReader, ReadsHeaderCountsAndQuadraticTrailer) {
  Read r;
  run(readers::read_chn, test::make_chn({}), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 256);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 300.0f);  // 15000 ticks / 50
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 299.0f);
  EXPECT_EQ(r.rec.header.mca, 3);
  EXPECT_EQ(r.rec.header.adc, 1);
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 12, 34}));
  EXPECT_EQ(r.rec.header.sampled, r.rec.header.collected);
  EXPECT_EQ(r.rec.counts[255], expected_count(255));
  const CalibrationRecord& cal = r.rec.calibration;
  EXPECT_EQ(cal.energy_terms, 3);
  EXPECT_FLOAT_EQ(cal.energy[0], -1.5f);
  EXPECT_FLOAT_EQ(cal.energy[1], 0.5f);
  EXPECT_FLOAT_EQ(cal.energy[2], 1e-6f);
  EXPECT_EQ(cal.energy_date, (CalDate{26, 3, 2018}));
  // FWHM 2 + 0.01 ch: the slope per keV is 0.01 / 0.5; sigma = FWHM / 2.355.
  EXPECT_EQ(cal.width_terms, 3);
  EXPECT_NEAR(cal.width[0], 2.0 / 2.355, kFloatTol);
  EXPECT_NEAR(cal.width[1], 0.02 / 2.355, kFloatTol);
  EXPECT_EQ(to_string(r.rec.header.title), "Soil 12");
  EXPECT_EQ(r.rec.detector_description, "DET 7 NaI");
  EXPECT_EQ(r.rec.header.detector, 7);  // "%c%c%c%d" of the detector name
  EXPECT_TRUE(r.ui.messages.empty());
}

TEST(ChnReader, LinearTrailerGivesTwoTermsAndNoQuadratic) {
  test::ChnSpec s;
  s.trailer = -101;
  Read r;
  run(readers::read_chn, test::make_chn(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.calibration.energy_terms, 2);
  EXPECT_EQ(r.rec.calibration.energy[2], 0.0f);
  EXPECT_EQ(r.rec.calibration.width_terms, 2);
}

TEST(ChnReader, FwhmConstantOfExactlyOneLeavesWidthUnset) {
  test::ChnSpec s;
  s.fwhm[0] = 1.0f;
  Read r;
  run(readers::read_chn, test::make_chn(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.calibration.width_terms, 0);
}

// One FWHM at every energy (no slope, no quadratic term) is a placeholder,
// not a calibration: the width stays uncalibrated, with a warning.
TEST(ChnReader, ConstantFwhmIsNotUsedAsAWidthCalibration) {
  test::ChnSpec s;
  s.fwhm[0] = 2.648f;
  s.fwhm[1] = 0.0f;
  s.fwhm[2] = 0.0f;
  Read r;
  run(readers::read_chn, test::make_chn(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.calibration.width_terms, 0);
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_NE(std::find(r.rec.warnings.begin(), r.rec.warnings.end(),
                      "The file's FWHM calibration is one width at every energy: it is not used"),
            r.rec.warnings.end());
}

TEST(ChnReader, UnknownTrailerTypeFails) {
  test::ChnSpec s;
  s.trailer = -100;
  Read r;
  run(readers::read_chn, test::make_chn(s), r);
  EXPECT_LT(r.result, 0);
}

TEST(ChnReader, MissingTrailerStillReads) {
  test::ChnSpec s;
  s.trailer = 0;
  Read r;
  run(readers::read_chn, test::make_chn(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.calibration.energy_terms, 0);
  EXPECT_FALSE(r.rec.warnings.empty());
}

TEST(ChnReader, FirstWordNotMinusOneIsRefused) {
  Bytes b = test::make_chn({});
  b[0] = 0xFE;
  Read r;
  run(readers::read_chn, b, r);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("This is not a valid Spectrum File."));
  EXPECT_EQ(r.ui.messages[0].style, kMsgWarning);
}

TEST(ChnReader, ExactlyTheHeaderFails) {
  Bytes b = test::make_chn({});
  b.resize(32);
  Read r;
  run(readers::read_chn, b, r);
  EXPECT_LT(r.result, 0);
}

TEST(ChnReader, LastRecordOneByteShortFails) {
  test::ChnSpec s;
  s.trailer = 0;
  Bytes b = test::make_chn(s);
  b.resize(32 + 1024 - 1);
  Read r;
  run(readers::read_chn, b, r);
  EXPECT_LT(r.result, 0);
}

TEST(ChnReader, MoreChannelsDeclaredThanPresentFails) {
  test::ChnSpec s;
  s.trailer = 0;
  Bytes b = test::make_chn(s);
  bin::put_i16(&b[30], 1024);
  Read r;
  run(readers::read_chn, b, r);
  EXPECT_LT(r.result, 0);
}

TEST(ChnReader, ZeroLiveTimeIsReadAsZero) {
  test::ChnSpec s;
  s.live_ticks = 0;
  Read r;
  run(readers::read_chn, test::make_chn(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.live_time, 0.0f);
}

TEST(ChnReader, KeepHeaderKeepsTitleAndDetectorFileKeepsCalibration) {
  Read r;
  set_title(r.rec.header, "Current title", "");
  r.rec.header.detector_file = 4;
  ReaderOptions o;
  o.ignore_header = true;
  run(readers::read_chn, test::make_chn({}), r, o);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(to_string(r.rec.header.title), "Current title");
  EXPECT_EQ(r.rec.calibration.energy_terms, 0);

  Read forced;
  forced.rec.header.detector_file = 4;
  o.use_file_energy_calibration = true;
  run(readers::read_chn, test::make_chn({}), forced, o);
  EXPECT_EQ(forced.rec.calibration.energy_terms, 3);
}

// ---------------------------------------------------------------- SPC

TEST(OrtecSpcReader, ReadsIntegerFile) {
  Read r;
  run(readers::read_ortec_spc, test::make_spc({}), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 512);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 900.0f);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 905.42f);
  EXPECT_EQ(r.rec.header.mca, 1);
  EXPECT_EQ(r.rec.header.collected, (DateTime{17, 9, 2012, 13, 41}));
  EXPECT_EQ(r.rec.counts[511], expected_count(511));
  EXPECT_EQ(to_string(r.rec.header.title), "Alcatraz soil");
  EXPECT_EQ(r.rec.detector_description, "HPGe 40% coax");
  EXPECT_EQ(r.rec.header.detector, 0);  // not a "DET" name
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 0.374436f);
  EXPECT_EQ(r.rec.calibration.width_terms, 3);
  EXPECT_NEAR(r.rec.calibration.width[0], 1.2 / 2.355, kFloatTol);
}

TEST(OrtecSpcReader, RealCountsAreReadAsFloats) {
  test::SpcSpec s;
  s.file_type = 5;
  Read r;
  run(readers::read_ortec_spc, test::make_spc(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.counts[7], expected_count(7) + 0.5);
}

TEST(OrtecSpcReader, MoreThan4096ChannelsAreCut) {
  test::SpcSpec s;
  s.channels = 8192;
  Read r;
  run(readers::read_ortec_spc, test::make_spc(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 4096);
}

TEST(OrtecSpcReader, WrongFileTypeIsRefused) {
  test::SpcSpec s;
  s.file_type = 2;
  Read r;
  run(readers::read_ortec_spc, test::make_spc(s), r);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("This is not a valid Spectrum File."));
}

TEST(OrtecSpcReader, DataRecordsPastTheEndFail) {
  Bytes b = test::make_spc({});
  b.resize(b.size() - 1);
  Read r;
  run(readers::read_ortec_spc, b, r);
  EXPECT_LT(r.result, 0);
}

TEST(OrtecSpcReader, CalibrationPointerOutsideFileIsSkipped) {
  Bytes b = test::make_spc({});
  bin::put_i16(&b[34], 400);
  Read r;
  run(readers::read_ortec_spc, b, r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.calibration.energy_terms, 0);
}

// ---------------------------------------------------------------- S100

TEST(S100Reader, StartTimeLessZoneOffsetGivesDate) {
  Read r;
  run(readers::read_s100, test::make_s100({}), r);
  ASSERT_EQ(r.result, 1);
  // 1522067696 s = 26 Mar 2018 12:34:56; less 60 minutes of zone offset.
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 11, 34}));
  EXPECT_EQ(r.rec.header.sampled, r.rec.header.collected);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 299.5f);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 300.0f);
  EXPECT_EQ(r.rec.header.mca, 4);
  EXPECT_EQ(to_string(r.rec.header.title), "Filter paper 3");
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[0], -3.0f);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 0.75f);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[2], 2e-6f);
  EXPECT_EQ(r.rec.counts[300], expected_count(300));
}

TEST(S100Reader, DaylightSavingTakesAnHourOffTheZone) {
  test::S100Spec s;
  s.daylight = 1;
  Read r;
  run(readers::read_s100, test::make_s100(s), r);
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 12, 34}));
}

TEST(S100Reader, AsciiOrderDigitCountsCoefficients) {
  test::S100Spec s;
  s.order_byte = '2';  // two coefficients
  Read r;
  run(readers::read_s100, test::make_s100(s), r);
  EXPECT_EQ(r.rec.calibration.energy_terms, 2);
  EXPECT_EQ(r.rec.calibration.energy[2], 0.0f);
}

TEST(S100Reader, WrongMarkerAndShortFileFail) {
  Bytes b = test::make_s100({});
  Bytes wrong = b;
  wrong[0] = 3;
  Read r1, r2;
  run(readers::read_s100, wrong, r1);
  EXPECT_LT(r1.result, 0);
  b.resize(128 + 2 * 1024 - 1);
  run(readers::read_s100, b, r2);
  EXPECT_LT(r2.result, 0);
}

// ---------------------------------------------------------------- Spectran

TEST(SpectranReader, ReadsRealsAsIntegersAndRealCounts) {
  Read r;
  run(readers::read_spectran, test::make_spectran(), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 512);
  EXPECT_EQ(r.rec.header.mca, 2);
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 12, 34}));
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 299.5f);
  EXPECT_EQ(r.rec.header.sample_number, 17);
  EXPECT_EQ(to_string(r.rec.header.title), "Grass sample");
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 0.7f);
  EXPECT_NEAR(r.rec.calibration.width[0], 10.0, 1e-4);  // 23.55 / 2.355
  EXPECT_EQ(r.rec.counts[3], expected_count(3) + 0.5);
}

TEST(SpectranReader, ChannelCountOutOfRangeFails) {
  Read r;
  run(readers::read_spectran, test::make_spectran(255), r);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("Number of channels is 255"));
}

// ---------------------------------------------------------------- CNF

TEST(CnfReader, ReadsBlocksTimesCalibrationsAndSample) {
  Read r;
  run(readers::read_cnf, test::make_cnf({}), r);
  ASSERT_EQ(r.result, 1) << (r.ui.messages.empty() ? "" : r.ui.messages[0].text);
  EXPECT_TRUE(r.ui.messages.empty());
  const SpectrumHeader& h = r.rec.header;
  EXPECT_EQ(h.channels, 1024);
  EXPECT_NEAR(h.true_time, 300.0, 1e-3);
  EXPECT_NEAR(h.live_time, 299.5, 1e-3);
  EXPECT_EQ(h.collected, (DateTime{26, 3, 2018, 12, 34}));
  EXPECT_EQ(h.sampled, (DateTime{25, 3, 2018, 12, 34}));
  EXPECT_EQ(h.detector, 12);
  EXPECT_EQ(r.rec.detector_description, "DET12");
  EXPECT_EQ(to_string(h.title), "Beach sand");
  EXPECT_EQ(to_string(h.sample_id), "S-2014-1");
  EXPECT_FLOAT_EQ(h.sample_size, 0.25f);
  const CalibrationRecord& cal = r.rec.calibration;
  // The constant term becomes constant + linear + quadratic.
  EXPECT_EQ(cal.energy_terms, 3);
  EXPECT_NEAR(cal.energy[0], -10.0 + 3.0 + 6.4e-5, 1e-5);
  EXPECT_NEAR(cal.energy[1], 3.0, 1e-6);
  EXPECT_EQ(cal.width_terms, -2);
  // The resolution form holds FWHMs in keV: a and b are taken as they are.
  EXPECT_NEAR(cal.width[0], -5.0, 1e-5);
  EXPECT_NEAR(cal.width[1], 1.9, 1e-5);
  EXPECT_EQ(cal.low_tail_terms, 2);
  EXPECT_NEAR(cal.low_tail[0], 0.1, 1e-6);  // 0.3 / linear 3
  EXPECT_NEAR(cal.low_tail[1], 0.002, 1e-7);
  ASSERT_EQ(r.rec.efficiency.count, 5);
  EXPECT_NEAR(r.rec.efficiency.energy[4], 250.0, 1e-3);
  EXPECT_NEAR(r.rec.efficiency.efficiency[4], 0.002, 1e-8);
  EXPECT_NEAR(r.rec.efficiency.uncertainty[4], 0.05, 1e-6);  // relative
  EXPECT_EQ(to_string(cal.geometry_text), "Marinelli 1L");
  EXPECT_EQ(r.rec.counts[1023], expected_count(1023));
}

TEST(CnfReader, FortyEfficiencyPointsAllRead) {
  test::CnfSpec s;
  s.efficiency_points = 41;
  Read r;
  run(readers::read_cnf, test::make_cnf(s), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.efficiency.count, 40);
}

TEST(CnfReader, ZeroEfficiencyEndsTheList) {
  test::CnfSpec s;
  s.efficiency_points = 10;
  s.zero_efficiency_at = 3;
  Read r;
  run(readers::read_cnf, test::make_cnf(s), r);
  EXPECT_EQ(r.rec.efficiency.count, 3);
}

TEST(CnfReader, ChannelCount255FailsWithItsMessage) {
  test::CnfSpec s;
  s.channels = 255;
  Read r;
  run(readers::read_cnf, test::make_cnf(s), r);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("Number of channels is 255"));
}

TEST(CnfReader, LiveTimeAboveTrueTimeRaisesTrueTime) {
  test::CnfSpec s;
  s.live = ~static_cast<std::uint64_t>(4000000000ULL);
  Read r;
  run(readers::read_cnf, test::make_cnf(s), r);
  EXPECT_NEAR(r.rec.header.true_time, 400.0, 1e-3);
}

TEST(CnfReader, MissingBlocksGiveTheirMessages) {
  struct Row {
    const char* name;
    void (*edit)(test::CnfSpec&);
    const char* message;
    bool fails;
  };
  const Row rows[] = {
      {"acquisition", [](test::CnfSpec& s) { s.acquisition = false; }, "Error finding Acquisition data", true},
      {"sample", [](test::CnfSpec& s) { s.sample = false; }, "Error finding Sample data", true},
      {"efficiency", [](test::CnfSpec& s) { s.efficiency = false; }, "Error finding Efficiency data", false},
      {"channels", [](test::CnfSpec& s) { s.channel_data = false; }, "Error finding Channel data", true},
      {"energy", [](test::CnfSpec& s) { s.energy[1] = 0; }, "Warning, Energy Calibration not found", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::CnfSpec s;
    row.edit(s);
    Read r;
    run(readers::read_cnf, test::make_cnf(s), r);
    EXPECT_EQ(r.result < 0, row.fails);
    EXPECT_TRUE(r.ui.said(row.message));
  }
}

TEST(CnfReader, KeepHeaderSkipsMissingSampleBlock) {
  test::CnfSpec s;
  s.sample = false;
  ReaderOptions o;
  o.ignore_header = true;
  Read r;
  run(readers::read_cnf, test::make_cnf(s), r, o);
  EXPECT_EQ(r.result, 1);
}

TEST(CnfReader, MissingPhaKeywordWarnsAndReads) {
  Bytes b = test::make_cnf({});
  b[0x800 + 176] = 'M';
  Read r;
  run(readers::read_cnf, b, r);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.ui.said("Warning, Did not find PHA keyword"));
}

TEST(CnfReader, TruncatedChannelBlockFails) {
  Bytes b = test::make_cnf({});
  b.resize(b.size() - 1);
  Read r;
  run(readers::read_cnf, b, r);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("Error finding Channel data"));
}

// ---------------------------------------------------------------- fixed-offset formats

TEST(AptecReader, ReadsCalibrationTimesAndCounts) {
  Read r;
  run(readers::read_aptec, test::make_aptec(), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 512);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 1000.0f);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 990.0f);
  EXPECT_EQ(to_string(r.rec.header.title), "Aptec water");
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 1.5f);
  EXPECT_NEAR(r.rec.calibration.width[0], 2.0, 1e-5);  // 4.71 / 2.355
  EXPECT_EQ(r.rec.counts[511], expected_count(511));
}

TEST(AptecReader, ChannelCount255IsShownAndRead) {
  Read r;
  run(readers::read_aptec, test::make_aptec(255), r);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(r.ui.said("Number of channels is 255"));
  EXPECT_EQ(r.rec.header.channels, 255);
}

TEST(OxfordReader, ReadsHeaderAndCounts) {
  Read r;
  run(readers::read_oxford, test::make_oxford(), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 512);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 3600.0f);
  EXPECT_EQ(r.rec.header.collected, (DateTime{5, 11, 2019, 8, 15}));
  EXPECT_EQ(to_string(r.rec.header.title), "Oxford air filter");
  EXPECT_FLOAT_EQ(r.rec.header.sample_size, 12.5f);
  EXPECT_EQ(r.rec.calibration.energy_terms, 2);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 2.5f);
  EXPECT_NEAR(r.rec.calibration.width[0], 20.0, 1e-4);
  EXPECT_EQ(r.rec.counts[100], expected_count(100));
}

TEST(PgtReader, ReturnsChannelCountAndDaysSince1900) {
  Read r;
  run(readers::read_pgt, test::make_pgt(), r);
  EXPECT_EQ(r.result, 512);
  EXPECT_EQ(r.rec.header.sampled, (DateTime{1, 1, 2000, 12, 0}));
  EXPECT_EQ(r.rec.header.collected, (DateTime{2, 1, 2000, 6, 0}));
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 1200.0f);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 1100.0f);
  EXPECT_EQ(to_string(r.rec.header.title), "PGT rock sample");
}

TEST(PgtReader, ShortLastRecordGivesMinusOne) {
  Bytes b = test::make_pgt();
  b.resize(b.size() - 1);
  Read r;
  run(readers::read_pgt, b, r);
  EXPECT_EQ(r.result, -1);
}

TEST(PgtReader, ExactlyTheHeaderFails) {
  Bytes b = test::make_pgt();
  b.resize(1536);
  Read r;
  run(readers::read_pgt, b, r);
  EXPECT_EQ(r.result, -1);
}

TEST(IquipmentReader, CountsHoldTheTimesAndCalibrationIsReversed) {
  Read r;
  run(readers::read_iquipment, test::make_iquipment(), r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 1024);
  EXPECT_EQ(r.rec.header.collected, (DateTime{5, 11, 2019, 14, 30}));
  EXPECT_FLOAT_EQ(r.rec.header.live_time, expected_count(0));
  EXPECT_FLOAT_EQ(r.rec.header.true_time, expected_count(1));
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[0], -2.0f);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[2], 1e-5f);
  EXPECT_EQ(to_string(r.rec.header.title), "Iquip milk");
}

TEST(IquipmentReader, OddChannelCountMessages) {
  Read plain, native;
  run(readers::read_iquipment, test::make_iquipment(1000), plain);
  EXPECT_EQ(plain.result, 1);
  EXPECT_TRUE(plain.ui.said("Number of channels is 1000"));
  Bytes b = test::make_iquipment(1000);
  bin::put_i16(&b[148], 4);
  run(readers::read_iquipment, b, native);
  EXPECT_TRUE(native.ui.said("This could be a Kestrim file"));
}

// ---------------------------------------------------------------- probes

struct ProbeRow {
  const char* name;
  int type;
  Bytes (*make)();
  int channels;
};

class ListingProbe : public ::testing::TestWithParam<ProbeRow> {};

TEST_P(ListingProbe, FindsTheChannelCount) {
  const ProbeRow& row = GetParam();
  const SpectrumFormat* f = spectrum_format(row.type);
  ASSERT_NE(f->probe, nullptr);
  EXPECT_EQ(f->probe(row.make()), row.channels);
  EXPECT_EQ(f->probe(Bytes(10, 0)), 0) << "a 10-byte file is never listed";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ListingProbe,
    ::testing::Values(ProbeRow{"Spectran", 1, [] { return test::make_spectran(); }, 512},
                      ProbeRow{"S100", 2, [] { return test::make_s100({}); }, 512},
                      ProbeRow{"Chn", 3, [] { return test::make_chn({}); }, 256},
                      ProbeRow{"OrtecSpc", 4, [] { return test::make_spc({}); }, 4096},
                      ProbeRow{"Cnf", 6, [] { return test::make_cnf({}); }, 1024},
                      ProbeRow{"Aptec", 7, [] { return test::make_aptec(); }, 512},
                      ProbeRow{"Oxford", 8, [] { return test::make_oxford(); }, 512},
                      ProbeRow{"Pgt", 10, [] { return test::make_pgt(); }, 512},
                      ProbeRow{"Iquipment", 11, [] { return test::make_iquipment(); }, 1024}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ListingProbe, ChnAndSpcMarkersAreChecked) {
  Bytes chn = test::make_chn({});
  chn[0] = 0;
  EXPECT_EQ(readers::probe_chn(chn), 0);
  test::SpcSpec s;
  s.file_type = 3;
  EXPECT_EQ(readers::probe_ortec_spc(test::make_spc(s)), 0);
}

TEST(ListingProbe, TextFilesAreNeverListed) { EXPECT_EQ(spectrum_format(5)->probe, nullptr); }

}  // namespace
}  // namespace kestrim
