#include "acquisition/alsa_capture.h"

#if KESTRIM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include <cerrno>

#include "platform/c_format.h"
#include "platform/files.h"

namespace kestrim {

#if KESTRIM_HAVE_ALSA

namespace {

snd_pcm_t* as_pcm(void* p) { return static_cast<snd_pcm_t*>(p); }

}  // namespace

bool alsa_capture_built() { return true; }

std::vector<std::string> alsa_capture_cards() {
  std::vector<std::string> out;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    char* name = nullptr;
    std::string label = c_format("hw:%d", card);
    if (snd_card_get_name(card, &name) == 0 && name != nullptr) {
      label += std::string(" (") + name + ")";
      free(name);
    }
    out.push_back(label);
  }
  return out;
}

AlsaCapture::~AlsaCapture() { close(); }

bool AlsaCapture::open(const std::string& device, int rate, int channels) {
  close();
  if (alsa_capture_cards().empty()) {
    error_ = "No Sound card and/or driver installed";
    return false;
  }
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  if (rc < 0) {
    error_ = c_format("Could not open the sound card %s for recording: %s", device.c_str(), snd_strerror(rc));
    return false;
  }
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  snd_pcm_hw_params_any(pcm, hw);
  const char* step = "its access";
  rc = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (rc >= 0) {
    step = "16-bit samples";
    rc = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE);
  }
  if (rc >= 0) {
    step = channels == 1 ? "one channel" : "two channels";
    rc = snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(channels));
  }
  if (rc >= 0) {
    step = "the rate";
    rc = snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(rate), 0);
  }
  if (rc >= 0) {
    // Room for four recording buffers: the analysis of one buffer never
    // holds the card up.
    snd_pcm_uframes_t frames = static_cast<snd_pcm_uframes_t>(card_buffer_samples(rate, 1)) * 4;
    step = "the buffer size";
    rc = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &frames);
  }
  if (rc >= 0) {
    step = "the set-up";
    rc = snd_pcm_hw_params(pcm, hw);
  }
  if (rc >= 0) {
    step = "the start";
    rc = snd_pcm_prepare(pcm);
  }
  if (rc < 0) {
    error_ = c_format("The sound card %s cannot record at %d Hz, %d channel(s), 16 bits (%s): %s", device.c_str(),
                      rate, channels, step, snd_strerror(rc));
    snd_pcm_close(pcm);
    return false;
  }
  pcm_ = pcm;
  rate_ = rate;
  channels_ = channels;
  overruns_ = 0;
  return true;
}

bool AlsaCapture::set_mixer(const std::string& card, bool microphone, int gain, int steps) {
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) {
    error_ = "No mixer devices found";
    return false;
  }
  if (snd_mixer_attach(mixer, card.c_str()) < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
      snd_mixer_load(mixer) < 0) {
    snd_mixer_close(mixer);
    error_ = "No mixer devices found";
    return false;
  }
  const std::string want = microphone ? "mic" : "line";
  bool found = false;
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e != nullptr; e = snd_mixer_elem_next(e)) {
    const std::string name = to_lower(snd_mixer_selem_get_name(e));
    if (name.find(want) == std::string::npos) continue;
    if (snd_mixer_selem_has_capture_switch(e)) snd_mixer_selem_set_capture_switch_all(e, 1);
    if (snd_mixer_selem_has_capture_volume(e) && gain > 0 && steps > 0) {
      long lo = 0, hi = 0;
      snd_mixer_selem_get_capture_volume_range(e, &lo, &hi);
      const long step = (hi - lo) / steps;
      if (step > 0) snd_mixer_selem_set_capture_volume_all(e, lo + gain * step);
    }
    found = true;
  }
  snd_mixer_close(mixer);
  if (!found) error_ = "The sound card has no " + want + " input";
  return found;
}

void AlsaCapture::close() {
  if (pcm_ != nullptr) snd_pcm_close(as_pcm(pcm_));
  pcm_ = nullptr;
}

long AlsaCapture::read(std::int16_t* out, long max_samples) {
  if (pcm_ == nullptr) return -1;
  const snd_pcm_uframes_t want = static_cast<snd_pcm_uframes_t>(max_samples / channels_);
  snd_pcm_uframes_t got = 0;
  while (got < want) {
    const snd_pcm_sframes_t n = snd_pcm_readi(as_pcm(pcm_), out + got * channels_, want - got);
    if (n == -EPIPE) {
      // The card's buffer filled before it was read: the samples in
      // between are lost. Count it and go on.
      ++overruns_;
      snd_pcm_prepare(as_pcm(pcm_));
      continue;
    }
    if (n == -EAGAIN || n == -EINTR) continue;
    if (n == -ESTRPIPE) {
      while (snd_pcm_resume(as_pcm(pcm_)) == -EAGAIN) {
      }
      snd_pcm_prepare(as_pcm(pcm_));
      continue;
    }
    if (n < 0) {
      error_ = c_format("Recording from the sound card failed: %s", snd_strerror(static_cast<int>(n)));
      return -1;
    }
    got += static_cast<snd_pcm_uframes_t>(n);
  }
  return static_cast<long>(got) * channels_;
}

#else  // no ALSA in this build

bool alsa_capture_built() { return false; }
std::vector<std::string> alsa_capture_cards() { return {}; }
AlsaCapture::~AlsaCapture() = default;
bool AlsaCapture::open(const std::string&, int, int) {
  error_ = "Sound-card capture is not available in this build";
  return false;
}
bool AlsaCapture::set_mixer(const std::string&, bool, int, int) {
  error_ = "Sound-card capture is not available in this build";
  return false;
}
void AlsaCapture::close() {}
long AlsaCapture::read(std::int16_t*, long) { return -1; }

#endif

}  // namespace kestrim
