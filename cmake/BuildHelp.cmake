# Compiles docs/help into the .chm:
#   cmake -DCHMCMD= -DPYTHON= -DSOURCE= -DOUTPUT= -P BuildHelp.cmake
#
# chmcmd 3.2.2 writes each context id's topic as the project folder's
# absolute path plus the page ("/build/.../help/upload-window.htm"), and
# Windows' viewer looks that name up inside the file. So every page is also
# stored under that path: a context id opens its page, and the page's
# relative links stay inside that copy. The contents and the index use the
# plain copies.
cmake_minimum_required(VERSION 3.25)
foreach(var CHMCMD PYTHON SOURCE OUTPUT)
  if(NOT ${var})
    message(FATAL_ERROR "BuildHelp: ${var} is not set")
  endif()
endforeach()

# That path is inside the file, so the pages are compiled in one fixed folder
# whatever the build folder is: a release must not depend on where it was
# built. The lock keeps two builds on this machine out of each other's way.
set(STAGE /tmp/tcc-help-stage)
file(LOCK ${STAGE}.lock GUARD PROCESS TIMEOUT 900)
file(REMOVE_RECURSE ${STAGE})
file(COPY ${SOURCE}/ DESTINATION ${STAGE})
file(GLOB projects ${STAGE}/*.hhp)
list(LENGTH projects count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "BuildHelp: expected one .hhp in ${SOURCE}, found ${count}")
endif()
get_filename_component(name ${projects} NAME)
string(REGEX REPLACE "\\.hhp$" ".chm" built "${STAGE}/${name}")

# chmcmd reports some faults (a missing page or anchor, an unreadable
# contents file) only as "Error:" or "Warning:" lines and exits with 0.
function(compile ignored)
  file(REMOVE ${built})
  execute_process(COMMAND ${CHMCMD} ${name} WORKING_DIRECTORY ${STAGE}
                  RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
  set(faults "${log}")
  if(ignored)
    string(REGEX REPLACE "[^\n]*(${ignored})[^\n]*" "" faults "${faults}")
  endif()
  if(NOT result EQUAL 0 OR faults MATCHES "(Error|Warning):|corrupt" OR NOT EXISTS ${built})
    message(FATAL_ERROR "BuildHelp: the help did not compile (exit ${result}):\n${log}")
  endif()
endfunction()

# The pages as written: every fault counts.
compile("")

# With the copies: chmcmd keys anchors by the page's name alone, so each copy
# repeats its page's anchors and confuses the check just passed.
string(REGEX REPLACE "^/" "" mirror "${STAGE}")
file(GLOB pages RELATIVE ${SOURCE} ${SOURCE}/*.htm ${SOURCE}/*.css)
file(COPY ${SOURCE}/ DESTINATION ${STAGE}/${mirror} FILES_MATCHING PATTERN "*.htm" PATTERN "*.css")
set(mirror_files "")
foreach(page ${pages})
  string(APPEND mirror_files "${mirror}/${page}\n")
endforeach()
file(READ ${projects} project)
string(REPLACE "[FILES]\n" "[FILES]\n${mirror_files}" project "${project}")
file(WRITE ${projects} "${project}")
compile("Duplicate anchor definitions|Anchor [^ ]+ undefined")

# chmcmd also stamps the build time into two uncompressed fields.
execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/chm_clear_times.py ${built}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "BuildHelp: could not clear the time stamps of ${built}")
endif()
file(COPY_FILE ${built} ${OUTPUT})
file(REMOVE_RECURSE ${STAGE})
