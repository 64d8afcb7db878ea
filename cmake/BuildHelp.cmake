# Compiles docs/help into the .chm:
#   cmake -DCHMCMD= -DPYTHON= -DSOURCE= -DSTAGE= -DOUTPUT= -P BuildHelp.cmake
#
# The pages are compiled in STAGE, a folder of the build tree. chmcmd 3.2.2
# would name each context id's topic by that folder's absolute path, so the
# project is compiled without its [ALIAS] and [MAP], and chm_context_map.py
# adds the map afterwards with the pages' names at the file's root, as
# Microsoft's compiler writes them. Nothing of the build folder is left in
# the file: the same pages give the same bytes wherever they are built.
cmake_minimum_required(VERSION 3.25)
foreach(var CHMCMD PYTHON SOURCE STAGE OUTPUT)
  if(NOT ${var})
    message(FATAL_ERROR "BuildHelp: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(COPY ${SOURCE}/ DESTINATION ${STAGE})
file(GLOB projects ${SOURCE}/*.hhp)
list(LENGTH projects count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "BuildHelp: expected one .hhp in ${SOURCE}, found ${count}")
endif()
get_filename_component(name ${projects} NAME)
string(REGEX REPLACE "\\.hhp$" ".chm" built "${STAGE}/${name}")

# [ALIAS] and [MAP] are the project's last sections.
file(READ ${projects} project)
string(FIND "${project}" "\n[ALIAS]" at)
if(at EQUAL -1)
  message(FATAL_ERROR "BuildHelp: ${name} has no [ALIAS] section")
endif()
string(SUBSTRING "${project}" 0 ${at} project)
if(project MATCHES "\n\\[MAP\\]")
  message(FATAL_ERROR "BuildHelp: ${name}: [MAP] must follow [ALIAS]")
endif()
file(WRITE ${STAGE}/${name} "${project}\n")

# chmcmd reports some faults (a missing page or anchor, an unreadable
# contents file) only as "Error:" or "Warning:" lines and exits with 0.
execute_process(COMMAND ${CHMCMD} ${name} WORKING_DIRECTORY ${STAGE}
                RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
if(NOT result EQUAL 0 OR log MATCHES "(Error|Warning):|corrupt" OR NOT EXISTS ${built})
  message(FATAL_ERROR "BuildHelp: the help did not compile (exit ${result}):\n${log}")
endif()

# chmcmd also stamps the build time into two uncompressed fields.
execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/chm_clear_times.py ${built}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "BuildHelp: could not clear the time stamps of ${built}")
endif()
execute_process(COMMAND ${PYTHON} ${CMAKE_CURRENT_LIST_DIR}/chm_context_map.py ${built} ${projects}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "BuildHelp: could not write the context map into ${built}")
endif()
file(COPY_FILE ${built} ${OUTPUT})
