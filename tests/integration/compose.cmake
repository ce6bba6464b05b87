# korrinctl compose end to end: speech to the Outbox, sox, unzip and a real SMTP server.
korrin_add_test(compose_test SOURCES integration/compose_test.cpp LIBS korrin_core)
add_dependencies(compose_test korrinctl)
