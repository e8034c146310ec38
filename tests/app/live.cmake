qx_add_test(tst_formmain_live SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain_live.cpp LIBS QuellorixApp)
