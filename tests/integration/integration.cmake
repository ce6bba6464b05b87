# Whole programs started as a user or a script would.
korrin_add_test(startup_test
    SOURCES integration/startup_test.cpp
    LIBS platform_core)
add_dependencies(startup_test korrin)
