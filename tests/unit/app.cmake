# Application core: settings routines, counters, defaults, reports, command line.
korrin_add_test(app_core_test
    SOURCES unit/utils_test.cpp unit/report_test.cpp unit/requests_test.cpp
    LIBS korrin_core)
