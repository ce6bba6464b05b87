# The Preferences sheet with its SMTP page and the dial-up connections dialog, offscreen.
korrin_add_test(preferences_test GUI
    SOURCES gui/preferences_test.cpp
    LIBS korrin_ui)
