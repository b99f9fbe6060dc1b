# The asset publisher, the local asset server and the bundled pages are checked by a Python script of
# their own; it starts its servers on free ports, never on 8090.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME assettools COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/assettools_test.py)
set_tests_properties(assettools PROPERTIES TIMEOUT 300)
