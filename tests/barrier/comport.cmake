qx_add_test(tst_comport SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_comport.cpp LIBS QuellorixBarrier)
qx_add_test(tst_serialports SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_serialports.cpp LIBS QuellorixBarrier)
qx_add_test(tst_posixserialdevice SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_posixserialdevice.cpp LIBS QuellorixBarrier)
qx_add_test(tst_barrierline SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_barrierline.cpp LIBS QuellorixBarrier)
