# Mail: the message builder and the SMTP client over scripted streams.
korrin_add_test(mail_test
    SOURCES unit/mail_mime_test.cpp unit/mail_smtp_test.cpp
    LIBS korrin_core)
