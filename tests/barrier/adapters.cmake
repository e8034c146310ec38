qx_add_test(tst_serialadapters SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_serialadapters.cpp LIBS QuellorixBarrierBase)
