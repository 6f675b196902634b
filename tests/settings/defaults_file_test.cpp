#include "settings/defaults_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/binio.h"
#include "settings/defaults_fixture.h"

namespace kestrim {
namespace {

using test::DefaultsFixture;

std::vector<std::uint8_t> file_bytes(const AnalysisParameters& p, const Passwords* pw = nullptr) {
  return build_defaults_file(p, pw);
}

// ---- Parsing bytes ----------------------------------------------------------

TEST(ParseDefaultsFile, OneByteShortOfTheRecordIsRefusedAndLeavesOutputAlone) {
  std::vector<std::uint8_t> bytes(kParametersSize - 1, 0);
  DefaultsFileImage image;
  image.params.energy_tolerance = 42;
  EXPECT_EQ(parse_defaults_file(bytes.data(), bytes.size(), image), kDefaultsTooShort);
  EXPECT_EQ(image.params.energy_tolerance, 42);
  EXPECT_EQ(parse_defaults_file(nullptr, 0, image), kDefaultsTooShort);
}

TEST(ParseDefaultsFile, HandMadeBytesAreReadAtTheDocumentedOffsets) {
  std::vector<std::uint8_t> b(kDefaultsFileSize, 0);
  bin::put_i32(&b[0], 7);         // Defaults-file number
  bin::put_f32(&b[144], 20.5f);   // energy tolerance
  std::memcpy(&b[172], "Bq  ", 4);  // activity unit, all four bytes used
  std::memcpy(&b[1628], "Lab2", 4);
  bin::put_i16(&b[1580], -3);     // ADC number, int16 in a 4-byte slot
  b[1582] = 0x5a;                 // rest of that slot: kept, not part of the value
  bin::put_i32(&b[2260], 1234);   // checksum as stored
  // User password "ab": 'a' 97 + 56 = 153, 'b' 98 + 56 = 154.
  b[2304] = 153;
  b[2305] = 154;
  // Manager password: 'Z' 90 + 56 = 146; code 210 + 56 = 266 wraps to 10.
  b[2320] = 146;
  b[2321] = 10;
  DefaultsFileImage image;
  ASSERT_EQ(parse_defaults_file(b.data(), b.size(), image), kDefaultsParsedOk);
  EXPECT_EQ(image.params.defaults_number, 7);
  EXPECT_FLOAT_EQ(image.params.energy_tolerance, 20.5f);
  EXPECT_EQ(std::string(image.params.activity_unit.data(), 4), "Bq  ");
  EXPECT_EQ(to_string(image.params.application_name), "Lab2");
  EXPECT_EQ(image.params.adc_number, -3);
  EXPECT_EQ(image.params.raw[1582], 0x5a);
  EXPECT_EQ(image.params.checksum, 1234);
  EXPECT_EQ(image.passwords.user, "ab");
  EXPECT_EQ(image.passwords.manager, std::string("Z") + static_cast<char>(210));
  EXPECT_EQ(image.ignored_bytes, 0u);
}

TEST(ParseDefaultsFile, PasswordFieldsCutShortByTheEndOfFileAreAbsent) {
  Passwords pw{"user", "boss"};
  std::vector<std::uint8_t> full = file_bytes(DefaultsFixture::sample_params(), &pw);
  struct Case {
    std::size_t size;
    bool user;
    bool manager;
  } cases[] = {{2304, false, false}, {2319, false, false}, {2320, true, false},
               {2335, true, false},  {2336, true, true},   {4000, true, true}};
  full.resize(4000, 0xee);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    DefaultsFileImage image;
    ASSERT_EQ(parse_defaults_file(full.data(), c.size, image), kDefaultsParsedOk);
    EXPECT_EQ(image.has_user_password_field, c.user);
    EXPECT_EQ(image.has_manager_password_field, c.manager);
    EXPECT_EQ(image.passwords.user, c.user ? "user" : "");
    EXPECT_EQ(image.passwords.manager, c.manager ? "boss" : "");
    EXPECT_EQ(image.ignored_bytes, c.size > 2336 ? c.size - 2336 : 0u);
  }
}

TEST(BuildDefaultsFile, RoundTripKeepsReservedBytesAndPasswords) {
  AnalysisParameters p = DefaultsFixture::sample_params(9, "Lab");
  p.raw[1236] = 0x11;  // reserved
  p.raw[1590] = 0x22;  // acquisition settings kept for the MCA code
  p.raw[2299] = 0x33;
  Passwords pw{"Secret", "Manager"};
  std::vector<std::uint8_t> bytes = build_defaults_file(p, &pw);
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kDefaultsFileSize));
  DefaultsFileImage image;
  ASSERT_EQ(parse_defaults_file(bytes.data(), bytes.size(), image), kDefaultsParsedOk);
  EXPECT_EQ(image.params.raw[1236], 0x11);
  EXPECT_EQ(image.params.raw[1590], 0x22);
  EXPECT_EQ(image.params.raw[2299], 0x33);
  EXPECT_EQ(image.params.defaults_number, 9);
  EXPECT_EQ(image.passwords.user, "Secret");
  EXPECT_EQ(image.passwords.manager, "Manager");
  EXPECT_EQ(build_defaults_file(image.params, &image.passwords), bytes);
}

TEST(PasswordScrambling, AddsFiftySixModuloTwoFiftySixAndKeepsFifteen) {
  std::uint8_t field[kPasswordFieldSize];
  scramble_password("A\xc8z", field);  // 65+56=121; 200+56=256 -> 0; 122+56=178
  EXPECT_EQ(field[0], 121);
  EXPECT_EQ(field[1], 0);
  EXPECT_EQ(field[2], 178);
  // The zero that code 200 becomes ends the password on reading.
  EXPECT_EQ(unscramble_password(field), "A");

  scramble_password("0123456789abcdefgh", field);
  EXPECT_EQ(field[14], 'e' + 56);
  EXPECT_EQ(field[15], 0);
  EXPECT_EQ(unscramble_password(field), "0123456789abcde");
}

// ---- Names and paths ---------------------------------------------------------

TEST(DefaultsFileName, NumberZeroIsAlwaysNormal) {
  EXPECT_EQ(defaults_file_name("Lab", 0), "Normal.000");
  EXPECT_EQ(defaults_file_name("Lab", 1), "Lab.001");
  EXPECT_EQ(defaults_file_name("Lab", 99), "Lab.099");
}

}  // namespace
}  // namespace kestrim
