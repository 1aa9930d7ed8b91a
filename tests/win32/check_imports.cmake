cmake_minimum_required(VERSION 3.25)
# Fails when LIBRARY imports a DLL that is not part of Windows.
#   cmake -DLIBRARY=VarnelSdk_Rade.dll -P check_imports.cmake
set(allowed
  KERNEL32.DLL USER32.DLL GDI32.DLL ADVAPI32.DLL MSVCRT.DLL WINMM.DLL SHLWAPI.DLL
  COMCTL32.DLL OLE32.DLL OLEAUT32.DLL SHELL32.DLL COMDLG32.DLL WS2_32.DLL NTDLL.DLL
  VERSION.DLL UCRTBASE.DLL)
execute_process(COMMAND i686-w64-mingw32-objdump -p ${LIBRARY}
                OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" rows "${dump}")
set(bad)
set(seen)
foreach(row IN LISTS rows)
  string(REGEX REPLACE "DLL Name: " "" dll "${row}")
  string(STRIP "${dll}" dll)
  string(TOUPPER "${dll}" upper)
  list(APPEND seen ${dll})
  if(NOT upper IN_LIST allowed AND NOT upper MATCHES "^API-MS-WIN-")
    list(APPEND bad ${dll})
  endif()
endforeach()
if(NOT seen)
  message(FATAL_ERROR "no import table found in ${LIBRARY}")
endif()
if(bad)
  message(FATAL_ERROR "${LIBRARY} imports non-system DLLs: ${bad}")
endif()
message(STATUS "${LIBRARY} imports only system DLLs: ${seen}")
