# TLS test certificates for the HTTPS transfer tests, made with openssl into the build tree at
# configure time and reused on every later configure. Nothing of it is ever committed; the CA is
# trusted only inside the tests' Wine prefix (tests/prefix.d/30-test-roots.sh reads it from
# ${CMAKE_BINARY_DIR}/prefix-inputs/tls-test-ca.der), never on the host.
#
#   tls-test-ca                 CA trusted in the test prefix
#   tls-test-server             server certificate for 127.0.0.1 and localhost, issued by it
#   tls-test-untrusted-ca       CA that no store trusts
#   tls-test-untrusted-server   server certificate for 127.0.0.1 and localhost, issued by it
#
# Sets ORVANTI_TLS_TEST_DIR (internal cache entry): the folder of all these files (.key, .pem).
include_guard(GLOBAL)

find_program(ORVANTI_OPENSSL openssl)
if(NOT ORVANTI_OPENSSL)
  message(FATAL_ERROR "The TLS test certificates need openssl: run scripts/setup")
endif()

set(dir ${CMAKE_BINARY_DIR}/tls-test-ca)
set(ORVANTI_TLS_TEST_DIR ${dir} CACHE INTERNAL "")

function(orvanti_tls_run)
  execute_process(COMMAND ${ORVANTI_OPENSSL} ${ARGN} WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "TLS test certificates: openssl ${ARGN} failed:\n${output}")
  endif()
endfunction()

function(orvanti_tls_make_ca name subject)
  orvanti_tls_run(req -x509 -newkey rsa:2048 -nodes -sha256 -days 7300 -subj "${subject}"
                  -keyout ${name}.key -out ${name}.pem
                  -addext "basicConstraints=critical,CA:TRUE"
                  -addext "keyUsage=critical,keyCertSign,cRLSign"
                  -addext "subjectKeyIdentifier=hash")
endfunction()

# Wine matches the server name against DNS names only, so 127.0.0.1 is also given as a DNS name.
function(orvanti_tls_make_server name ca serial)
  orvanti_tls_run(req -new -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1"
                  -keyout ${name}.key -out ${name}.csr)
  orvanti_tls_run(x509 -req -sha256 -days 7300 -in ${name}.csr -CA ${ca}.pem -CAkey ${ca}.key
                  -set_serial ${serial} -extfile tls-test-server.ext -extensions server
                  -out ${name}.pem)
  file(REMOVE ${dir}/${name}.csr)
endfunction()

if(NOT EXISTS ${dir}/tls-test-untrusted-server.pem)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/tls-test-server.ext
       "[server]\n"
       "basicConstraints=critical,CA:FALSE\n"
       "keyUsage=critical,digitalSignature,keyEncipherment\n"
       "extendedKeyUsage=serverAuth\n"
       "subjectAltName=DNS:127.0.0.1,DNS:localhost,IP:127.0.0.1\n")
  orvanti_tls_make_ca(tls-test-ca "/CN=Orvanti TLS Test CA")
  orvanti_tls_make_server(tls-test-server tls-test-ca 1001)
  orvanti_tls_make_ca(tls-test-untrusted-ca "/CN=Orvanti Untrusted TLS Test CA")
  orvanti_tls_make_server(tls-test-untrusted-server tls-test-untrusted-ca 1002)
endif()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/prefix-inputs)
execute_process(COMMAND ${ORVANTI_OPENSSL} x509 -in ${dir}/tls-test-ca.pem -outform DER
                        -out ${CMAKE_BINARY_DIR}/prefix-inputs/tls-test-ca.der
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "TLS test certificates: cannot write the CA for the test prefix")
endif()
