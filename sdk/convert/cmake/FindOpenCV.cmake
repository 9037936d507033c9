# OpenCV as Debian's per-module development packages install it (libopencv-core-dev, libopencv-imgproc-dev):
# they ship headers and libraries but no OpenCVConfig.cmake, which only comes with the all-modules package.
# A full installation's own configuration is used when there is one.
#
# Sets OpenCV_FOUND, OpenCV_INCLUDE_DIRS and OpenCV_LIBS (imported targets opencv_<component>).

find_package(OpenCV CONFIG QUIET COMPONENTS ${OpenCV_FIND_COMPONENTS})
if(OpenCV_FOUND)
  return()
endif()

find_path(OpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
set(OpenCV_INCLUDE_DIRS ${OpenCV_INCLUDE_DIR})
set(OpenCV_LIBS)
set(_opencv_missing)
foreach(_component IN LISTS OpenCV_FIND_COMPONENTS)
  find_library(OpenCV_${_component}_LIBRARY opencv_${_component})
  if(OpenCV_${_component}_LIBRARY AND OpenCV_INCLUDE_DIR)
    if(NOT TARGET opencv_${_component})
      add_library(opencv_${_component} UNKNOWN IMPORTED GLOBAL)
      set_target_properties(opencv_${_component} PROPERTIES
        IMPORTED_LOCATION ${OpenCV_${_component}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${OpenCV_INCLUDE_DIR})
    endif()
    list(APPEND OpenCV_LIBS opencv_${_component})
  else()
    list(APPEND _opencv_missing OpenCV_${_component}_LIBRARY)
  endif()
endforeach()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCV REQUIRED_VARS OpenCV_INCLUDE_DIR ${_opencv_missing} OpenCV_LIBS)
