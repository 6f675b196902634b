#include "spectrum/native_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/binio.h"

namespace kestrim {
namespace {

SpectrumRecord make_record(int channels, float peak) {
  SpectrumRecord rec;
  assign(rec.header.title, "Soil sample 12");
  assign(rec.header.user, "lab");
  rec.header.sample_number = 4711;
  rec.header.collected = {3, 4, 2024, 10, 15};
  rec.header.sampled = {1, 4, 2024, 8, 0};
  rec.header.detector = 2;
  rec.header.geometry = 3;
  rec.header.channels = static_cast<std::int16_t>(channels);
  rec.header.sample_size = 0.5f;
  assign(rec.header.units, "kg");
  rec.header.correction_factor = 1.0f;
  rec.header.live_time = 3600.5f;
  rec.header.true_time = 3610.25f;
  rec.header.sampling_uncertainty = 5.0f;
  assign(rec.header.location, "Field 3");
  assign(rec.header.sample_id, "S-12");
  assign(rec.header.sample_type, "soil");
  for (int i = 2; i < channels; ++i) rec.counts[i] = static_cast<float>((i * 37) % 1000);
  rec.counts[100] = peak;
  rec.calibration.energy_terms = 2;
  rec.calibration.energy = {1.5f, 2.9f, 0.0f};
  rec.efficiency.count = 3;
  for (int i = 0; i < 3; ++i) {
    rec.efficiency.energy[i] = 100.0f * (i + 1);
    rec.efficiency.efficiency[i] = 0.01f / (i + 1);
    rec.efficiency.uncertainty[i] = 0.03f;
  }
  return rec;
}

const DateTime kSaved{7, 12, 2026, 9, 30};

SpectrumRecord round_trip(SpectrumRecord& rec, std::vector<std::uint8_t>* bytes_out = nullptr) {
  std::vector<std::uint8_t> bytes = encode_native(rec, kSaved, nullptr);
  SpectrumRecord back;
  BackgroundRecord bkg;
  NativeReadResult result;
  EXPECT_EQ(read_native(bytes, back, bkg, {}, result), 1) << result.problem;
  if (bytes_out) *bytes_out = bytes;
  return back;
}

TEST(NativeFile, IntegerRoundTripKeepsHeaderCountsAndPoints) {
  SpectrumRecord rec = make_record(1024, 65534.0f);
  std::vector<std::uint8_t> bytes;
  SpectrumRecord back = round_trip(rec, &bytes);
  EXPECT_EQ(rec.header.data_type, 2);
  EXPECT_EQ(bytes.size(), 1024u + 4 * 512);
  // Saving as integers zeroes the time channels in memory; the header keeps the times.
  EXPECT_EQ(rec.counts[0], 0.0f);
  EXPECT_EQ(rec.counts[1], 0.0f);
  rec.header.saved = kSaved;
  EXPECT_EQ(back.header, rec.header);
  EXPECT_EQ(back.header.live_time, 3600.5f);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(back.counts[i], rec.counts[i]) << i;
  EXPECT_EQ(back.efficiency, rec.efficiency);
  EXPECT_EQ(back.calibration, rec.calibration);
}

TEST(NativeFile, LargestCountDecidesDataType) {
  SpectrumRecord below = make_record(512, 65534.0f);
  EXPECT_EQ(native_data_type_for(below), 2);
  SpectrumRecord at = make_record(512, 65535.0f);
  EXPECT_EQ(native_data_type_for(at), 4);
  // Channels 0 and 1 (the times) never count, however large.
  SpectrumRecord times = make_record(512, 10.0f);
  times.counts[0] = 1e6f;
  times.counts[1] = 1e6f;
  EXPECT_EQ(native_data_type_for(times), 2);
}

TEST(NativeFile, RealRoundTripKeepsTimesInChannelsZeroAndOne) {
  SpectrumRecord rec = make_record(1024, 70000.25f);
  rec.counts[0] = rec.header.live_time;
  rec.counts[1] = rec.header.true_time;
  std::vector<std::uint8_t> bytes;
  SpectrumRecord back = round_trip(rec, &bytes);
  EXPECT_EQ(rec.header.data_type, 4);
  EXPECT_EQ(bytes.size(), 1024u + 4 * 1024);
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(back.counts[i], rec.counts[i]) << i;
  EXPECT_EQ(back.counts[100], 70000.25f);
}

TEST(NativeFile, RealFileWithZeroHeaderTimesTakesThemFromChannels) {
  SpectrumRecord rec = make_record(256, 70000.0f);
  rec.header.live_time = 0;
  rec.header.true_time = 0;
  rec.counts[0] = 120.0f;
  rec.counts[1] = 125.0f;
  SpectrumRecord back = round_trip(rec);
  EXPECT_EQ(back.header.live_time, 120.0f);
  EXPECT_EQ(back.header.true_time, 125.0f);
}

TEST(NativeFile, OnlyWholeBlocksOfChannelsAreStored) {
  SpectrumRecord rec = make_record(1000, 10.0f);
  std::vector<std::uint8_t> bytes;
  SpectrumRecord back = round_trip(rec, &bytes);
  EXPECT_EQ(bytes.size(), 1024u + 3 * 512);  // 1000 / 256 = 3 blocks
  EXPECT_EQ(back.header.channels, 1000);
  EXPECT_EQ(back.counts[767], rec.counts[767]);
  EXPECT_EQ(back.counts[768], 0.0f);
}

TEST(NativeFile, MoreThanTwentyOneEfficiencyPointsAreCutInMemoryToo) {
  SpectrumRecord rec = make_record(256, 10.0f);
  rec.efficiency.count = 30;
  for (int i = 0; i < 30; ++i) rec.efficiency.energy[i] = 50.0f + i;
  SpectrumRecord back = round_trip(rec);
  EXPECT_EQ(rec.efficiency.count, 21);
  EXPECT_EQ(back.efficiency.count, 21);
  EXPECT_EQ(back.efficiency.energy[20], 70.0f);
  EXPECT_EQ(back.efficiency.energy[21], 0.0f);
}

TEST(NativeFile, DetectorFileNumberIsWrittenAsZeroButKeptInMemory) {
  SpectrumRecord rec = make_record(256, 10.0f);
  rec.header.detector_file = 5;
  SpectrumRecord back = round_trip(rec);
  EXPECT_EQ(rec.header.detector_file, 5);
  EXPECT_EQ(back.header.detector_file, 0);
  EXPECT_EQ(back.header.saved, kSaved);
}

// A file assembled byte by byte from the documented layout.
TEST(NativeFile, HandMadeBytesReadAtTheirOffsets) {
  std::vector<std::uint8_t> f(1024 + 512, 0);
  std::memcpy(f.data(), "Hand made", 9);
  std::memcpy(f.data() + 48, "tester", 6);
  bin::put_i32(f.data() + 72, 99);
  bin::put_i16(f.data() + 86, 5);     // collected day
  bin::put_i16(f.data() + 88, 6);     // month
  bin::put_i16(f.data() + 90, 2023);  // year
  bin::put_i16(f.data() + 92, 14);
  bin::put_i16(f.data() + 94, 7);
  bin::put_i16(f.data() + 116, 3);
  bin::put_i16(f.data() + 122, 4);
  bin::put_i16(f.data() + 124, 256);
  bin::put_f32(f.data() + 126, 2.5f);
  std::memcpy(f.data() + 130, "Bq/g", 4);  // unterminated four characters
  bin::put_i16(f.data() + 148, 2);
  bin::put_f32(f.data() + 150, 600.0f);
  bin::put_f32(f.data() + 154, 660.0f);
  std::memcpy(f.data() + 218, "ID-7", 4);
  bin::put_f32(f.data() + 256 + 0, 3.0f);   // energy terms
  bin::put_f32(f.data() + 256 + 8, 2.93f);  // gain
  bin::put_i16(f.data() + 768, 255);
  bin::put_i16(f.data() + 770, 2);
  bin::put_f32(f.data() + 772, 661.7f);
  bin::put_f32(f.data() + 772 + 84, 0.012f);
  bin::put_f32(f.data() + 772 + 168, 0.02f);
  bin::put_u16(f.data() + 1024 + 2 * 200, 54321);
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(f, rec, bkg, {}, result), 1);
  EXPECT_EQ(header_title(rec.header), "Hand made");
  EXPECT_EQ(to_string(rec.header.user), "tester");
  EXPECT_EQ(rec.header.sample_number, 99);
  EXPECT_EQ(rec.header.collected, (DateTime{5, 6, 2023, 14, 7}));
  EXPECT_EQ(rec.header.detector, 3);
  EXPECT_EQ(rec.header.geometry, 4);
  EXPECT_EQ(rec.header.sample_size, 2.5f);
  EXPECT_EQ(to_string(rec.header.units), "Bq/g");
  EXPECT_EQ(rec.header.live_time, 600.0f);
  EXPECT_EQ(rec.header.true_time, 660.0f);
  EXPECT_EQ(to_string(rec.header.sample_id), "ID-7");
  EXPECT_EQ(rec.calibration.energy_terms, 3.0f);
  EXPECT_EQ(rec.calibration.energy[1], 2.93f);
  EXPECT_EQ(rec.efficiency.count, 2);
  EXPECT_EQ(rec.efficiency.energy[0], 661.7f);
  EXPECT_EQ(rec.efficiency.efficiency[0], 0.012f);
  EXPECT_EQ(rec.efficiency.uncertainty[0], 0.02f);
  EXPECT_EQ(rec.counts[200], 54321.0f);
}

TEST(NativeFile, ShortFilesAreRefusedAtEveryBoundary) {
  SpectrumRecord rec = make_record(512, 10.0f);
  std::vector<std::uint8_t> bytes = encode_native(rec, kSaved, nullptr);
  for (std::size_t size : {std::size_t{0}, std::size_t{255}, std::size_t{256}, std::size_t{767},
                           std::size_t{1023}, bytes.size() - 1}) {
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
    SpectrumRecord back;
    BackgroundRecord bkg;
    NativeReadResult result;
    EXPECT_EQ(read_native(cut, back, bkg, {}, result), -1) << size;
    EXPECT_FALSE(result.problem.empty());
  }
  // Exactly the declared size reads.
  SpectrumRecord back;
  BackgroundRecord bkg;
  NativeReadResult result;
  EXPECT_EQ(read_native(bytes, back, bkg, {}, result), 1);
}

TEST(NativeFile, ImpossibleChannelCountsAreRefused) {
  SpectrumRecord rec = make_record(256, 10.0f);
  std::vector<std::uint8_t> bytes = encode_native(rec, kSaved, nullptr);
  bin::put_i16(bytes.data() + 124, -5);
  SpectrumRecord back;
  BackgroundRecord bkg;
  NativeReadResult result;
  EXPECT_EQ(read_native(bytes, back, bkg, {}, result), -1);
  bin::put_i16(bytes.data() + 124, 16000);
  EXPECT_EQ(read_native(bytes, back, bkg, {}, result), -1);
}

TEST(NativeFile, EfficiencyCountBeyondStoredPointsIsLimited) {
  SpectrumRecord rec = make_record(256, 10.0f);
  std::vector<std::uint8_t> bytes = encode_native(rec, kSaved, nullptr);
  bin::put_i16(bytes.data() + 770, 300);
  SpectrumRecord back;
  BackgroundRecord bkg;
  NativeReadResult result;
  EXPECT_EQ(read_native(bytes, back, bkg, {}, result), 1);
  EXPECT_EQ(back.efficiency.count, 21);
  EXPECT_FALSE(back.warnings.empty());
}

TEST(NativeFile, BackgroundBlockIsReadOnlyWhenAskedAndWhole) {
  SpectrumRecord rec = make_record(256, 10.0f);
  BackgroundRecord bkg;
  bkg.count = 7;
  bkg.rate_sigma[199] = 9.5f;  // the last four bytes of the block
  std::vector<std::uint8_t> bytes = encode_native(rec, kSaved, &bkg);
  EXPECT_EQ(bytes.size(), 1024u + 512 + 2 + 2480);

  SpectrumRecord back;
  BackgroundRecord read_bkg;
  NativeReadResult result;
  NativeReadOptions opt;
  opt.read_background_block = true;
  ASSERT_EQ(read_native(bytes, back, read_bkg, opt, result), 1);
  EXPECT_TRUE(result.background_present);
  EXPECT_EQ(read_bkg.count, 7);
  EXPECT_EQ(read_bkg.rate_sigma[199], 9.5f);

  // A cut block is not half taken: the block is zeroed and marked absent.
  bytes.pop_back();
  BackgroundRecord partial;
  partial.count = 1;
  ASSERT_EQ(read_native(bytes, back, partial, opt, result), 1);
  EXPECT_FALSE(result.background_present);
  EXPECT_EQ(partial.count, 0);

  // Not asked: left alone.
  BackgroundRecord untouched;
  untouched.count = 3;
  ASSERT_EQ(read_native(bytes, back, untouched, {}, result), 1);
  EXPECT_EQ(untouched.count, 3);
}

TEST(NativeFile, DirectoryProbeNeedsAKnownDataType) {
  SpectrumRecord rec = make_record(1024, 10.0f);
  std::vector<std::uint8_t> bytes = encode_native(rec, kSaved, nullptr);
  EXPECT_EQ(probe_native(bytes), 1024);
  bin::put_i16(bytes.data() + 148, 3);
  EXPECT_EQ(probe_native(bytes), 0);
  EXPECT_EQ(probe_native(std::vector<std::uint8_t>(100)), 0);
}

TEST(SpectrumHeader, TitleWithDescriptionUsesTheSplitLayout) {
  SpectrumHeader h;
  set_title(h, "Short", "Grass from field 7");
  EXPECT_EQ(h.title[23], 0);
  EXPECT_EQ(h.title[5], ' ');
  EXPECT_EQ(header_title(h), "Short                  ");
  EXPECT_EQ(header_description(h), "Grass from field 7");
  set_title(h, "A title without a description", "");
  EXPECT_EQ(header_title(h), "A title without a description");
  EXPECT_EQ(header_description(h), "");
}

}  // namespace
}  // namespace kestrim
