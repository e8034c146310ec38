qx_add_test(tst_plausibility SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_plausibility.cpp LIBS QuellorixCore)
