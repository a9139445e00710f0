# Configures a scratch build for an online exam site and checks that its
# program serves no site of its own (only the local exam hosts get one).
#   cmake -DSOURCE=<source dir> -DWORK=<scratch dir> -P other_hosts_no_site.cmake
file(REMOVE_RECURSE "${WORK}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${WORK}" -DBUILD_TESTING=OFF
          -DZANDREL_SUBJECT1_HOST=km1.example.org -DZANDREL_SUBJECT4_HOST=127.0.0.1:47104
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configuring with other exam hosts failed: ${errors}")
endif()
file(READ "${WORK}/generated/app/exam_addresses.h" header)
file(REMOVE_RECURSE "${WORK}")
if(NOT header MATCHES "EmbeddedSiteEnabled = false;")
  message(FATAL_ERROR "a build for other exam hosts would serve the local site:\n${header}")
endif()
message(STATUS "a build for other exam hosts serves no site of its own")
