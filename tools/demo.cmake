# The bundled demo content site, staged in ${CMAKE_BINARY_DIR}/demo-site: the configuration
# document, the start page, the demo lesson movie compiled from Haxe, one lesson module with a
# picture and a spoken word made here, and the encoder library. tools/demo-site/serve.py serves it.
set(VEXA_DEMO_SITE_DIR ${CMAKE_BINARY_DIR}/demo-site CACHE INTERNAL "Staged demo content site")
set(demo_src ${CMAKE_CURRENT_SOURCE_DIR}/demo-site)
set(demo_movie_src ${CMAKE_CURRENT_SOURCE_DIR}/demo-movie)

find_program(VEXA_HAXE haxe)
find_program(VEXA_ESPEAK espeak-ng)
find_program(VEXA_LAME lame)
# /usr/bin first: a wrapper of the same name elsewhere on PATH may not be the real ImageMagick.
find_program(VEXA_CONVERT NAMES convert-im6.q16 convert PATHS /usr/bin NO_DEFAULT_PATH)
find_program(VEXA_CONVERT NAMES convert)
set(demo_font /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)

set(demo_missing "")
foreach(tool VEXA_HAXE VEXA_ESPEAK VEXA_LAME VEXA_CONVERT)
  if(NOT ${tool})
    list(APPEND demo_missing ${tool})
  endif()
endforeach()
if(NOT EXISTS ${demo_font})
  list(APPEND demo_missing "${demo_font}")
endif()

if(NOT VEXA_GUI)
  # Only the program plays the demo; the headless builds leave it out.
  set(VEXA_DEMO_SITE_BUILT OFF CACHE INTERNAL "")
elseif(demo_missing)
  message(STATUS "demo site: not built, missing ${demo_missing} (see tools/packages.txt)")
  set(VEXA_DEMO_SITE_BUILT OFF CACHE INTERNAL "")
else()
  set(VEXA_DEMO_SITE_BUILT ON CACHE INTERNAL "")
  set(site ${VEXA_DEMO_SITE_DIR})
  set(work ${CMAKE_BINARY_DIR}/demo-work)
  file(MAKE_DIRECTORY ${site}/lesson1 ${work})

  # The movie: 970 x 607, the movie area of the windowed layout.
  file(GLOB demo_movie_sources CONFIGURE_DEPENDS ${demo_movie_src}/*.hx)
  add_custom_command(
    OUTPUT ${site}/vexa.swf
    COMMAND ${VEXA_HAXE} -cp ${demo_movie_src} -main Main -swf ${work}/vexa.swf -swf-version 10
            -swf-header 970:607:30:FFF6E0 -D no-traces
    COMMAND ${CMAKE_COMMAND} -E copy ${work}/vexa.swf ${site}/vexa.swf
    DEPENDS ${demo_movie_sources}
    COMMENT "Compiling the demo lesson movie vexa.swf"
    VERBATIM)

  # The spoken word: espeak-ng speech, encoded to MP3 for the movie's Sound loader.
  add_custom_command(
    OUTPUT ${site}/lesson1/apple.mp3
    COMMAND ${VEXA_ESPEAK} -v en-us -s 130 -w ${work}/apple.wav -f ${demo_src}/lesson1/apple.txt
    COMMAND ${VEXA_LAME} --quiet -m m -b 64 ${work}/apple.wav ${site}/lesson1/apple.mp3
    DEPENDS ${demo_src}/lesson1/apple.txt
    COMMENT "Speaking the demo lesson's word"
    VERBATIM)

  add_custom_command(
    OUTPUT ${site}/lesson1/apple.jpg
    COMMAND ${VEXA_CONVERT} -size 400x250 "xc:#FFFDF6"
            -fill "#E63946" -stroke "#9D1C28" -strokewidth 3 -draw "circle 150,140 150,60"
            -stroke none -fill "#6B4226" -draw "roundrectangle 145,38 157,70 4,4"
            -fill "#52B788" -draw "ellipse 182,52 28,12 -20,340"
            -fill "#FFFFFF" -draw "ellipse 120,105 14,22 0,360"
            -fill "#0B3954" -font ${demo_font} -pointsize 44 -annotate +250+155 apple
            -strip -quality 90 ${site}/lesson1/apple.jpg
    COMMENT "Drawing the demo lesson's picture"
    VERBATIM)

  set(demo_outputs ${site}/vexa.swf ${site}/lesson1/apple.mp3 ${site}/lesson1/apple.jpg)
  foreach(file vexa.xml INDEX.HTML)
    add_custom_command(
      OUTPUT ${site}/${file}
      COMMAND ${CMAKE_COMMAND} -E copy ${demo_src}/${file} ${site}/${file}
      DEPENDS ${demo_src}/${file}
      VERBATIM)
    list(APPEND demo_outputs ${site}/${file})
  endforeach()

  # The site offers the encoder library, as the maker's site does, for a host that lacks it: the
  # one of this very build, as the program keeps a fetched library only with its own digest.
  if(TARGET lame_enc)
    add_custom_command(
      OUTPUT ${site}/liblame_enc.so
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lame_enc> ${site}/liblame_enc.so
      DEPENDS lame_enc $<TARGET_FILE:lame_enc>
      COMMENT "Putting the encoder library on the demo site"
      VERBATIM)
    list(APPEND demo_outputs ${site}/liblame_enc.so)
  endif()

  add_custom_target(demo_site ALL DEPENDS ${demo_outputs})
endif()
