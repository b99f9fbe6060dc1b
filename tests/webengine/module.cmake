# The engine's tests open the library through the platform's loader, as the client does, by its full path
# (the tests are not built beside it).
pkg_check_modules(TEST_CAIRO REQUIRED IMPORTED_TARGET cairo)
file(GLOB ENGINE_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
foreach(src ${ENGINE_TESTS})
  get_filename_component(name ${src} NAME_WE)
  add_dependencies(${name} EAWebKitd)
  target_link_libraries(${name} PRIVATE PkgConfig::TEST_CAIRO)
  target_compile_definitions(${name} PRIVATE TAVRIX_ENGINE_LIBRARY="$<TARGET_FILE:EAWebKitd>")
endforeach()
