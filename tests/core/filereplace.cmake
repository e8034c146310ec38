qx_add_test(tst_filereplace SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_filereplace.cpp LIBS QuellorixCore)
