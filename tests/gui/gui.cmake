# Dialogs driven offscreen by their control IDs.
korrin_add_test(dialogs_test GUI
    SOURCES gui/dialog_test.cpp gui/report_dialog_test.cpp gui/about_test.cpp
    LIBS korrin_ui)
