# The result file: CFileBackedBlock and the CGeneralFile functions (part of tv_results).
target_sources(tv_results PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CFileBackedBlock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CGeneralFile.cpp)
