// The configuration image now lives in the codec library; these names keep
// older simulator code compiling.
#pragma once

#include "codec/config_image.h"

namespace sim {

using codec::AisLinkConfig;
using codec::blank_image;
using codec::BoardConfig;
using codec::decode_image;
using codec::default_station_config;
using codec::encode_image;
using codec::kConfigImageSize;
using codec::SensorChannelConfig;
using codec::StationConfig;

}  // namespace sim
