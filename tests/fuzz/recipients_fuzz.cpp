// Recipient text as users and address files give it. The input is a display name, an address
// and an address file, split at the first two zero bytes. Whatever they hold, no recipient or
// header may carry a line break that is not a fold, and the bare list splits back into pieces
// with no comma or blank.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "korrin/mail/mailutil.h"

using namespace korrin;

namespace {

bool BadBreak(const std::string& v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\n' && (i == 0 || v[i - 1] != '\r'))
            return true;
        if (v[i] == '\r' &&
            (i + 2 >= v.size() || v[i + 1] != '\n' || (v[i + 2] != '\t' && v[i + 2] != ' ')))
            return true;
    }
    return false;
}

// Address files named without a folder resolve here, so fuzzed lines reach only our file.
char g_folder[] = "/tmp/recipients_fuzz_XXXXXX";
const bool kInFolder = [] {
    if (!mkdtemp(g_folder) || chdir(g_folder) != 0)
        return false;
    std::atexit([] {
        unlink((std::string(g_folder) + "/list").c_str());
        rmdir(g_folder);
    });
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!kInFolder)
        std::abort();
    std::string in(reinterpret_cast<const char*>(data), size);
    auto z1 = in.find('\0');
    auto z2 = z1 == std::string::npos ? std::string::npos : in.find('\0', z1 + 1);
    std::string name = in.substr(0, z1);
    std::string address = z1 == std::string::npos ? "" : in.substr(z1 + 1, z2 - z1 - 1);
    std::string file = z2 == std::string::npos ? "" : in.substr(z2 + 1);
    if (!address.empty() && address[0] == '@')
        address = "@list";  // only ever the file written below
    std::ofstream("list", std::ios::binary | std::ios::trunc) << file;

    setenv("KORRIN_MESSAGE_ANSWERS", "OK", 1);
    CMailUtil m;
    int rc = m.AddTo(name, address);
    if (rc != 0 && rc != CSMTPError::kLineBreak && rc != CSMTPError::kAddressFile)
        std::abort();
    m.AddCc("", "@list");
    m.SetSubject(name);
    for (const auto& h : m.headers())
        if (BadBreak(h.second))
            std::abort();
    for (char c : m.recipients())
        if (c == '\r' || c == '\n')
            std::abort();
    for (const auto& piece : mail::SplitRecipientList(m.recipients() + "," + name))
        if (piece.empty() || piece.find_first_of(", ") != std::string::npos)
            std::abort();
    std::string line = mail::AddressFileLine(file);
    if (line.size() > 126 || line.find_first_of("\r\n\t,;") != std::string::npos)
        std::abort();
    return 0;
}
