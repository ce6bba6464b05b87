# registry fuzz targets
