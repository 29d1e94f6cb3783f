# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch prefix and packs it as a .deb: the files
# a desktop needs are in place, the package names what it runs on, and
# lintian finds no error in it.
# Usage: cmake -DBUILD_DIR=... -DWORK_DIR=... -P check_package.cmake

file(REMOVE_RECURSE "${WORK_DIR}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
foreach(installed bin/mv70-control bin/mv70-ctl bin/mv70-sim share/applications/mv70-control.desktop
                  share/icons/hicolor/64x64/apps/mv70-control.png share/man/man1/mv70-control.1.gz
                  share/man/man1/mv70-ctl.1.gz share/man/man1/mv70-sim.1.gz
                  share/doc/mv70-control/docs/automation.md share/doc/mv70-control/copyright
                  share/doc/mv70-control/changelog.Debian.gz
                  bin/mv70-bridge share/man/man1/mv70-bridge.1.gz lib/systemd/system/mv70-bridge.service
                  lib/sysusers.d/mv70-bridge.conf share/doc/mv70-control/examples/mv70-bridge.conf)
  if(NOT EXISTS "${WORK_DIR}/prefix/${installed}")
    message(FATAL_ERROR "cmake --install did not install ${installed}")
  endif()
endforeach()
file(READ "${WORK_DIR}/prefix/share/applications/mv70-control.desktop" entry)
foreach(line "Exec=mv70-control" "Icon=mv70-control")
  string(FIND "${entry}" "\n${line}\n" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()

run(cpack --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}/deb")
file(GLOB packages "${WORK_DIR}/deb/mv70-control_*.deb")
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages:\n${output}")
endif()
run(dpkg-deb --field ${packages} Depends)
foreach(dependency libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 fonts-ipafont-gothic)
  string(FIND "${output}" "${dependency}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the package does not depend on ${dependency}: ${output}")
  endif()
endforeach()
run(dpkg-deb --contents ${packages})
foreach(packed ./usr/bin/mv70-control ./usr/bin/mv70-ctl ./usr/bin/mv70-sim
               ./usr/share/applications/mv70-control.desktop
               ./usr/share/icons/hicolor/64x64/apps/mv70-control.png ./usr/share/man/man1/mv70-control.1.gz
               ./usr/share/man/man1/mv70-ctl.1.gz ./usr/share/man/man1/mv70-sim.1.gz
               ./usr/share/doc/mv70-control/docs/automation.md ./usr/share/doc/mv70-control/copyright
               ./usr/share/doc/mv70-control/changelog.Debian.gz
               ./usr/bin/mv70-bridge ./usr/share/man/man1/mv70-bridge.1.gz
               ./usr/lib/systemd/system/mv70-bridge.service ./usr/lib/sysusers.d/mv70-bridge.conf
               ./usr/share/doc/mv70-control/examples/mv70-bridge.conf)
  string(FIND "${output}" " ${packed}\n" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the package lacks ${packed}:\n${output}")
  endif()
endforeach()

# Errors fail the test; warnings are printed for whoever reads the log.
find_program(LINTIAN lintian REQUIRED)
execute_process(COMMAND ${LINTIAN} --tag-display-limit 0 ${packages} RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
message("lintian:\n${output}")
if(output MATCHES "(^|\n)E: ")
  message(FATAL_ERROR "lintian finds errors in the package")
endif()

# The service is installed, never enabled by the package: no enabling in the
# maintainer scripts, and the user it runs as is made there.
execute_process(COMMAND dpkg-deb --info ${packages} postinst OUTPUT_VARIABLE postinst RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the package has no postinst")
endif()
string(FIND "${postinst}" "systemd-sysusers mv70-bridge.conf" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the postinst does not make the bridge's user:\n${postinst}")
endif()
foreach(enabling "systemctl enable" "deb-systemd-helper enable" "systemctl start")
  string(FIND "${postinst}" "${enabling}" found)
  if(NOT found EQUAL -1)
    message(FATAL_ERROR "the postinst runs ${enabling}: the service must stay disabled")
  endif()
endforeach()
