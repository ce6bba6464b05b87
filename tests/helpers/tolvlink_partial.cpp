// A MAPI support library that lacks one entry point (GetMapiProfile): the program must treat
// it exactly as a missing library. Each export that is called would record it in the log.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

class QWidget;

namespace {

void called(const char* name) {
    if (const char* log = std::getenv("KORRIN_MESSAGE_LOG"))
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "{\"kind\":\"called\",\"text\":\"%s\"}\n", name);
            std::fclose(f);
        }
}

}  // namespace

extern "C" {
std::int32_t StartTolvlink(const char*, QWidget*) {
    called("StartTolvlink");
    return 0;
}
std::int32_t GetMapiAddress(QWidget*, int, int, int) {
    called("GetMapiAddress");
    return 0;
}
std::int32_t ProcessMapiAdrList(char**, char**, char**, char**, char**, char**) {
    called("ProcessMapiAdrList");
    return 0;
}
std::int32_t SendMapiTolvMessage(const char*, const char*, const char*) {
    called("SendMapiTolvMessage");
    return 0;
}
std::int32_t GetMapiIdentity(char**, char**) {
    called("GetMapiIdentity");
    return 0;
}
std::int32_t FixMapiAdrList(char*, char*, char*) {
    called("FixMapiAdrList");
    return 0;
}
}
