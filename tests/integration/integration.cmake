# Whole programs started as a user or a script would.
