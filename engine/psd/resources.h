// The image resources of a Photoshop file: the blocks between the colour mode
// data and the layer section that say what the pixels mean. Only the few that
// change how the picture is rebuilt are kept. Pure code over bytes, every
// length checked against the section before it is used.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/psd/header.h"

namespace kestrel {

inline constexpr std::uint16_t kPsdResourceResolution = 1005;      // pixels per inch, across and down
inline constexpr std::uint16_t kPsdResourceAlphaNames = 1006;        // Pascal strings
inline constexpr std::uint16_t kPsdResourceDisplayInfoOld = 1007;    // 14 bytes per extra channel
inline constexpr std::uint16_t kPsdResourceGlobalAngle = 1037;      // 4 bytes: degrees
inline constexpr std::uint16_t kPsdResourceIccProfile = 1039;
inline constexpr std::uint16_t kPsdResourceUnicodeAlphaNames = 1045; // Unicode strings
inline constexpr std::uint16_t kPsdResourceGlobalAltitude = 1049;   // 4 bytes: degrees
inline constexpr std::uint16_t kPsdResourceAlphaIdentifiers = 1053;  // 4 bytes per extra channel
inline constexpr std::uint16_t kPsdResourceVersionInfo = 1057;       // holds hasRealMergedData
inline constexpr std::uint16_t kPsdResourceDisplayInfo = 1077;       // version + 13 bytes per extra channel

// How Photoshop shows one extra (non-colour) channel.
struct PsdChannelDisplay {
  // 0: shows the selected area (alpha), 1: shows the masked area (inverted
  // alpha), 2: spot colour, -1: not given.
  int kind = -1;
  int opacity = 100;  // percent
};

struct PsdResources {
  // From the version info block; absent when the file has none.
  std::optional<bool> hasRealMergedData;
  // Pixels per inch across and down; absent when the file does not say.
  std::optional<std::array<double, 2>> resolution;
  // The light layer effects that follow the document's take their angle
  // and altitude from, in degrees; absent when the file does not say.
  std::optional<std::int32_t> globalAngle;
  std::optional<std::int32_t> globalAltitude;
  // The embedded ICC profile, empty when none.
  std::vector<std::uint8_t> iccProfile;
  // One identifier per extra channel, in channel order; empty when absent.
  std::vector<std::uint32_t> alphaIdentifiers;
  // One name per extra channel, UTF-8 (Unicode names win over Pascal ones).
  std::vector<std::string> alphaNames;
  // One entry per extra channel (1077 wins over 1007).
  std::vector<PsdChannelDisplay> channelDisplay;
  bool readable = true;  // false when the section is damaged; what was read before stays
};

// Parses the image resource section (its bytes without the 4-byte length).
// Damage never throws: blocks read before it are kept and readable turns false.
PsdResources ReadPsdResources(std::span<const std::uint8_t> section);

}  // namespace kestrel
