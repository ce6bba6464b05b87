# Application core: settings routines, counters, defaults, reports, command line.
add_executable(fileid_worker helpers/fileid_worker.cpp)
target_link_libraries(fileid_worker PRIVATE korrin_core)

korrin_add_test(app_core_test
    SOURCES unit/utils_test.cpp unit/report_test.cpp
    LIBS korrin_core)
add_dependencies(app_core_test fileid_worker)
