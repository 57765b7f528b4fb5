# The help viewer's sources (part of tv_app_wx).
target_sources(tv_app_wx PRIVATE HtmlHelp.cpp)
