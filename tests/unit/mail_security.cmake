# The protected SMTP dialogue (EHLO, STARTTLS, logins) over scripted streams.
korrin_add_test(mail_security_test
    SOURCES unit/mail_security_test.cpp
    LIBS korrin_core)
