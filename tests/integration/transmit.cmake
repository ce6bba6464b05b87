# The voice-message sender and the transmission session against a real SMTP server
# (aiosmtpd on 127.0.0.1); the session tests also run under ThreadSanitizer.
korrin_add_test(smtp_sender_test
    SOURCES integration/smtp_sender_test.cpp
    LIBS korrin_core)
add_dependencies(smtp_sender_test korrinctl)

korrin_add_test(transmit_session_test
    SOURCES integration/transmit_session_test.cpp
    LIBS korrin_core
    LABELS threads)
add_dependencies(transmit_session_test korrinctl)

# korrinctl outbox send killed at random moments (KORRIN_KILL_RUNS runs, default 200).
korrin_add_test(outbox_kill_test
    SOURCES integration/outbox_kill_test.cpp
    LIBS korrin_core
    LABELS kill)
add_dependencies(outbox_kill_test korrinctl)

# The playable Opus copy through korrinctl send to aiosmtpd, and korrinctl export.
korrin_add_test(playable_copy_mail_test
    SOURCES integration/playable_copy_mail_test.cpp
    LIBS korrin_core)
add_dependencies(playable_copy_mail_test korrinctl)

# The whole program driven through its main window by window scripts, killed at random
# moments (KORRIN_KILL_RUNS runs, default 200).
korrin_add_test(window_kill_test
    SOURCES integration/window_kill_test.cpp
    LIBS korrin_core
    LABELS kill)
add_dependencies(window_kill_test korrin)
