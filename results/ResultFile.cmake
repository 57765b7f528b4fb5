# The result file: CFileBackedBlock, the CGeneralFile functions and result.dat (part of tv_results).
target_sources(tv_results PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CFileBackedBlock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CGeneralFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResultFile.cpp)
