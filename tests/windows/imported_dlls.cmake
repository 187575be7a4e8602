# Fails when a program imports a DLL that a clean Windows does not carry in
# System32: a MinGW runtime DLL (libstdc++-6, libgcc_s_seh-1, libwinpthread-1)
# is found on a developer's or CI's PATH, but not on a user's PC.
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAMS=<a.exe;b.exe> -P imported_dlls.cmake
cmake_minimum_required(VERSION 3.20)
set(system_dlls
  advapi32 bcrypt comctl32 comdlg32 crypt32 dwmapi gdi32 imm32 kernel32 msvcrt ntdll ole32
  oleaut32 psapi rpcrt4 secur32 shcore shell32 shlwapi ucrtbase user32 userenv uxtheme version
  winmm ws2_32 wtsapi32)

if(NOT OBJDUMP OR NOT PROGRAMS)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=<objdump> -DPROGRAMS=<programs> -P imported_dlls.cmake")
endif()
set(foreign "")
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${OBJDUMP} -p ${program} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJDUMP} -p ${program} failed")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
  if(NOT names)
    message(FATAL_ERROR "${program}: no imported DLL found; is it a Windows program?")
  endif()
  set(imports "")
  foreach(line IN LISTS names)
    string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" lower)
    list(APPEND imports ${dll})
    string(REGEX REPLACE "\\.dll$" "" base "${lower}")
    if(NOT base IN_LIST system_dlls AND NOT base MATCHES "^api-ms-win-")
      list(APPEND foreign "${program}: ${dll}")
    endif()
  endforeach()
  list(JOIN imports ", " shown)
  message(STATUS "${program} imports ${shown}")
endforeach()
if(foreign)
  list(JOIN foreign "\n  " shown)
  message(FATAL_ERROR "DLLs that Windows does not provide:\n  ${shown}")
endif()
