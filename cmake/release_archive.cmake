# Writes Kolvarine-<VERSION>.zip into BINARY_DIR: the module, KolvarineCheck.exe,
# the sample configuration, the pilot guides and SHA256SUMS.
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DVERSION=... -DDLL=... -DCHECKER=... -P release_archive.cmake
#
# The same commit gives the same archive byte for byte: the entries go in a
# fixed order, with one time (the commit's, or SOURCE_DATE_EPOCH when set),
# written as UTC, the same modes whatever the checkout's umask was, and no
# owner ids (zip -X; libarchive's zip writer, behind cmake -E tar, stores the
# builder's uid and gid).
cmake_minimum_required(VERSION 3.21)

set(archive_name Kolvarine-${VERSION})
set(stage ${BINARY_DIR}/${archive_name})
set(archive ${BINARY_DIR}/${archive_name}.zip)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_failed ERROR_QUIET)
  if(git_failed OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "release archive: no commit to take the time from; set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()

# Notepad on every Windows shows text with CRLF line ends; a guide in UTF-8
# also needs the byte-order mark there. The configuration file must not get
# one: Windows would then not recognise its first section. @VERSION@ in a
# guide becomes the version.
function(windows_text source target bom)
  file(READ ${source} text)
  string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  if(bom)
    string(ASCII 239 187 191 mark)
    set(text "${mark}${text}")
  endif()
  file(WRITE ${target} "${text}")
endfunction()

file(REMOVE_RECURSE ${stage})
file(REMOVE ${archive})
file(MAKE_DIRECTORY ${stage})
file(COPY_FILE ${DLL} ${stage}/Kolvarine.dll)
file(COPY_FILE ${CHECKER} ${stage}/KolvarineCheck.exe)
windows_text(${SOURCE_DIR}/Kolvarine.cfg ${stage}/Kolvarine.cfg FALSE)
windows_text(${SOURCE_DIR}/docs/pilot-guide.ru.txt ${stage}/README-ru.txt TRUE)
windows_text(${SOURCE_DIR}/docs/pilot-guide.en.txt ${stage}/README-en.txt TRUE)

# The order a pilot reads them in; SHA256SUMS covers all the others, with
# CRLF line ends like the other texts, or old Notepad shows it as one line.
set(entries Kolvarine.dll Kolvarine.cfg KolvarineCheck.exe README-ru.txt README-en.txt)
set(sums "")
foreach(entry IN LISTS entries)
  file(SHA256 ${stage}/${entry} hash)
  string(APPEND sums "${hash} *${entry}\r\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")
list(APPEND entries SHA256SUMS)

find_program(ZIP zip REQUIRED)
find_program(TOUCH touch REQUIRED)
foreach(entry IN LISTS entries)
  file(CHMOD ${stage}/${entry} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  execute_process(COMMAND ${TOUCH} -d @${epoch} ${stage}/${entry} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# A zip keeps local time: the archiver runs in UTC so that the time stored is
# the same wherever the archive is made.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -X -D -q -9 ${archive} ${entries}
  WORKING_DIRECTORY ${stage}
  COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Release archive: ${archive}")
