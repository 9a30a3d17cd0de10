# Fails when the production launcher contains any test publisher key text (as UTF-16) or lacks
# its own keys, or when the test-key launcher lacks a test key (the search would be blind).
# While the launcher does not call verify_signature, the linker leaves the tables out of both
# programs and there is nothing to compare: the test reports itself skipped.
function(utf16_hex text out)
  string(SUBSTRING "${text}" 0 64 head)
  string(HEX "${head}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

file(READ "${PRODUCTION}" production HEX)
file(READ "${TESTKEYS}" testkeys HEX)

file(READ "${PRODUCTION_KEYS}" source)
string(REGEX MATCH "u\"([A-Za-z0-9+/]+)" match "${source}")
utf16_hex("${CMAKE_MATCH_1}" needle)
string(FIND "${production}" "${needle}" production_has_own)

set(test_keys_in_testkeys 0)
foreach(name rsa4096 p384 rsa2048)
  file(READ "${KEY_DIR}/${name}/key.b64" text)
  utf16_hex("${text}" needle)
  string(FIND "${production}" "${needle}" in_production)
  string(FIND "${testkeys}" "${needle}" in_testkeys)
  if(NOT in_production EQUAL -1)
    message(FATAL_ERROR "quarlo.exe contains the test key ${name}")
  endif()
  if(NOT in_testkeys EQUAL -1)
    math(EXPR test_keys_in_testkeys "${test_keys_in_testkeys} + 1")
  endif()
endforeach()

if(production_has_own EQUAL -1 AND test_keys_in_testkeys EQUAL 0)
  message("SKIPPED: the launcher does not check signatures, no key table is linked")
  return()
endif()
if(production_has_own EQUAL -1)
  message(FATAL_ERROR "quarlo.exe lacks the production keys")
endif()
if(NOT test_keys_in_testkeys EQUAL 3)
  message(FATAL_ERROR "quarlo_testkeys.exe lacks test keys")
endif()
message(STATUS "quarlo.exe carries the production keys and no test key")
