# Run by the target windows_package: writes to "list" every file of the
# installed layout in "stage", then its folders with a trailing "\", inner
# ones before the folder holding them. The setup program installs it; the
# uninstaller, and the next version's setup program, remove exactly these.
cmake_policy(VERSION 3.25)
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${stage}" "${stage}/*")
set(files)
set(folders)
foreach(entry ${entries})
  # Read back in the system's code page; a ";" would split a CMake list.
  if(NOT entry MATCHES "^[ -:<-~]+$")
    message(FATAL_ERROR "not a plain ASCII name: ${entry}")
  endif()
  if(IS_DIRECTORY "${stage}/${entry}")
    list(APPEND folders "${entry}/")
  else()
    list(APPEND files "${entry}")
  endif()
endforeach()
list(SORT files)
# Reversed, each folder comes after every folder inside it.
list(SORT folders)
list(REVERSE folders)
list(JOIN files "\r\n" text)
list(JOIN folders "\r\n" folder_text)
# Windows' separator only now: a "\" before a ";" would join two entries.
string(REPLACE "/" "\\" text "${text}\r\n${folder_text}\r\n")
file(WRITE "${list}" "${text}")
