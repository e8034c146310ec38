qx_add_test(tst_resultsoutput SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_resultsoutput.cpp LIBS QuellorixReports)
