// The checks and effects of editing a spectrum header. The dialog itself
// belongs to the front end; it hands over the texts as typed.
#pragma once

#include "spectrum/spectrum_record.h"

#include <string>

namespace kestrim {

struct State;

struct HeaderEdit {
  std::string title;
  std::string description;  // when given, the title is kept to 23 characters
  std::string user;
  std::string sample_number;
  std::string sampling_uncertainty;  // per cent
  std::string live_time;             // seconds
  std::string sample_size;
  std::string units;                 // at most 4 characters
  std::string sample_date, sample_time;
  std::string collection_date, collection_time;
  std::string location, sample_id, sample_type;
  int geometry = 0;
};

// The texts the dialog starts with, from the spectrum in memory.
HeaderEdit header_edit_from(const State& state);

// Checks every field; on the first failure shows its message and returns 0
// with nothing changed (the dialog stays open). Otherwise stores the values,
// marks the spectrum changed (the sampling uncertainty also becomes the
// parameters' default) and returns 1. A change of geometry re-reads the
// calibration of the header's detector file for the new geometry.
int apply_header_edit(State& state, const HeaderEdit& edit);


}  // namespace kestrim
