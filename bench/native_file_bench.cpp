// Reading and writing native spectrum files of 1024 and 4096 channels.
#include <benchmark/benchmark.h>

#include "spectrum/native_file.h"

namespace {

kestrim::SpectrumRecord make_record(int channels, float scale) {
  kestrim::SpectrumRecord rec;
  rec.header.channels = static_cast<std::int16_t>(channels);
  rec.header.live_time = 3600;
  rec.header.true_time = 3610;
  for (int i = 2; i < channels; ++i) rec.counts[i] = scale * static_cast<float>((i * 7919) % 1000);
  return rec;
}

void BM_NativeWrite(benchmark::State& st) {
  kestrim::SpectrumRecord rec = make_record(static_cast<int>(st.range(0)), 1.0f);
  for (auto _ : st) {
    auto bytes = kestrim::encode_native(rec, kestrim::DateTime{1, 1, 2026, 0, 0}, nullptr);
    benchmark::DoNotOptimize(bytes.data());
  }
}
BENCHMARK(BM_NativeWrite)->Arg(1024)->Arg(4096);

void BM_NativeRead(benchmark::State& st) {
  // Counts above 65535 force the real-number layout.
  kestrim::SpectrumRecord rec = make_record(static_cast<int>(st.range(0)), 100.0f);
  auto bytes = kestrim::encode_native(rec, kestrim::DateTime{1, 1, 2026, 0, 0}, nullptr);
  for (auto _ : st) {
    kestrim::SpectrumRecord back;
    kestrim::BackgroundRecord bkg;
    kestrim::NativeReadResult result;
    benchmark::DoNotOptimize(kestrim::read_native(bytes, back, bkg, {}, result));
  }
}
BENCHMARK(BM_NativeRead)->Arg(1024)->Arg(4096);

}  // namespace
