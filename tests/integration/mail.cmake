# Mail over real sockets: a real SMTP server (aiosmtpd) on 127.0.0.1, a closed port, a silent
# listener. Two sends run at once on two threads, so the set also runs under ThreadSanitizer.
korrin_add_test(mail_server_test
    SOURCES integration/mail_server_test.cpp
    LIBS korrin_core
    LABELS threads)
