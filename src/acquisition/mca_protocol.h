// The serial MCA's wire protocol, shared by the driver and the simulator
// that answers like the instrument: command bytes and reply sizes.
#pragma once

#include <cstdint>

namespace kestrim::mca_protocol {

inline constexpr std::uint8_t kClearMemory = 0x92;
inline constexpr std::uint8_t kStartStop = 0xA6;
inline constexpr std::uint8_t kReadTimes = 0xA5;
inline constexpr std::uint8_t kReadSpectrum = 0x94;
inline constexpr int kTimesReply = 33;        // bytes of the live/true times reply
inline constexpr int kHeaderReply = 55;       // bytes of the spectrum reply's header
inline constexpr int kBytesPerChannelAt = 40; // header byte giving 1, 2 or 4 bytes per channel
inline constexpr int kLastByteOfChannel0 = 70;

}  // namespace kestrim::mca_protocol
