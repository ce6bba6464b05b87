# Address book fuzz targets: vCard files as other programs write them, and recipients as
# people type them. The parsers' sources are compiled into each target for coverage.
korrin_add_fuzzer(vcard_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vcard_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mapi/VCard.cpp
    LIBS platform_core)
korrin_add_fuzzer(typed_recipients_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/typed_recipients_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mapi/TypedRecipients.cpp
    LIBS platform_core)
