qx_add_test(tst_formmain_journal SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain_journal.cpp LIBS QuellorixApp)
