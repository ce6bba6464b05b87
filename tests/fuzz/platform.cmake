# platform fuzz targets
