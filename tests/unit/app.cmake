# Application core tests.
