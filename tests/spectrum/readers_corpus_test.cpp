// Replays the fuzz seed corpus (fuzz/corpus/readers) through the readers
// the way the fuzz target does: the first byte picks the type, the rest is
// the file. The seeds are valid hand-made files, so each must read; an
// input that once broke a reader, added to the corpus, stays checked here.
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "spectrum/formats.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

TEST(ReaderCorpus, EverySeedReadsWithinTheChannelArray) {
  const std::string dir = test::source_data_dir() + "/../fuzz/corpus/readers";
  std::vector<std::string> names = list_directory(dir);
  ASSERT_GE(names.size(), 15u) << dir;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::vector<std::uint8_t> all = test::read_bytes(dir + "/" + name);
    ASSERT_FALSE(all.empty());
    int type = all[0] % kSpectrumTypeCount;
    if (type == 0) type = 5;
    std::vector<std::uint8_t> bytes(all.begin() + 1, all.end());
    SpectrumRecord rec;
    ReaderOptions options;
    options.text_channels_per_line = 1 + all[0] / 16 % 8;
    options.text_header_lines = all[0] / 128;
    ScriptedPlatform ui;
    int result = spectrum_format(type)->read(bytes, rec, options, ui);
    EXPECT_GE(result, 0) << (ui.messages.empty() ? "" : ui.messages[0].text);
    EXPECT_GT(rec.header.channels, 0);
    EXPECT_LE(rec.header.channels, kMaxChannelsStored);
    EXPECT_EQ(rec.counts.size(), static_cast<std::size_t>(kMaxChannelsStored));
  }
}

}  // namespace
}  // namespace kestrim
