# Builds the resource file of the embedded network templates from the folder
# tree trainer/yolo_cfg/<model>/yolo-{train,test}-template.cfg, so that adding a
# template folder needs no list to be edited. Sets YOLO_CFG_QRC.
file(GLOB_RECURSE yolo_cfg_files CONFIGURE_DEPENDS
  RELATIVE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/*.cfg)
list(SORT yolo_cfg_files)
set(qrc_text "<RCC>\n  <qresource prefix=\"/nomu_pelto_varnex/yolo_cfg\">\n")
foreach(f IN LISTS yolo_cfg_files)
  string(APPEND qrc_text "    <file alias=\"${f}\">${CMAKE_CURRENT_LIST_DIR}/${f}</file>\n")
endforeach()
string(APPEND qrc_text "  </qresource>\n</RCC>\n")
set(YOLO_CFG_QRC ${CMAKE_CURRENT_BINARY_DIR}/yolo_cfg.qrc)
file(WRITE ${YOLO_CFG_QRC}.in "${qrc_text}")
configure_file(${YOLO_CFG_QRC}.in ${YOLO_CFG_QRC} COPYONLY)
