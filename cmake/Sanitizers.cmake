# TONVALE_SANITIZE: empty, "address,undefined" or "thread". Applied to everything we build.
set(TONVALE_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(TONVALE_SANITIZE)
  # -O1 as the sanitizers' own documentation advises, and line tables only: stack traces name every
  # frame and line, and the build takes about half the time of -O2 with full debug information.
  add_compile_options(-fsanitize=${TONVALE_SANITIZE} -fno-omit-frame-pointer -O1 -g1)
  add_link_options(-fsanitize=${TONVALE_SANITIZE})
  if(TONVALE_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# TONVALE_LINKER: another linker for the test trees (mold or lld, where installed); the packages
# keep the toolchain's own.
set(TONVALE_LINKER "" CACHE STRING "Linker to use through -fuse-ld (mold, lld), empty for the default")
if(TONVALE_LINKER)
  add_link_options(-fuse-ld=${TONVALE_LINKER})
endif()
