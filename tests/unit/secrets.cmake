# korrinctl reg and the SMTP settings: the password masked unless asked for.
korrin_add_test(korrinctl_secrets_test
    SOURCES unit/KorrinctlSecretsTest.cpp unit/secret_test.cpp
    LIBS platform_core)
add_dependencies(korrinctl_secrets_test korrinctl)
