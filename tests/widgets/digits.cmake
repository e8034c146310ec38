qx_add_test(tst_digit SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_digit.cpp LIBS QuellorixWidgets Qt6::Widgets)
qx_add_test(tst_bitbtnwithcolor SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_bitbtnwithcolor.cpp LIBS QuellorixWidgets Qt6::Widgets)
