# The wave audio device (virtual back end, real time) and the recorder's MciDevice.
korrin_add_test(mci_test SOURCES unit/mci_test.cpp unit/mci_layer_test.cpp LIBS korrin_core
    LABELS threads)
# Wave files in memory and PCM conversion.
korrin_add_test(wave_data_test SOURCES unit/wave_data_test.cpp LIBS platform_core)
# The real devices; skipped where the machine has none.
korrin_add_test(sound_device_test SOURCES unit/sound_device_test.cpp LIBS platform_core)
