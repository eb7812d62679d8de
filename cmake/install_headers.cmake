# Install-time step of cmake/install.cmake: copies each header (KRV_HEADERS: "source|destination"
# pairs, the destination relative to KRV_HEADER_DEST) and rewrites its includes of the folders
# KRV_FOLDERS from "core/core.h" to "korvane/core/core.h".
string(REPLACE "," "|" alternatives "${KRV_FOLDERS}")
foreach(pair IN LISTS KRV_HEADERS)
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    file(READ "${from}" text)
    string(REGEX REPLACE "#include \"(${alternatives})/" "#include \"korvane/\\1/" text "${text}")
    set(out "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${KRV_HEADER_DEST}/${to}")
    message(STATUS "Installing: ${out}")
    file(WRITE "${out}" "${text}")
endforeach()
