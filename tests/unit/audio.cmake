# Wave files, codecs and conversion.
korrin_add_test(mmio_test SOURCES unit/mmio_test.cpp LIBS platform_core)
korrin_add_test(acm_test SOURCES unit/acm_test.cpp LIBS platform_core)
target_include_directories(acm_test PRIVATE ${GSM_INCLUDE_DIR})
korrin_add_test(wave_test SOURCES unit/wave_test.cpp LIBS korrin_core)
korrin_add_test(korrinctl_audio_test SOURCES unit/korrinctl_audio_test.cpp LIBS platform_core)
add_dependencies(korrinctl_audio_test korrinctl)

# The fix of old-layout zipped messages, in the core and through korrinctl fix.
korrin_add_test(fix_test SOURCES unit/audio/fix_test.cpp LIBS korrin_core)
add_dependencies(fix_test korrinctl)
