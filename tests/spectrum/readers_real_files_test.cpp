// The public sample spectra of ../shared/data/spectra, read by each format's
// reader. Expected channel counts, times, totals and calibrations come from
// the files' documentation (INDEX.csv and SOURCES.md beside them: the
// source projects' own statements and the cross-format pairs), not from
// this reader's output. Skipped when the data folder is absent.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/scripted_platform.h"
#include "spectrum/formats.h"
#include "spectrum/readers/readers.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
// Times are printed with two decimals in the documentation and stored as
// single precision: 0.01 s, or 2e-7 relative for the week-long counts.
double time_tolerance(double t) { return std::max(0.011, t * 2e-7); }

struct RealFile {
  const char* name;
  int type;
  const char* path;  // below data/spectra
  int channels;
  double live = kUnknown, real = kUnknown;
  double total = kUnknown;  // counts of channels 2 .. channels-1
  double c0 = kUnknown, c1 = kUnknown, c2 = kUnknown;  // as stored
  DateTime collected{};  // day 0: not documented
  int combined = 1;
  int per_line = 1;  // text files
};

std::string spectra_dir() {
  std::string d = test::shared_data_dir();
  return d.empty() ? d : d + "/spectra/";
}

struct Loaded {
  int result = 0;
  SpectrumRecord rec;
  ScriptedPlatform ui;
};

bool load(int type, const std::string& path, Loaded& out, int per_line = 1) {
  std::string dir = spectra_dir();
  if (dir.empty()) return false;
  ReaderOptions o;
  o.text_channels_per_line = per_line;
  out.result = spectrum_format(type)->read(test::read_bytes(dir + path), out.rec, o, out.ui);
  return true;
}

class RealSpectrum : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealSpectrum, MatchesItsDocumentation) {
  const RealFile& f = GetParam();
  Loaded l;
  if (!load(f.type, f.path, l, f.per_line)) GTEST_SKIP() << "public spectra not found beside the project";
  ASSERT_GE(l.result, 0) << (l.ui.messages.empty() ? "" : l.ui.messages[0].text);
  const SpectrumHeader& h = l.rec.header;
  EXPECT_EQ(h.channels, f.channels);
  if (!std::isnan(f.live)) {
    EXPECT_NEAR(h.live_time, f.live, time_tolerance(f.live));
  }
  if (!std::isnan(f.real)) {
    EXPECT_NEAR(h.true_time, f.real, time_tolerance(f.real));
  }
  if (!std::isnan(f.total)) {
    EXPECT_DOUBLE_EQ(l.rec.total_counts(), f.total);
  }
  const CalibrationRecord& cal = l.rec.calibration;
  if (!std::isnan(f.c1)) {
    // The documented coefficients are rounded to 3-7 significant digits.
    EXPECT_NEAR(cal.energy[0], f.c0, 1e-3);
    EXPECT_NEAR(cal.energy[1], f.c1, 1e-5 * std::fabs(f.c1));
    EXPECT_NEAR(cal.energy[2], f.c2, 1e-2 * std::fabs(f.c2) + 1e-12);
  }
  if (f.collected.day != 0) {
    EXPECT_EQ(h.collected, f.collected);
  }
  EXPECT_EQ(l.rec.combined_spectra, f.combined);
  if (spectrum_format(f.type)->probe && f.type != 4) {
    EXPECT_EQ(spectrum_format(f.type)->probe(test::read_bytes(spectra_dir() + f.path)), f.channels);
  }
}

// CNF energy calibrations are stored with the constant replaced by
// constant + linear + quadratic.
const RealFile kFiles[] = {
    {.name = "ChnCesium", .type = 3, .path = "chn/Cesium_137_Spectrum_180s_18Jan.Chn", .channels = 1024,
     .live = 180, .real = 182, .total = 265084, .c0 = 0, .c1 = 1.68457, .c2 = 0,
     .collected = {18, 1, 2018, 9, 6}},
    {.name = "ChnCobaltNamedSpe", .type = 3, .path = "chn/Cobalt60_Spectrum_180s_18Jan.Spe", .channels = 1024,
     .live = 180, .real = 182.22, .total = 219612, .c0 = -49.476, .c1 = 1.81498, .c2 = -1.15e-5},
    {.name = "SpcAlcatraz", .type = 4, .path = "spc/Alcatraz14.Spc", .channels = 4096, .live = 900,
     .real = 905.42, .c0 = 0.5783, .c1 = 0.374436, .c2 = 2.985859e-7, .collected = {17, 9, 2012, 13, 41}},
    {.name = "CnfFalcon", .type = 6, .path = "cnf/01122014152731-GT01122014182338-GA37.4963000N-GO122.4633000W.cnf",
     .channels = 4096, .live = 841.42, .real = 849.51, .total = 683658, .c0 = -0.21 + 0.718993, .c1 = 0.718993,
     .c2 = 0},
    {.name = "CnfBege", .type = 6, .path = "cnf/BEGe.CNF", .channels = 8192, .live = 584159.16,
     .real = 584246.58},
    {.name = "CnfAixPep", .type = 6, .path = "cnf/gamma_AIX_NaI_1_PEP.cnf", .channels = 1024, .live = 3385.54,
     .real = 3403.67, .total = 2180755, .c0 = -10 + 2.995904 + 6.4e-5, .c1 = 2.995904, .c2 = 6.4e-5},
    {.name = "CnfAixBrique", .type = 6, .path = "cnf/gamma_AIX_NaI_1_BRIQUE.cnf", .channels = 1024,
     .live = 9314.56, .real = 9355.15},
    {.name = "CnfAixC341", .type = 6, .path = "cnf/gamma_AIX_NaI_1_C341.cnf", .channels = 1024, .live = 3549.58,
     .real = 3558.07},
    {.name = "CnfAixC347", .type = 6, .path = "cnf/gamma_AIX_NaI_1_C347.cnf", .channels = 1024, .live = 3558.69,
     .real = 3570.99},
    {.name = "CnfAixGou", .type = 6, .path = "cnf/gamma_AIX_NaI_1_GOU.cnf", .channels = 1024, .live = 3567.49,
     .real = 3580.96},
    {.name = "CnfAixNar19", .type = 6, .path = "cnf/gamma_AIX_NaI_1_NAR19-P2-1.cnf", .channels = 1024,
     .live = 1500.91, .real = 1504.67},
    {.name = "CnfAixLead", .type = 6, .path = "cnf/gamma_AIX_NaI_1_PB.cnf", .channels = 1024, .live = 7707.42,
     .real = 7714.93, .total = 15078},
    {.name = "CnfBdxBrique", .type = 6, .path = "cnf/gamma_BDX_NaI_1_BRIQUE.cnf", .channels = 1024,
     .live = 3679.55, .real = 3687.45},
    {.name = "CnfBdxCobalt", .type = 6, .path = "cnf/gamma_BDX_NaI_1_Co60.cnf", .channels = 1024, .live = 449.05,
     .real = 449.6},
    {.name = "SpeCesium", .type = 14, .path = "spe/Cesium_137_Spectrum_180s_18Jan.Spe", .channels = 1024,
     .live = 180, .real = 182, .total = 265084, .c0 = 0, .c1 = 1.68457, .c2 = 0,
     .collected = {18, 1, 2018, 9, 6}},
    {.name = "SpeCobalt", .type = 14, .path = "spe/Cobalt60_Spectrum_180s_18Jan.Spe", .channels = 1024,
     .live = 180, .real = 182, .total = 219612, .c0 = -73.992, .c1 = 1.888551, .c2 = -6.66535e-5},
    {.name = "SpeAlcatraz", .type = 14, .path = "spe/Alcatraz14.spe", .channels = 8192, .live = 900,
     .real = 905.41998, .total = 132978, .c0 = 0.5783, .c1 = 0.374436, .c2 = 2.985859e-7},
    {.name = "SpeFalcon", .type = 14, .path = "spe/01122014152731-GT01122014182338-GA37.4963000N-GO122.4633000W.spe",
     .channels = 4096, .live = 841.42, .real = 849.51, .total = 683658, .c0 = -0.21, .c1 = 0.718993, .c2 = 0},
    {.name = "SpeNaiDetector", .type = 14, .path = "spe/nai_detector.spe", .channels = 1001, .live = 3600,
     .real = 3600, .collected = {26, 3, 2018, 0, 0}},
    {.name = "SpeDigibase", .type = 14, .path = "spe/digibase_5min_30_1.spe", .channels = 1024, .live = 296,
     .real = 300, .c0 = 0, .c1 = 0, .c2 = 0},
    {.name = "SpeKromekAsExploranium", .type = 13, .path = "spe/Kromek_CZT.spe", .channels = 4096,
     .live = 3599.749, .real = 3599.911, .collected = {30, 7, 2024, 9, 48}},
    {.name = "SpeD3s", .type = 14, .path = "spe/SGM102432.spe", .channels = 4094, .live = 300, .real = 300},
    {.name = "SpeMendocino", .type = 14, .path = "spe/Mendocino_07-10-13_Acq-10-10-13.Spe", .channels = 8192,
     .live = 595642, .real = 595798},
    {.name = "SpeCo60SumPeak", .type = 14, .path = "spe/Co60_sumpeak-500seconds.Spe", .channels = 1024,
     .live = 500, .real = 517},
    {.name = "TkaLaBr", .type = 5, .path = "tka/LaBr.TKA", .channels = 1024, .live = 3385.54, .real = 3403.67,
     .total = 2180755},
    {.name = "N42Ba133InterSpec", .type = 15, .path = "n42/Ba133_Unshielded.n42", .channels = 1024, .live = 1800,
     .real = 1802.089966, .c0 = -0.21, .c1 = 2.9746089, .c2 = 0, .collected = {26, 12, 2013, 21, 15}},
    {.name = "N42RadiacodeAm241", .type = 15, .path = "n42/data_am241.n42", .channels = 1024, .live = 613,
     .real = 613, .c0 = -6.2832313, .c1 = 2.4383054, .c2 = 0.0003818, .collected = {7, 6, 2023, 5, 52}},
    {.name = "N42RaseAm241", .type = 15, .path = "n42/VABCD_M001_Am241.n42", .channels = 1024, .live = 400.20,
     .real = 405.03},
    {.name = "N42RaseBackground", .type = 15, .path = "n42/VABCD_M001_Bgnd.n42", .channels = 1024,
     .live = 55467.02, .real = 55580.64},
    {.name = "N42RaseCo57", .type = 15, .path = "n42/VABCD_M001_Co57.n42", .channels = 1024, .live = 2000.87,
     .real = 2006.72},
    {.name = "N42RaseCo60", .type = 15, .path = "n42/VABCD_M001_Co60.n42", .channels = 1024, .live = 2237.63,
     .real = 2246.18},
    {.name = "N42RaseCs137", .type = 15, .path = "n42/VABCD_M001_Cs137.n42", .channels = 1024, .live = 400.29,
     .real = 407.05},
    {.name = "N42RaseI131", .type = 15, .path = "n42/VABCD_M001_I131.n42", .channels = 1024, .live = 400.45,
     .real = 405.02},
    {.name = "N42RaseRa226", .type = 15, .path = "n42/VABCD_M001_Ra226.n42", .channels = 1024, .live = 3600.05,
     .real = 3610.24},
    {.name = "N42RaseTh232", .type = 15, .path = "n42/VABCD_M001_Th232.n42", .channels = 1024, .live = 1200.80,
     .real = 1206.89},
    // 81 one-second slices of one detector: counts and times summed.
    {.name = "N42HelicopterSlices", .type = 15, .path = "n42/Q8910_Helicopter.N42", .channels = 1024,
     .collected = {4, 2, 2016, 20, 28}, .combined = 81},
};

INSTANTIATE_TEST_SUITE_P(PublicSamples, RealSpectrum, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// Same measurement stored in two formats: the counts must agree channel by
// channel (SOURCES.md, "Cross-format pairs"). The SPE conversion of the
// Falcon CNF numbers channels from 1 as Genie does (its channel k is the
// CNF's k - 1), the same shift that makes a CNF calibration's constant
// become constant + linear + quadratic.
struct Pair {
  const char* name;
  int type_a;
  const char* a;
  int type_b;
  const char* b;
  int first, last;  // channels of a compared
  int shift = 0;     // channel i of a is channel i + shift of b
};

class CrossFormatPair : public ::testing::TestWithParam<Pair> {};

TEST_P(CrossFormatPair, CountsAgree) {
  const Pair& p = GetParam();
  Loaded a, b;
  if (!load(p.type_a, p.a, a) || !load(p.type_b, p.b, b)) GTEST_SKIP() << "public spectra not found";
  ASSERT_GE(a.result, 0);
  ASSERT_GE(b.result, 0);
  int differing = 0;
  for (int i = p.first; i <= p.last; ++i)
    if (a.rec.counts[i] != b.rec.counts[i + p.shift]) ++differing;
  EXPECT_EQ(differing, 0);
}

INSTANTIATE_TEST_SUITE_P(
    PublicSamples, CrossFormatPair,
    ::testing::Values(
        Pair{"ChnSpeCesium", 3, "chn/Cesium_137_Spectrum_180s_18Jan.Chn", 14,
             "spe/Cesium_137_Spectrum_180s_18Jan.Spe", 0, 1023},
        Pair{"SpcSpeAlcatraz", 4, "spc/Alcatraz14.Spc", 14, "spe/Alcatraz14.spe", 0, 4095},
        Pair{"CnfSpeFalcon", 6, "cnf/01122014152731-GT01122014182338-GA37.4963000N-GO122.4633000W.cnf", 14,
             "spe/01122014152731-GT01122014182338-GA37.4963000N-GO122.4633000W.spe", 0, 4094, 1},
        Pair{"CnfTkaPep", 6, "cnf/gamma_AIX_NaI_1_PEP.cnf", 5, "tka/LaBr.TKA", 2, 1023}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealSpectrumEdges, SixteenThousandLineTkaExceedsTheTextLimit) {
  Loaded l;
  if (!load(5, "tka/EnergiespektrumNa.TKA", l)) GTEST_SKIP() << "public spectra not found";
  EXPECT_LT(l.result, 0);
  EXPECT_TRUE(l.ui.said("Can only read 4096 channels"));
}

TEST(RealSpectrumEdges, EightDetectorPortalSumsOneSlice) {
  Loaded l;
  if (!load(15, "n42/ba133_source_640s_20100317.n42", l)) GTEST_SKIP() << "public spectra not found";
  ASSERT_EQ(l.result, 1);
  EXPECT_EQ(l.rec.combined_spectra, 8);
  // Detectors measured together: the times are those of one detector
  // (A1: 629.17 s live, 639.92 s real), not eight times that.
  EXPECT_NEAR(l.rec.header.live_time, 629.17, 629.17 * 0.02);
  EXPECT_NEAR(l.rec.header.true_time, 639.92, 639.92 * 0.01);
  EXPECT_EQ(l.rec.header.channels, kMaxChannelsStored);  // 16384 in the file
  EXPECT_FALSE(l.rec.warnings.empty());
}

TEST(RealSpectrumEdges, CnfCarriesDetectorNameAndEfficiencyPoints) {
  Loaded l;
  if (!load(6, "cnf/BEGe.CNF", l)) GTEST_SKIP() << "public spectra not found";
  EXPECT_EQ(l.rec.detector_description, "DET01");
  EXPECT_EQ(l.rec.header.detector, 1);  // the "DET" name rule
  Loaded pep;
  ASSERT_TRUE(load(6, "cnf/gamma_AIX_NaI_1_PEP.cnf", pep));
  EXPECT_EQ(pep.rec.detector_description, "Scionix2x2S");
  EXPECT_GT(pep.rec.efficiency.count, 0);
  EXPECT_EQ(pep.rec.calibration.width_terms, -2);
}

TEST(RealSpectrumEdges, ContentPicksTheReaderOfMisnamedFiles) {
  std::string dir = spectra_dir();
  if (dir.empty()) GTEST_SKIP() << "public spectra not found";
  // ".Spe" holding a binary CHN; ORTEC and Kromek ".spe" files (the
  // extension's first type is Exploranium); an ".spc" that is Ortec SPC.
  EXPECT_EQ(readers::detect_spectrum_type(test::read_bytes(dir + "chn/Cobalt60_Spectrum_180s_18Jan.Spe"), 13), 3);
  EXPECT_EQ(readers::detect_spectrum_type(test::read_bytes(dir + "spe/Cesium_137_Spectrum_180s_18Jan.Spe"), 13), 14);
  EXPECT_EQ(readers::detect_spectrum_type(test::read_bytes(dir + "spe/Kromek_CZT.spe"), 13), 14);
  EXPECT_EQ(readers::detect_spectrum_type(test::read_bytes(dir + "spc/Alcatraz14.Spc"), 1), 4);
  EXPECT_EQ(readers::detect_spectrum_type(test::read_bytes(dir + "n42/Q8910_Helicopter.N42"), 15), 15);
  EXPECT_EQ(readers::detect_spectrum_type(test::read_bytes(dir + "cnf/BEGe.CNF"), 6), 6);
}

}  // namespace
}  // namespace kestrim
