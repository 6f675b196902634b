#include "spectrum/formats.h"

#include "spectrum/readers/readers.h"

namespace kestrim {

namespace {
const SpectrumFormat kFormats[kSpectrumTypeCount] = {
    {0, "Kestrim format", "dat", "*.dat", nullptr, nullptr},
    {1, "Canberra Spectran", "spc", "*.spc", readers::read_spectran, readers::probe_spectran},
    {2, "Canberra S100 MCA", "mca", "*.mca", readers::read_s100, readers::probe_s100},
    {3, "Ortec CHN", "chn", "*.chn", readers::read_chn, readers::probe_chn},
    {4, "Ortec SPC", "spc", "*.spc", readers::read_ortec_spc, readers::probe_ortec_spc},
    {5, "Text File", "txt", nullptr, readers::read_text, nullptr},
    {6, "Canberra Genie_PC", "cnf", "*.cnf", readers::read_cnf, readers::probe_cnf},
    {7, "Aptec", "s0", "*.s0", readers::read_aptec, readers::probe_aptec},
    {8, "Oxford Instruments", "spm", "*.spm", readers::read_oxford, readers::probe_oxford},
    {9, "Rainbow", "spc", "*.spc", readers::read_rainbow, readers::probe_rainbow},
    {10, "PGT Quantum", "ans", "*.ans", readers::read_pgt, readers::probe_pgt},
    {11, "Laboratory Iquipment", "dat", "*.dat", readers::read_iquipment, readers::probe_iquipment},
    {12, "Fieldspec", "spc", "*.spc", readers::read_fieldspec, readers::probe_fieldspec},
    {13, "Exploranium", "spe", "*.spe", readers::read_exploranium, readers::probe_exploranium},
    {14, "MiniMCA", "spe", "*.spe", readers::read_minimca, readers::probe_minimca},
    {15, "ANSI N42", "n42", "*.n42", readers::read_n42, readers::probe_n42},
};
const SpectrumFormat kTka = {kSpectrumTypeTka, "TKA", "tka", "*.tka", readers::read_tka,
                             readers::probe_tka};
}  // namespace

const SpectrumFormat* spectrum_format(int type) {
  if (type == kSpectrumTypeTka) return &kTka;
  if (type < 0 || type >= kSpectrumTypeCount) return nullptr;
  return &kFormats[type];
}

std::string spectrum_type_name(int type) {
  if (type == kSpectrumTypeAcquired) return "MCA";
  const SpectrumFormat* f = spectrum_format(type);
  return f ? f->name : "unknown";
}

}  // namespace kestrim
