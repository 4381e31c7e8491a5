# The test PKI: certificates and keys with which the build signs its fixture programs, made with
# openssl into the build tree at configure time (so that the publisher's thumbprint is known when
# the build constants are written) and reused on every later configure. Nothing of it is ever
# committed, and its root is trusted only inside the tests' Wine prefix (tests/prefix.d/30-test-roots.sh
# reads the root from ${CMAKE_BINARY_DIR}/prefix-inputs/), never on the host.
#
#   root        test root CA, trusted in the test prefix
#   publisher   code-signing leaf of the publisher, issued by root (the dev build pins it)
#   other       code-signing leaf of a second publisher, issued by the same root
#   untrusted   code-signing leaf issued by untrusted-root, a CA that no store trusts
#
# Variables set (global, as internal cache entries, so that every directory and script sees them):
#   ORVANTI_TEST_PKI_DIR                 folder of all files below
#   ORVANTI_TEST_ROOT_CERT / _ROOT_DER   the trusted root, PEM and DER
#   ORVANTI_TEST_<SIGNER>_CERT           leaf certificate (PEM)          SIGNER: PUBLISHER, OTHER,
#   ORVANTI_TEST_<SIGNER>_KEY            its private key (PEM)                   UNTRUSTED
#   ORVANTI_TEST_<SIGNER>_CHAIN          leaf then its issuer (PEM), what osslsigncode embeds
#   ORVANTI_TEST_<SIGNER>_THUMBPRINT     SHA-1 of the leaf's DER, 40 lower-case hex digits
#   ORVANTI_OSSLSIGNCODE                 the signing tool
include_guard(GLOBAL)

find_program(ORVANTI_OPENSSL openssl)
find_program(ORVANTI_OSSLSIGNCODE osslsigncode)
if(NOT ORVANTI_OPENSSL OR NOT ORVANTI_OSSLSIGNCODE)
  message(FATAL_ERROR "The test PKI needs openssl and osslsigncode: run scripts/setup")
endif()

set(pki ${CMAKE_BINARY_DIR}/test-pki)
set(ORVANTI_TEST_PKI_DIR ${pki} CACHE INTERNAL "")

function(orvanti_pki_run)
  execute_process(COMMAND ${ORVANTI_OPENSSL} ${ARGN} WORKING_DIRECTORY ${pki}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "test PKI: openssl ${ARGN} failed:\n${output}")
  endif()
endfunction()

# A self-signed CA: <name>.key, <name>.crt, <name>.der.
function(orvanti_pki_make_ca name subject)
  orvanti_pki_run(req -x509 -newkey rsa:2048 -nodes -sha256 -days 7300 -subj "${subject}"
                  -keyout ${name}.key -out ${name}.crt
                  -addext "basicConstraints=critical,CA:TRUE"
                  -addext "keyUsage=critical,keyCertSign,cRLSign"
                  -addext "subjectKeyIdentifier=hash")
  orvanti_pki_run(x509 -in ${name}.crt -outform DER -out ${name}.der)
endfunction()

# A code-signing leaf issued by <ca> with the given serial number: <name>.key, <name>.crt,
# <name>.der, <name>-chain.pem.
function(orvanti_pki_make_leaf name subject ca serial)
  orvanti_pki_run(req -new -newkey rsa:2048 -nodes -subj "${subject}"
                  -keyout ${name}.key -out ${name}.csr)
  # The leaf itself is signed with SHA-1, not SHA-256: Wine's WinVerifyTrust skips the whole chain
  # policy (root trust, expiry) for a leaf whose own signature uses SHA-256, so any signer would
  # pass and the untrusted-root case could not be tested. With a SHA-1 leaf the root is checked.
  # The files' Authenticode digest is still SHA-256 (osslsigncode -h sha256).
  orvanti_pki_run(x509 -req -sha1 -days 7300 -in ${name}.csr -CA ${ca}.crt -CAkey ${ca}.key
                  -set_serial ${serial} -extfile leaf.ext -extensions leaf -out ${name}.crt)
  orvanti_pki_run(x509 -in ${name}.crt -outform DER -out ${name}.der)
  file(READ ${pki}/${name}.crt leaf)
  file(READ ${pki}/${ca}.crt issuer)
  file(WRITE ${pki}/${name}-chain.pem "${leaf}${issuer}")
  file(REMOVE ${pki}/${name}.csr)
endfunction()

set(pki_files root.crt root.der untrusted-root.crt)
foreach(leaf publisher other untrusted)
  list(APPEND pki_files ${leaf}.key ${leaf}.crt ${leaf}.der ${leaf}-chain.pem)
endforeach()
set(pki_complete TRUE)
foreach(f ${pki_files})
  if(NOT EXISTS ${pki}/${f})
    set(pki_complete FALSE)
  endif()
endforeach()

if(NOT pki_complete)
  message(STATUS "Making the test PKI in ${pki}")
  file(REMOVE_RECURSE ${pki})
  file(MAKE_DIRECTORY ${pki})
  file(WRITE ${pki}/leaf.ext
       "[leaf]\n"
       "basicConstraints=critical,CA:FALSE\n"
       "keyUsage=critical,digitalSignature\n"
       "extendedKeyUsage=codeSigning\n"
       "subjectKeyIdentifier=hash\n"
       "authorityKeyIdentifier=keyid\n")
  orvanti_pki_make_ca(root "/O=Zarn Test/CN=Zarn Test Root CA")
  orvanti_pki_make_ca(untrusted-root "/O=Nobody/CN=Untrusted Test Root CA")
  orvanti_pki_make_leaf(publisher "/O=Zarn/CN=Zarn Test Publisher" root 1001)
  orvanti_pki_make_leaf(other "/O=Other Vendor/CN=Other Test Publisher" root 1002)
  orvanti_pki_make_leaf(untrusted "/O=Nobody/CN=Untrusted Test Publisher" untrusted-root 1003)
endif()

set(ORVANTI_TEST_ROOT_CERT ${pki}/root.crt CACHE INTERNAL "")
set(ORVANTI_TEST_ROOT_DER ${pki}/root.der CACHE INTERNAL "")
foreach(leaf publisher other untrusted)
  string(TOUPPER ${leaf} upper)
  file(SHA1 ${pki}/${leaf}.der thumbprint)
  set(ORVANTI_TEST_${upper}_CERT ${pki}/${leaf}.crt CACHE INTERNAL "")
  set(ORVANTI_TEST_${upper}_KEY ${pki}/${leaf}.key CACHE INTERNAL "")
  set(ORVANTI_TEST_${upper}_CHAIN ${pki}/${leaf}-chain.pem CACHE INTERNAL "")
  set(ORVANTI_TEST_${upper}_THUMBPRINT ${thumbprint} CACHE INTERNAL "")
endforeach()

# The tests' Wine prefix trusts this root (scripts/make-prefix applies the hook again when the
# file's content changes).
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/prefix-inputs)
configure_file(${pki}/root.der ${CMAKE_BINARY_DIR}/prefix-inputs/test-root.der COPYONLY)
unset(pki)
unset(pki_files)
unset(pki_complete)
