# Dialogs driven offscreen by their control IDs.
