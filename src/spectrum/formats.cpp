#include "spectrum/formats.h"

#include "spectrum/readers/readers.h"

namespace kestrim {

namespace {
const SpectrumFormat kFormats[kSpectrumTypeCount] = {
    {0, "Kestrim format", "dat", "*.dat", nullptr, nullptr},
    {1, "Canberra Spectran", "spc", "*.spc", nullptr, nullptr},
    {2, "Canberra S100 MCA", "mca", "*.mca", nullptr, nullptr},
    {3, "Ortec CHN", "chn", "*.chn", nullptr, nullptr},
    {4, "Ortec SPC", "spc", "*.spc", nullptr, nullptr},
    {5, "Text File", "txt", nullptr, nullptr, nullptr},
    {6, "Canberra Genie_PC", "cnf", "*.cnf", nullptr, nullptr},
    {7, "Aptec", "s0", "*.s0", nullptr, nullptr},
    {8, "Oxford Instruments", "spm", "*.spm", nullptr, nullptr},
    {9, "Rainbow", "spc", "*.spc", nullptr, nullptr},
    {10, "PGT Quantum", "ans", "*.ans", nullptr, nullptr},
    {11, "Laboratory Iquipment", "dat", "*.dat", nullptr, nullptr},
    {12, "Fieldspec", "spc", "*.spc", nullptr, nullptr},
    {13, "Exploranium", "spe", "*.spe", nullptr, nullptr},
    {14, "MiniMCA", "spe", "*.spe", nullptr, nullptr},
    {15, "ANSI N42", "n42", "*.n42", nullptr, nullptr},
};
}  // namespace

const SpectrumFormat* spectrum_format(int type) {
  if (type < 0 || type >= kSpectrumTypeCount) return nullptr;
  return &kFormats[type];
}

std::string spectrum_type_name(int type) {
  if (type == kSpectrumTypeAcquired) return "MCA";
  const SpectrumFormat* f = spectrum_format(type);
  return f ? f->name : "unknown";
}

}  // namespace kestrim
