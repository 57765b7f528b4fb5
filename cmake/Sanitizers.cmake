# TONVALE_SANITIZE: empty, "address,undefined" or "thread". Applied to everything we build.
set(TONVALE_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(TONVALE_SANITIZE)
  add_compile_options(-fsanitize=${TONVALE_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${TONVALE_SANITIZE})
  if(TONVALE_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
