// Describing a format in words: the codecs' texts or built-in ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "korrin/audio/AcmCommon.h"

namespace korrin {

// True when the codecs supplied every text asked for; false when a built-in one was used.
bool GetFormatDescription(const std::uint8_t* format, std::size_t size, std::string* tagText,
                          std::string* formatText);
// The built-in name of a tag, "[%u] (unknown)" for the ones the table lacks.
std::string BuiltInTagName(unsigned tag);

}  // namespace korrin
