# Warnings apply to the project's own targets through vl_warnings.
add_library(vl_warnings INTERFACE)
target_compile_options(vl_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wnon-virtual-dtor
  -Wcast-qual -Wimplicit-fallthrough)
if(VL_WERROR)
  target_compile_options(vl_warnings INTERFACE -Werror)
endif()
