# messaging layer fuzz targets: entry IDs handed back by callers, Maildir file names found on
# disk, and the header block of mails others put in the folders.
korrin_add_fuzzer(mapi_entryid_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mapi_entryid_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mapi/EntryId.cpp
    LIBS platform_core)
korrin_add_fuzzer(mapi_maildir_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mapi_maildir_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mapi/FolderList.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mapi/Maildir.cpp
            ${CMAKE_SOURCE_DIR}/src/platform/mapi/EntryId.cpp
    LIBS platform_core)
