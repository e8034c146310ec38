qx_add_test(tst_manual SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_manual.cpp LIBS QuellorixReports)
