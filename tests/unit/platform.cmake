# Files, processes and shell tests.
