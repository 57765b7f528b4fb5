# The result file: CFileBackedBlock and the CGeneralFile functions (part of tv_results).
