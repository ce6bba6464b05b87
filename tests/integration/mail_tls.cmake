# Mail over TLS with a login: a real aiosmtpd with STARTTLS or TLS from the start and a
# certificate the test makes with openssl; korrinctl smtp check against it.
korrin_add_test(mail_tls_test
    SOURCES integration/mail_tls_test.cpp
    LIBS korrin_core)
add_dependencies(mail_tls_test korrinctl)
