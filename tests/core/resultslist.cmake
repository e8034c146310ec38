qx_add_test(tst_resultslist SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_resultslist.cpp LIBS QuellorixCore)
