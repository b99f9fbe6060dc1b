# The process entry's handlers run in-process: entry_test links the entry's own object file with its
# `main` renamed, so that the test framework's main stays the program's.
add_library(tavrix_entry_object OBJECT ${CMAKE_SOURCE_DIR}/client/main.cpp)
target_link_libraries(tavrix_entry_object PRIVATE clientlib)
set(TAVRIX_ENTRY_RENAMED ${CMAKE_CURRENT_BINARY_DIR}/tavrix_entry_renamed.o)
add_custom_command(
  OUTPUT ${TAVRIX_ENTRY_RENAMED}
  COMMAND ${CMAKE_OBJCOPY} --redefine-sym main=tavrix_entry_main $<TARGET_OBJECTS:tavrix_entry_object>
          ${TAVRIX_ENTRY_RENAMED}
  DEPENDS tavrix_entry_object $<TARGET_OBJECTS:tavrix_entry_object>
  VERBATIM)
set_source_files_properties(${TAVRIX_ENTRY_RENAMED} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
target_sources(entry_test PRIVATE ${TAVRIX_ENTRY_RENAMED})

# The client logger's tests talk to the UDP console's fixed port.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/clientlogger_locks.cmake
     "foreach(name IN LISTS clientlogger_test_TESTS)\n"
     "  set_tests_properties(\"\${name}\" PROPERTIES RESOURCE_LOCK udp5555)\n"
     "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/clientlogger_locks.cmake)
