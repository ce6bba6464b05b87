# app fuzz targets
