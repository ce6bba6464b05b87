# The EHLO reply as the protected SMTP dialogue reads it: extension keywords and AUTH
# mechanisms. The client's source is compiled in for coverage.
korrin_add_fuzzer(ehlo_reply_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ehlo_reply_fuzz.cpp
            ${CMAKE_SOURCE_DIR}/src/korrin/mail/SmtpReply.cpp
            ${CMAKE_SOURCE_DIR}/src/korrin/mail/SmtpDialogue.cpp
    LIBS korrin_core)
