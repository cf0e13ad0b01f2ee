# cmake -DDEF=<in> -DOUT=<out> -P stdcall-def.cmake
# Turns the export list that ld writes for a --kill-at DLL ("Name = Name@8 @3") into the list of
# decorated names ("Name@8") from which dlltool --kill-at builds the import library: callers that
# include the header refer to Name@8, the DLL exports Name.
file(STRINGS "${DEF}" lines)
set(result "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+[A-Za-z_0-9]+ = ([A-Za-z_0-9]+@[0-9]+)")
        string(APPEND result "    ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^[ \t]+([A-Za-z_0-9]+)")
        string(APPEND result "    ${CMAKE_MATCH_1}\n")
    else()
        string(APPEND result "${line}\n")
    endif()
endforeach()
file(WRITE "${OUT}" "${result}")
