qx_add_test(tst_formmain SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain.cpp LIBS QuellorixApp)
qx_add_test(tst_formmain_barrier SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain_barrier.cpp LIBS QuellorixApp)
qx_add_test(tst_formmain_files SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_formmain_files.cpp LIBS QuellorixApp)
