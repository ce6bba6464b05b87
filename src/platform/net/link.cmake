# TLS for the mail streams.
find_package(OpenSSL 3 REQUIRED)
target_link_libraries(platform_core PUBLIC OpenSSL::SSL OpenSSL::Crypto)
