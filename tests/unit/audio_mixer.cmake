# The mute control, the volume slider and the mixer calls, over the virtual mixer.
korrin_add_test(mixer_test SOURCES unit/mixer_test.cpp LIBS korrin_core LABELS threads)
