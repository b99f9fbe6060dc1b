# The performance report goes to the UDP console's fixed port.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/perfreport_locks.cmake
     "foreach(name IN LISTS perfreport_test_TESTS)\n"
     "  set_tests_properties(\"\${name}\" PROPERTIES RESOURCE_LOCK udp5555)\n"
     "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/perfreport_locks.cmake)
