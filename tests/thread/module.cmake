# The loader's tests open a small shared library of their own by its full path.
add_library(tavrix_dynlib_testlib SHARED ${CMAKE_CURRENT_LIST_DIR}/testlib.cpp)
add_dependencies(dynlib_test tavrix_dynlib_testlib)
target_compile_definitions(dynlib_test PRIVATE TAVRIX_TEST_LIBRARY="$<TARGET_FILE:tavrix_dynlib_testlib>")
