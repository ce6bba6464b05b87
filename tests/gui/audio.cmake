# The quality dialog, the Advanced Formats dialog and the format chooser.
korrin_add_test(audio_dialogs_test GUI SOURCES gui/audio_dialogs_test.cpp LIBS korrin_ui)
