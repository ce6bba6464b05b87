# Mail fuzz targets: server replies as the SMTP client reads them, and recipient text with its
# address files. The builder's source is compiled into each target for coverage.
set(_mailutil ${CMAKE_SOURCE_DIR}/src/korrin/mail/MailWriter.cpp
    ${CMAKE_SOURCE_DIR}/src/korrin/mail/MimeEncode.cpp
    ${CMAKE_SOURCE_DIR}/src/korrin/mail/SmtpReply.cpp
    ${CMAKE_SOURCE_DIR}/src/korrin/mail/SmtpDialogue.cpp)
korrin_add_fuzzer(smtp_reply_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/smtp_reply_fuzz.cpp ${_mailutil} LIBS korrin_core)
korrin_add_fuzzer(recipients_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/recipients_fuzz.cpp ${_mailutil} LIBS korrin_core)
