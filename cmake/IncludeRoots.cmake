# Each target sees only its own folder and the folders of the libraries it links, so that an include
# of a folder above it (or beside it, unlinked) fails to compile instead of creeping in unseen.
# Includes keep their form from the top of the tree ("audio/CRingCursor.h"): a folder's include
# root is a directory of the build tree holding one link, <root>/<folder> -> the source folder. A
# library publishes its folder's root to what links it; a program keeps its own to itself. Tests
# see tests/ as their folder (tests/support is theirs); the benchmarks borrow tests/support's owner.

function(tv_folder_root folder out)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# Gives every target defined under `dir` the root of its top-level folder.
function(tv_apply_include_roots dir)
  file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${dir})
  string(REGEX REPLACE "/.*" "" folder "${relative}")
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(folder STREQUAL "" OR target MATCHES "^tv_pch_")
      continue()
    endif()
    tv_folder_root(${folder} root)
    if(type STREQUAL "STATIC_LIBRARY")
      target_include_directories(${target} PUBLIC ${root})
    elseif(type STREQUAL "EXECUTABLE")
      target_include_directories(${target} PRIVATE ${root})
      if(folder STREQUAL "bench")
        tv_folder_root(tests tests_root)
        target_include_directories(${target} PRIVATE ${tests_root})
      endif()
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    tv_apply_include_roots(${subdirectory})
  endforeach()
endfunction()
