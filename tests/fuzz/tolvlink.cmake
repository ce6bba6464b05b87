# The MAPI support library's typed-recipient splitting and list joining.
korrin_add_fuzzer(tolvlink_recipients_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tolvlink_recipients_fuzz.cpp LIBS tolvlink_text)
