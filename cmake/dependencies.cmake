# The libraries Temra builds on, each as one target of ours:
#   temra::qcustomplot, temra::xlsxwriter, temra::minizip, temra::expat, temra::csv
# On Debian they come from its -dev packages (CMake configs and pkg-config). On
# other systems (vcpkg on Windows and macOS) the same headers and libraries are
# looked for where CMake finds them; QCustomPlot may also be built from its two
# source files (-DQCUSTOMPLOT_SOURCE_DIR=folder holding qcustomplot.cpp/.h).

find_package(Threads REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport Svg)
find_package(Boost 1.74 REQUIRED)
find_package(PkgConfig QUIET)

# QCustomPlot for Qt 6
set(QCUSTOMPLOT_SOURCE_DIR "" CACHE PATH "Folder with qcustomplot.cpp and qcustomplot.h, to build it")
add_library(temra_qcustomplot INTERFACE)
add_library(temra::qcustomplot ALIAS temra_qcustomplot)
find_package(QCustomPlotQt6 QUIET)
if(QCustomPlotQt6_FOUND)
  target_link_libraries(temra_qcustomplot INTERFACE QCustomPlotQt6::QCustomPlotQt6)
elseif(QCUSTOMPLOT_SOURCE_DIR)
  add_library(temra_qcustomplot_built STATIC ${QCUSTOMPLOT_SOURCE_DIR}/qcustomplot.cpp)
  set_target_properties(temra_qcustomplot_built PROPERTIES AUTOMOC ON)
  target_include_directories(temra_qcustomplot_built SYSTEM PUBLIC ${QCUSTOMPLOT_SOURCE_DIR})
  target_link_libraries(temra_qcustomplot_built PUBLIC Qt6::Widgets Qt6::PrintSupport)
  target_link_libraries(temra_qcustomplot INTERFACE temra_qcustomplot_built)
else()
  find_path(QCUSTOMPLOT_INCLUDE_DIR qcustomplot.h REQUIRED)
  find_library(QCUSTOMPLOT_LIBRARY NAMES qcustomplot-qt6 qcustomplot REQUIRED)
  target_include_directories(temra_qcustomplot SYSTEM INTERFACE ${QCUSTOMPLOT_INCLUDE_DIR})
  target_link_libraries(temra_qcustomplot INTERFACE ${QCUSTOMPLOT_LIBRARY} Qt6::Widgets
                                                    Qt6::PrintSupport)
endif()

# libxlsxwriter and minizip: pkg-config where there is one, else header and library.
add_library(temra_xlsxwriter INTERFACE)
add_library(temra::xlsxwriter ALIAS temra_xlsxwriter)
add_library(temra_minizip INTERFACE)
add_library(temra::minizip ALIAS temra_minizip)
if(PkgConfig_FOUND)
  pkg_check_modules(XLSXWRITER QUIET IMPORTED_TARGET xlsxwriter)
  pkg_check_modules(MINIZIP QUIET IMPORTED_TARGET minizip)
endif()
if(TARGET PkgConfig::XLSXWRITER)
  target_link_libraries(temra_xlsxwriter INTERFACE PkgConfig::XLSXWRITER)
else()
  find_path(XLSXWRITER_INCLUDE_DIR xlsxwriter.h REQUIRED)
  find_library(XLSXWRITER_LIBRARY NAMES xlsxwriter REQUIRED)
  target_include_directories(temra_xlsxwriter SYSTEM INTERFACE ${XLSXWRITER_INCLUDE_DIR})
  target_link_libraries(temra_xlsxwriter INTERFACE ${XLSXWRITER_LIBRARY})
endif()
if(TARGET PkgConfig::MINIZIP)
  target_link_libraries(temra_minizip INTERFACE PkgConfig::MINIZIP)
else()
  find_package(ZLIB REQUIRED)
  find_path(MINIZIP_INCLUDE_DIR unzip.h PATH_SUFFIXES minizip REQUIRED)
  find_library(MINIZIP_LIBRARY NAMES minizip unzip REQUIRED)
  target_include_directories(temra_minizip SYSTEM INTERFACE ${MINIZIP_INCLUDE_DIR})
  target_link_libraries(temra_minizip INTERFACE ${MINIZIP_LIBRARY} ZLIB::ZLIB)
endif()

# expat: the XML parser that reads every written workbook back (CMake's FindEXPAT,
# which vcpkg's expat answers as well)
add_library(temra_expat INTERFACE)
add_library(temra::expat ALIAS temra_expat)
find_package(EXPAT REQUIRED)
target_link_libraries(temra_expat INTERFACE EXPAT::EXPAT)

# libcsv
add_library(temra_csv INTERFACE)
add_library(temra::csv ALIAS temra_csv)
find_path(CSV_INCLUDE_DIR csv.h REQUIRED)
find_library(CSV_LIBRARY csv REQUIRED)
target_include_directories(temra_csv SYSTEM INTERFACE ${CSV_INCLUDE_DIR})
target_link_libraries(temra_csv INTERFACE ${CSV_LIBRARY})
