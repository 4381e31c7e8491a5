# The update service's origin and the pinned publisher thumbprint are constants of the program:
# chosen here at configure time, validated, and compiled in through a generated header.

function(orvanti_check_url url kind)
  if(url MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?$")
    return()
  endif()
  if(kind STREQUAL "dev" AND url MATCHES "^http://(127\\.0\\.0\\.1|localhost)(:[0-9]+)?$")
    return()
  endif()
  if(kind STREQUAL "dev")
    set(allowed "an https origin, or http://127.0.0.1 or http://localhost with an optional port,")
  else()
    set(allowed "an https origin")
  endif()
  message(FATAL_ERROR "ORVANTI_UPDATE_SERVER_URL='${url}' is not ${allowed} "
                      "written as scheme://host[:port] with no path, query, fragment or trailing slash.")
endfunction()

function(orvanti_check_thumbprint thumbprint)
  string(LENGTH "${thumbprint}" length)
  if(NOT length EQUAL 40 OR NOT thumbprint MATCHES "^[0-9A-Fa-f]+$")
    message(FATAL_ERROR "ORVANTI_PUBLISHER_THUMBPRINT='${thumbprint}' must be exactly 40 hexadecimal "
                        "digits: the SHA-1 thumbprint of the publisher's code-signing certificate.")
  endif()
endfunction()

if(ORVANTI_BUILD_KIND STREQUAL "release")
  if(ORVANTI_UPDATE_SERVER_URL STREQUAL "" OR ORVANTI_PUBLISHER_THUMBPRINT STREQUAL "")
    message(FATAL_ERROR "A release build needs both ORVANTI_UPDATE_SERVER_URL (the update service's "
                        "https origin) and ORVANTI_PUBLISHER_THUMBPRINT (40 hex digits), for example:\n"
                        "  cmake --preset release -DORVANTI_UPDATE_SERVER_URL=https://updates.example.com "
                        "-DORVANTI_PUBLISHER_THUMBPRINT=<sha1 of the signing certificate>")
  endif()
  set(server_url "${ORVANTI_UPDATE_SERVER_URL}")
  set(thumbprint "${ORVANTI_PUBLISHER_THUMBPRINT}")
elseif(ORVANTI_BUILD_KIND STREQUAL "dev")
  set(server_url "${ORVANTI_UPDATE_SERVER_URL}")
  if(server_url STREQUAL "")
    set(server_url "http://127.0.0.1:8765")
  endif()
  set(thumbprint "${ORVANTI_PUBLISHER_THUMBPRINT}")
  if(thumbprint STREQUAL "")
    # The development build trusts the publisher certificate of the test PKI.
    include(${CMAKE_SOURCE_DIR}/cmake/test-pki.cmake OPTIONAL)
    if(DEFINED ORVANTI_TEST_PUBLISHER_THUMBPRINT)
      set(thumbprint "${ORVANTI_TEST_PUBLISHER_THUMBPRINT}")
    else()
      set(thumbprint "0000000000000000000000000000000000000000")
    endif()
  endif()
else()
  message(FATAL_ERROR "ORVANTI_BUILD_KIND must be dev or release, not '${ORVANTI_BUILD_KIND}'")
endif()

orvanti_check_url("${server_url}" "${ORVANTI_BUILD_KIND}")
orvanti_check_thumbprint("${thumbprint}")
string(TOLOWER "${thumbprint}" thumbprint)
set(ORVANTI_EFFECTIVE_SERVER_URL "${server_url}")
set(ORVANTI_EFFECTIVE_THUMBPRINT "${thumbprint}")
message(STATUS "Update service: ${server_url}; pinned publisher: ${thumbprint}")

# A development build says so in its version resource, where file properties and inventory tools
# look: it talks to a service that need not be the real one and trusts a test publisher.
if(ORVANTI_BUILD_KIND STREQUAL "dev")
  set(ORVANTI_VERSION_FILE_FLAGS "VS_FF_PRIVATEBUILD")
  set(ORVANTI_PRIVATE_BUILD_DEFINITION "#define ORVANTI_PRIVATE_BUILD \"Development build for the \
update service ${server_url} and the publisher certificate ${thumbprint}\"")
else()
  set(ORVANTI_VERSION_FILE_FLAGS "0")
  set(ORVANTI_PRIVATE_BUILD_DEFINITION "")
endif()
configure_file(${CMAKE_SOURCE_DIR}/app/build_constants.h.in
               ${CMAKE_BINARY_DIR}/generated/build_constants.h @ONLY)
