qx_add_test(tst_formmain_reports SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain_reports.cpp LIBS QuellorixApp)
