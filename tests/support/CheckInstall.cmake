# Installs the build into PREFIX and checks what a Linux desktop needs to find there.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(file bin/Quellorix lib/quellorix/quellorix-xls share/quellorix/Protokollvorlage.docx
             share/doc/quellorix/copyright share/doc/quellorix/changelog.gz share/man/man1/quellorix.1.gz
             share/man/man1/Quellorix.1.gz share/applications/quellorix.desktop
             share/applications/quellorix-startplatz.desktop share/icons/hicolor/scalable/apps/quellorix.svg
             share/doc/quellorix/handbuch/index.html share/doc/quellorix/handbuch/stecker.svg
             share/doc/quellorix/handbuch/beispiel-starterliste.txt)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

if(EXISTS ${PREFIX}/bin/Protokollvorlage.docx)
    message(FATAL_ERROR "the Word template belongs in share/quellorix, not beside the program")
endif()

file(READ_SYMLINK ${PREFIX}/bin/quellorix link)
if(NOT link STREQUAL "Quellorix")
    message(FATAL_ERROR "bin/quellorix should link to Quellorix, links to '${link}'")
endif()

file(READ ${PREFIX}/share/applications/quellorix.desktop entry)
foreach(line "Name=Quellorix Zeitmessung" "Exec=quellorix" "Icon=quellorix" "Categories=Utility;"
             "Comment[de]=Laufzeiten von Seifenkistenrennen messen – mit Tasten oder Lichtschranken, Wertung nach Klassen")
    string(FIND "${entry}" "\n${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "desktop entry lacks: ${line}")
    endif()
endforeach()
file(READ ${PREFIX}/share/applications/quellorix-startplatz.desktop entry)
foreach(line "Name=Quellorix Startplatz" "Exec=quellorix --startplatz" "Icon=quellorix")
    string(FIND "${entry}" "\n${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "start station's desktop entry lacks: ${line}")
    endif()
endforeach()
