# Publisher key tables and the launcher variants that carry them.
#
# verify_signature compares against a key table that quarlo_lib does not contain: each program
# links exactly one table library. Programs link the production table (src/trust/keys/) unless their
# target property QUARLO_TEST_KEYS is set, in which case they link the test table generated
# below. The shipped quarlo.exe never sets it; quarlo_testkeys.exe (same sources) does, so that
# tests can sign it and its libraries with keys whose private halves live in the build tree.
#
# Test keys (option QUARLO_TEST_KEYS): generated with openssl at configure time into
# ${QUARLO_TEST_KEY_DIR}/<name>/ as key.pem (private), cert.pem (self-signed, for osslsigncode)
# and key.b64 (the pinned text). rsa4096, p384 and rsa2048 are pinned; rsa2048-unpinned and
# p384-unpinned are not.

add_library(quarlo_keys_production STATIC ${CMAKE_SOURCE_DIR}/src/trust/keys/production_keys.cpp)
target_include_directories(quarlo_keys_production PRIVATE ${CMAKE_SOURCE_DIR})
quarlo_product_flags(quarlo_keys_production)

set(_quarlo_test_keys_default OFF)
if(WIN32 AND QUARLO_TESTS AND NOT QUARLO_FUZZ)
  set(_quarlo_test_keys_default ON)
endif()
option(QUARLO_TEST_KEYS "Generate test publisher keys and build quarlo_testkeys.exe" ${_quarlo_test_keys_default})

define_property(TARGET PROPERTY QUARLO_TEST_KEYS
  BRIEF_DOCS "Link the generated test publisher keys instead of the production ones")

if(NOT QUARLO_TEST_KEYS)
  target_link_libraries(quarlo_lib INTERFACE quarlo_keys_production)
  function(quarlo_use_test_keys target)
    message(FATAL_ERROR "${target} needs test publisher keys: configure with QUARLO_TEST_KEYS=ON")
  endfunction()
  return()
endif()

find_program(QUARLO_OPENSSL openssl REQUIRED)
set(QUARLO_TEST_KEY_DIR ${CMAKE_BINARY_DIR}/publisher-test-keys)

# _quarlo_test_key(NAME KIND): KIND is rsa<bits> or p384; sets <NAME>_TEXT.
function(_quarlo_test_key name kind)
  set(dir ${QUARLO_TEST_KEY_DIR}/${name})
  file(MAKE_DIRECTORY ${dir})
  if(kind STREQUAL "p384")
    set(genargs -algorithm EC -pkeyopt ec_paramgen_curve:secp384r1)
  else()
    string(REGEX REPLACE "^rsa" "" bits ${kind})
    set(genargs -algorithm RSA -pkeyopt rsa_keygen_bits:${bits})
  endif()
  if(NOT EXISTS ${dir}/cert.pem)
    message(STATUS "Generating test publisher key ${name}")
    execute_process(COMMAND ${QUARLO_OPENSSL} genpkey ${genargs} -out ${dir}/key.pem
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
      execute_process(COMMAND ${QUARLO_OPENSSL} req -new -x509 -key ${dir}/key.pem
          -out ${dir}/cert.pem -days 3650 -subj "/CN=Quarlo test publisher ${name}"
          -addext extendedKeyUsage=codeSigning
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT rc EQUAL 0)
      file(REMOVE ${dir}/key.pem ${dir}/cert.pem)
      message(FATAL_ERROR "openssl could not make the test key ${name}")
    endif()
  endif()
  # The pinned text is the base64 of the certificate's public-key bit string: the DER
  # RSAPublicKey for RSA, the uncompressed point (the last 97 bytes of the SPKI) for P-384.
  if(kind STREQUAL "p384")
    execute_process(COMMAND ${QUARLO_OPENSSL} pkey -in ${dir}/key.pem -pubout -outform DER
      COMMAND tail -c 97 COMMAND ${QUARLO_OPENSSL} base64 -A
      OUTPUT_VARIABLE text OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(expected 132)
  else()
    execute_process(COMMAND ${QUARLO_OPENSSL} rsa -in ${dir}/key.pem -RSAPublicKey_out -outform DER
      COMMAND ${QUARLO_OPENSSL} base64 -A
      OUTPUT_VARIABLE text OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    math(EXPR expected "(((${bits} / 8 + 14) + 2) / 3) * 4")
  endif()
  string(LENGTH "${text}" length)
  if(NOT length EQUAL expected)
    message(FATAL_ERROR "test key ${name}: pinned text of ${length} characters, expected ${expected}")
  endif()
  file(CONFIGURE OUTPUT ${dir}/key.b64 CONTENT "${text}")
  set(${name}_TEXT "${text}" PARENT_SCOPE)
endfunction()

_quarlo_test_key(rsa4096 rsa4096)
_quarlo_test_key(p384 p384)
_quarlo_test_key(rsa2048 rsa2048)
_quarlo_test_key(rsa2048-unpinned rsa2048)
_quarlo_test_key(p384-unpinned p384)

file(CONFIGURE OUTPUT ${QUARLO_TEST_KEY_DIR}/test_keys.cpp CONTENT [=[
// Generated at configure time: test publisher keys, never linked into the shipped launcher.
#include "src/trust/signature.h"

const uint32_t publisher_key_count = 3;

const char16_t *const publisher_keys[] = {
    u"${rsa4096_TEXT}",
    u"${p384_TEXT}",
    u"${rsa2048_TEXT}",
};
]=])

add_library(quarlo_keys_test STATIC ${QUARLO_TEST_KEY_DIR}/test_keys.cpp)
target_include_directories(quarlo_keys_test PRIVATE ${CMAKE_SOURCE_DIR})
quarlo_product_flags(quarlo_keys_test)

target_link_libraries(quarlo_lib INTERFACE
  "$<IF:$<BOOL:$<TARGET_PROPERTY:QUARLO_TEST_KEYS>>,quarlo_keys_test,quarlo_keys_production>")

function(quarlo_use_test_keys target)
  set_target_properties(${target} PROPERTIES QUARLO_TEST_KEYS ON)
endfunction()

# The launcher with the test keys: same sources and resources as quarlo.exe.
if(WIN32 AND TARGET quarlo)
  get_target_property(_quarlo_sources quarlo SOURCES)
  add_executable(quarlo_testkeys WIN32 ${_quarlo_sources})
  target_link_libraries(quarlo_testkeys PRIVATE quarlo_lib)
  quarlo_product_flags(quarlo_testkeys)
  quarlo_shipped_image(quarlo_testkeys)
  quarlo_use_test_keys(quarlo_testkeys)
endif()

# The doctor with the test keys, to judge quarlo_testkeys.exe's libraries as it does.
if(WIN32 AND TARGET quarlo_doctor)
  add_executable(quarlo_doctor_testkeys ${QUARLO_DOCTOR_SOURCES})
  set_target_properties(quarlo_doctor_testkeys PROPERTIES OUTPUT_NAME quarlo-doctor-testkeys)
  target_link_libraries(quarlo_doctor_testkeys PRIVATE quarlo_lib)
  quarlo_product_flags(quarlo_doctor_testkeys)
  quarlo_shipped_image(quarlo_doctor_testkeys)
  quarlo_use_test_keys(quarlo_doctor_testkeys)
endif()

# quarlo_signing_digest(KEY out): the digest a publisher pairs with the key: SHA-384 for P-384.
function(quarlo_signing_digest key out)
  if(key MATCHES "^p384")
    set(${out} sha384 PARENT_SCOPE)
  else()
    set(${out} sha256 PARENT_SCOPE)
  endif()
endfunction()

# quarlo_signed_copy(OUTPUT file INPUT file KEY name DEPENDS target): `file` signed by the test
# key `name` with osslsigncode, made at build time.
function(quarlo_signed_copy)
  cmake_parse_arguments(S "" "OUTPUT;INPUT;KEY;DEPENDS" "" ${ARGN})
  find_program(QUARLO_OSSLSIGNCODE osslsigncode REQUIRED)
  get_filename_component(dir ${S_OUTPUT} DIRECTORY)
  quarlo_signing_digest(${S_KEY} digest)
  add_custom_command(OUTPUT ${S_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${S_OUTPUT}
    COMMAND ${QUARLO_OSSLSIGNCODE} sign -h ${digest} -certs ${QUARLO_TEST_KEY_DIR}/${S_KEY}/cert.pem
            -key ${QUARLO_TEST_KEY_DIR}/${S_KEY}/key.pem -in ${S_INPUT} -out ${S_OUTPUT}
    DEPENDS ${S_DEPENDS} ${QUARLO_TEST_KEY_DIR}/${S_KEY}/cert.pem
    COMMENT "Signing ${S_OUTPUT} with the test key ${S_KEY}" VERBATIM)
endfunction()
