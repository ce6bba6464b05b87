# The dialog layer alone, each test with an application of its own.
korrin_add_test(dialog_lifetime_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialog_lifetime_test.cpp
    LIBS platform_ui)

# Boxes from worker threads (also run under ThreadSanitizer).
korrin_add_test(ui_thread_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ui_thread_test.cpp
    LIBS platform_ui Threads::Threads
    LABELS threads)
