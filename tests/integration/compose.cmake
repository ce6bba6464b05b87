# korrinctl compose end to end: speech to the Outbox, sox, unzip and a real SMTP server.
korrin_add_test(compose_test SOURCES integration/compose_test.cpp LIBS korrin_core)
add_dependencies(compose_test korrinctl)
# The message window killed at random moments while it records and sends (KORRIN_KILL_RUNS
# runs, default 50; several windows at a time, about a minute).
korrin_add_test(compose_kill_test SOURCES integration/compose_kill_test.cpp LIBS korrin_core)
add_dependencies(compose_kill_test player_window)
