# The desktop program: Qt 6 Widgets on top of the core.
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
# The chart: QCustomPlot redrew 1,000,000 samples faster than Qt Charts (bench_window).
set(TUNAVOX_QCUSTOMPLOT_SOURCE "" CACHE PATH "QCustomPlot source folder (Windows builds)")
if(TUNAVOX_QCUSTOMPLOT_SOURCE)
  add_library(qcustomplot STATIC ${TUNAVOX_QCUSTOMPLOT_SOURCE}/qcustomplot.cpp)
  target_include_directories(qcustomplot PUBLIC ${TUNAVOX_QCUSTOMPLOT_SOURCE})
  target_link_libraries(qcustomplot PUBLIC Qt6::Widgets Qt6::PrintSupport)
  target_compile_options(qcustomplot PRIVATE -w)
  set_target_properties(qcustomplot PROPERTIES AUTOMOC ON)
  add_library(QCustomPlotQt6::QCustomPlotQt6 ALIAS qcustomplot)
else()
  find_package(QCustomPlotQt6 REQUIRED)
endif()

set(TUNAVOX_PRODUCT_NAME "Тунавокс")
set(TUNAVOX_COPYRIGHT "© 2026 Тунавокс. Все права защищены.")
string(TIMESTAMP TUNAVOX_BUILD_EPOCH "%s" UTC)
set(TUNAVOX_COMMIT_DATE "")
set(TUNAVOX_COMMIT_REVISION "")
set(TUNAVOX_COMMIT_HASH "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE TUNAVOX_COMMIT_HASH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_failed)
  if(git_failed)
    set(TUNAVOX_COMMIT_HASH "")
  else()
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE TUNAVOX_COMMIT_REVISION OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # The commit time in the +0300 zone the build information is shown in.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=Etc/GMT-3
                            ${GIT_EXECUTABLE} log -1 "--date=format-local:%Y-%m-%d %H:%M +0300" --format=%cd
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE TUNAVOX_COMMIT_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/ui/build_info.h.in ${CMAKE_CURRENT_BINARY_DIR}/generated/build_info.h @ONLY)

add_library(tunavox_gui STATIC
  widgets/register_model.cpp widgets/register_model.h
  widgets/register_view.cpp widgets/register_view.h
  widgets/register_accessible.cpp widgets/register_accessible.h
  widgets/strip_overflow.cpp widgets/strip_overflow.h
  ui/message_box.cpp ui/message_box.h
  ui/value_editor.cpp ui/value_editor.h
  ui/about_box.cpp ui/about_box.h
  ui/scan_window.cpp ui/scan_window.h
  ui/translation.cpp ui/translation.h
  app/device_dialog.cpp app/device_dialog.h
  app/main_window.cpp app/main_window.h
  app/main_window_device.cpp
  app/main_window_connection.cpp
  app/main_window_table.cpp
  app/main_window_export.cpp
  app/find_face.cpp app/find_face.h
  app/sets_face.cpp app/sets_face.h
  app/trend_face.cpp app/trend_face.h
  app/keys_face.cpp app/keys_face.h
  app/link_face.cpp app/link_face.h
  app/scan_face.cpp app/scan_face.h
  app/devices_face.cpp app/devices_face.h app/devices_check.cpp app/device_list.cpp app/device_list.h app/devices_items.cpp
  app/site_face.cpp app/site_face.h app/site_open.cpp app/site_host.cpp app/site_report.cpp
  app/net_port_face.cpp app/net_port_face.h
  ui/journal_window.cpp ui/journal_window.h
  ui/set_window.cpp ui/set_window.h
  ui/file_dialogs.cpp ui/file_dialogs.h
  ui/screen_fit.cpp ui/screen_fit.h
  ui/compare_dialog.cpp ui/compare_dialog.h
  ui/chart_window.cpp ui/chart_window.h
  widgets/port_box.h
)
set_target_properties(tunavox_gui PROPERTIES AUTOMOC ON)
target_include_directories(tunavox_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(tunavox_gui PUBLIC tunavox_core Qt6::Widgets QCustomPlotQt6::QCustomPlotQt6)

if(WIN32)
  # A window program with its version resource; Qt's Russian texts and the windows
  # platform plugin inside the one exe.
  set(TUNAVOX_QT_TRANSLATIONS /usr/share/qt6/translations CACHE PATH "where qtbase_ru.qm lies")
  set(TUNAVOX_QT_RU "${TUNAVOX_QT_TRANSLATIONS}/qtbase_ru.qm")
  string(REPLACE "." "," TUNAVOX_VERSION_COMMAS "${PROJECT_VERSION}.0")
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/app/tunavox.rc.in ${CMAKE_CURRENT_BINARY_DIR}/generated/tunavox.rc @ONLY)
  configure_file(${TUNAVOX_QT_RU} ${CMAKE_CURRENT_BINARY_DIR}/generated/qtbase_ru.qm COPYONLY)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/generated/translations.qrc
       "<RCC><qresource prefix=\"/i18n\"><file>qtbase_ru.qm</file></qresource></RCC>\n")
  add_executable(tunavox WIN32 app/main.cpp ${CMAKE_CURRENT_BINARY_DIR}/generated/tunavox.rc
                 ${CMAKE_CURRENT_BINARY_DIR}/generated/translations.qrc)
  # The host rcc compresses with zstd, which the Windows Qt is built without.
  set_target_properties(tunavox PROPERTIES AUTORCC ON AUTORCC_OPTIONS "--no-zstd")
  target_link_libraries(tunavox PRIVATE tunavox_gui)
  target_link_libraries(tunavox_gui PUBLIC version)
else()
  add_executable(tunavox app/main.cpp)
  target_link_libraries(tunavox PRIVATE tunavox_gui)
endif()
