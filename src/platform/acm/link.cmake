# The codecs: GSM 6.10 from libgsm, rate changes from libsoxr (its header only: the library
# is loaded on first use, see platform/lazy).
find_path(GSM_INCLUDE_DIR gsm/gsm.h REQUIRED)
find_library(GSM_LIBRARY gsm REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
target_include_directories(platform_core PRIVATE ${GSM_INCLUDE_DIR})
target_include_directories(platform_core PRIVATE ${SOXR_INCLUDE_DIRS})
target_link_libraries(platform_core PUBLIC ${GSM_LIBRARY})
# Ogg Opus files: libopusenc (and libopus under it).
pkg_check_modules(OPUSENC REQUIRED IMPORTED_TARGET libopusenc)
target_link_libraries(platform_core PRIVATE PkgConfig::OPUSENC)
