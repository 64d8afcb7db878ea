# cmake -DSOURCE= -P check_pages.cmake
# The help is read by field technicians: no page names the tools the program
# is built with or its sources.
cmake_minimum_required(VERSION 3.25)
set(words chmcmd chmls cmake mingw wine gtest googletest libfuzzer sanitizer
          "\\.cpp" "\\.h\\b" github compiler)
file(GLOB pages ${SOURCE}/*.htm ${SOURCE}/*.hhc ${SOURCE}/*.hhk)
set(failures "")
foreach(page ${pages})
  file(READ ${page} text)
  string(TOLOWER "${text}" text)
  foreach(word ${words})
    string(TOLOWER "${word}" word)
    if(text MATCHES "${word}")
      get_filename_component(name ${page} NAME)
      string(APPEND failures "${name} names \"${CMAKE_MATCH_0}\"\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
