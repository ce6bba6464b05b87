# Recipient lists of a message envelope as the voice-message sender splits them.
korrin_add_fuzzer(envelope_list_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/envelope_list_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/korrin/mail/SmtpSender.cpp
            ${CMAKE_SOURCE_DIR}/src/korrin/mail/MailWriter.cpp
            ${CMAKE_SOURCE_DIR}/src/korrin/mail/SmtpDialogue.cpp
    LIBS korrin_core)
