# cmake -DCHMLS= -DCHM= -DSOURCE= -DWORK= -P check_chm.cmake
# Every page of SOURCE is in the .chm once, at its root, with no folder of
# the build machine in the listing; the context ids of the upload window
# (131174) and the About box (131172) each name their page at the root: an
# id whose page is missing opens the viewer on an error page.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
# chmls writes the alias files beside the .chm it reads.
file(COPY_FILE ${CHM} ${WORK}/help.chm)

execute_process(COMMAND ${CHMLS} -n list ${WORK}/help.chm
                RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "chmls could not list ${CHM}")
endif()
string(REPLACE "\n" ";" names "${listing}")

set(failures "")
file(GLOB pages RELATIVE ${SOURCE} ${SOURCE}/*.htm ${SOURCE}/*.css)
foreach(page ${pages})
  set(copies ${names})
  list(FILTER copies INCLUDE REGEX "/${page}$")
  if(NOT copies STREQUAL "/${page}")
    string(APPEND failures "page ${page} is stored as \"${copies}\", not once at the root\n")
  endif()
endforeach()
# A folder of the build machine has no place in the file: the pages sit at
# its root, beside the compiler's own "#" and "$" files.
foreach(entry ${names})
  if(entry MATCHES "^/[^#$:/][^/]*/")
    string(APPEND failures "the file holds a folder path: ${entry}\n")
  endif()
endforeach()

execute_process(COMMAND ${CHMLS} extractalias ${WORK}/help.chm
                WORKING_DIRECTORY ${WORK} OUTPUT_QUIET ERROR_QUIET)
if(NOT EXISTS ${WORK}/help.ali)
  message(FATAL_ERROR "the file has no context map")
endif()
file(STRINGS ${WORK}/help.ali aliases)
foreach(entry "131174;upload-window.htm" "131172;about.htm")
  list(GET entry 0 id)
  list(GET entry 1 page)
  set(target "")
  foreach(alias ${aliases})
    if(alias MATCHES "^helpid${id}=(.*)$")
      set(target "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(target STREQUAL "")
    string(APPEND failures "context id ${id} is not in the map\n")
  elseif(NOT target MATCHES "^/?${page}$")
    string(APPEND failures "context id ${id} opens ${target}, not ${page} at the root\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}listing:\n${listing}")
endif()
message(STATUS "${CHM}: ${pages}; context ids 131174 and 131172 mapped")
