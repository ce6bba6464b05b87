// The names a fix takes for leftovers of a killed one: arbitrary names never crash, and a
// name taken always begins with the message's name and ends in ".new".
#include <cstdint>
#include <cstdlib>
#include <string>

#include "korrin/audio/Fix.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = text.find('\0');
    const std::string name = cut == std::string::npos ? "KX1O.kx1" : text.substr(0, cut);
    const std::string candidate = cut == std::string::npos ? text : text.substr(cut + 1);
    if (korrin::fixdetail::IsLeftoverOf(name, candidate) &&
        (candidate.compare(0, name.size(), name) != 0 ||
         candidate.substr(candidate.size() - 4) != ".new"))
        std::abort();
    return 0;
}
