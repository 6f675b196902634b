#include "settings/defaults_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "platform/binio.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "settings/defaults_file.h"
#include "settings/setup_checks.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

constexpr int kChecksumOffset = 2260;

std::vector<std::uint8_t> make_or_fail(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(defaults_from_text(text, bytes, error)) << error;
  return bytes;
}

std::string error_of(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(defaults_from_text(text, bytes, error)) << text;
  EXPECT_TRUE(bytes.empty());
  return error;
}

// The line of `text` that starts with `name + " = "`, without its comment.
std::string line_of(const std::string& text, const std::string& name) {
  std::size_t pos = text.find("\n" + name + " = ");
  if (pos == std::string::npos) return {};
  std::size_t end = text.find("  #", pos + 1);
  return text.substr(pos + 1, end - pos - 1);
}

std::string shipped_normal_text() {
  return test::read_text(test::source_data_dir() + "/DefaultFiles/Normal.txt");
}

// ---- The shipped start-up file ---------------------------------------------

TEST(ShippedNormalDefaults, TextRoundTripsThroughBinary) {
  std::vector<std::uint8_t> first = make_or_fail(shipped_normal_text());
  ASSERT_EQ(first.size(), static_cast<std::size_t>(kDefaultsFileSize));
  std::string dumped = defaults_to_text(first);
  std::vector<std::uint8_t> second = make_or_fail(dumped);
  EXPECT_EQ(second, first);
  EXPECT_EQ(defaults_to_text(second), dumped);
}

TEST(ShippedNormalDefaults, ValuesSuitA3x3InchNaIDetector) {
  std::vector<std::uint8_t> bytes = make_or_fail(shipped_normal_text());
  DefaultsFileImage image;
  ASSERT_EQ(parse_defaults_file(bytes.data(), bytes.size(), image), kDefaultsParsedOk);
  const AnalysisParameters& p = image.params;

  EXPECT_TRUE(check_all_setup_pages(p).empty());
  EXPECT_EQ(p.checksum, compute_checksum(p));
  EXPECT_EQ(p.defaults_number, 0);
  EXPECT_EQ(to_string(p.application_name), "Normal");
  EXPECT_EQ(to_string(p.activity_unit), "Bq");
  EXPECT_FLOAT_EQ(p.activity_factor, 1);
  EXPECT_EQ(to_string(p.report_template), "report.tpl");
  // Foreign spectra take the calibration of the shipped example detector.
  EXPECT_EQ(p.default_detector_file, 0);  // foreign spectra keep their own calibration
  EXPECT_EQ(to_string(p.analysis_library), "NaI_Analysis.lib");
  EXPECT_EQ(p.default_spectrum_type, 0);
  EXPECT_TRUE(to_string(p.own_format_dir).empty());
  EXPECT_EQ(p.prompt_add_peaks, 0);
  EXPECT_EQ(p.prompt_remove_peaks, 0);
  EXPECT_EQ(p.iterate_position_single, 1);
  EXPECT_GE(p.lod_type, 1);
  EXPECT_LE(p.lod_type, 5);
  EXPECT_LE(p.search_stop, 1023);  // 1024 channels
  EXPECT_GE(p.sc_leading_edge_readings, 2);  // nothing left for the load to fix
  EXPECT_TRUE(image.passwords.user.empty());

  // tol(662 keV) = 0.25 ETOL + 0.00075 ETOL 662 should be about a third of
  // the NaI FWHM there (7 % of 662 keV = 46 keV, a third 15.4 keV); within
  // 20 % of that.
  const double tol = 0.25 * p.energy_tolerance + 0.00075 * p.energy_tolerance * 661.7;
  EXPECT_NEAR(tol, 0.07 * 661.7 / 3, 0.2 * 0.07 * 661.7 / 3);
}

TEST(ShippedNormalDefaults, BuiltFileMatchesItsSource) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (home == nullptr) GTEST_SKIP() << "KESTRIM_HOME not set: run through ctest";
  std::vector<std::uint8_t> built = test::read_bytes(std::string(home) + "/DefaultFiles/Normal.000");
  EXPECT_EQ(built, make_or_fail(shipped_normal_text()));
}

// ---- Round trips of arbitrary records -------------------------------------

TEST(DefaultsText, RandomRecordRoundTripsByteForByte) {
  // Every byte random: reserved ranges, text fields with bytes after their
  // NUL, reals that are NaN or subnormal, the tail of the int16 slot.
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(kDefaultsFileSize, 0);
    for (int i = 0; i < kParametersSize; ++i) bytes[i] = static_cast<std::uint8_t>(rng());
    bin::put_i32(&bytes[kChecksumOffset], compute_checksum(bytes.data()));
    scramble_password("User pw", &bytes[kUserPasswordOffset]);
    scramble_password("Mgr", &bytes[kManagerPasswordOffset]);

    std::string text = defaults_to_text(bytes);
    std::vector<std::uint8_t> back = make_or_fail(text);
    ASSERT_EQ(back.size(), bytes.size());
    for (int i = 0; i < kDefaultsFileSize; ++i) ASSERT_EQ(back[i], bytes[i]) << "offset " << i;
    EXPECT_EQ(defaults_to_text(back), text);
  }
}

TEST(DefaultsText, ReservedRangesAreDumpedOnlyWhenNotZero) {
  AnalysisParameters p = make_initial_parameters();
  p.raw[1236] = 0xab;
  p.raw[1307] = 0x01;
  std::string text = defaults_to_text(build_defaults_file(p, nullptr));
  std::string expected = "reserved.1236 = ab";
  for (int i = 1237; i < 1307; ++i) expected += " 00";
  expected += " 01";
  EXPECT_EQ(line_of(text, "reserved.1236"), expected);
  EXPECT_EQ(text.find("reserved.80 "), std::string::npos);
  // Placed in offset order: after the calibration directory, before the next field.
  EXPECT_LT(text.find("\ncalibration_dir = "), text.find("\nreserved.1236 = "));
  EXPECT_LT(text.find("\nreserved.1236 = "), text.find("\nbackground_dir = "));
}

TEST(DefaultsText, RealsReadBackBitIdentical) {
  const float values[] = {0.1f,
                          1.645f,
                          -0.0f,
                          std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::min(),  // smallest normal
                          std::numeric_limits<float>::denorm_min(),
                          std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(),
                          16777217.0f};
  for (float v : values) {
    SCOPED_TRACE(v);
    AnalysisParameters p = make_initial_parameters();
    p.energy_tolerance = v;
    std::vector<std::uint8_t> bytes = build_defaults_file(p, nullptr);
    std::vector<std::uint8_t> back = make_or_fail(defaults_to_text(bytes));
    EXPECT_EQ(bin::get_u32(&back[144]), bin::get_u32(&bytes[144]));
  }
}

TEST(DefaultsText, ValuesArePrintedAsDocumented) {
  AnalysisParameters p = make_initial_parameters();
  p.energy_tolerance = 0.1f;
  p.search_start = 10;
  p.lod_sigma = std::numeric_limits<float>::infinity();
  p.defaults_number = -5;
  p.adc_number = -2;
  p.report_font_italic = 255;
  assign(p.activity_unit, "Bq/g", false);
  assign(p.report_font_face, "a\"b\\c\x01\xe9");
  std::string text = defaults_to_text(build_defaults_file(p, nullptr));
  EXPECT_EQ(text.rfind("# ", 0), 0u);
  EXPECT_EQ(line_of(text, "ETOL"), "ETOL = 0.100000001");
  EXPECT_EQ(line_of(text, "STAR"), "STAR = 10");
  EXPECT_EQ(line_of(text, "LSIG"), "LSIG = 0x7f800000");
  EXPECT_EQ(line_of(text, "DEFN"), "DEFN = -5");
  EXPECT_EQ(line_of(text, "adc_number"), "adc_number = -2");
  EXPECT_EQ(line_of(text, "report_font_italic"), "report_font_italic = 255");
  EXPECT_EQ(line_of(text, "ACTU"), "ACTU = \"Bq/g\"");
  EXPECT_EQ(line_of(text, "report_font_face"), "report_font_face = \"a\\\"b\\\\c\\x01\\xe9\"");
  EXPECT_EQ(line_of(text, "APPL"), "APPL = \"Normal\"");
  EXPECT_NE(text.find("\nETOL = 0.100000001  # energy tolerance base value, keV\n"),
            std::string::npos);
  EXPECT_EQ(text.find("password"), std::string::npos);  // none set
}

TEST(DefaultsText, PasswordsAreDumpedPlainAndStoredScrambled) {
  Passwords pw{"Secret", ""};
  std::string text = defaults_to_text(build_defaults_file(make_initial_parameters(), &pw));
  EXPECT_EQ(line_of(text, "user_password"), "user_password = \"Secret\"");
  EXPECT_EQ(text.find("manager_password"), std::string::npos);
  std::vector<std::uint8_t> bytes = make_or_fail("manager_password = \"Boss\"\n");
  EXPECT_EQ(bytes[kManagerPasswordOffset], 'B' + 56);
  EXPECT_EQ(bytes[kUserPasswordOffset], 0);
}

// ---- Reading text -----------------------------------------------------------

TEST(DefaultsText, MissingFieldsAreZeroAndTheChecksumIsComputed) {
  std::vector<std::uint8_t> bytes =
      make_or_fail("# only two fields\r\n\r\n  etol = 12.5 # keV\r\nchecksum = 5\r\n");
  DefaultsFileImage image;
  ASSERT_EQ(parse_defaults_file(bytes.data(), bytes.size(), image), kDefaultsParsedOk);
  EXPECT_FLOAT_EQ(image.params.energy_tolerance, 12.5f);
  EXPECT_EQ(to_string(image.params.application_name), "Normal");
  EXPECT_EQ(image.params.search_start, 0);
  EXPECT_EQ(image.params.checksum, compute_checksum(bytes.data()));
  EXPECT_NE(image.params.checksum, 5);
}

TEST(DefaultsText, HashInsideQuotesIsText) {
  std::vector<std::uint8_t> bytes = make_or_fail("AUXP = \"a#b\\\"#c\"  # comment \"x\n");
  EXPECT_EQ(bin::get_text(&bytes[308], 32), "a#b\"#c");
}

TEST(DefaultsText, TextFillingTheWholeFieldIsAccepted) {
  std::vector<std::uint8_t> bytes = make_or_fail("APPL = \"0123456789abcdef\"\nACTU = \"Bq/g\"\n");
  EXPECT_EQ(std::memcmp(&bytes[1628], "0123456789abcdef", 16), 0);
  EXPECT_EQ(std::memcmp(&bytes[172], "Bq/g", 4), 0);
}

TEST(DefaultsText, ErrorsNameTheLineAndTheProblem) {
  EXPECT_EQ(error_of("ETOL = 1\n\nFOO = 3\n"), "line 3: unknown name \"FOO\"");
  EXPECT_EQ(error_of("ETOL 1\n"), "line 1: expected \"name = value\"");
  EXPECT_EQ(error_of("= 1\n"), "line 1: expected \"name = value\"");
  EXPECT_EQ(error_of("ETOL =\n"), "line 1: ETOL: no value");
  EXPECT_EQ(error_of("ETOL = 1\netol = 2\n"), "line 2: etol is given twice");
  EXPECT_EQ(error_of("ETOL = abc\n"), "line 1: ETOL: not a real number: \"abc\"");
  EXPECT_EQ(error_of("ETOL = 1.5x\n"), "line 1: ETOL: not a real number: \"1.5x\"");
  EXPECT_EQ(error_of("ETOL = 1e39\n"), "line 1: ETOL: real number 1e39 out of range for 32 bits");
  EXPECT_EQ(error_of("ETOL = 0x1234567890\n"),
            "line 1: ETOL: not a 32-bit pattern: \"0x1234567890\"");
  EXPECT_EQ(error_of("DEFN = 1.5\n"), "line 1: DEFN: not an integer: \"1.5\"");
  EXPECT_EQ(error_of("DEFN = 2147483648\n"),
            "line 1: DEFN: integer 2147483648 outside -2147483648 to 2147483647");
  EXPECT_EQ(error_of("adc_number = 32768\n"),
            "line 1: adc_number: integer 32768 outside -32768 to 32767");
  EXPECT_EQ(error_of("report_font_italic = -1\n"),
            "line 1: report_font_italic: integer -1 outside 0 to 255");
  EXPECT_EQ(error_of("APPL = Normal\n"), "line 1: APPL: text must be in double quotes");
  EXPECT_EQ(error_of("APPL = \"0123456789abcdefg\"\n"),
            "line 1: APPL: text of 17 bytes does not fit the 16-byte field");
  EXPECT_EQ(error_of("APPL = \"a\\n\"\n"),
            "line 1: APPL: unknown escape in the text (use \\\", \\\\ or \\xHH)");
  EXPECT_EQ(error_of("APPL = \"a\\x4\"\n"),
            "line 1: APPL: unknown escape in the text (use \\\", \\\\ or \\xHH)");
  EXPECT_EQ(error_of("APPL = \"a\"b\"\n"), "line 1: APPL: unescaped '\"' inside the text");
  EXPECT_EQ(error_of("user_password = \"0123456789abcdef\"\n"),
            "line 1: user_password: at most 15 characters");
  EXPECT_EQ(error_of("manager_password = \"a\\xc8\"\n"),
            "line 1: manager_password: character \\xc8 cannot be stored");
  EXPECT_EQ(error_of("reserved.1300 = 01 02 03 04 05 06 07 08 09\n"),
            "line 1: reserved.1300: byte 1308 belongs to a field, not a reserved range");
  EXPECT_EQ(error_of("reserved.2303 = 01 02\n"),
            "line 1: reserved.2303: reserved bytes outside the record");
  EXPECT_EQ(error_of("reserved.80 = 1 2\n"),
            "line 1: reserved.80: reserved bytes must be two-digit hex numbers separated by blanks");
  EXPECT_EQ(error_of("reserved.x = 01\n"), "line 1: reserved.x: bad reserved offset \"x\"");
}

TEST(DefaultsText, ShortBytesGiveNoText) {
  EXPECT_EQ(defaults_to_text(std::vector<std::uint8_t>(kParametersSize - 1, 0)), "");
}

// ---- The command --------------------------------------------------------------

TEST(DefaultsCommand, MakeThenDumpGivesTheSameText) {
  test::TempDir dir;
  const std::string bin = test::kestrim_binary() + " defaults ";
  const std::string src = test::source_data_dir() + "/DefaultFiles/Normal.txt";
  std::string text, again;
  ASSERT_EQ(test::run_command(bin + "make '" + src + "' -o '" + dir.file("N.000") + "'", &text), 0);
  ASSERT_EQ(test::run_command(bin + "dump '" + dir.file("N.000") + "'", &text), 0);
  test::write_text(dir.file("N.txt"), text);
  ASSERT_EQ(test::run_command(bin + "make '" + dir.file("N.txt") + "' -o '" + dir.file("M.000") + "'",
                              &again), 0);
  ASSERT_EQ(test::run_command(bin + "dump '" + dir.file("M.000") + "'", &again), 0);
  EXPECT_EQ(again, text);
}

TEST(DefaultsCommand, ErrorsGoToStderrWithExitOne) {
  test::TempDir dir;
  const std::string bin = test::kestrim_binary();
  test::write_bytes(dir.file("short.000"), std::vector<std::uint8_t>(100, 0));
  test::write_text(dir.file("bad.txt"), "ETOL = 1\nNOPE = 2\n");
  std::string out;
  EXPECT_EQ(test::run_command(bin + " defaults dump '" + dir.file("short.000") + "'", &out, true),
            1);
  EXPECT_EQ(out, "kestrim: " + dir.file("short.000") +
                     ": 100 bytes, shorter than the 2304-byte parameters record\n");
  EXPECT_EQ(test::run_command(bin + " defaults make '" + dir.file("bad.txt") + "' -o '" +
                                  dir.file("x.000") + "'",
                              &out, true),
            1);
  EXPECT_EQ(out, "kestrim: " + dir.file("bad.txt") + ": line 2: unknown name \"NOPE\"\n");
  EXPECT_FALSE(file_exists(dir.file("x.000")));
  EXPECT_EQ(test::run_command(bin + " defaults frobnicate", &out, true), 1);
}

}  // namespace
}  // namespace kestrim
