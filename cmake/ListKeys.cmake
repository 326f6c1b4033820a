# The keys the daily list must be signed with. A build that names none makes its own key pair in
# the build folder (once, at configure time) and trusts that one: tools/run, the tests and the
# benchmarks sign their lists with its secret key, which never leaves the build folder.
set(TOVAREK_LIST_KEY_DIR ${CMAKE_BINARY_DIR}/list-key)
set(TOVAREK_LIST_SECRET_KEY ${TOVAREK_LIST_KEY_DIR}/minisign.key)
set(TOVAREK_LIST_PUBLIC_KEY_FILE ${TOVAREK_LIST_KEY_DIR}/minisign.pub)

if(NOT EXISTS ${TOVAREK_LIST_SECRET_KEY} OR NOT EXISTS ${TOVAREK_LIST_PUBLIC_KEY_FILE})
  find_program(MINISIGN_PROGRAM minisign REQUIRED)
  file(MAKE_DIRECTORY ${TOVAREK_LIST_KEY_DIR})
  # -W: no password, so signing runs unattended.
  execute_process(
    COMMAND ${MINISIGN_PROGRAM} -G -f -W -p ${TOVAREK_LIST_PUBLIC_KEY_FILE}
            -s ${TOVAREK_LIST_SECRET_KEY}
    RESULT_VARIABLE keygen_result OUTPUT_QUIET ERROR_VARIABLE keygen_error)
  if(NOT keygen_result EQUAL 0)
    message(FATAL_ERROR "minisign could not make the build's list key pair: ${keygen_error}")
  endif()
endif()

# The base64 line of a minisign .pub file is its second line.
file(STRINGS ${TOVAREK_LIST_PUBLIC_KEY_FILE} build_key_lines)
list(GET build_key_lines 1 TOVAREK_BUILD_LIST_KEY)

if(TOVAREK_LIST_KEYS)
  set(TOVAREK_TRUSTED_LIST_KEYS "${TOVAREK_LIST_KEYS}")
else()
  set(TOVAREK_TRUSTED_LIST_KEYS "${TOVAREK_BUILD_LIST_KEY}")
endif()
