# Run by cpack after it made the packages. The members of a .deb (an ar
# archive) keep the modes of the files cpack wrote them from, and so the
# builder's umask: each is given 0644, as dpkg-deb gives them, so that the
# same sources make the same package under any umask.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(mode_file "${package}.mode")
  file(WRITE "${mode_file}" "100644  ")
  file(SIZE "${package}" size)
  set(at 8)  # past "!<arch>\n"
  while(at LESS size)
    # The member's header: name 16, date 12, owner 6, group 6, mode 8, size 10, "`\n".
    file(READ "${package}" header OFFSET ${at} LIMIT 60)
    string(SUBSTRING "${header}" 48 10 member_size)
    string(STRIP "${member_size}" member_size)
    if(NOT member_size MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${package}: no ar member header at ${at}")
    endif()
    math(EXPR mode_at "${at} + 40")
    execute_process(COMMAND dd "of=${package}" bs=1 "seek=${mode_at}" conv=notrunc status=none
                    INPUT_FILE "${mode_file}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${package}: the mode of a member could not be set")
    endif()
    math(EXPR at "${at} + 60 + ${member_size} + ${member_size} % 2")
  endwhile()
  file(REMOVE "${mode_file}")
endforeach()
