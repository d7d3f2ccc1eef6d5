# Debian wants manual pages and change logs compressed, the same bytes every
# time. Included before the folders, so that each installs its own pages.
find_program(GZIP gzip REQUIRED)

# tk_compressed(FILE OUT_VAR): FILE of this folder, gzipped at build time into
# the build folder; OUT_VAR gets the path of the result.
function(tk_compressed file out_var)
    get_filename_component(name ${file} NAME)
    set(gz ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${gz}
        COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/${file} > ${gz}
        DEPENDS ${file} VERBATIM)
    file(RELATIVE_PATH target ${PROJECT_BINARY_DIR} ${gz})
    string(MAKE_C_IDENTIFIER "gz_${target}" target)
    add_custom_target(${target} ALL DEPENDS ${gz})
    set(${out_var} ${gz} PARENT_SCOPE)
endfunction()

# tk_install_man_page(FILE): installs the manual page FILE (tksim.1, a.8) in
# the section its name ends with.
function(tk_install_man_page file)
    tk_compressed(${file} gz)
    string(REGEX MATCH "[^.]+$" section ${file})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
