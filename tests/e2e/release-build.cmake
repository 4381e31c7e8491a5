# cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DSERVER_URL=... -DTHUMBPRINT=... -DTARGETS=a,b
#       -P release-build.cmake
# The release build of the shipped programs for the end-to-end tests over TLS: configured exactly
# as a publisher configures one (`cmake --preset release` with the two constants), in a build
# folder of its own, and only the TARGETS built (comma-separated). The configure runs again only when a constant changed;
# the build itself re-runs CMake when the project's CMake files change.
set(cache ${BINARY_DIR}/CMakeCache.txt)
set(configured FALSE)
if(EXISTS ${cache})
  file(STRINGS ${cache} url_line REGEX "^ORVANTI_UPDATE_SERVER_URL:")
  file(STRINGS ${cache} pin_line REGEX "^ORVANTI_PUBLISHER_THUMBPRINT:")
  if(url_line MATCHES "=${SERVER_URL}$" AND pin_line MATCHES "=${THUMBPRINT}$")
    set(configured TRUE)
  endif()
endif()
if(NOT configured)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} --preset release -B ${BINARY_DIR}
                          -DORVANTI_UPDATE_SERVER_URL=${SERVER_URL}
                          -DORVANTI_PUBLISHER_THUMBPRINT=${THUMBPRINT}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "release build for the tests: the configure failed:\n${output}")
  endif()
endif()
string(REPLACE "," ";" targets "${TARGETS}")
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target ${targets}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "release build for the tests: the build failed:\n${output}")
endif()
