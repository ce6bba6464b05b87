// SplitCommandLine takes text a user typed (tool paths, the opener setting). Besides not
// crashing, quoting what it split and splitting again must give the same arguments, and
// every single argument must survive QuoteArgument on its own.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/process/CommandLine.h"

using korrin::platform::QuoteArgument;
using korrin::platform::SplitCommandLine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto args = SplitCommandLine(text);

    std::string joined;
    for (const auto& a : args) {
        const auto alone = SplitCommandLine(QuoteArgument(a));
        if (alone.size() != 1 || alone[0] != a)
            std::abort();
        joined += QuoteArgument(a);
        joined += ' ';
    }
    if (SplitCommandLine(joined) != args)
        std::abort();

    // The raw input as one argument, whatever it holds.
    const auto whole = SplitCommandLine(QuoteArgument(text));
    if (whole.size() != 1 || whole[0] != text)
        std::abort();
    return 0;
}
