# The whole-process tests start the real program, and its UDP console uses the fixed port.
add_dependencies(tavrix_test tavrix)
target_compile_definitions(tavrix_test PRIVATE TAVRIX_BINARY="$<TARGET_FILE:tavrix>")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/tavrix_test_locks.cmake
     "foreach(name IN LISTS tavrix_test_TESTS)\n"
     "  set_tests_properties(\"\${name}\" PROPERTIES RESOURCE_LOCK udp5555)\n"
     "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/tavrix_test_locks.cmake)
