# The playable copy and the export: every codec into Ogg Opus and wave, read back by
# libopusfile; damaged audio; the unnamed temporary file.
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPUSFILE REQUIRED IMPORTED_TARGET opusfile)
korrin_add_test(playable_copy_test SOURCES unit/playable_copy_test.cpp
    LIBS korrin_core PkgConfig::OPUSFILE)
