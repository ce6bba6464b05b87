# Registry layer and korrinctl tests (added by the registry work).

# The child process of the cross-process tests.
add_executable(registry_worker ${CMAKE_CURRENT_LIST_DIR}/../helpers/registry_worker.cpp)
target_link_libraries(registry_worker PRIVATE platform_core)

korrin_add_test(registry_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegistryTest.cpp ${CMAKE_CURRENT_LIST_DIR}/MimeTypesTest.cpp
    LIBS platform_core Threads::Threads
    LABELS threads)

korrin_add_test(registry_process_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegistryProcessTest.cpp
    LIBS platform_core)
add_dependencies(registry_process_tests registry_worker korrinctl)

korrin_add_test(korrinctl_reg_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/KorrinctlRegTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RegTextTest.cpp
    LIBS platform_core korrin_regtext SQLite::SQLite3)
add_dependencies(korrinctl_reg_tests korrinctl)

korrin_add_test(registry_thread_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegistryThreadsTest.cpp
    LIBS platform_core SQLite::SQLite3 Threads::Threads
    LABELS threads)
