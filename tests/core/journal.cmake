qx_add_test(tst_racejournal SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_racejournal.cpp LIBS QuellorixCore)
