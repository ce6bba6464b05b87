# korrinctl record and play on the virtual sound device.
korrin_add_test(audio_ctl_test SOURCES integration/audio_ctl_test.cpp LIBS korrin_core)
add_dependencies(audio_ctl_test korrinctl)
