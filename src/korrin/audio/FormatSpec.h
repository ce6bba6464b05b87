// A wave format named in text, as korrinctl takes it: "TAG:RATE:BITS:CHANNELS" in decimal
// (49:8000:0:1 is GSM 6.10). Any listed format of the codecs matches; PCM, A-law and u-law
// take any rate a stream accepts.
#pragma once

#include <string_view>

#include "platform/acm/Acm.h"

namespace korrin {

// False when the text is not four decimal numbers or names no format a codec provides.
bool ParseFormatSpec(std::string_view text, platform::WAVEFORMATEX& out);

}  // namespace korrin
