# qx_add_modal_guard(<target> <libraries>): an executable with widgets (a test or a
# bench driving windows) carries the guard that ends the run on any modal dialog
# nobody answers, instead of waiting for ever (ModalGuard.h).
# The guard is compiled once and its object linked into each executable; an object
# (not a static library) keeps its start-up function, which nothing refers to.
if(NOT TARGET QuellorixModalGuard)
    add_library(QuellorixModalGuard OBJECT ${CMAKE_SOURCE_DIR}/tests/support/ModalGuard.cpp)
    target_link_libraries(QuellorixModalGuard PUBLIC Qt6::Widgets Qt6::Test)
endif()

function(qx_add_modal_guard target)
    set(widget_libs QuellorixApp QuellorixWidgets QuellorixReports QuellorixBarrier Qt6::Widgets)
    foreach(lib IN LISTS ARGN)
        if(lib IN_LIST widget_libs)
            target_link_libraries(${target} PRIVATE QuellorixModalGuard)
            return()
        endif()
    endforeach()
endfunction()
