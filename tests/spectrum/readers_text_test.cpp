// Text readers (Text File, Rainbow, Fieldspec, MiniMCA, Exploranium) and
// the N42 XML reader against small hand-written files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/scripted_platform.h"
#include "spectrum/readers/readers.h"
#include "spectrum/readers/spe_blocks.h"

namespace kestrim {
namespace {

using readers::Bytes;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Read {
  int result = 0;
  SpectrumRecord rec;
  ScriptedPlatform ui;
};

void run(SpectrumReader reader, const std::string& text, Read& r, const ReaderOptions& o = {}) {
  r.result = reader(bytes_of(text), r.rec, o, r.ui);
}

ReaderOptions text_options(int per_line, int header_lines = 0) {
  ReaderOptions o;
  o.text_channels_per_line = per_line;
  o.text_header_lines = header_lines;
  return o;
}

// ---------------------------------------------------------------- Text File

TEST(TextReader, SkipsHeaderLinesAndReadsChannelsPerLine) {
  Read r;
  run(readers::read_text, "Header one\r\nHeader two\r\n100 110 5 6\r\n7,8\t9 10\r\n", r, text_options(4, 2));
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 8);
  EXPECT_EQ(r.rec.counts[2], 5);
  EXPECT_EQ(r.rec.counts[7], 10);
  // Channel 0 above 0: channels 0 and 1 are the live and true time.
  EXPECT_EQ(r.rec.header.live_time, 100);
  EXPECT_EQ(r.rec.header.true_time, 110);
  ASSERT_FALSE(r.ui.statuses.empty());
  EXPECT_EQ(r.ui.statuses[0], "Reading Text file");
  EXPECT_NE(r.rec.header.collected.year, 0);  // stamped with the current date
}

TEST(TextReader, ExtraLeadingNumberIsAChannelNumber) {
  Read r;
  run(readers::read_text, "0 1 2\n2 3 4\n", r, text_options(2));
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 4);
  EXPECT_EQ(r.rec.counts[0], 1);
  EXPECT_EQ(r.rec.counts[3], 4);
  EXPECT_EQ(r.rec.header.live_time, 1);
}

TEST(TextReader, EmptyLineEndsTheData) {
  Read r;
  run(readers::read_text, "5\n0\n7\n\n9\n", r, text_options(1));
  EXPECT_EQ(r.rec.header.channels, 3);
}

TEST(TextReader, ZeroChannelsPerLineIsRefused) {
  Read r;
  run(readers::read_text, "1 2\n", r, text_options(0));
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("The channels per line is set to 0"));
}

TEST(TextReader, ShortFirstLineFails) {
  Read r;
  run(readers::read_text, "1 2\n3 4 5 6\n", r, text_options(4));
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("Only read 2 channels per line"));
}

TEST(TextReader, Channel4097Fails) {
  std::string text;
  for (int i = 0; i < 4096; ++i) text += "1\n";
  Read ok;
  run(readers::read_text, text, ok, text_options(1));
  EXPECT_EQ(ok.result, 1);
  EXPECT_EQ(ok.rec.header.channels, 4096);
  Read r;
  run(readers::read_text, text + "1\n", r, text_options(1));
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("Can only read 4096 channels"));
}

// ---------------------------------------------------------------- Rainbow

const char kRainbow[] =
    "Length: 16\r\n"
    "Comment: Rainbow test\r\n"
    "Realtime: 100.5\r\n"
    "Lifetime: 99.5\r\n"
    "Starttime: 05.11.2019 14:30:10\r\n"
    "CalibCoeff: c=-1.5 b=0.5 a=1e-5\r\n"
    "Detector: ignored\r\n"
    "0 this header line is not used\r\n"
    "1 2 3 4 5 6 7 8\r\n"
    "9 10 11 12 13 14 15 16\r\n";

TEST(RainbowReader, ReadsKeysAndEightChannelsPerLine) {
  Read r;
  run(readers::read_rainbow, kRainbow, r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 16);
  EXPECT_EQ(r.rec.counts[0], 1);
  EXPECT_EQ(r.rec.counts[15], 16);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 100.5f);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 99.5f);
  EXPECT_EQ(r.rec.header.collected, (DateTime{5, 11, 2019, 14, 30}));
  EXPECT_EQ(to_string(r.rec.header.title), "Rainbow test");
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[0], -1.5f);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[2], 1e-5f);
}

TEST(RainbowReader, MissingLengthOrDataGiveTheirMessages) {
  Read no_length, no_data;
  run(readers::read_rainbow, "Comment: x\r\n0\r\n1 2 3 4 5 6 7 8\r\n", no_length);
  EXPECT_LT(no_length.result, 0);
  EXPECT_TRUE(no_length.ui.said("Did not read number of channels"));
  run(readers::read_rainbow, "Length: 8\r\nComment: x\r\n", no_data);
  EXPECT_LT(no_data.result, 0);
  EXPECT_TRUE(no_data.ui.said("Did not find channel data"));
}

// ---------------------------------------------------------------- Fieldspec

TEST(FieldspecReader, ReadsKeywordsThenOneCountPerLine) {
  Read r;
  run(readers::read_fieldspec,
      "SpectrumName: Field 7\nRealtime: 60.25\nLivetime: 59.75\nStarttime: 26/03/2018 12:34\n4\n5.5\n6\n", r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 3);
  EXPECT_FLOAT_EQ(r.rec.counts[1], 5.5f);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 59.75f);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 60.25f);
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 12, 34}));
  EXPECT_EQ(to_string(r.rec.header.title), "Field 7");
}

// ---------------------------------------------------------------- SPE

const char kMiniMca[] =
    "$SPEC_REM:\r\nRiver sediment\r\nsecond remark\r\n"
    "$MCA_166_ID:\r\nSN# 5\r\n"
    "$DATE_MEA:\r\n03/26/2018 12:34:56\r\n"
    "$MEAS_TIM:\r\n299 300\r\n"
    "$DATA:\r\n0 3\r\n5\r\n6\r\n7\r\n8\r\n"
    "$ROI:\r\n0\r\n"
    "$MCA_CAL:\r\n3\r\n-1.2 0.5 1E-7 keV\r\n";

TEST(MiniMcaReader, ReadsBlocks) {
  Read r;
  run(readers::read_minimca, kMiniMca, r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 4);
  EXPECT_EQ(r.rec.counts[3], 8);
  EXPECT_EQ(r.rec.header.live_time, 299);
  EXPECT_EQ(r.rec.header.true_time, 300);
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 12, 34}));
  EXPECT_EQ(to_string(r.rec.header.title), "River sediment");
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[0], -1.2f);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[2], 1e-7f);
  EXPECT_EQ(readers::probe_minimca(bytes_of(kMiniMca)), 4);
}

TEST(MiniMcaReader, ShortDataBlockFails) {
  Read r;
  run(readers::read_minimca, "$DATA:\n0 9\n1\n2\n$ROI:\n", r);
  EXPECT_LT(r.result, 0);
  EXPECT_TRUE(r.ui.said("Did not find channel data"));
}

TEST(SpeDate, SeparatorDecidesTheOrder) {
  DateTime dt;
  ASSERT_TRUE(readers::parse_spe_date("03/04/2018 10:20:30", dt));
  EXPECT_EQ(dt, (DateTime{4, 3, 2018, 10, 20}));  // "/" month first
  ASSERT_TRUE(readers::parse_spe_date("03.04.2018 10:20", dt));
  EXPECT_EQ(dt, (DateTime{3, 4, 2018, 10, 20}));  // "." day first
  ASSERT_TRUE(readers::parse_spe_date("2018/04/03 10:20:30", dt));
  EXPECT_EQ(dt, (DateTime{3, 4, 2018, 10, 20}));  // four-digit year first
  EXPECT_FALSE(readers::parse_spe_date("13/40/2018", dt));
}

TEST(SpeDate, TwelveHourTimes) {
  DateTime dt;
  ASSERT_TRUE(readers::parse_spe_date("03/04/2018 01:20:30 PM", dt));
  EXPECT_EQ(dt, (DateTime{4, 3, 2018, 13, 20}));
  ASSERT_TRUE(readers::parse_spe_date("03/04/2018 12:05:00 pm", dt));
  EXPECT_EQ(dt, (DateTime{4, 3, 2018, 12, 5}));  // noon
  ASSERT_TRUE(readers::parse_spe_date("03/04/2018 12:05:00 AM", dt));
  EXPECT_EQ(dt, (DateTime{4, 3, 2018, 0, 5}));  // midnight
  ASSERT_TRUE(readers::parse_spe_date("03/04/2018 11:59:00 AM", dt));
  EXPECT_EQ(dt, (DateTime{4, 3, 2018, 11, 59}));
}

const char kExploranium[] =
    "$SPEC_ID:\r\nHandheld 4\r\n"
    "$DATE_MEA:\r\n26.03.2018 12:34:56\r\n"
    "$MEAS_TIM:\r\n120 121\r\n"
    "$DATA:\r\n0 2\r\n10\r\n20\r\n30\r\n"
    "$IDENTIFY_PARAMETER:\r\n"
    "Energieeichung_Offset:\r\n-3.5\r\n"
    "Energieeichung_Steigung:\r\n2.9\r\n"
    "FWHM_FWHM1:\r\n18.5\r\nFWHM_Energie1:\r\n122\r\n"
    "FWHM_FWHM2:\r\n43.05\r\nFWHM_Energie2:\r\n662\r\n";

TEST(ExploraniumReader, GermanKeysAndFwhmFit) {
  Read r;
  run(readers::read_exploranium, kExploranium, r);
  EXPECT_EQ(r.result, 0);  // this reader reports success as 0
  EXPECT_EQ(r.rec.header.channels, 3);
  EXPECT_EQ(r.rec.header.collected, (DateTime{26, 3, 2018, 12, 34}));
  EXPECT_EQ(r.rec.header.sampled, r.rec.header.collected);
  EXPECT_EQ(r.rec.calibration.energy_terms, 2);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[0], -3.5f);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 2.9f);
  // sigma = 0.4246 FWHM: (122, 7.85510) and (662, 18.27903) keV; the line
  // through them has slope 10.42393 / 540 = 0.01930357 and intercept
  // 7.85510 - 122 x 0.01930357 = 5.50006 keV, in channels of 2.9 keV:
  // 0.00665640 and 1.89657.
  EXPECT_EQ(r.rec.calibration.width_terms, 2);
  EXPECT_NEAR(r.rec.calibration.width[1], 0.01930357 / 2.9, 1e-7);
  EXPECT_NEAR(r.rec.calibration.width[0], 5.50006 / 2.9, 1e-4);
  EXPECT_EQ(r.rec.calibration.width[2], 0.0f);
  EXPECT_NE(r.rec.calibration.shape_date.year, 0);
}

TEST(ExploraniumReader, NoDataIsMinusOne) {
  Read r;
  run(readers::read_exploranium, "$SPEC_ID:\nnothing\n", r);
  EXPECT_EQ(r.result, -1);
  EXPECT_TRUE(r.ui.said("Did not find channel data"));
}

// ---------------------------------------------------------------- N42

TEST(N42Duration, ParsesXsDurations) {
  EXPECT_DOUBLE_EQ(readers::n42_duration("PT300S"), 300);
  EXPECT_DOUBLE_EQ(readers::n42_duration("PT5M0.5S"), 300.5);
  EXPECT_DOUBLE_EQ(readers::n42_duration("PT1H"), 3600);
  EXPECT_DOUBLE_EQ(readers::n42_duration("P1DT1S"), 86401);
  EXPECT_DOUBLE_EQ(readers::n42_duration("12.5"), 12.5);
}

// The 2006 layout with every value on its own line, as older writers did.
const char kN42LineByLine[] =
    "<?xml version=\"1.0\"?>\r\n<N42InstrumentData>\r\n<Measurement>\r\n<Spectrum>\r\n"
    "<StartTime>\r\n2016-01-15T16:44:34\r\n</StartTime>\r\n"
    "<RealTime>\r\nPT300S\r\n</RealTime>\r\n<LiveTime>\r\nPT299.5S\r\n</LiveTime>\r\n"
    "<Calibration Type=\"Energy\" EnergyUnits=\"keV\">\r\n<Equation Model=\"Polynomial\">\r\n"
    "<Coefficients>\r\n-1 3 0.001\r\n</Coefficients>\r\n</Equation>\r\n</Calibration>\r\n"
    "<ChannelData>\r\n1 2 3\r\n4 5\r\n</ChannelData>\r\n</Spectrum>\r\n</Measurement>\r\n</N42InstrumentData>\r\n";

TEST(N42Reader, Schema2006ValuesOnTheirOwnLines) {
  Read r;
  run(readers::read_n42, kN42LineByLine, r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 5);
  EXPECT_EQ(r.rec.counts[4], 5);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 299.5f);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 300.0f);
  EXPECT_EQ(r.rec.header.collected, (DateTime{15, 1, 2016, 16, 44}));
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 3.0f);
  EXPECT_EQ(r.rec.combined_spectra, 1);
}

// A cubic energy calibration (the RASE base spectra carry one) becomes the
// quadratic closest to it over the spectrum: dropping the cubic term of
// these coefficients would put channel 600 (Bi-214's 1764 keV line) 32 keV
// low.
TEST(N42Reader, CubicCalibrationBecomesTheClosestQuadratic) {
  std::string counts;
  for (int i = 0; i < 1024; ++i) counts += "1 ";
  Read r;
  run(readers::read_n42,
      "<N42InstrumentData><Measurement><Spectrum><LiveTime>PT10S</LiveTime>"
      "<Calibration Type=\"Energy\"><Equation Model=\"Polynomial\"><Coefficients>"
      "-39.7065 3.00318 -1.02158e-4 1.47518e-7</Coefficients></Equation></Calibration>"
      "<ChannelData>" + counts + "</ChannelData></Spectrum></Measurement></N42InstrumentData>",
      r);
  ASSERT_EQ(r.result, 1);
  ASSERT_EQ(r.rec.header.channels, 1024);
  EXPECT_EQ(r.rec.calibration.energy_terms, 3);
  const auto& c = r.rec.calibration.energy;
  auto energy = [&](double x) { return c[0] + c[1] * x + c[2] * x * x; };
  double worst = 0;
  for (int x = 0; x < 1024; x += 8) {
    const double cubic = -39.7065 + 3.00318 * x - 1.02158e-4 * x * x + 1.47518e-7 * x * x * x;
    worst = std::max(worst, std::fabs(energy(x) - cubic));
  }
  EXPECT_LT(worst, 9.0);  // keV, at the ends; 1 keV or less over most of the range
  const double at600 = -39.7065 + 3.00318 * 600 - 1.02158e-4 * 600 * 600 + 1.47518e-7 * 600 * 600 * 600;
  EXPECT_LT(std::fabs(energy(600) - at600), 3.0);
  EXPECT_EQ(r.rec.warnings, std::vector<std::string>{
                                "Energy terms beyond the quadratic replaced by the closest quadratic"});
}

TEST(N42Reader, Schema2006OneLineWithPrefixAndMeV) {
  Read r;
  run(readers::read_n42,
      "<n:N42InstrumentData xmlns:n=\"http://physics.nist.gov/Divisions/Div846/Gp4/ANSIN4242/2005/ANSIN4242\">"
      "<n:Measurement><n:Spectrum><n:LiveTime>PT5M0.5S</n:LiveTime><n:RealTime>PT301S</n:RealTime>"
      "<n:Calibration Type=\"Energy\" EnergyUnits=\"MeV\"><n:Equation Model=\"Polynomial\">"
      "<n:Coefficients>0 0.003</n:Coefficients></n:Equation></n:Calibration>"
      "<n:ChannelData Compression=\"CountedZeroes\">0 3 5 0 2 7</n:ChannelData>"
      "</n:Spectrum></n:Measurement></n:N42InstrumentData>",
      r);
  ASSERT_EQ(r.result, 1);
  ASSERT_EQ(r.rec.header.channels, 7);  // 0 0 0 5 0 0 7
  EXPECT_EQ(r.rec.counts[2], 0);
  EXPECT_EQ(r.rec.counts[3], 5);
  EXPECT_EQ(r.rec.counts[6], 7);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 300.5f);
  EXPECT_EQ(r.rec.calibration.energy_terms, 2);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 3.0f);  // 0.003 MeV per channel
}

TEST(N42Reader, Schema2012ReferencesAndTitleRemark) {
  Read r;
  run(readers::read_n42,
      "<RadInstrumentData xmlns=\"http://physics.nist.gov/N42/2011/N42\">"
      "<EnergyCalibration id=\"ec\"><CoefficientValues>-6.28 2.44 0.00038</CoefficientValues></EnergyCalibration>"
      "<RadMeasurement id=\"m1\"><Remark>Title: Am-241 check</Remark>"
      "<MeasurementClassCode>Foreground</MeasurementClassCode>"
      "<StartDateTime>2023-06-07T05:52:00Z</StartDateTime><RealTimeDuration>PT613S</RealTimeDuration>"
      "<Spectrum id=\"s1\" energyCalibrationReference=\"ec\"><LiveTimeDuration>PT600S</LiveTimeDuration>"
      "<ChannelData compressionCode=\"CountedZeroes\">4 0 2 9</ChannelData></Spectrum></RadMeasurement>"
      "<RadMeasurement id=\"bg\"><MeasurementClassCode>Background</MeasurementClassCode>"
      "<RealTimeDuration>PT5000S</RealTimeDuration><Spectrum id=\"s2\"><LiveTimeDuration>PT5000S</LiveTimeDuration>"
      "<ChannelData>100 100 100 100</ChannelData></Spectrum></RadMeasurement></RadInstrumentData>",
      r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 4);
  EXPECT_EQ(r.rec.counts[0], 4);  // the background is left out
  EXPECT_EQ(r.rec.counts[3], 9);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 600.0f);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 613.0f);
  EXPECT_EQ(r.rec.header.collected, (DateTime{7, 6, 2023, 5, 52}));
  EXPECT_EQ(to_string(r.rec.header.title), "Am-241 check");
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[0], -6.28f);
  EXPECT_EQ(r.rec.combined_spectra, 1);
}

// A file of many measurements, each inheriting its start and real time from
// its measurement and naming a shared calibration by id, with background
// measurements among them: every foreground spectrum is found and summed,
// every background one left out.
TEST(N42Reader, ManyMeasurementsWithReferencesAndBackgrounds) {
  const int measurements = 3000;
  std::string xml = "<RadInstrumentData><EnergyCalibration id=\"ec\"><CoefficientValues>1 2 0"
                    "</CoefficientValues></EnergyCalibration>";
  int foreground = 0;
  for (int i = 0; i < measurements; ++i) {
    const bool background = i % 10 == 3;
    foreground += !background;
    xml += "<RadMeasurement id=\"m" + std::to_string(i) + "\"><MeasurementClassCode>" +
           (background ? "Background" : "Foreground") +
           "</MeasurementClassCode><StartDateTime>2023-06-07T05:52:00Z</StartDateTime>"
           "<RealTimeDuration>PT2S</RealTimeDuration><Spectrum id=\"s" +
           std::to_string(i) + "\" energyCalibrationReference=\"ec\"><LiveTimeDuration>PT1S</LiveTimeDuration>" +
           "<ChannelData>" + (background ? "1000 1000 1000" : "1 2 3") + "</ChannelData></Spectrum></RadMeasurement>";
  }
  xml += "</RadInstrumentData>";
  Read r;
  run(readers::read_n42, xml, r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 3);
  EXPECT_EQ(r.rec.counts[2], 3.0f * static_cast<float>(foreground));
  EXPECT_EQ(r.rec.combined_spectra, foreground);
  EXPECT_FLOAT_EQ(r.rec.calibration.energy[1], 2.0f);
}

// Two detectors measured together in each of two time slices, plus one
// spectrum of another length.
std::string slice(const char* start, const char* live_a, const char* live_b) {
  return std::string("<Measurement><DetectorData><StartTime>") + start + "</StartTime>" +
         "<Spectrum Detector=\"A\"><LiveTime>" + live_a + "</LiveTime><RealTime>PT10S</RealTime>" +
         "<ChannelData>1 2 3</ChannelData></Spectrum>" + "<Spectrum Detector=\"B\"><LiveTime>" + live_b +
         "</LiveTime><RealTime>PT10S</RealTime><ChannelData>10 20 30</ChannelData></Spectrum>" +
         "</DetectorData></Measurement>";
}

TEST(N42Reader, SumsCountsAveragesDetectorsAndSumsSlices) {
  std::string xml = "<N42InstrumentData>" + slice("2016-02-04T20:28:33Z", "PT9S", "PT8S") +
                    slice("2016-02-04T20:28:43Z", "PT7S", "PT6S") +
                    "<Measurement><Spectrum><LiveTime>PT1S</LiveTime><ChannelData>5 5</ChannelData></Spectrum>"
                    "</Measurement></N42InstrumentData>";
  Read r;
  run(readers::read_n42, xml, r);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.rec.header.channels, 3);
  EXPECT_EQ(r.rec.counts[0], 22);  // 2 x (1 + 10)
  EXPECT_EQ(r.rec.counts[2], 66);
  EXPECT_EQ(r.rec.combined_spectra, 4);
  EXPECT_FLOAT_EQ(r.rec.header.live_time, 8.5f + 6.5f);
  EXPECT_FLOAT_EQ(r.rec.header.true_time, 20.0f);
  EXPECT_EQ(r.rec.header.collected, (DateTime{4, 2, 2016, 20, 28}));
  EXPECT_FALSE(r.rec.warnings.empty());  // the 2-channel spectrum was left out
  r.rec.clear();
  EXPECT_EQ(r.rec.combined_spectra, 1);  // the next file starts from one spectrum
}

TEST(N42Reader, NoChannelDataAndBrokenXmlGiveTheMessage) {
  for (const char* text : {"<N42InstrumentData><Measurement/></N42InstrumentData>",
                           "<N42InstrumentData><Spectrum><ChannelData>1 2 3", "",
                           "<N42InstrumentData><Spectrum><ChannelData Compression=\"CountedZeroes\">"
                           "0 1e12</ChannelData></Spectrum></N42InstrumentData>"}) {
    SCOPED_TRACE(text);
    Read r;
    run(readers::read_n42, text, r);
    EXPECT_LT(r.result, 0);
    EXPECT_TRUE(r.ui.said("Did not find channel data"));
  }
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

// ---------------------------------------------------------------- detection

TEST(DetectSpectrumType, ContentOverridesASharedOrWrongExtension) {
  struct Row {
    const char* name;
    std::string content;
    int from_extension;
    int expected;
  };
  std::string chn(32, '\0');
  chn[0] = chn[1] = '\xFF';
  std::string spc(128, '\0');
  spc[0] = 1;
  spc[2] = 5;
  std::string cnf(200, '\0');
  cnf[113] = 32;
  cnf[114] = 1;
  const Row rows[] = {
      {"ChnNamedSpe", chn, 13, 3},
      {"RealSpcAmongSpc", spc, 1, 4},
      {"CnfAnyName", cnf, 5, 6},
      {"OrtecSpeNotExploranium", "$SPEC_ID:\r\nx\r\n$DATA:\r\n0 1\r\n1\r\n2\r\n", 13, 14},
      {"GermanSpeIsExploranium", "$SPEC_ID:\r\nx\r\nEnergieeichung_Steigung:\r\n2\r\n", 14, 13},
      {"N42WithDeclaration", "<?xml version=\"1.0\"?>\n<RadInstrumentData>", 5, 15},
      {"RainbowText", "Length: 8\r\nLifetime: 3\r\n0\r\n", 1, 9},
      {"FieldspecText", "SpectrumName: a\nLivetime: 3\n1\n", 9, 12},
      {"UnknownKeepsExtension", "1 2 3\n", 5, 5},
      {"SpcMarkerOneByteShort", spc.substr(0, 127), 1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(readers::detect_spectrum_type(bytes_of(row.content), row.from_extension), row.expected);
  }
}

}  // namespace
}  // namespace kestrim
