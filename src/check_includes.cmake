# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that the folders of src/ keep to the way the libraries depend on
# each other: each folder's files include only headers of the folders its
# library depends on (its own included), the standard library and the
# system, and the Qt modules it may use. Nothing outside src/window includes
# a window header. A folder of the table that does not exist yet is skipped;
# a folder that is not in the table fails the check. Run by ctest
# (includes_by_folder) with
#   -DSOURCE_DIR=<src> -DQT_INCLUDE_DIR=<the folder of QtCore/, QtWidgets/, ...>
cmake_minimum_required(VERSION 3.25)

#      folder   | our folders it may include       | Qt modules it may include ("*": any)
set(rules
  "logic        | logic                            | Core"
  "serial       | logic serial                     | Core Network SerialPort Concurrent"
  "process      | process                          | Core"
  "ctl          | logic serial process ctl         | Core Network SerialPort"
  "window       | logic serial process window      | *"
  "pjlink       | logic pjlink                     | Core"
  "mqtt         | logic mqtt                       | Core"
  "projector    | logic serial projector          | Core"
  "pjlink_server| logic pjlink projector pjlink_server | Core Network"
  "mqtt_client  | logic mqtt mqtt_client           | Core Network"
  "mqtt_bridge  | logic mqtt mqtt_client projector mqtt_bridge | Core"
  "bridge       | logic serial projector pjlink pjlink_server mqtt mqtt_client mqtt_bridge process bridge | Core Network"
)

# Known crossings still to be undone, as "file|included": each one a debt.
set(exceptions)

set(failures "")
set(known "")
set(checked 0)
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" fields "${rule}")
  list(GET fields 0 folder)
  list(GET fields 1 ours)
  list(GET fields 2 modules)
  string(STRIP "${folder}" folder)
  string(STRIP "${ours}" ours)
  string(STRIP "${modules}" modules)
  separate_arguments(ours UNIX_COMMAND "${ours}")
  separate_arguments(modules UNIX_COMMAND "${modules}")
  list(APPEND known "${folder}")
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/${folder}")
    continue()
  endif()
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        # Ours: folder/file.h, of a folder this one may include.
        set(included "${CMAKE_MATCH_1}")
        if(included MATCHES "\\.moc$")
          continue()
        endif()
        if("${file}|${included}" IN_LIST exceptions)
          continue()
        endif()
        if(NOT included MATCHES "^([^/]+)/")
          string(APPEND failures "  ${file}: \"${included}\" does not name its folder\n")
        elseif(NOT CMAKE_MATCH_1 IN_LIST ours)
          if(CMAKE_MATCH_1 STREQUAL "window")
            string(APPEND failures "  ${file}: \"${included}\" is a window header, outside src/window\n")
          else()
            string(APPEND failures "  ${file}: \"${included}\" is in ${CMAKE_MATCH_1}/, which ${folder}/ may not include\n")
          endif()
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<(Q[^>]+)>" AND NOT modules STREQUAL "*")
        # Qt's (QString, QtCore/QString, QtNetwork, ...): of an allowed module.
        set(included "${CMAKE_MATCH_1}")
        string(REGEX REPLACE "^Qt[A-Za-z]+/" "" header "${included}")
        set(found FALSE)
        foreach(module IN LISTS modules)
          if(EXISTS "${QT_INCLUDE_DIR}/Qt${module}/${header}")
            set(found TRUE)
          endif()
        endforeach()
        if(NOT found)
          list(JOIN modules ", " allowed)
          string(APPEND failures "  ${file}: <${included}> is not of Qt ${allowed}\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

# Every folder with sources has its rule.
file(GLOB entries RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${SOURCE_DIR}/${entry}" AND NOT entry IN_LIST known)
    string(APPEND failures "  ${entry}/: a folder without a rule in check_includes.cmake\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "Includes across folders that the libraries do not allow:\n${failures}")
endif()
message(STATUS "${checked} files in src/ include only what their folder's library depends on")
