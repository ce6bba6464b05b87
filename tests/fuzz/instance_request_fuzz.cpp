// The request line of a later start: whatever the bytes, an open request names an absolute
// path that is exactly the rest of the line, and nothing over the limit is taken.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "korrin/app/Requests.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const korrin::InstanceRequest r = korrin::ParseInstanceRequest(line);
    if (r.kind != korrin::InstanceRequest::kInvalid && size > korrin::kInstanceLineLimit)
        std::abort();
    if (r.kind == korrin::InstanceRequest::kRaise && line != "RAISE")
        std::abort();
    if (r.kind == korrin::InstanceRequest::kOpen) {
        if (r.path.empty() || r.path[0] != '/' || "OPEN " + r.path != line)
            std::abort();
        if (r.path.find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos)
            std::abort();
    }
    if (r.kind != korrin::InstanceRequest::kOpen && !r.path.empty())
        std::abort();
    return 0;
}
