# The whole-process tests start the real program, and its UDP console uses the fixed port. The client's
# run ends when its window is asked to close, as a window manager does, by the close helper. Its content
# comes from the local asset server on its fixed port, started by the tests from the tree's tools.
foreach(test tavrix_test client_run_test contentupdate_test)
  add_dependencies(${test} tavrix closewindow)
  target_compile_definitions(${test} PRIVATE TAVRIX_BINARY="$<TARGET_FILE:tavrix>"
                                             CLOSEWINDOW_BINARY="$<TARGET_FILE:closewindow>"
                                             TAVRIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                             MESA_LEAKS="${CMAKE_CURRENT_LIST_DIR}/mesa-leaks.supp"
                                             MESA_RACES="${CMAKE_CURRENT_LIST_DIR}/mesa-races.supp")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${test}_locks.cmake
       "foreach(name IN LISTS ${test}_TESTS)\n"
       "  set_tests_properties(\"\${name}\" PROPERTIES RESOURCE_LOCK \"udp5555;port8090\")\n"
       "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/${test}_locks.cmake)
endforeach()
target_link_libraries(client_run_test PRIVATE x11window)
