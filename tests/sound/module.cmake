# The sound tests make their OGG Vorbis files with libvorbisenc and check them with libvorbisfile.
pkg_check_modules(VORBISENC REQUIRED IMPORTED_TARGET vorbisenc vorbisfile vorbis ogg)
foreach(test sound_test sound_nodevice_test bgmstream_test bgmstream_wave_test)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE PkgConfig::VORBISENC)
  endif()
endforeach()

