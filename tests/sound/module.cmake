# The sound tests make their OGG Vorbis files with libvorbisenc and check them with libvorbisfile.
pkg_check_modules(VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbisfile vorbis ogg)
foreach(test sound_test sound_nodevice_test bgmstream_test bgmstream_wave_test)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE PkgConfig::VORBISENC)
  endif()
endforeach()


# The wave back-end plays in real time and the stream refills it from a timer: these tests run alone, so
# that a loaded machine does not starve the refill.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/bgmstream_wave_serial.cmake
     "foreach(name IN LISTS bgmstream_wave_test_TESTS)\n"
     "  set_tests_properties(\"\${name}\" PROPERTIES RUN_SERIAL TRUE)\n"
     "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/bgmstream_wave_serial.cmake)
