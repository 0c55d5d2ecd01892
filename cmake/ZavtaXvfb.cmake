# zavta_add_xvfb_test(NAME COMMAND [ARGS...]): the one way to register a
# test that starts Qt on xcb. It runs under xvfb-run on a 1280x1024x24
# screen with QT_QPA_PLATFORM=xcb, QT_ENABLE_HIGHDPI_SCALING=0, LIBGL_ALWAYS_SOFTWARE=1,
# LC_ALL=C.UTF-8 and a scratch XDG_DATA_HOME, labelled "gl", one at a time
# (resource lock "xvfb"). It is skipped (code 77) when Xvfb cannot start,
# unless ZAVTA_REQUIRE_GL is set in the test's environment.
set(ZAVTA_XVFB_RUNNER ${CMAKE_CURRENT_LIST_DIR}/../tests/support/xvfb-test.sh)

function(zavta_add_xvfb_test name)
  add_test(NAME ${name} COMMAND ${ZAVTA_XVFB_RUNNER} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS gl RESOURCE_LOCK xvfb SKIP_RETURN_CODE 77 TIMEOUT 120)
endfunction()
