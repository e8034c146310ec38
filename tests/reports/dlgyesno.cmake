qx_add_test(tst_dlgyesno SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_dlgyesno.cpp LIBS QuellorixReports)
