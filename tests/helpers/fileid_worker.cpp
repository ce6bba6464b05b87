// Takes N numbers from the File ID counter and prints one per line; used to check that
// several processes never get the same number.
#include <cstdio>
#include <cstdlib>

#include "korrin/app/Utils.h"

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 1;
    korrin::CUtils utils;
    for (int i = 0; i < count; ++i) {
        korrin::DWORD id = 0;
        if (utils.NextFileID(id) != 0)
            return 1;
        std::printf("%u\n", id);
    }
    return 0;
}
