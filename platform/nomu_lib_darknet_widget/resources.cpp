#include "dialog_list_configs.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must stand outside any namespace.
static void register_icons()
{
    Q_INIT_RESOURCE(nomu_lib_darknet_widget);
}

namespace nomu_lib_darknet_widget {

void init_resources()
{
    static const bool done = (register_icons(), true);
    (void)done;
}

} // namespace nomu_lib_darknet_widget
