# Builds GoogleTest from the source tree SORBANTILEX_GOOGLETEST_SOURCE, for
# builds that cannot use an installed GoogleTest (cross-compiling for
# Windows). Defines GTest::gtest and GTest::gtest_main.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${SORBANTILEX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -Wno-error)
  endif()
endforeach()
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
