# Registry layer and korrinctl tests (added by the registry work).
