qx_add_test(tst_commeventrules SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_commeventrules.cpp LIBS QuellorixCore)
qx_add_test(tst_barrierline SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_barrierline.cpp LIBS QuellorixCore)
