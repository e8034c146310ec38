qx_add_test(tst_sortcompare SOURCES tst_sortcompare.cpp LIBS QuellorixWidgets)
qx_add_test(tst_sortgrid SOURCES tst_sortgrid.cpp LIBS QuellorixWidgets)
qx_add_test(tst_sortgridinput SOURCES tst_sortgridinput.cpp LIBS QuellorixWidgets)
