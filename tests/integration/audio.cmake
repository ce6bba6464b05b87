# Our wave files against sox, ffmpeg and libgsm itself.
korrin_add_test(audio_interop_test SOURCES integration/audio_interop_test.cpp LIBS korrin_core)
target_include_directories(audio_interop_test PRIVATE ${GSM_INCLUDE_DIR})
