# The help viewer's sources (part of tv_app_wx).
#
# Finding and reading the compiled help file needs no window: tv_help_reader, which window-less
# tests can use. The reader library (chmlib) is loaded at run time, so only its header is needed here.
find_path(CHMLIB_INCLUDE_DIR chm_lib.h REQUIRED)
add_library(tv_help_reader STATIC ChmLibrary.cpp ChmFile.cpp HelpLookup.cpp)
target_include_directories(tv_help_reader PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
target_include_directories(tv_help_reader SYSTEM PUBLIC ${CHMLIB_INCLUDE_DIR})
target_link_libraries(tv_help_reader PUBLIC ${CMAKE_DL_LIBS} PRIVATE tv_warnings)

target_sources(tv_app_wx PRIVATE HtmlHelp.cpp CHelpViewer.cpp ChmFileSystem.cpp)
target_link_libraries(tv_app_wx PUBLIC tv_help_reader)
