# Helpers that keep every library laid out the same way:
#   libs/<lib>/include/<lib>/*.h, libs/<lib>/src/*.cpp, libs/<lib>/tests/*_test.cpp

# vl_add_library(<target> DIRS <lib dir>... DEPS <targets>...)
function(vl_add_library target)
  cmake_parse_arguments(ARG "" "" "DIRS;DEPS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB_RECURSE dir_sources CONFIGURE_DEPENDS ${dir}/src/*.cpp)
    list(APPEND sources ${dir_sources})
  endforeach()
  add_library(${target} STATIC ${sources})
  foreach(dir IN LISTS ARG_DIRS)
    target_include_directories(${target} PUBLIC ${dir}/include)
  endforeach()
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE vl_warnings)
endfunction()

# Test executables of one source directory. Files named *_test.cpp are unit
# tests (label unit); *_systest.cpp need root, namespaces or processes (label
# system); *_slowtest.cpp are system tests that run for many seconds (label
# slow, which the sanitizer run leaves out). Every test case becomes a
# CTest test of its own so that ctest -j spreads them over the cores.
function(vl_add_tests name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  foreach(kind test systest slowtest)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*_${kind}.cpp)
    if(NOT sources)
      continue()
    endif()
    set(exe ${name}_${kind}s)
    add_executable(${exe} ${sources})
    target_link_libraries(${exe} PRIVATE ${ARG_DEPS} vltest GTest::gtest GTest::gmock GTest::gtest_main vl_warnings)
    if(kind STREQUAL "test")
      set(labels unit)
    elseif(kind STREQUAL "systest")
      set(labels system)
    else()
      set(labels slow)
    endif()
    gtest_discover_tests(${exe}
      PROPERTIES LABELS ${labels} TIMEOUT 300
      DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()
