# Checks that the widget-free library stays widget-free: its files include
# only each other, the standard library and Qt Core; never a window, serial
# component or Qt Widgets/Gui/SerialPort header. Run by ctest
# (logic_includes_only_logic) with
#   -DSOURCE_DIR=<src> -DSOURCES=<the library's files> -DQTCORE_DIR=<Qt Core's headers>
cmake_minimum_required(VERSION 3.25)
set(failures "")
foreach(file IN LISTS SOURCES)
  file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      # Ours: only another file of the library.
      if(NOT CMAKE_MATCH_1 IN_LIST SOURCES)
        string(APPEND failures "  ${file}: ${CMAKE_MATCH_1} is not part of the widget-free library\n")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<(Q[^>]+)>")
      # Qt's: only Qt Core (QtCore/QString, QString, QtGlobal, ...).
      set(included "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "^QtCore/" "" header "${included}")
      if(NOT EXISTS "${QTCORE_DIR}/${header}")
        string(APPEND failures "  ${file}: <${included}> is not a Qt Core header\n")
      endif()
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "The widget-free library includes what it must not:\n${failures}")
endif()
list(LENGTH SOURCES count)
message(STATUS "${count} files of the widget-free library include only it, the standard library and Qt Core")
