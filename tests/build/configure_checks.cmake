# cmake -DSOURCE_DIR=... -DWORK_DIR=... -P configure_checks.cmake
# A release configure must refuse missing or malformed constants and name what is wrong; a dev
# configure must compile in exactly the values given on its command line.

function(configure name)
  set(binary ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${binary})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${binary} ${ARGN}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(configure_result ${result} PARENT_SCOPE)
  set(configure_output "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_refusal name pattern)
  configure(${name} ${ARGN})
  if(configure_result EQUAL 0)
    message(FATAL_ERROR "${name}: the configure succeeded")
  endif()
  string(REGEX REPLACE "[ \n]+" " " flat "${configure_output}")
  if(NOT flat MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: the message does not match '${pattern}':\n${configure_output}")
  endif()
endfunction()

set(good_url "https://updates.example.test")
set(good_pin "0123456789ABCDEF0123456789abcdef01234567")

expect_refusal(release-none
  "ORVANTI_UPDATE_SERVER_URL.*ORVANTI_PUBLISHER_THUMBPRINT" --preset release)
expect_refusal(release-no-pin "ORVANTI_PUBLISHER_THUMBPRINT"
  --preset release -DORVANTI_UPDATE_SERVER_URL=${good_url})
expect_refusal(release-http "ORVANTI_UPDATE_SERVER_URL='http://updates.example.test'"
  --preset release -DORVANTI_UPDATE_SERVER_URL=http://updates.example.test
  -DORVANTI_PUBLISHER_THUMBPRINT=${good_pin})
expect_refusal(release-path "ORVANTI_UPDATE_SERVER_URL"
  --preset release -DORVANTI_UPDATE_SERVER_URL=${good_url}/api
  -DORVANTI_PUBLISHER_THUMBPRINT=${good_pin})
expect_refusal(release-short-pin "ORVANTI_PUBLISHER_THUMBPRINT"
  --preset release -DORVANTI_UPDATE_SERVER_URL=${good_url}
  -DORVANTI_PUBLISHER_THUMBPRINT=0123456789abcdef)
expect_refusal(dev-bad-pin "ORVANTI_PUBLISHER_THUMBPRINT"
  --preset dev -DORVANTI_PUBLISHER_THUMBPRINT=zz23456789abcdef0123456789abcdef01234567)

configure(dev-given --preset dev -DORVANTI_BUILD_TESTS=OFF
  -DORVANTI_UPDATE_SERVER_URL=https://127.0.0.1:9443 -DORVANTI_PUBLISHER_THUMBPRINT=${good_pin})
if(NOT configure_result EQUAL 0)
  message(FATAL_ERROR "dev-given: configure failed:\n${configure_output}")
endif()
file(READ ${WORK_DIR}/dev-given/generated/build_constants.h header)
string(TOLOWER "${good_pin}" lowered_pin)
foreach(expected "kUpdateServerUrl[] = \"https://127.0.0.1:9443\";"
                 "kPinnedSignerThumbprint[] = \"${lowered_pin}\";")
  string(FIND "${header}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "dev-given: the header lacks ${expected}:\n${header}")
  endif()
endforeach()

# The version resource: a development build is marked as a private build naming its service and
# publisher; a release build carries no such mark.
file(READ ${WORK_DIR}/dev-given/generated/res_version.h dev_version)
foreach(expected "#define ORVANTI_VERSION_FILE_FLAGS VS_FF_PRIVATEBUILD"
                 "#define ORVANTI_PRIVATE_BUILD \"Development build for the update service https://127.0.0.1:9443 and the publisher certificate ${lowered_pin}\"")
  string(FIND "${dev_version}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "dev-given: the version header lacks ${expected}:\n${dev_version}")
  endif()
endforeach()

configure(release-given --preset release -DORVANTI_UPDATE_SERVER_URL=${good_url}
  -DORVANTI_PUBLISHER_THUMBPRINT=${good_pin})
if(NOT configure_result EQUAL 0)
  message(FATAL_ERROR "release-given: configure failed:\n${configure_output}")
endif()
file(READ ${WORK_DIR}/release-given/generated/res_version.h release_version)
string(FIND "${release_version}" "#define ORVANTI_VERSION_FILE_FLAGS 0\n" flags_at)
string(FIND "${release_version}" "PRIVATE_BUILD" private_at)
if(flags_at EQUAL -1 OR NOT private_at EQUAL -1)
  message(FATAL_ERROR "release-given: the version header marks a private build:\n${release_version}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
