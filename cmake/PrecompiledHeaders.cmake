# Precompiled headers for the heavy third-party headers (wxWidgets, GoogleTest), built once per
# build tree and reused by every target of the same kind (REUSE_FROM), so that each of their
# translation units stops parsing them anew. Asio and Beast are left out: precompiled, they saved
# nothing measurable in the survey server (its time goes into code generation, not parsing).
# TONVALE_PCH=OFF builds without them, as a check that every file includes what it uses.
option(TONVALE_PCH "Precompile the wxWidgets and GoogleTest headers" ON)

set(TV_PCH_WX <wx/app.h> <wx/button.h> <wx/choice.h> <wx/dialog.h> <wx/msgdlg.h> <wx/stattext.h>
              <wx/string.h> <wx/textctrl.h> <wx/xrc/xmlres.h>)
set(TV_PCH_TEST <gtest/gtest.h>)

# tv_use_pch(TARGET KIND): KIND is wx (product code on wxWidgets), test (a test program without a
# window) or wx_test (a GUI test program).
function(tv_use_pch target kind)
  if(NOT TONVALE_PCH)
    return()
  endif()
  set(donor tv_pch_${kind})
  if(NOT TARGET ${donor})
    add_library(${donor} STATIC ${CMAKE_SOURCE_DIR}/cmake/pch/empty.cpp)
    target_link_libraries(${donor} PRIVATE tv_warnings)
    if(kind MATCHES "wx")
      target_link_libraries(${donor} PRIVATE tv_wx)
      set(headers ${TV_PCH_WX})
    endif()
    if(kind MATCHES "test")
      target_link_libraries(${donor} PRIVATE GTest::gtest)
      list(APPEND headers ${TV_PCH_TEST})
    endif()
    target_precompile_headers(${donor} PRIVATE ${headers})
  endif()
  target_precompile_headers(${target} REUSE_FROM ${donor})
endfunction()
