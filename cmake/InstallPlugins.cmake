# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the CLAP library and the LV2 bundle where hosts look for them. Run by
# `cmake --install`, so that the folders follow the prefix given there (`--prefix ~/.local`),
# not the one the build was configured with. Expects QUILLFERN_CLAP_LIBRARY,
# QUILLFERN_LV2_BUNDLE and the cache values QUILLFERN_CLAP_DIR and QUILLFERN_LV2_DIR (empty:
# choose by the prefix).
#
# CLAP hosts look in CLAP_PATH, ~/.clap and /usr/lib/clap; LV2 hosts in LV2_PATH or, without
# it, ~/.lv2, /usr/local/lib/lv2 and /usr/lib/lv2. A prefix in the home folder therefore gets
# ~/.clap and ~/.lv2, which a PREFIX/lib/clap there would not be; any other prefix gets
# PREFIX/lib/clap and PREFIX/lib/lv2, with advice where no host looks.

set(home "$ENV{HOME}")
cmake_path(IS_PREFIX home "${CMAKE_INSTALL_PREFIX}" NORMALIZE prefix_in_home)
if(home STREQUAL "" OR home STREQUAL "/")
  set(prefix_in_home FALSE)
endif()

function(quillfern_plugin_dir chosen format result)
  if(NOT chosen STREQUAL "")
    cmake_path(ABSOLUTE_PATH chosen BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" NORMALIZE)
    set(${result} "${chosen}" PARENT_SCOPE)
  elseif(prefix_in_home)
    set(${result} "${home}/.${format}" PARENT_SCOPE)
  else()
    set(dir "${CMAKE_INSTALL_PREFIX}/lib/${format}")
    cmake_path(NORMAL_PATH dir)
    set(${result} "${dir}" PARENT_SCOPE)
  endif()
endfunction()

# "VARIABLE=VALUE" when no host looks in DIR without being told, else empty. CLAP hosts search
# CLAP_PATH before their own folders, so DIR goes in front of it; an LV2 host that finds LV2_PATH
# searches nothing else, so DIR goes in front of its default folders when it is unset.
function(quillfern_search_advice dir variable searched result)
  foreach(searched_dir IN LISTS searched)
    cmake_path(COMPARE "${dir}" EQUAL "${searched_dir}" same)
    if(same)
      set(${result} "" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  if(variable STREQUAL "LV2_PATH")
    string(REPLACE ";" ":" defaults "${searched}")
    string(REPLACE "${home}/" "$HOME/" defaults "${defaults}")  # whoever reads the line
    set(${result} "LV2_PATH=${dir}:\${LV2_PATH:-${defaults}}" PARENT_SCOPE)
  else()
    set(${result} "${variable}=${dir}\${${variable}:+:\$${variable}}" PARENT_SCOPE)
  endif()
endfunction()

quillfern_plugin_dir("${QUILLFERN_CLAP_DIR}" clap clap_dir)
quillfern_plugin_dir("${QUILLFERN_LV2_DIR}" lv2 lv2_dir)
file(INSTALL DESTINATION "${clap_dir}" TYPE MODULE FILES "${QUILLFERN_CLAP_LIBRARY}")
file(INSTALL DESTINATION "${lv2_dir}" TYPE DIRECTORY FILES "${QUILLFERN_LV2_BUNDLE}")

quillfern_search_advice("${clap_dir}" CLAP_PATH "${home}/.clap;/usr/lib/clap" clap_advice)
quillfern_search_advice("${lv2_dir}" LV2_PATH
                        "${home}/.lv2;/usr/local/lib/lv2;/usr/lib/lv2" lv2_advice)
set(advice "where CLAP and LV2 hosts look")
if(clap_advice OR lv2_advice)
  string(STRIP "${clap_advice} ${lv2_advice}" missing)
  set(advice "for hosts to look there, add this line to ~/.profile and log in again: "
             "export ${missing}")
  string(JOIN "" advice ${advice})
endif()
message(STATUS "Quillfern plugins: ${clap_dir}/quillfern.clap and ${lv2_dir}/quillfern.lv2; "
               "${advice}")
