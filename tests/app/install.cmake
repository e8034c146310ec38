# The installed layout: program, command link, icon, desktop entry and manual.
add_test(NAME tst_install
         COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DPREFIX=${CMAKE_BINARY_DIR}/test-install
                 -P ${CMAKE_SOURCE_DIR}/tests/support/CheckInstall.cmake)
