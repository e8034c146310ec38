qx_add_test(tst_startlink SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_startlink.cpp LIBS QuellorixCore)
