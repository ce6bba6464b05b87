# The security choice on the SMTP page, offscreen.
korrin_add_test(smtp_security_page_test GUI
    SOURCES gui/smtp_security_test.cpp
    LIBS korrin_ui)
