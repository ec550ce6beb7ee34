# Run by "cmake --install" (Package.cmake sets the variables): copies into
# bin\ every DLL that camwarden.exe and the plugins load, recursively, from
# the SDK's bin\ (deploy_from); Windows' own DLLs are left to Windows.
# Windows matches DLL names without regard to case; so does this.
cmake_policy(VERSION 3.25)
file(GLOB available "${deploy_from}/*.dll")
foreach(path ${available})
  get_filename_component(name "${path}" NAME)
  string(TOLOWER "${name}" key)
  set("dll_${key}" "${path}")
endforeach()

set(queue ${deploy_binaries})
set(seen)
set(found)
while(queue)
  list(POP_FRONT queue binary)
  execute_process(COMMAND "${deploy_objdump}" -p "${binary}" OUTPUT_VARIABLE headers
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot read the imports of ${binary}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
  foreach(line ${imports})
    string(REGEX REPLACE "DLL Name: " "" name "${line}")
    string(TOLOWER "${name}" key)
    if(DEFINED "dll_${key}" AND NOT key IN_LIST seen)
      list(APPEND seen "${key}")
      list(APPEND found "${dll_${key}}")
      list(APPEND queue "${dll_${key}}")
    endif()
  endforeach()
endwhile()
file(INSTALL ${found} DESTINATION "${CMAKE_INSTALL_PREFIX}/bin")
