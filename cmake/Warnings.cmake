# One place for the warning flags: every target of ours links tv_warnings.
add_library(tv_warnings INTERFACE)
target_compile_options(tv_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Werror>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic -Werror>)
